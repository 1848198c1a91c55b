#!/usr/bin/env bash
# Scenario 11, a launcher built with a release key (tests/keys) against what
# a server on the path or a program on the machine can do:
#   kept-manifest   an up-to-date install without a kept manifest, started
#                   twice: the first start fetches the record, the manifest
#                   and its signature and keeps them, the second the record
#                   alone; the patcher starts both times;
#   rollback        that install takes a newer release; the older one served
#                   again is refused like a record that cannot be had, and
#                   nothing changes;
#   foreign-cut     a listed file answered with other bytes and cut short,
#                   every attempt: "Launcher-ad", no trace of those bytes;
#                   then the old record served again (a freeze): the patcher
#                   starts, the listed file still the signed one;
#   oversized       the patcher with 256 MiB appended: the patcher's box at
#                   once, nothing large left on disk;
#   local-tamper    a program on the machine tries to overwrite the
#                   downloaded patcher while it is staged, and again as the
#                   launcher starts it: both writes are refused, the genuine
#                   patcher starts, the second write goes through only once
#                   the patcher has ended;
#   planted-copy    an install upgraded from an unsigned launcher holds a
#                   program of someone's own as VelkarisLauncher.exe: the
#                   launcher the player downloaded puts the release's copy
#                   in its place, and the shortcuts' target then starts the
#                   launcher, never that program;
#   locales-link    locales is a link to a folder elsewhere: the start's box
#                   once the release is known, nothing written through it,
#                   nothing started.
# The launcher writes the support log; each run's ends with its outcome.
# Usage: scenario11_signed_attacks.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 480 "$@"
e2e_signed_launcher "$1"
e2e_begin signed_attacks "$1"
readonly APPENDED_BYTES=256M
# More than the sockets on both sides buffer: what a server can send of a
# file before it learns that the client is gone.
readonly BUFFERED_BYTES=$((16 << 20))
# zh_TW.txt in pieces of 4 bytes 500 ms apart (about 4.5 s): the window in
# which the local program finds the patcher downloaded and staged.
readonly TRICKLE=4:500
# ERROR_REPARSE_POINT_ENCOUNTERED: a link where the launcher claims a folder.
readonly REPARSE_POINT_ENCOUNTERED=4395

routes=$E2E_OUT/routes
mkdir -p "$routes"
install=$(e2e_path "$E2E_INSTALL")
record_requests='GET /UploadData/patcher_version
GET /UploadData/release_manifest
GET /UploadData/release_manifest.sig'
update_requests="$record_requests
GET /UploadData/patcher_files_version
GET /UploadData/VelkarisPatcher32.vke
GET /UploadData/locales/zh_TW.txt"

# A newer signed release: the sample release's files with new
# "locales\zh_TW.txt" strings, published into a copy of its tree.
e2e_release_copy "$E2E_OUT/newer"
printf 'zh-TW strings of the newer release\r\n' >"$E2E_OUT/newer/build/locales/zh_TW.txt"
e2e_publish "$E2E_OUT/newer"
newer=$E2E_OUT/newer/UploadData
e2e_expect_bytes "$newer/patcher_version" '4\r\n0'

# Every file below the install folder with its hash, but the support log
# and the checked-files record, which a first claim deletes (under Wine,
# which keeps no folder's permissions, every start is one).
install_digest() {
  (cd "$install" && find . -type f ! -name "$E2E_SUPPORT_LOG*" ! -name release_checked -print0 |
    LC_ALL=C sort -z | xargs -0 sha256sum)
}

expect_no_staging() {
  e2e_same "staging files left" "" "$(cd "$install" && find . -name '*.temp' -o -name '*_tmp')"
}

# The signed patcher started, then its record removed for the next run.
expect_patcher_started() {
  e2e_expect_patcher "$E2E_INSTALL"
  rm -f "$install/$E2E_RECORD_NAME"
}

# -- kept-manifest: an up-to-date install without a kept manifest
e2e_installed_machine current
e2e_serve_release
e2e_run first-start "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_requests <<<"$record_requests"
for file in release_manifest release_manifest.sig; do
  e2e_expect_same_file "$E2E_RELEASE/$file" "$install/$file"
