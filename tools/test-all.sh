#!/usr/bin/env bash
# Every test: our includes against the layer table, the portable logic
# natively against the simulated machine (AddressSanitizer and UBSan), a
# short fuzzing run of the release formats' readers, then the Windows build
# under Wine on a virtual 1920x1080 screen (its own tests, checks of the
# real exe and the end-to-end scenarios).
set -euo pipefail
repo_root=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo_root"
bash tools/setup.sh

echo "== includes against the layer table (tools/include-layers.txt)"
python3 tools/check-includes-test.py -q
python3 tools/check-includes.py

echo "== native build and tests"
cmake --preset native -DLAUNCHER_WERROR=ON >/dev/null
cmake --build --preset native
ctest --preset native

echo "== fuzzing the readers of the version files and the release manifest (log: build/fuzz.log)"
if ! bash tools/run-fuzz.sh >build/fuzz.log 2>&1; then
  tail -n 40 build/fuzz.log
  exit 1
fi

echo "== Windows build"
cmake --preset windows -DLAUNCHER_WERROR=ON -DLAUNCHER_SERVER_HOST="${LAUNCHER_SERVER_HOST:-127.0.0.1:18080}" >/dev/null
cmake --build --preset windows

echo "== Windows tests under Wine"
. tools/xvfb.sh
start_xvfb
trap stop_xvfb EXIT
. tools/wine-env.sh
wine_prepare
ctest --preset windows
