#!/usr/bin/env bash
# A small sample release for the demo and the end-to-end runs: the launcher
# copy, a stand-in patcher and a few accompanying files, one of them below
# "locales", with the version files the launcher reads.
# Usage: make-sample-release.sh LAUNCHER_EXE PATCHER_EXE RELEASE_DIR
set -euo pipefail
launcher=$1 patcher=$2 release=$3
rm -rf "$release"
mkdir -p "$release/locales"
cp "$launcher" "$release/VelkarisLauncher.exe"
cp "$patcher" "$release/VelkarisPatcher32.vke"
printf 'Velkaris sample release: read me.\r\n' >"$release/readme.txt"
printf 'zh-TW strings of the sample release\r\n' >"$release/locales/zh_TW.txt"
printf '3\r\n0' >"$release/patcher_version"
printf 'readme.txt 1\r\nlocales\\zh_TW.txt 2\r\n' >"$release/patcher_files_version"
