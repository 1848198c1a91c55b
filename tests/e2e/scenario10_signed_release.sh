#!/usr/bin/env bash
# Scenario 10, a launcher built with a release key (tests/keys), each case
# on a fresh machine one version behind unless it goes on from the case
# before:
#   signed          the release signed with that key: the manifest and its
#                   signature come right after the record, the update goes
#                   through (every file checked by CNG), the patcher starts;
#   mirror          the release naming a mirror (the reference nginx on the
#                   next port), the built-in host answering the patcher 503:
#                   the patcher comes from the mirror, and so does the
#                   listed file after it (a host that failed is asked last);
#   mirror-alone    that install, nothing listening at the built-in host:
#                   the next release, its record first, from the mirror;
#   tampered        the server hands out a patcher of its own: after waiting
#                   for a release that might be switching, refused with the
#                   patcher's box, nothing started, nothing moved on;
#   unsigned        a tree published without a key: refused as a record
#                   that cannot be had, nothing changed.
# The launcher writes the support log; a refused release is its outcome
# whatever box the player saw.
# Usage: scenario10_signed_release.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 420 "$@"
e2e_signed_launcher "$1"
e2e_begin signed_release "$1"

routes=$E2E_OUT/routes
mkdir -p "$routes"
install=$(e2e_path "$E2E_INSTALL")
expect_nothing_moved() {
  e2e_expect_update_stopped "$install"
  e2e_expect_absent "$install/VelkarisPatcher32.vke.temp" "$install/release_manifest"
}

# -- signed
e2e_installed_machine
e2e_serve_release
e2e_run signed "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_outcome patcher-started
update_requests='GET /UploadData/patcher_version
GET /UploadData/release_manifest
GET /UploadData/release_manifest.sig
GET /UploadData/patcher_files_version
GET /UploadData/VelkarisPatcher32.vke'
e2e_expect_requests <<<"$update_requests
GET /UploadData/locales/zh_TW.txt"
for file in VelkarisPatcher32.vke patcher_files_version locales/zh_TW.txt release_manifest \
  release_manifest.sig; do
  e2e_expect_same_file "$E2E_RELEASE/$file" "$install/$file"
done
# The signed manifest is kept for the checks before every later start, with
# the record it vouched for and what was found of the installed files.
e2e_expect_behind_updated "$install" release_checked release_manifest release_manifest.sig \
  release_record

# -- mirror: the same release signed anew to name a mirror, which serves
# the same tree; the built-in host (the test server) answers the patcher 503
mirrored=$E2E_OUT/mirrored
mirror_port=$((E2E_PORT + 1))
e2e_release_copy "$mirrored"
e2e_publish "$mirrored" --mirror "127.0.0.1:$mirror_port" --allow-local-mirror
e2e_installed_machine
cat >"$routes/unavailable.routes" <<'END'
/UploadData/VelkarisPatcher32.vke 503 nobody
END
e2e_serve_script "$routes/unavailable.routes" "$mirrored/UploadData"
e2e_serve_mirror "$mirrored/UploadData" "$mirror_port"
e2e_run mirror "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_requests <<<"$update_requests"
# A host that failed is asked last: the listed file, too, from the mirror.
mirror_answers=$(awk '{print $2, $3, $5}' "$E2E_MIRROR_LOG" | tr -d '"')
e2e_same "the mirror's answers" "GET /UploadData/VelkarisPatcher32.vke 200
GET /UploadData/locales/zh_TW.txt 200" "$mirror_answers"
for file in VelkarisPatcher32.vke locales/zh_TW.txt release_manifest; do
  e2e_expect_same_file "$mirrored/UploadData/$file" "$install/$file"
done
e2e_expect_patcher "$E2E_INSTALL"

# -- mirror-alone: nothing listens at the built-in host, the mirror serves
# the next release (new locales\zh_TW.txt strings, the mirror kept)
printf 'zh-TW strings of the next release\r\n' >"$mirrored/build/locales/zh_TW.txt"
e2e_publish "$mirrored"
e2e_serve_nothing
E2E_REQUEST_LOG=$E2E_MIRROR_LOG
rm "$install/$E2E_RECORD_NAME"
e2e_run mirror-alone "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_requests <<<"$update_requests
GET /UploadData/locales/zh_TW.txt"
e2e_expect_bytes "$install/patcher_version" '4\r\n5'
e2e_expect_same_file "$mirrored/UploadData/locales/zh_TW.txt" "$install/locales/zh_TW.txt"
e2e_expect_patcher "$E2E_INSTALL"

# -- the fault server's own patcher
e2e_installed_machine
printf 'MZ a patcher of their own\r\n' >"$routes/planted.vke"
cat >"$routes/tampered.routes" <<'END'
/UploadData/VelkarisPatcher32.vke 200 body=planted.vke
END
# A publish under way looks the same at first: the launcher asks for the
# record every 5 s for 2 minutes, starts over once, and only then gives up.
E2E_RUN_SECONDS=200
e2e_serve_script "$routes/tampered.routes"
e2e_run tampered "$E2E_INSTALL\\VelkarisLauncher.exe" ok
E2E_RUN_SECONDS=60
e2e_expect_dialogs <<<"Launcher | $E2E_MSG_DOWNLOAD_FAILED | owner: splash | OK | ok"
e2e_expect_outcome release-refused
record_polls=$(for _ in $(seq 25); do echo 'GET /UploadData/patcher_version'; done)
e2e_expect_requests <<<"$update_requests
$record_polls
${update_requests#*patcher_version
}"
expect_nothing_moved

# -- a tree published without a key
e2e_installed_machine
unsigned=$E2E_OUT/unsigned/UploadData
bash "$E2E_REPO/tools/make-sample-release.sh" "$E2E_LAUNCHER" "$E2E_STAND_IN" "$unsigned"
e2e_serve_release "$unsigned"
e2e_run unsigned "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_dialogs <<<"Launcher | Failed to download patcher version information. | owner: none | OK | ok"
e2e_expect_outcome record-download
e2e_expect_requests <<'END'
GET /UploadData/patcher_version
GET /UploadData/release_manifest
END
expect_nothing_moved
e2e_expect_absent "$install/release_manifest_tmp" "$install/patcher_version_tmp"
e2e_end
