#!/usr/bin/env bash
# Scenario 12, behind an edge cache: the reference edge
# (deploy/edge-cache.conf.in, copies kept 1 s) on the launcher's server
# address, in front of the reference nginx. An install one version behind
# updates through it as it does without one: every request reaches the
# edge, which fetches each file whole from the origin. A second install,
# updated once the edge's copies are past their time, gets the same bodies
# from the edge: it revalidates each copy and the origin answers 304 with
# no body. The launcher writes the support log: its run id is in the edge's
# and the origin's lines of its requests.
# Usage: scenario12_edge_cache.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 150 "$@"
e2e_logged_launcher "$1"
e2e_begin edge_cache "$1"
readonly FRESH_SECONDS=1
# nginx keeps a copy up to FRESH + 1 s: after this wait every copy is past
# its time, however quickly the next run comes.
readonly PAST_FRESH_SECONDS=2.5
readonly UPDATED=(VelkarisPatcher32.vke patcher_files_version readme.txt locales/zh_TW.txt)
install=$(e2e_path "$E2E_INSTALL")

# The fields FIELDS (awk) of the lines a log got after its first SKIP.
log_since() { tail -n +$(($2 + 1)) "$1" | awk "{print $3}"; }

# update_through_edge LABEL EDGE_CACHE_STATUS ORIGIN_STATUS: an install one
# version behind on a fresh machine updated through the edge, which answers
# each of its four requests 200 with that cache status after asking the
# origin, which answers ORIGIN_STATUS.
update_through_edge() {
  local edge_skip origin_skip file
  e2e_installed_machine
  edge_skip=$(wc -l <"$E2E_REQUEST_LOG")
  origin_skip=$(wc -l <"$E2E_ORIGIN_LOG")
  e2e_run "$1" "$E2E_INSTALL\\VelkarisLauncher.exe"
  e2e_expect_exit 0
  e2e_expect_no_dialog
  e2e_expect_outcome patcher-started
  e2e_expect_update_requests locales/zh_TW.txt
  e2e_same "the edge's answers" "$(printf "200 $2\n%.0s" 1 2 3 4)" \
    "$(log_since "$E2E_REQUEST_LOG" "$edge_skip" '$(NF-3), $(NF-1)')"
  e2e_same "the origin's answers" "$(sed "s|\$| $3|" "$E2E_RUN/requests.txt")" \
    "$(log_since "$E2E_ORIGIN_LOG" "$origin_skip" '$2, $3, $(NF-2)' | tr -d '"')"
  e2e_same "run ids at the origin" "run=$E2E_RUN_ID" \
    "$(log_since "$E2E_ORIGIN_LOG" "$origin_skip" '$NF' | sort -u)"
  for file in "${UPDATED[@]}"; do
    e2e_expect_same_file "$E2E_RELEASE/$file" "$install/$file"
  done
  e2e_expect_behind_updated "$install"
}

e2e_serve_behind_edge "$FRESH_SECONDS"
update_through_edge first-through-edge MISS 200
sleep "$PAST_FRESH_SECONDS"
update_through_edge revalidated REVALIDATED 304
e2e_same "body bytes the origin sent for the revalidations" 0 \
  "$(tail -n 4 "$E2E_ORIGIN_LOG" | awk '{sum += $(NF-1)} END {print sum}')"
e2e_end
