#!/usr/bin/env bash
# Scenario 7, where the install folder comes from, the launcher started from
# a downloads folder without game data each time:
#   legacy          the earlier edition's record is carried over onto the
#                   regional one and used, without a dialog;
#   blanks          a recorded folder with blanks in its path: everything is
#                   fetched into it and the patcher starts there, while a
#                   program at the path's first blank ("C:\Program.exe") is
#                   not run;
#   cancelled       the folder dialog cancelled: exit -1, no key written, the
#                   default folder created and left empty, nothing fetched.
# Each run's support log ends with its outcome.
# Usage: scenario7_install_folder.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_logged_launcher "$1"
e2e_begin install_folder "$1"
e2e_serve_release

# -- the legacy record carried over
legacy='C:\Old Games\Velkaris'
e2e_machine
e2e_install_game "$legacy"
e2e_install_game "$E2E_INSTALL"
e2e_reg_set "$E2E_LEGACY_KEY" "$legacy"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
e2e_place_launcher 'C:\Downloads'
e2e_run legacy "$E2E_DOWNLOADED"
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_requests <<<"GET /UploadData/patcher_version"
e2e_expect_reg "$E2E_REGIONAL_KEY" "$legacy"
e2e_expect_reg "$E2E_LEGACY_KEY" "$legacy"
e2e_expect_patcher "$legacy"
e2e_expect_no_patcher "$(e2e_path "$E2E_INSTALL")"

# -- a recorded folder with blanks, still empty
blanks='C:\Program Files\Velkaris Game'
e2e_machine
mkdir -p "$(e2e_path "$blanks")"
cp "$E2E_STAND_IN" "$E2E_C/Program.exe"
e2e_reg_set "$E2E_REGIONAL_KEY" "$blanks"
e2e_place_launcher 'C:\Downloads'
E2E_ARGS=(--from "a shortcut")
e2e_run blanks "$E2E_DOWNLOADED"
E2E_ARGS=()
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_full_install_requests
e2e_expect_patcher "$blanks" '--from "a shortcut"' --from 'a shortcut'
e2e_expect_full_install_tree "$(e2e_path "$blanks")"
e2e_expect_no_patcher "$E2E_C"
e2e_expect_reg "$E2E_REGIONAL_KEY" "$blanks"

# -- the folder dialog cancelled
e2e_run_fresh e2e_machine_with_download cancelled "$E2E_DOWNLOADED" cancel
e2e_expect_exit -1
e2e_expect_dialogs <<<"$E2E_BROWSE_DIALOG | cancel"
e2e_expect_outcome folder-cancelled
e2e_expect_requests </dev/null
e2e_expect_reg "$E2E_REGIONAL_KEY" ""
e2e_expect_tree "$(e2e_path "$E2E_INSTALL")" </dev/null
e2e_end
