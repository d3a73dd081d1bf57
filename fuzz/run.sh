#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/<area>/CMakeLists.txt, OSTARA_FUZZ=ON) with clang,
# libFuzzer and AddressSanitizer in build/fuzz, then runs each for a while, starting from its
# committed seeds in fuzz/<area>/corpus/<name>/ (new inputs go to build/fuzz/corpus/, never
# into the repository). Extra libFuzzer flags for a target may sit in fuzz/<area>/<name>.flags.
#
# Usage: fuzz/run.sh [SECONDS_PER_TARGET]   (default 20)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=$root/build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

cmake -S "$root" -B "$build" -G "Unix Makefiles" \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTARA_FUZZ=ON -DOSTARA_TESTS=OFF -DOSTARA_BENCH=OFF -DOSTARA_WERROR=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" > "$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2 --target fuzzers

export ZRK_PROD=$build/stage/prod
failed=0
for fuzzer in "$build"/fuzzers/*_fuzzer; do
  target=$(basename "$fuzzer" _fuzzer)        # <area>_<name>
  area=${target%%_*}
  name=${target#*_}
  seeds=$root/fuzz/$area/corpus/$name
  scratch=$build/corpus/$target
  mkdir -p "$scratch"
  extra=()
  if [[ -f $root/fuzz/$area/$name.flags ]]; then
    read -r -a extra < "$root/fuzz/$area/$name.flags"
  fi
  echo "== $target: ${seconds}s from $(ls "$seeds" | wc -l) seeds"
  if ! (cd "$build" && "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
          "${extra[@]}" "$scratch" "$seeds" 2>&1 | tail -n 25); then
    echo "== $target: FAILED (reproducer in $build)"
    failed=1
  fi
done
if [[ $failed -ne 0 ]]; then
  exit 1
fi
echo "all fuzz targets ran clean"