done
e2e_expect_same_file "$E2E_RELEASE/patcher_version" "$install/release_record"
expect_patcher_started
e2e_run second-start "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_requests <<<'GET /UploadData/patcher_version'
expect_patcher_started

# -- rollback: the same install takes the newer release, then is served the
# older one again
e2e_serve_release "$newer"
e2e_run newer "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_requests <<<"$update_requests"
for file in locales/zh_TW.txt patcher_files_version release_manifest release_manifest.sig; do
  e2e_expect_same_file "$newer/$file" "$install/$file"
done
expect_patcher_started
before=$(install_digest)
e2e_serve_release
e2e_run rollback "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_exit -1
e2e_expect_dialogs <<<"Launcher | Failed to download patcher version information. | owner: none | OK | ok"
e2e_expect_outcome release-refused
e2e_expect_requests <<<'GET /UploadData/patcher_version'
e2e_expect_no_patcher "$install"
e2e_same "the install folder's files" "$before" "$(install_digest)"

# -- foreign-cut: the newer release, its listed file answered with other
# bytes (fewer than the signed size) and cut short every time; one attempt
# and ten more
e2e_installed_machine current
printf 'planted strings, never signed\r\n' >"$routes/foreign.txt"
cat >"$routes/foreign-cut.routes" <<'END'
/UploadData/locales/zh_TW.txt 200 body=foreign.txt cut=99:16
END
e2e_serve_script "$routes/foreign-cut.routes" "$newer"
e2e_run foreign-cut "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_exit -1
e2e_expect_dialogs <<<"Launcher-ad | $E2E_MSG_DOWNLOAD_FAILED | owner: splash | OK | ok"
e2e_expect_outcome listed-file
e2e_expect_requests <<<"$update_requests$(printf '\nGET /UploadData/locales/zh_TW.txt%.0s' {1..10})"
e2e_expect_no_patcher "$install"
e2e_expect_same_file "$E2E_RELEASE/locales/zh_TW.txt" "$install/locales/zh_TW.txt"
e2e_expect_bytes "$install/patcher_version" "$E2E_RELEASE_RECORD"
expect_no_staging
e2e_serve_release
e2e_run freeze "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_requests <<<"$record_requests"
e2e_expect_same_file "$E2E_RELEASE/locales/zh_TW.txt" "$install/locales/zh_TW.txt"
expect_no_staging
expect_patcher_started

# -- oversized: the signed patcher with zero bytes appended (a sparse file)
e2e_installed_machine
oversized=$E2E_OUT/oversized/UploadData
mkdir -p "$(dirname "$oversized")"
cp -r "$E2E_RELEASE" "$oversized"
truncate -s "+$APPENDED_BYTES" "$oversized/VelkarisPatcher32.vke"
e2e_serve_release "$oversized"
marker=$E2E_OUT/before-oversized
touch "$marker"
e2e_run oversized "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_dialogs <<<"Launcher | $E2E_MSG_DOWNLOAD_FAILED | owner: splash | OK | ok"
e2e_expect_outcome patcher-download
e2e_expect_requests <<<"${update_requests%$'\n'*}"
e2e_expect_update_stopped "$install"
expect_no_staging
# Cut off at its signed size: the server sent no more than the sockets could
# buffer, far from the whole file.
sent=$(awk '/VelkarisPatcher32\.vke/ { print $(NF-1) }' "$E2E_REQUEST_LOG")
[ "${sent:-0}" -lt "$BUFFERED_BYTES" ] || e2e_fail "the server sent $sent bytes of the oversized patcher"
e2e_same "files over 1 MiB written" "" \
  "$(find "$E2E_C" -type f -newer "$marker" -size +1M -printf '%P %s\n')"
rm -rf "$(dirname "$oversized")"

