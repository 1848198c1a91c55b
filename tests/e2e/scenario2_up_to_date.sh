#!/usr/bin/env bash
# Scenario 2, installed and up to date: the launcher started from its install
# folder asks the server for the version record only, shows nothing, leaves
# every file as it was (the local second number differs from the server's
# and stays) and starts the patcher with no arguments.
# Usage: scenario2_up_to_date.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_begin up_to_date "$1"

e2e_machine
e2e_serve_release
install=$(e2e_path "$E2E_INSTALL")
e2e_install_game "$E2E_INSTALL"
printf '3\r\n7' >"$install/patcher_version"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
before=$(cd "$install" && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)

e2e_run up_to_date "$E2E_INSTALL\\VelkarisLauncher.exe"

e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_requests <<<"GET /UploadData/patcher_version"
e2e_expect_patcher "$E2E_INSTALL"
e2e_same "install folder (sha256)" "$before" \
  "$(cd "$install" && find . -type f ! -name "$E2E_RECORD_NAME" -exec sha256sum {} + | LC_ALL=C sort -k2)"
e2e_expect_bytes "$install/patcher_version" '3\r\n7'
e2e_expect_reg "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
e2e_end
