#!/usr/bin/env bash
# Builds the product under each preset (default, asan, tsan, then the Windows cross build
# tested under Wine) and runs every test, then runs each fuzzer for a short while
# (OSTARA_FUZZ_SECONDS, default 20; 0 skips them).
# Usage: scripts/test.sh [PRESET...]    (default: all four)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan windows)
jobs=$(nproc)
failed=()
for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "=== ${preset}: test"
  if ! ctest --preset "$preset"; then
    failed+=("$preset")
  fi
done
fuzz_seconds=${OSTARA_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" != 0 ]; then
  echo "=== fuzz: ${fuzz_seconds}s per target"
  if ! bash fuzz/run.sh "$fuzz_seconds"; then
    failed+=(fuzz)
  fi
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED presets: ${failed[*]}" >&2
  exit 1
fi
echo "all presets passed: ${presets[*]}"
