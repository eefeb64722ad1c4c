#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#  1. the normal build, every test;
#  2. an ASan+UBSan build, every test again;
#  3. a TSan build of the threaded tests;
#  4. short fuzz runs of every parser of outside input.
# Set LV_QUICK=1 to run step 1 only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy

echo "== normal build"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

if [ "${LV_QUICK:-0}" != "1" ]; then
  echo "== ASan+UBSan build"
  bash scripts/build.sh build-asan -DLV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"

  echo "== TSan build"
  bash scripts/build.sh build-tsan -DLV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
  TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs" -L threads

  if ls tests/fuzz/*.cmake >/dev/null 2>&1; then
    echo "== fuzz"
    bash scripts/build.sh build-fuzz -DLV_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLV_TESTS=ON
    ctest --test-dir build-fuzz --output-on-failure --no-tests=error -j "$jobs" -L fuzz
  fi
fi
echo "test.sh: all steps passed"
