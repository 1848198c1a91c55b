#!/usr/bin/env bash
# Scenario 1, a fresh machine: the launcher started from a downloads folder
# without game data and no install folder recorded. The folder dialog opens
# on the default folder (created first), the player accepts it, confirms the
# path, agrees to shortcuts; the launcher copy, the patcher and every listed
# file are fetched, and the patcher starts with the launcher's arguments.
# Usage: scenario1_fresh_machine.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_begin fresh_machine "$1"

e2e_serve_release
E2E_ARGS=(-x 1 "two words")
e2e_run_fresh e2e_machine_with_download fresh "$E2E_DOWNLOADED" ok yes yes

install=$(e2e_path "$E2E_INSTALL")
e2e_expect_exit 0
e2e_same "splash (x,y widthxheight)" "730,283 461x514" "$(e2e_splash)"
e2e_expect_dialogs <<END
$E2E_BROWSE_DIALOG | ok
Launcher | C:\\Corvane\\Velkaris$E2E_MSG_CONFIRM_FOLDER | owner: splash | Yes,No | yes
Launcher | $E2E_MSG_SHORTCUT | owner: splash | Yes,No | yes
END
e2e_expect_full_install_requests
e2e_expect_reg "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
e2e_expect_patcher "$E2E_INSTALL" '-x 1 "two words"' -x 1 'two words'
e2e_expect_full_install_tree "$install"
for file in VelkarisLauncher.exe VelkarisPatcher32.vke patcher_files_version readme.txt \
  locales/zh_TW.txt; do
  e2e_expect_same_file "$E2E_RELEASE/$file" "$install/$file"
done
e2e_expect_bytes "$install/patcher_version" "$E2E_RELEASE_RECORD"
e2e_expect_tree "$(e2e_path 'C:\Downloads')" <<<"VelkarisLauncher.exe"
e2e_expect_links <<'END'
C:\users\root\Desktop\Velkaris.lnk: target C:\Corvane\Velkaris\VelkarisLauncher.exe | description Velkaris | icon C:\Corvane\Velkaris/VelkarisLauncher.exe,0 | arguments '' | folder ''
C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velkaris.lnk: target C:\Corvane\Velkaris\VelkarisLauncher.exe | description Velkaris | icon C:\Corvane\Velkaris/VelkarisLauncher.exe,0 | arguments '' | folder ''
END
e2e_end
