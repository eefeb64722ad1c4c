#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#  1. the normal build, every test;
#  2. an ASan+UBSan build, every test again;
#  3. a TSan build of the threaded tests (only those test executables are built);
#  4. short fuzz runs of every parser of outside input (only the fuzz targets are built).
# Set LV_QUICK=1 to run step 1 only.
#
# The run keeps a time budget from its start (LV_CI_BUDGET seconds, default 4800: CI
# allows 90 minutes and the budget leaves ten for setup and slack). The passes run in
# order of what they catch; a pass whose estimate would end past the budget is not
# started, the fuzz runs are shortened when time runs short, and the last lines say
# what was skipped and why. The wall time of each build and test step is printed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
run_start=$(date +%s)
budget=${LV_CI_BUDGET:-4800}
bash scripts/setup.sh
jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy

timings=()
skipped=()
passed=0
failed=0

elapsed() { echo $(( $(date +%s) - run_start )); }

report() {
  echo
  echo "== wall time of each step (machine: $jobs cores)"
  for line in "${timings[@]}"; do echo "  $line"; done
  echo "  total                  $(printf '%5d' "$(elapsed)") s"
  for line in "${skipped[@]}"; do echo "test.sh: $line"; done
}

# timed NAME COMMAND...: runs one step and records its wall time.
timed() {
  local name=$1 t0 rc=0
  shift
  t0=$(date +%s)
  "$@" || rc=$?
  timings+=("$(printf '%-22s %5d s' "$name" $(( $(date +%s) - t0 )))")
  if [ "$rc" -ne 0 ]; then
    report
    echo "test.sh: step '$name' failed (exit $rc)"
    exit "$rc"
  fi
}

# tests DIR CTEST-ARGS...: one ctest run; its counts join the run's totals.
tests() {
  local dir=$1 log rc=0 line
  shift
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "$@" 2>&1 | tee "$log" || rc=$?
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  rm -f "$log"
  if [ -n "$line" ]; then
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$(( passed + total - bad ))
    failed=$(( failed + bad ))
  fi
  return "$rc"
}

tsan_tests() { TSAN_OPTIONS=halt_on_error=1 tests build-tsan -L threads; }

# fits NAME ESTIMATE: whether a pass expected to take ESTIMATE seconds ends within the budget;
# otherwise it is recorded as skipped.
fits() {
  local now
  now=$(elapsed)
  if [ $(( now + $2 )) -le "$budget" ]; then return 0; fi
  skipped+=("SKIPPED $1: started at ${now} s it would take about $2 s more, past the budget of ${budget} s")
  return 1
}

echo "== normal build"
normal_start=$(date +%s)
timed "normal build" bash scripts/build.sh build
timed "normal tests" tests build
normal=$(( $(date +%s) - normal_start ))

if [ "${LV_QUICK:-0}" != "1" ]; then
  # Estimates scale with the normal pass, measured on this machine in this run: the
  # sanitizer builds compile unoptimised code with instrumentation, TSan builds only the
  # threaded tests, the fuzz tree only the fuzz targets and what they link.
  if fits "ASan+UBSan pass" $(( normal * 2 )); then
    echo "== ASan+UBSan build"
    timed "ASan+UBSan build" bash scripts/build.sh build-asan -DLV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
    [ -f tests/lsan.supp ] && export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
    timed "ASan+UBSan tests" tests build-asan
    unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
  fi

  if fits "TSan pass" $(( normal * 3 / 4 )); then
    echo "== TSan build"
    timed "TSan build" bash scripts/build.sh build-tsan -DLV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug -DLV_TESTS_LABEL=threads
    timed "TSan tests" tsan_tests
  fi

  if ls tests/fuzz/*.cmake >/dev/null 2>&1 && fits "fuzz pass" $(( normal / 2 + 120 )); then
    echo "== fuzz"
    timed "fuzz build" env LV_TARGET=lv_fuzzers bash scripts/build.sh build-fuzz -DLV_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLV_TESTS=ON
    targets=$(ctest --test-dir build-fuzz -N -L fuzz | grep -c 'Test *#' || true)
    # What is left of the budget, less a minute's margin, shared by the targets that run
    # $jobs at a time; each run also costs a few seconds to start and load its corpus.
    left=$(( budget - $(elapsed) - 60 ))
    secs=20
    if [ "$targets" -gt 0 ]; then
      fit=$(( left * jobs / targets - 5 ))
      [ "$fit" -lt "$secs" ] && secs=$fit
    fi
    if [ "$secs" -ge 2 ]; then
      [ "$secs" -lt 20 ] && skipped+=("SHORTENED fuzz runs to ${secs} s each (of 20): ${left} s of budget left for ${targets} targets")
      LV_FUZZ_SECONDS=$secs timed "fuzz runs (${secs} s)" tests build-fuzz -L fuzz
    else
      skipped+=("SKIPPED fuzz runs: ${left} s of budget left for ${targets} targets, under 2 s each")
    fi
  fi
fi
report
echo "test.sh: all steps passed"
echo "ci: $passed passed, $failed failed"
