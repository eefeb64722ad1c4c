#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds one build tree with Ninja.
# The options a tree was configured with are kept in DIR/.lv-options: a tree configured
# with other options (or none recorded) is configured afresh with the given ones, so that
# options left out take their defaults again rather than keeping an earlier run's values.
# LV_JOBS sets the build's parallel jobs (default: the processor count).
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/lumivarra-ccache}
# Paths below the root are hashed relative to it, so clones in other folders share the cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
tree="$root/$dir"
wanted=$(printf '%s\n' "$@")
recorded=""
[ -f "$tree/.lv-options" ] && recorded=$(cat "$tree/.lv-options")
if [ ! -f "$tree/build.ninja" ] || [ ! -f "$tree/.lv-options" ] || [ "$recorded" != "$wanted" ]; then
  if [ -f "$tree/CMakeCache.txt" ]; then
    echo "build.sh: reconfiguring $dir (options: ${*:-none})"
    rm -f "$tree/CMakeCache.txt"
  fi
  rm -f "$tree/.lv-options"
  cmake -S "$root" -B "$tree" -G Ninja "$@" >/dev/null
  printf '%s\n' "$wanted" >"$tree/.lv-options"
fi
# LV_TARGET builds one target (and what it needs) instead of the whole default build.
cmake --build "$tree" -j "${LV_JOBS:-$(nproc)}" ${LV_TARGET:+--target "$LV_TARGET"}
