#!/usr/bin/env bash
# The patch-day simulation with a faulty host. Two download hosts on this
# machine, each the reference origin (deploy/nginx-download-server.conf.in)
# serving a copy of the release tree at a player's line speed: A, the host
# the launcher is built for, and B, the mirror the signed releases name
# (velkaris-publish --mirror). The players hold the release before the
# current one (most), the one before that, or the current one, and start
# once, AT_ONCE at a time, with one fault on A per run:
#   none  A serves the release as B does: the times the others are held to
#         (run twice: the second shows what two runs differ by)
#   F1    nothing listens on A's port: connections are refused
#   F2    A in a network namespace of its own whose firewall drops the
#         players' SYNs (iptables): connections go unanswered
#   F3    A answers 503 to every request from FAIL_AT s into the run on
#   F4    A serves big.pak and locales/zh_TW.txt with bytes flipped
#   F5    A passes the first half of each body over 64 KiB, then holds the
#         connection silent (bench/patch_day/link_proxy.py)
#   F6    A serves the previous release
# Each runs with launchers built with the test release key (PLAYERS
# players), then with the default build (UNSIGNED_PLAYERS, one a process:
# one host, nothing to turn to, so its players wait out the fault or stop
# with a box). Last the resume run: RESUME_PLAYERS signed players fetch a
# 32 MiB file from A over a link cut every 1 MiB. bench/patch_day/faults.py
# counts, for each run: the players whose patcher started with no box, the
# players left harmed, the release each ends on, the time the fault added
# to each player's start against the run without one, and what each host
# sent (from its log).
# Usage: bash bench/patch_day/faults.sh [--players N] [--at-once N]
#        [--unsigned-players N] [--resume-players N] [--fail-at S]
#        [--line-chunk SIZE] [--port N] [--temp DIR]
#        (defaults 2000, 250, 250, 4, 2, 64k, 18500)
# Ports PORT (A), PORT+1 (B), PORT+2 (A's server behind the link proxy);
# F2's namespace is reached at NAMESPACE_NET.2. As root (the namespace).
# The players' folders take about PLAYERS x 4.4 MiB in the temporary folder
# (default /dev/shm, else TMPDIR), removed after each run. Results:
# build/bench/patch-day-faults/ (each run's summary and the hosts' logs, the
# table in table.md).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
players=2000 at_once=250 unsigned_players=250 resume_players=4 fail_at=2 line_chunk=64k
port=18500
temp=${TMPDIR:-/tmp}
[ -w /dev/shm ] && temp=/dev/shm
while [ $# -gt 0 ]; do
  case $1 in
    --players) players=$2 ;;
    --at-once) at_once=$2 ;;
    --unsigned-players) unsigned_players=$2 ;;
    --resume-players) resume_players=$2 ;;
    --fail-at) fail_at=$2 ;;
    --line-chunk) line_chunk=$2 ;;
    --port) port=$2 ;;
    --temp) temp=$2 ;;
    *) echo "faults.sh: unknown option $1" >&2 && exit 2 ;;
  esac
  shift 2
done
# One run's players, at most (a player of the default build waits out a
# stalled host's 60 s rate rule).
readonly RUN_SECONDS=400
# F2's namespace and the link to it: a /30 no interface of this machine uses.
readonly NAMESPACE_NET=10.185.0
readonly STALL_ABOVE=$((64 << 10)) CUT_EVERY=$((1 << 20))
readonly DAMAGED=(big.pak locales/zh_TW.txt)
# nginx sends each player's line (PLAYER_RATE) in pieces of LINE_CHUNK:
# with the template's 2m, a second's worth at once, then nothing for a
# second, and a signed launcher passes over a host that goes silent for
# 1.5 s (--line-chunk 2m shows what that does).
# Installed: the release before the current one (C), the one before that,
# or C itself.
readonly HOLD=(--hold A:0.1 --hold B:0.8 --hold C:0.1)
[ "$(id -u)" = 0 ] || { echo "faults.sh: run as root (F2 makes a network namespace)" >&2 && exit 2; }
# F2's namespace and firewall: ip (iproute2) and iptables, which a minimal
# Debian lacks; network namespaces need a machine or a privileged container.
if ! command -v ip >/dev/null || ! command -v iptables >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    iproute2 iptables >/dev/null
fi
if ! ip netns add velkaris-probe-$$ 2>/dev/null; then
  echo "faults.sh: cannot make a network namespace here (a container without CAP_SYS_ADMIN?)" >&2
  exit 2
