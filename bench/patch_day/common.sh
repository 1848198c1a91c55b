# What simulate.sh and faults.sh share, sourced after their options: the
# players' line, the signing key, the tools built with the bench preset,
# the work folder and the servers a run starts.
# patch_day_prepare NAME TEMP: checks nginx, raises the descriptor limit,
# builds patch_day_player and velkaris-publish (player, tool), makes the
# work folder (work) in TEMP; stop_servers stops every server in servers.

# Each player's line at the servers: an ordinary player's download speed,
# so that a storm's downloads overlap as they do on patch day.
readonly PLAYER_RATE=1m
readonly SIGNING_KEY=$repo/tests/keys/test-release.key

patch_day_prepare() {
  local name=$1 temp=$2
  command -v nginx >/dev/null || { echo "$name.sh: nginx is missing" >&2 && exit 2; }
  # Every player process and every connection of the servers is a descriptor.
  ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
  (cd "$repo" && cmake --preset bench && cmake --build --preset bench \
    --target patch_day_player velkaris-publish) >/dev/null
  player=$repo/build/bench/bench/patch_day_player
  tool=$repo/build/bench/publish/velkaris-publish
  . "$repo/tools/serve.sh"
  work=$(mktemp -d "$temp/velkaris-patch-day-$name.XXXXXX")
  # nginx's workers may run as another user.
  chmod a+rx "$work"
  servers=()
}

stop_servers() {
  local pid
  for pid in "${servers[@]}"; do serve_stop "$pid"; done
  servers=()
}
