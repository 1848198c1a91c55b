#!/usr/bin/env bash
# Publishing with velkaris-publish, end to end: release A, published into an
# empty tree, is fetched whole by an installed game that has no patcher yet;
# release B (one file changed, one new, one unchanged) is published into the
# same tree while it is served, and the launcher started again fetches the
# record, the list, the patcher and exactly the changed and the new file,
# puts them in place and starts the patcher. The tool's manifest beside the
# tree is not served. PUBLISH_TOOL is the Windows build of the tool (run
# under Wine) unless another is named. Then release C, with Traditional
# Chinese names, is installed on a Traditional Chinese Windows.
# Usage: publish_update.sh WINDOWS_BUILD_DIR [PUBLISH_TOOL]
. "$(dirname "$0")/lib.sh"
e2e_bound 180 "$@"
e2e_begin publish_update "$1"
tool=${2:-$E2E_BUILD/publish/velkaris-publish.exe}
build=$E2E_OUT/build
tree=$E2E_OUT/published/UploadData

# publish WHAT [TOOL BUILD TREE]: a build folder into a tree (by default
# the scenario's tool, build folder and tree), which must succeed.
publish() {
  local with=${2:-$tool} from=${3:-$build} into=${4:-$tree} status=0
  e2e_note "publishing $1 with $(basename "$with")"
  if [[ $with == *.exe ]]; then
    e2e_wine "$with" --quiet "$(e2e_zpath "$from")" "$(e2e_zpath "$into")" || status=$?
  else
    "$with" --quiet "$from" "$into" || status=$?
  fi
  [ "$status" -eq 0 ] || e2e_fail "publishing $1 ended with exit code $status"
  chmod -R a+rX "$into"
}

# The game's data and the launcher, recorded in the registry (no dialog),
# and no patcher yet.
game_without_patcher() {
  e2e_place_launcher "$E2E_INSTALL"
  mkdir -p "$install/Tov"
  : >"$install/Tov/pad00000.meta"
  e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
}

e2e_machine
install=$(e2e_path "$E2E_INSTALL")

# Release A into an empty tree: everything new, version 1.
mkdir -p "$build/locales"
cp "$E2E_LAUNCHER" "$build/$E2E_LAUNCHER_NAME"
cp "$E2E_STAND_IN" "$build/$E2E_PATCHER_NAME"
printf 'release A: read me\r\n' >"$build/readme.txt"
printf 'en-US strings\r\n' >"$build/locales/en_US.txt"
publish "release A"
e2e_expect_bytes "$tree/patcher_version" '1\r\n0'
e2e_expect_bytes "$tree/patcher_files_version" 'locales\\en_US.txt 1\r\nreadme.txt 1\r\n'

e2e_expect_same_file "$build/$E2E_LAUNCHER_NAME" "$tree/$E2E_LAUNCHER_NAME"

e2e_serve_release "$tree"
e2e_same "answer for the manifest beside the tree" 404 \
  "$(curl -s -o /dev/null -w '%{http_code}' "http://$E2E_HOST/UploadData.publish-manifest")"
game_without_patcher
e2e_run install_release_a "$E2E_INSTALL\\$E2E_LAUNCHER_NAME"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_update_requests locales/en_US.txt readme.txt
e2e_expect_patcher "$E2E_INSTALL"
rm -f "$install/$E2E_RECORD_NAME"

# Release B, published while the tree is served: readme.txt changed,
# locales\zh_TW.txt new, locales\en_US.txt and the patcher unchanged.
printf 'release B: read me again\r\n' >"$build/readme.txt"
printf 'zh-TW strings\r\n' >"$build/locales/zh_TW.txt"
publish "release B"
e2e_expect_bytes "$tree/patcher_version" '2\r\n0'
e2e_expect_bytes "$tree/patcher_files_version" \
  'locales\\en_US.txt 1\r\nlocales\\zh_TW.txt 1\r\nreadme.txt 2\r\n'

e2e_run update_to_release_b "$E2E_INSTALL\\$E2E_LAUNCHER_NAME"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_update_requests locales/zh_TW.txt readme.txt
e2e_expect_bytes "$install/patcher_version" '2\r\n0'
for file in VelkarisPatcher32.vke patcher_files_version readme.txt locales/en_US.txt \
  locales/zh_TW.txt; do
  e2e_expect_same_file "$tree/$file" "$install/$file"
done
e2e_expect_tree "$install" <<'END'
Tov/
Tov/pad00000.meta
VelkarisLauncher.exe
VelkarisPatcher32.vke
locales/
locales/en_US.txt
locales/zh_TW.txt
patcher_files_version
patcher_version
readme.txt
stand_in_record.bin
END
e2e_expect_patcher "$E2E_INSTALL"

# Release C, into a tree of its own, for a Traditional Chinese Windows (code
# page 950, from the locale Wine starts in): 許, 功 and 蓋 end in the byte
# of "\" there, so 許功蓋.txt is B3 5C A5 5C BB 5C .txt in the list. The
# tool's native build names the tree's copies by those bytes, which nginx
# matches against a request's (the Windows build names them in UTF-16). The
# launcher requests each file by its bytes (libcurl percent-encodes those
# above 0x7F, and nginx logs "\" as \x5C) and writes it under its name.
big5_build=$E2E_OUT/build-big5
big5_tree=$E2E_OUT/published-big5/UploadData
mkdir -p "$big5_build/locales"
cp "$E2E_LAUNCHER" "$big5_build/$E2E_LAUNCHER_NAME"
cp "$E2E_STAND_IN" "$big5_build/$E2E_PATCHER_NAME"
printf 'xu gong gai\r\n' >"$big5_build/許功蓋.txt"
printf 'shuo ming\r\n' >"$big5_build/locales/說明.txt"
publish "release C" "$(e2e_native_program velkaris-publish publish/velkaris-publish)" \
  "$big5_build" "$big5_tree"
e2e_expect_bytes "$big5_tree/patcher_files_version" \
  'locales\\\xBB\xA1\xA9\xFA.txt 1\r\n\xB3\x5C\xA5\x5C\xBB\x5C.txt 1\r\n'
e2e_serve_release "$big5_tree"
e2e_machine
game_without_patcher
LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8 e2e_run install_release_c "$E2E_INSTALL\\$E2E_LAUNCHER_NAME"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_update_requests 'locales/%bb%a1%a9%fa.txt' '%b3\x5C%a5\x5C%bb\x5C.txt'
e2e_expect_same_file "$big5_build/許功蓋.txt" "$install/許功蓋.txt"
e2e_expect_same_file "$big5_build/locales/說明.txt" "$install/locales/說明.txt"
e2e_expect_tree "$install" <<'END'
Tov/
Tov/pad00000.meta
VelkarisLauncher.exe
VelkarisPatcher32.vke
locales/
locales/說明.txt
patcher_files_version
patcher_version
stand_in_record.bin
許功蓋.txt
END
e2e_expect_patcher "$E2E_INSTALL"
e2e_end