fi
ip netns delete velkaris-probe-$$
if ip -o -4 addr show | grep -q " $NAMESPACE_NET\."; then
  echo "faults.sh: $NAMESPACE_NET.0/30 is in use on this machine" >&2 && exit 2
fi
. "$repo/bench/patch_day/common.sh"
patch_day_prepare faults "$temp"
here=$repo/bench/patch_day
results=$repo/build/bench/patch-day-faults
namespace= link= run_pid=
drop_namespace() {
  [ -n "$namespace" ] || return 0
  ip netns del "$namespace" 2>/dev/null || true
  ip link del "$link" 2>/dev/null || true
  namespace=
}
cleanup() {
  # The run's own process group: faults.py and every player process.
  [ -z "$run_pid" ] || kill -TERM -- "-$run_pid" 2>/dev/null || true
  stop_servers
  drop_namespace
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
rm -rf "$results"
mkdir -p "$results"

# The releases, each signed and naming B: a kept release names the hosts
# before the server's record is had, so B serves even that.
python3 "$here/faults.py" builds "$work/builds"
tree=$work/tree
mkdir -p "$work/trees"
for release in A B C; do
  "$tool" --quiet --signing-key "$SIGNING_KEY" --mirror "127.0.0.1:$((port + 1))" --allow-local-mirror \
    "$work/builds/$release" "$tree" >/dev/null
  python3 "$here/simulate.py" snapshot "$tree" "$work/releases/$release"
  cp -a "$tree" "$work/trees/$release"
done
cp -a "$work/trees/C" "$work/trees/C-damaged"
python3 "$here/faults.py" damage "$work/trees/C-damaged" "${DAMAGED[@]}"
chmod -R a+rX "$work"

# origin NAME RELEASE_DIR HOST:PORT: the reference origin at a player's
# line speed, rendered into RUN; the caller starts it.
origin() {
  local name=$1 root=$2 address=$3
  RUN=$dir/$name
  serve_render "$repo/deploy/nginx-download-server.conf.in" "$RUN" \
    "RELEASE_DIR=$root" "LISTEN=$address"
  sed -i -e "s|^\( *\)autoindex off;|&\n\1limit_rate $PLAYER_RATE;|" \
    -e "s|sendfile_max_chunk [0-9a-z]*;|sendfile_max_chunk $line_chunk;|" "$RUN/nginx.conf"
  grep -q "limit_rate $PLAYER_RATE;" "$RUN/nginx.conf"
  grep -q "sendfile_max_chunk $line_chunk;" "$RUN/nginx.conf"
}

# F2: A's own namespace, linked to this one; its firewall drops what comes
# to A's port. Nothing leaves the machine.
make_namespace() {
  namespace=velkaris-sim-$$ link=vks$$h
  ip netns add "$namespace"
  ip link add "$link" type veth peer name vks$$n netns "$namespace"
  ip addr add "$NAMESPACE_NET.1/30" dev "$link"
  ip link set "$link" up
  ip netns exec "$namespace" ip addr add "$NAMESPACE_NET.2/30" dev vks$$n
  ip netns exec "$namespace" ip link set vks$$n up
  ip netns exec "$namespace" ip link set lo up
}

# start_a FAULT: host A with FAULT; A_URL is its base URL, A_LOGS the logs
# that count what it sent, TOUCH what makes a fault begin mid-run.
start_a() {
  local address=127.0.0.1:$port
  A_URL=http://$address/UploadData/ A_LOGS=(--host-log "A=$dir/A/access.log") TOUCH=()
  case $1 in
    none | F3 | F4 | F6)
      local root=$work/trees/C
      [ "$1" = F4 ] && root=$work/trees/C-damaged
      [ "$1" = F6 ] && root=$work/trees/B
      origin A "$root" "$address"
      if [ "$1" = F3 ]; then
        sed -i "s|^\( *\)add_header Cache-Control \"no-cache\" always;|&\n\1if (-f $RUN/unavailable) { return 503; }|" \
          "$RUN/nginx.conf"
        grep -q "return 503;" "$RUN/nginx.conf"
        TOUCH=(--touch-at "$fail_at" "$RUN/unavailable")
      fi
      serve_start "$RUN" "$address"
      servers+=("$SERVE_PID")
      ;;
    F1) ;;
    F2)
      make_namespace
      address=$NAMESPACE_NET.2:$port
      A_URL=http://$address/UploadData/
      origin A "$work/trees/C" "$address"
      serve_start "$RUN" "$address" ip netns exec "$namespace"
      servers+=("$SERVE_PID")
      ip netns exec "$namespace" iptables -A INPUT -p tcp --dport "$port" -j DROP
      ;;
    F5 | resume)
      local root=$work/trees/C fault=(--stall-above "$STALL_ABOVE")
      [ "$1" = resume ] && root=$work/trees/D fault=(--cut-every "$CUT_EVERY")
      origin "A-server" "$root" "127.0.0.1:$((port + 2))"
      serve_start "$RUN" "127.0.0.1:$((port + 2))"
      servers+=("$SERVE_PID")
      mkdir -p "$dir/A"
      python3 "$here/link_proxy.py" "$port" "$((port + 2))" "$dir/A/access.log" "${fault[@]}" &
      servers+=("$!")
      serve_wait_listening "$address" "$!"
      A_LOGS+=(--host-log "A-server=$RUN/access.log")
      ;;
  esac
}

