# Sourced: nginx with a template of deploy/ (the download server, the edge
# cache) in the foreground, as a job of the calling shell; for the
# end-to-end harness, the benchmarks and the demo.
#
#   serve_render TEMPLATE RUN_DIR NAME=VALUE...
#       RUN_DIR/nginx.conf: TEMPLATE with @RUN_DIR@ and each @NAME@ filled
#       in; fails when a placeholder is left. A caller may edit the file
#       before it starts it.
#   serve_start RUN_DIR HOST:PORT [PREFIX...]
#       nginx on RUN_DIR/nginx.conf, waited for until it accepts on
#       HOST:PORT (bounded); SERVE_PID is its process. PREFIX is a command
#       that runs nginx in its place, as `ip netns exec NAME` does.
#   serve_wait_listening HOST:PORT PID
#       waits (bounded) until PID, a server of any kind, accepts there.
#   serve_stop PID
#       TERM, then KILL if it has not ended within SERVE_SECONDS.
SERVE_SECONDS=10  # to start listening, or to end
SERVE_POLL_SECONDS=0.05

serve_render() {
  local template=$1 run=$2 edits=() pair
  shift 2
  mkdir -p "$run"
  for pair in "RUN_DIR=$run" "$@"; do
    edits+=(-e "s|@${pair%%=*}@|${pair#*=}|g")
  done
  sed "${edits[@]}" "$template" >"$run/nginx.conf"
  if grep -n '@[A-Z_]\+@' "$run/nginx.conf" >&2; then
    echo "serve_render: placeholders of $template left unfilled" >&2
    return 1
  fi
}

serve_start() {
  local run=$1 address=$2
  shift 2
  : >"$run/access.log"
  "$@" nginx -p "$run" -c "$run/nginx.conf" 2>>"$run/stderr" &
  SERVE_PID=$!
  serve_wait_listening "$address" "$SERVE_PID" || { cat "$run/stderr" >&2 && return 1; }
}

serve_wait_listening() {
  local host=${1%:*} port=${1##*:} pid=$2 deadline=$((SECONDS + SERVE_SECONDS))
  while [ $SECONDS -lt $deadline ] && kill -0 "$pid" 2>/dev/null; do
    if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then return 0; fi
    sleep "$SERVE_POLL_SECONDS"
  done
  echo "the server (process $pid) did not start listening on $1" >&2
  return 1
}

serve_stop() {
  local pid=$1
  kill "$pid" 2>/dev/null || true
  timeout "$SERVE_SECONDS" tail --pid="$pid" -f /dev/null || kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
