#!/usr/bin/env bash
# Every test: the portable logic natively against the simulated machine
# (AddressSanitizer and UBSan), then the Windows build under Wine on a
# virtual 1920x1080 screen (its own tests and checks of the real exe).
set -euo pipefail
repo_root=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo_root"
bash tools/setup.sh

echo "== native build and tests"
cmake --preset native -DLAUNCHER_WERROR=ON >/dev/null
cmake --build --preset native
ctest --preset native

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

if [ -f tools/run-fuzz.sh ]; then
  echo "== fuzzing the version-file readers"
  bash tools/run-fuzz.sh
fi
echo "all tests passed"
