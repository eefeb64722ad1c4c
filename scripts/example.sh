#!/usr/bin/env bash
# Installs what is missing, builds the runtime and runs the example applet
# (examples/hello.lvs, assembled and packed by the build). The applet prints a line and
# ends with End 5, so exit code 5 is its success.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" build -DLV_TESTS=OFF
set +e
"$root/build/bin/lumivarra" "$root/build/examples/hello.lva"
code=$?
set -e
echo "exit code: $code"
[ "$code" -eq 5 ]
