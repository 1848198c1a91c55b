#!/usr/bin/env bash
# The start-up benchmark under Wine, side by side in one run: a minimal Win32
# program that only opens a window, and the launcher on an up-to-date
# install (served by nginx as in the main job). For each start the driver,
# already watching, notes the process's creation time, the moment its window
# (the launcher's splash) stands placed on the screen and, for the launcher,
# the creation time of the patcher it starts. The launcher's linger after
# the patcher's start is not measured. A first start of each is made and
# left out (Wine loads its own libraries into the cache on it).
# Usage: bench/startup/run.sh [ROUNDS]    (default 10; results in
#        build/bench/startup/, summary on stdout)
set -euo pipefail
rounds=${1:-10}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { sed -n 's/^# Usage: /usage: /p; s/^#        /       /p' "$0" >&2 && exit 2; }
repo_root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo_root"
readonly TIMES_TIMEOUT_MS=20000
readonly WATCHING_SECONDS=20
readonly PROCESS_TIMEOUT_MS=10000
readonly BENCH_FOLDER='C:\Bench'
readonly BASELINE=minimal-window.exe

bash tools/setup.sh >/dev/null
[ -f build/windows/build.ninja ] || cmake --preset windows >/dev/null
cmake --build --preset windows \
  --target VelkarisLauncher launcher_driver stand_in_patcher startup_minimal_window >/dev/null

. tests/e2e/lib.sh
e2e_begin startup-bench "$repo_root/build/windows" "$repo_root/build/bench/startup"
e2e_machine
e2e_serve_release
e2e_install_game "$E2E_INSTALL"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
mkdir -p "$(e2e_path "$BENCH_FOLDER")"
cp "$E2E_BUILD/bench/startup/$BASELINE" "$(e2e_path "$BENCH_FOLDER")/"
results=$E2E_OUT/starts.txt
: >"$results"

# measure LABEL WINDOWS_EXE WINDOW_CLASS PATCHER_NAME|-: one start, timed.
measure() {
  local label=$1 exe=$2 class=$3 patcher=$4
  local times=$E2E_OUT/$label.jsonl
  # There before the driver starts, so the wait below reads an empty file.
  : >"$times"
  timeout -k 5 $((TIMES_TIMEOUT_MS / 1000 + 10)) "$WINE" "$E2E_DRIVER" times "$class" "$patcher" \
    "$TIMES_TIMEOUT_MS" </dev/null >"$times" 2>/dev/null &
  local driver=$! deadline=$((SECONDS + WATCHING_SECONDS))
  until grep -q '"watching"' "$times"; do
    [ $SECONDS -lt $deadline ] || { echo "the driver did not start watching" >&2 && return 1; }
    sleep 0.01
  done
  local spawned
  spawned=$(date +%s%N)
  (cd "$(e2e_path "${exe%\\*}")" && exec timeout -k 5 "$E2E_RUN_SECONDS" "$WINE" "$exe" \
    </dev/null >/dev/null 2>&1) &
  local program=$!
  wait "$driver" || echo "no complete timing for $label" >&2
  wait "$program" || true
  # The next launcher must not find this start's patcher still running.
  [ "$patcher" = - ] || e2e_driver wait-process "$patcher" gone "$PROCESS_TIMEOUT_MS" >/dev/null
  echo "$label $spawned $(grep '"times"' "$times" || echo '{}')" >>"$results"
}

measure_pair() {
  measure "minimal-$1" "$BENCH_FOLDER\\$BASELINE" VelkarisBenchMinimalWindow -
  measure "launcher-$1" "$E2E_INSTALL\\VelkarisLauncher.exe" VelkarisSplashLauncher "$E2E_PATCHER_NAME"
}

echo "== $rounds starts of each, alternating, after one left out ($(nproc) cores, $(/usr/lib/wine/wine --version))"
measure_pair warm-up
for round in $(seq 1 "$rounds"); do measure_pair "$round"; done
python3 "$repo_root/bench/startup/summarize.py" "$results" "$TIMES_TIMEOUT_MS" |
  tee "$E2E_OUT/summary.txt"
