#!/usr/bin/env bash
# Builds VelkarisLauncher.exe alone in another folder with the settings of
# an existing Windows build (its server address), optionally with a release
# key and with the support log. Used by the reproducibility check and the
# signed-release scenarios.
# Usage: build_launcher.sh WINDOWS_BUILD_DIR OUT_DIR [RELEASE_KEY_PEM [support-log]]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out=$2
key=${3:-}
support_log=OFF
[ "${4:-}" != support-log ] || support_log=ON
host=$(sed -n 's/^LAUNCHER_SERVER_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
prefix=$(sed -n 's/^CMAKE_PREFIX_PATH:[A-Z]*=//p' "$build/CMakeCache.txt")
werror=$(sed -n 's/^LAUNCHER_WERROR:[A-Z]*=//p' "$build/CMakeCache.txt")
mkdir -p "$out"
cmake -S "$repo" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" -DLAUNCHER_SERVER_HOST="$host" \
  -DLAUNCHER_WERROR="${werror:-OFF}" \
  -DLAUNCHER_RELEASE_KEY="$key" -DLAUNCHER_SUPPORT_LOG="$support_log" >"$out/configure.log" 2>&1 ||
  { tail -n 20 "$out/configure.log" >&2; exit 1; }
cmake --build "$out" -j 2 --target VelkarisLauncher >"$out/build.log" 2>&1 ||
  { tail -n 40 "$out/build.log" >&2; exit 1; }
