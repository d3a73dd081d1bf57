#!/usr/bin/env bash
# Sets the product up on a fresh Debian 12 machine (as root) and builds and stages it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
echo
echo "Product staged in build/default/stage:"
echo "  prod/lib/messages  message catalogues (ZRK_PROD points here)"
echo "  bin64              ostarapcservice and the libraries"
