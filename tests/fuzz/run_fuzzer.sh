#!/bin/sh
# run_fuzzer.sh TARGET ARGS...: one time-bounded libFuzzer run; LV_FUZZ_SECONDS (1 to 100,
# default 20) is its length.
secs=${LV_FUZZ_SECONDS:-20}
case $secs in ''|*[!0-9]*) secs=20 ;; esac
[ "$secs" -lt 1 ] && secs=1
[ "$secs" -gt 100 ] && secs=100
target=$1
shift
exec "$target" -max_total_time="$secs" "$@"
