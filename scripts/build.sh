#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures (once) and builds one build tree with Ninja.
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/lumivarra-ccache}
if [ ! -f "$root/$dir/build.ninja" ]; then
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$root/$dir" -j "$(nproc)"
