#!/usr/bin/env bash
# Publishing with velkaris-publish, end to end: release A, published into an
# empty tree, is fetched whole by an installed game that has no patcher yet;
# release B (one file changed, one new, one unchanged) is published into the
# same tree while it is served, and the launcher started again fetches the
# record, the list, the patcher and exactly the changed and the new file,
# puts them in place and starts the patcher. The tool's manifest beside the
# tree is not served. PUBLISH_TOOL is the Windows build of the tool (run
# under Wine) unless another is named.
# Usage: publish_update.sh WINDOWS_BUILD_DIR [PUBLISH_TOOL]
. "$(dirname "$0")/lib.sh"
e2e_bound 180 "$@"
e2e_begin publish_update "$1"
tool=${2:-$E2E_BUILD/publish/velkaris-publish.exe}
build=$E2E_OUT/build
tree=$E2E_OUT/published/UploadData

# publish WHAT: the build folder into the tree, which must succeed.
publish() {
  local status=0
  e2e_note "publishing $1 with $(basename "$tool")"
  if [[ $tool == *.exe ]]; then
    e2e_wine "$tool" --quiet "$(e2e_zpath "$build")" "$(e2e_zpath "$tree")" || status=$?
  else
    "$tool" --quiet "$build" "$tree" || status=$?
  fi
  [ "$status" -eq 0 ] || e2e_fail "publishing $1 ended with exit code $status"
  chmod -R a+rX "$tree"
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
# The game's data and the launcher, recorded in the registry: no dialog.
e2e_place_launcher "$E2E_INSTALL"
mkdir -p "$install/Tov"
: >"$install/Tov/pad00000.meta"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
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
e2e_end
