#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need (run as root); dpkg-dev,
# lintian and man-db build and check the Debian packages.
set -euo pipefail
packages=(build-essential cmake googletest libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev openjdk-17-jdk-headless systemd util-linux procps
          dpkg-dev lintian man-db g++-mingw-w64-x86-64-posix wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