# run_once LABEL FAULT WHAT SIGNED(yes|no) PLAYERS [faults.py options...]
run_once() {
  local label=$1 fault=$2 what=$3 signed=() players=$5
  [ "$4" = no ] || signed=(--signed)
  shift 5
  dir=$work/$label
  mkdir -p "$dir"
  start_a "$fault"
  local b_root=$work/trees/C
  [ "$fault" = resume ] && b_root=$work/trees/D
  origin B "$b_root" "127.0.0.1:$((port + 1))"
  serve_start "$RUN" "127.0.0.1:$((port + 1))"
  servers+=("$SERVE_PID")
  timeout -k 10 "$RUN_SECONDS" python3 "$here/faults.py" run --label "$label" --fault "$fault" \
    --what "$what" --player "$player" "${signed[@]}" --releases "$work/releases" \
    --players-dir "$dir/players" --out "$results/$label" --host "$A_URL" "${A_LOGS[@]}" \
    --host-log "B=$dir/B/access.log" --players "$players" --at-once "$at_once" \
    --seconds $((RUN_SECONDS - 30)) "${TOUCH[@]}" "$@" &
  run_pid=$!
  wait "$run_pid"
  run_pid=
  stop_servers
  drop_namespace
  for log in "$dir"/*/access.log; do
    [ -e "$log" ] && cp "$log" "$results/$label/$(basename "$(dirname "$log")").log"
  done
  rm -rf "$dir"
}

readonly FAULTS=(F1 F2 F3 F4 F5 F6)
declare -A WHAT=([F1]="A refuses connections" [F2]="A drops connections"
  [F3]="A answers 503 from $fail_at s on" [F4]="A serves ${DAMAGED[*]} damaged"
  [F5]="A stalls mid-body" [F6]="A serves the previous release")

# fault_runs BUILD(signed|unsigned) PLAYERS: the run without a fault, then
# a second one and one a fault, each player's time set against its time in
# the first; the second shows what two runs differ by with nothing added.
fault_runs() {
  local build=$1 players=$2 sign=no fault
  [ "$build" = unsigned ] || sign=yes
  run_once "$build-none" none "no fault" "$sign" "$players" "${HOLD[@]}"
  local baseline=(--baseline "$results/$build-none/results")
  run_once "$build-again" none "no fault, again" "$sign" "$players" "${HOLD[@]}" "${baseline[@]}"
  for fault in "${FAULTS[@]}"; do
    run_once "$build-$fault" "$fault" "${WHAT[$fault]}" "$sign" "$players" "${HOLD[@]}" \
      "${baseline[@]}"
  done
}

started=$SECONDS
echo "patch-day simulation with a faulty host: nginx $(nginx -v 2>&1 | sed 's|.*/||'), $(nproc) cores, $players signed players, $at_once at once"
fault_runs signed "$players"
fault_runs unsigned "$unsigned_players"
# The resume run's release: D adds the 32 MiB file to C.
"$tool" --quiet --signing-key "$SIGNING_KEY" "$work/builds/D" "$tree" >/dev/null
python3 "$here/simulate.py" snapshot "$tree" "$work/releases/D"
cp -a "$tree" "$work/trees/D"
chmod -R a+rX "$work"
run_once resume resume "a link cut every $((CUT_EVERY >> 20)) MiB" yes "$resume_players" \
  --hold C:1 --resume-file world.pak
summaries=()
for build in signed unsigned; do
  for run in none again "${FAULTS[@]}"; do summaries+=("$results/$build-$run/summary.json"); done
done
python3 "$here/faults.py" table "${summaries[@]}" "$results/resume/summary.json" |
  tee "$results/table.md"
echo "whole simulation: $((SECONDS - started)) s"
