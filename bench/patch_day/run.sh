#!/usr/bin/env bash
# Patch-day benchmark: the reference nginx (deploy/nginx-download-server.conf.in)
# on loopback, and the launcher's own download client (bench/patch_day/
# patch_day_client.cpp: one FileDownloader per simulated player, each on its
# own connection and thread) firing at it all at once:
#   1. PLAYERS_RECORD players fetch the 4-byte version record (2000);
#   2. PLAYERS_FILE players fetch a 4 MiB patcher (800), each at most at
#      1 MiB/s (nginx's limit_rate, added here only): players on ordinary
#      lines, whose downloads all hold their connection at the same time.
# Each load runs first against the template with the old limits
# (worker_processes 1, worker_connections 256), then against the template as
# it stands, in the same run. Prints answered, failed and the p50/p99 time.
# Usage: bash bench/patch_day/run.sh [--port N] [--temp DIR]
#        [--record-players N] [--file-players N]
# Needs nginx and up to 3.2 GiB in the temporary folder while the 800
# copies are in flight (each is deleted once complete).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
port=18390 temp=${TMPDIR:-/tmp} record_players=2000 file_players=800
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2 ;;
    --temp) temp=$2 ;;
    --record-players) record_players=$2 ;;
    --file-players) file_players=$2 ;;
    *) echo "run.sh: unknown option $1" >&2 && exit 2 ;;
  esac
  shift 2
done
readonly CLIENT_SECONDS=300 FILE_BYTES=$((4 << 20)) RATE_PER_PLAYER=1m
command -v nginx >/dev/null || { echo "run.sh: nginx is missing" >&2 && exit 2; }
# Every player holds a socket and a file; raise the limit as far as allowed.
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"

(cd "$repo" && cmake --preset bench && cmake --build --preset bench --target patch_day_client) >/dev/null
client=$repo/build/bench/bench/patch_day_client
. "$repo/tools/serve.sh"

work=$(mktemp -d "$temp/velkaris-patch-day.XXXXXX")
server_pid=
stop_server() {
  [ -n "$server_pid" ] || return 0
  serve_stop "$server_pid"
  server_pid=
}
trap 'stop_server; rm -rf "$work"' EXIT
release=$work/UploadData
mkdir -p "$release"
printf '3\r\n0' >"$release/patcher_version"
head -c "$FILE_BYTES" /dev/urandom >"$release/VelkarisPatcher32.vke"
# nginx's workers may run as another user.
chmod -R a+rX "$work"

# serve NAME SED_SCRIPT: the template, edited by SED_SCRIPT, on the port.
serve() {
  local run=$work/nginx-$1
  serve_render "$repo/deploy/nginx-download-server.conf.in" "$run" \
    "RELEASE_DIR=$release" "LISTEN=127.0.0.1:$port"
  sed -i -e "s|^\( *\)autoindex off;|&\n\1limit_rate $RATE_PER_PLAYER;|" -e "$2" "$run/nginx.conf"
  grep -q "limit_rate $RATE_PER_PLAYER;" "$run/nginx.conf"
  serve_start "$run" "127.0.0.1:$port"
  server_pid=$SERVE_PID
}

# load TEMPLATE PATH PLAYERS BYTES: one storm, one table row.
load() {
  local result
  result=$(timeout "$CLIENT_SECONDS" "$client" "http://127.0.0.1:$port/UploadData/" "$2" "$3" "$4" \
    "$work/client")
  read -r answered failed p50 p99 slowest <<<"$result"
  printf '%-34s %-24s %8s %8s %8s %8s %8s\n' "$1" "$3 x $2" "$answered" "$failed" "$p50" "$p99" \
    "$slowest"
}

echo "patch-day benchmark: nginx $(nginx -v 2>&1 | sed 's|.*/||'), $(nproc) cores, loopback"
printf '%-34s %-24s %8s %8s %8s %8s %8s\n' template load answered failed p50_ms p99_ms max_ms
for template in old new; do
  if [ "$template" = old ]; then
    label="old limits (1 worker, 256 conns)"
    edit='s/^worker_processes auto;/worker_processes 1;/; s/worker_connections 16384;/worker_connections 256;/'
  else
    label="deploy/ template as it stands"
    edit=''
  fi
  serve "$template" "$edit"
  load "$label" patcher_version "$record_players" 4
  load "$label" VelkarisPatcher32.vke "$file_players" "$FILE_BYTES"
  stop_server
done
