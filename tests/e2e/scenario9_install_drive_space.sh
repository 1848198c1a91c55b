#!/usr/bin/env bash
# Scenario 9, the free space of the drive chosen in the folder dialog, met
# for real on drives of known size (E: 20 GiB, D: 30 GiB; C: 48 GiB passes):
#   refused         E:\ is refused with "硬碟空間不足", exit -1, no key;
#   declined        D:\ leads to the question, answered No: exit -1, no key;
#   accepted        D:\, question answered Yes: the drive root becomes
#                   D:\Velkaris\ (created, recorded with its backslash), the
#                   shortcuts are declined and the game is fetched there.
# Each run's support log ends with its outcome.
# Usage: scenario9_install_drive_space.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_logged_launcher "$1"
e2e_begin install_drive_space "$1"
readonly MSG_SPACE_LOW='硬碟空間可能不足。是否要繼續安裝？'
e2e_serve_release

# -- E: refused
e2e_run_fresh e2e_machine_with_download refused "$E2E_DOWNLOADED" 'choose:E:\' ok
e2e_expect_exit -1
e2e_expect_dialogs <<END
$E2E_BROWSE_DIALOG | choose:E:\\
Launcher | 硬碟空間不足 | owner: splash | OK | ok
END
e2e_expect_outcome install-drive-space
e2e_expect_requests </dev/null
e2e_expect_reg "$E2E_REGIONAL_KEY" ""
e2e_expect_tree "$(e2e_path 'E:\')" </dev/null

# -- D: the question declined
e2e_run_fresh e2e_machine_with_download declined "$E2E_DOWNLOADED" 'choose:D:\' no
e2e_expect_exit -1
e2e_expect_dialogs <<END
$E2E_BROWSE_DIALOG | choose:D:\\
Launcher | $MSG_SPACE_LOW | owner: splash | Yes,No | no
END
e2e_expect_outcome install-drive-declined
e2e_expect_requests </dev/null
e2e_expect_reg "$E2E_REGIONAL_KEY" ""
e2e_expect_tree "$(e2e_path 'D:\')" </dev/null

# -- D: the question accepted
e2e_run_fresh e2e_machine_with_download accepted "$E2E_DOWNLOADED" 'choose:D:\' yes yes no
e2e_expect_exit 0
e2e_expect_dialogs <<END
$E2E_BROWSE_DIALOG | choose:D:\\
Launcher | $MSG_SPACE_LOW | owner: splash | Yes,No | yes
Launcher | D:\\Velkaris\\$E2E_MSG_CONFIRM_FOLDER | owner: splash | Yes,No | yes
Launcher | $E2E_MSG_SHORTCUT | owner: splash | Yes,No | no
END
e2e_expect_outcome patcher-started
e2e_expect_full_install_requests
e2e_expect_reg "$E2E_REGIONAL_KEY" 'D:\Velkaris\'
e2e_expect_patcher 'D:\Velkaris\'
e2e_expect_bytes "$(e2e_path 'D:\Velkaris')/patcher_version" "$E2E_RELEASE_RECORD"
e2e_expect_links <<'END'
C:\users\root\Desktop\Velkaris.lnk: missing
C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velkaris.lnk: missing
END
e2e_end
