#!/usr/bin/env bash
# Scenario 5, the server misbehaving, each case on a fresh machine:
#   unreachable     nothing listens: the English box without owner, exit -1;
#   entry-404       a listed file answered 404: "Launcher-ad", exit -1, the
#                   record, the list and the patcher unchanged;
#   redirect        the patcher answered with a redirect: not followed, the
#                   patcher download fails, exit -1;
#   cut-once        the patcher's first transfer cut short: fetched again,
#                   complete, and the update goes through;
#   unsafe-name     a list entry naming a file outside the install folder:
#                   refused ("Launcher-ad"), nothing requested for it and
#                   nothing written outside the install folder;
#   oversized-name  a list name of 1,000 characters: refused like an unsafe
#                   name, nothing requested for it or written.
# Each run's support log ends with its outcome.
# Usage: scenario5_server_faults.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 180 "$@"
e2e_logged_launcher "$1"
e2e_begin server_faults "$1"

routes=$E2E_OUT/routes
mkdir -p "$routes"
install=$(e2e_path "$E2E_INSTALL")

# run_stopped_after_patcher LABEL CAPTION OUTCOME: a run stopped with the
# download box of that caption, nothing requested after the patcher, nothing
# moved on and nothing written outside the install folder.
run_stopped_after_patcher() {
  local marker=$E2E_OUT/before-$1
  touch "$marker"
  e2e_run "$1" "$E2E_INSTALL\\VelkarisLauncher.exe" ok
  e2e_expect_dialogs <<<"$2 | $E2E_MSG_DOWNLOAD_FAILED | owner: splash | OK | ok"
  e2e_expect_outcome "$3"
  e2e_expect_update_requests
  e2e_expect_update_stopped "$install"
  e2e_expect_nothing_written_outside "$marker" Corvane/Velkaris
}

# -- unreachable
e2e_installed_machine current
e2e_serve_nothing
e2e_run unreachable "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_exit -1
e2e_expect_dialogs <<<"Launcher | Failed to download patcher version information. | owner: none | OK | ok"
e2e_expect_outcome record-download
e2e_expect_no_patcher "$install"
e2e_expect_bytes "$install/patcher_version" "$E2E_RELEASE_RECORD"
e2e_expect_absent "$install/patcher_version_tmp"

# -- a listed file answered 404
e2e_installed_machine
cat >"$routes/entry-404.routes" <<'END'
/UploadData/locales/zh_TW.txt 404
END
e2e_serve_script "$routes/entry-404.routes"
e2e_run entry-404 "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_dialogs <<<"Launcher-ad | $E2E_MSG_DOWNLOAD_FAILED | owner: splash | OK | ok"
e2e_expect_outcome listed-file
e2e_expect_update_requests locales/zh_TW.txt
e2e_expect_update_stopped "$install"

# -- the patcher answered with a redirect
e2e_installed_machine
cat >"$routes/redirect.routes" <<'END'
/UploadData/VelkarisPatcher32.vke 302 redirect=/UploadData/elsewhere/VelkarisPatcher32.vke
/UploadData/elsewhere/VelkarisPatcher32.vke 200 body=../release/UploadData/VelkarisPatcher32.vke
END
e2e_serve_script "$routes/redirect.routes"
run_stopped_after_patcher redirect Launcher patcher-download

# -- the patcher's first transfer cut short
e2e_installed_machine
cat >"$routes/cut-once.routes" <<'END'
/UploadData/VelkarisPatcher32.vke 200 body=../release/UploadData/VelkarisPatcher32.vke cut=1
END
e2e_serve_script "$routes/cut-once.routes"
e2e_run cut-once "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_outcome patcher-started
e2e_expect_update_requests VelkarisPatcher32.vke locales/zh_TW.txt
e2e_expect_same_file "$E2E_RELEASE/VelkarisPatcher32.vke" "$install/VelkarisPatcher32.vke"
e2e_expect_bytes "$install/patcher_version" "$E2E_BEHIND_UPDATED_RECORD"
e2e_expect_absent "$install/VelkarisPatcher32.vke.temp"
e2e_expect_patcher "$E2E_INSTALL"

# -- a list entry naming a file outside the install folder, which the server
# would hand out wherever the name leads
e2e_installed_machine
unsafe=$E2E_OUT/unsafe-release
cp -r "$(dirname "$E2E_RELEASE")" "$unsafe"
printf '..\\escape.txt 1\r\n' >>"$unsafe/UploadData/patcher_files_version"
printf 'escaped\r\n' >"$unsafe/escape.txt"
cat >"$routes/unsafe-name.routes" <<'END'
/escape.txt 200 body=../unsafe-release/escape.txt
/UploadData/../escape.txt 200 body=../unsafe-release/escape.txt
END
e2e_serve_script "$routes/unsafe-name.routes" "$unsafe/UploadData"
run_stopped_after_patcher unsafe-name Launcher-ad listed-file
e2e_expect_absent "$(e2e_path 'C:\Corvane')/escape.txt" "$E2E_C/escape.txt"

# -- a list entry beyond the longest name the list allows, the only entry
# that changed; served, so a launcher that took it would fetch it and go on
e2e_installed_machine
oversized=$(printf 'n%.0s' {1..1000})
printf 'readme.txt 1\r\n%s 1\r\nlocales\\zh_TW.txt 1\r\n' "$oversized" \
  >"$routes/oversized-name.list"
cat >"$routes/oversized-name.routes" <<END
/UploadData/patcher_files_version 200 body=oversized-name.list
/UploadData/$oversized 200 body=oversized-name.list
END
e2e_serve_script "$routes/oversized-name.routes"
run_stopped_after_patcher oversized-name Launcher-ad listed-file
e2e_end
