#!/usr/bin/env bash
# The patch-day simulation: one origin (deploy/nginx-download-server.conf.in)
# and two edge caches (deploy/edge-cache.conf.in) on loopback, and PLAYERS
# install folders updated by the launcher's own update code
# (patch_day_player: CheckPatcherVersion, then RunPatcher, on the simulated
# machine), split across the edges, AT_ONCE processes at a time. The
# installs hold release A, the origin serves B; in the middle of the storm
# the operator publishes C with velkaris-publish. Once the storm is over
# and the publish done, every player starts once more. bench/patch_day/
# simulate.py counts, for each run: the players left harmed, those on C
# after their second start, those who saw an error, the bytes the origin
# sent against those the players received, the origin's 304 answers and
# the update times. Three runs:
#   1. unsigned, the publish with --settle FRESH+1 (the longest an edge
#      keeps a copy; nginx counts whole seconds);
#   2. the same with a launcher built with the test release key;
#   3. unsigned, without --settle, the edges keeping copies LONG_FRESH s.
# Usage: bash bench/patch_day/simulate.sh [--players N] [--at-once N]
#        [--fresh S] [--long-fresh S] [--settle S] [--spread S] [--port N]
#        [--temp DIR]    (defaults 2000, 500, 2, 10, FRESH+1, 30, 18400)
# The players' folders need about PLAYERS x 4.4 MiB in the temporary
# folder (default /dev/shm, a memory file system, else TMPDIR), removed
# after each run. Results: build/bench/patch-day/ (each run's summary as
# JSON and the servers' logs, the table in table.md).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
players=2000 at_once=500 fresh=2 long_fresh=10 spread=30 port=18400 settle=
temp=${TMPDIR:-/tmp}
[ -w /dev/shm ] && temp=/dev/shm
while [ $# -gt 0 ]; do
  case $1 in
    --players) players=$2 ;;
    --at-once) at_once=$2 ;;
    --fresh) fresh=$2 ;;
    --long-fresh) long_fresh=$2 ;;
    --settle) settle=$2 ;;
    --spread) spread=$2 ;;
    --port) port=$2 ;;
    --temp) temp=$2 ;;
    *) echo "simulate.sh: unknown option $1" >&2 && exit 2 ;;
  esac
  shift 2
done
# One run: installs, storm, second start, accounting (about two minutes;
# two rounds of at most 4 minutes each).
readonly RUN_SECONDS=600
. "$repo/bench/patch_day/common.sh"
patch_day_prepare simulate "$temp"
simulate=$repo/bench/patch_day/simulate.py
results=$repo/build/bench/patch-day
trap 'stop_servers; rm -rf "$work"' EXIT
rm -rf "$results"
mkdir -p "$results"
python3 "$simulate" builds "$work/builds"

# run_once LABEL SIGNED(yes|no) FRESH SETTLE(0: no --settle)
run_once() {
  local label=$1 fresh=$3 settle=$4 dir=$work/$1 signing=() settling=() signed=() edge
  local edges=() logs=()
  [ "$2" = no ] || { signing=(--signing-key "$SIGNING_KEY") && signed=(--signed); }
  [ "$settle" = 0 ] || settling=(--settle "$settle")
  local tree=$dir/UploadData
  for release in A B; do
    "$tool" --quiet "${signing[@]}" "$work/builds/$release" "$tree" >/dev/null
    python3 "$simulate" snapshot "$tree" "$dir/releases/$release"
  done
  chmod -R a+rX "$dir"
  serve_render "$repo/deploy/nginx-download-server.conf.in" "$dir/origin" \
    "RELEASE_DIR=$tree" "LISTEN=127.0.0.1:$port"
  serve_start "$dir/origin" "127.0.0.1:$port"
  servers+=("$SERVE_PID")
  for edge in 1 2; do
    serve_render "$repo/deploy/edge-cache.conf.in" "$dir/edge$edge" "FRESH=$fresh" \
      "LISTEN=127.0.0.1:$((port + edge))" "ORIGIN=127.0.0.1:$port"
    sed -i "s|^\( *\)proxy_cache release;|&\n\1limit_rate $PLAYER_RATE;|" "$dir/edge$edge/nginx.conf"
    grep -q "limit_rate $PLAYER_RATE;" "$dir/edge$edge/nginx.conf"
    serve_start "$dir/edge$edge" "127.0.0.1:$((port + edge))"
    servers+=("$SERVE_PID")
    edges+=(--edge "http://127.0.0.1:$((port + edge))/UploadData/")
    logs+=(--edge-log "$dir/edge$edge/access.log")
  done
  timeout -k 10 "$RUN_SECONDS" python3 "$simulate" run --label "$label" --player "$player" \
    "${signed[@]}" --releases "$dir/releases" --tree "$tree" --players-dir "$dir/players" \
    --out "$results/$label" "${edges[@]}" "${logs[@]}" --origin-log "$dir/origin/access.log" \
    --players "$players" --at-once "$at_once" --spread "$spread" --fresh "$fresh" \
    --settle "$settle" -- "$tool" --quiet "${signing[@]}" "${settling[@]}" "$work/builds/C" "$tree"
  stop_servers
  cp "$dir/origin/access.log" "$results/$label/origin.log"
  for edge in 1 2; do cp "$dir/edge$edge/access.log" "$results/$label/edge$edge.log"; done
  rm -rf "$dir"
}

started=$SECONDS
echo "patch-day simulation: nginx $(nginx -v 2>&1 | sed 's|.*/||'), $(nproc) cores, loopback, $players players"
settle=${settle:-$((fresh + 1))}
run_once unsigned-settle no "$fresh" "$settle"
run_once signed-settle yes "$fresh" "$settle"
run_once unsigned-no-settle no "$long_fresh" 0
python3 "$simulate" table "$results"/{unsigned-settle,signed-settle,unsigned-no-settle}/summary.json |
  tee "$results/table.md"
echo "whole simulation: $((SECONDS - started)) s"