# -- local-tamper: tamperer.exe tries to overwrite the patcher's staging
# copy once its download is complete (during the slow listed file), then the
# patcher once the launcher has kept the manifest, which it does only for a
# patcher that matched, while it holds it; the stand-in patcher waits until
# that write has been refused.
e2e_installed_machine
cat >"$routes/slow-entry.routes" <<END
/UploadData/locales/zh_TW.txt 200 body=../release/UploadData/locales/zh_TW.txt trickle=$TRICKLE
END
e2e_serve_script "$routes/slow-entry.routes"
: >"$install/stand_in_wait"
tamperer=$E2E_OUT/tamperer.out
timeout -k 5 "$E2E_RUN_SECONDS" "$WINE" "$E2E_BUILD/tests/tamperer.exe" overwrite \
  $((E2E_RUN_SECONDS * 1000)) "$E2E_INSTALL\\VelkarisPatcher32.vke" \
  "$(e2e_zpath "$E2E_RELEASE/VelkarisPatcher32.vke")" "$E2E_INSTALL\\release_record" \
  "$E2E_INSTALL\\stand_in_wait" </dev/null >"$tamperer" 2>&1 &
tamperer_pid=$!
e2e_driver wait-process tamperer.exe running $((E2E_SERVER_SECONDS * 1000)) >/dev/null ||
  e2e_fail "tamperer.exe did not start"
e2e_run local-tamper "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
# The staging copy is held from its download to its rename: nothing fetched
# again.
e2e_expect_requests <<<"$update_requests"
e2e_expect_patcher "$E2E_INSTALL"
wait "$tamperer_pid" || e2e_fail "tamperer.exe ended with exit code $?"
e2e_same "tamperer.exe's writes" "refused VelkarisPatcher32.vke.temp
refused VelkarisPatcher32.vke
overwrote VelkarisPatcher32.vke" "$(tr -d '\r' <"$tamperer")"
# Its second write went through once the patcher had ended: refused only
# while the launcher held the file and the patcher ran from it.
e2e_expect_same_file "$E2E_BUILD/tests/tamperer.exe" "$install/VelkarisPatcher32.vke"
e2e_expect_bytes "$install/patcher_version" "$E2E_BEHIND_UPDATED_RECORD"
expect_no_staging

# -- planted-copy: the stand-in patcher planted as the launcher copy, where a
# start of it would leave a record naming VelkarisLauncher.exe
e2e_installed_machine
cp "$E2E_STAND_IN" "$install/$E2E_LAUNCHER_NAME"
e2e_place_launcher 'C:\Downloads'
e2e_serve_release
e2e_run planted-copy "$E2E_DOWNLOADED"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_requests <<<"$record_requests
GET /UploadData/VelkarisLauncher.exe
${update_requests#"$record_requests"
}"
e2e_expect_same_file "$E2E_RELEASE/$E2E_LAUNCHER_NAME" "$install/$E2E_LAUNCHER_NAME"
expect_patcher_started
e2e_run shortcut-target "$E2E_INSTALL\\$E2E_LAUNCHER_NAME"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_requests <<<'GET /UploadData/patcher_version'
expect_patcher_started
expect_no_staging

# -- locales-link: locales leads to a folder of someone else's
e2e_installed_machine
elsewhere=$(e2e_path 'C:\Elsewhere')
mkdir -p "$elsewhere"
printf 'not the game\r\n' >"$elsewhere/zh_TW.txt"
rm -r "$install/locales"
ln -s "$elsewhere" "$install/locales"
before=$(install_digest)
elsewhere_before=$(cd "$elsewhere" && find . -printf '%p %s\n' | LC_ALL=C sort)
# The system's text, or the launcher's own where it has none (Wine).
e2e_driver error-text "$REPARSE_POINT_ENCOUNTERED" >"$E2E_OUT/error-text.jsonl" || true
system_text=$(python3 "$E2E_LIB_DIR/e2e.py" error-text "$E2E_OUT/error-text.jsonl")
e2e_run locales-link "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_exit -1
e2e_expect_dialogs <<<"Launcher | $E2E_MSG_START_FAILED\\r\\n errCode : ${system_text:-Unknown Error} | owner: splash | OK | ok"
e2e_expect_outcome patcher-start
e2e_expect_requests <<<"$record_requests"
e2e_expect_no_patcher "$install"
e2e_same "the install folder's files" "$before" "$(install_digest)"
e2e_same "the files the link leads to" "$elsewhere_before" \
  "$(cd "$elsewhere" && find . -printf '%p %s\n' | LC_ALL=C sort)"
e2e_end
