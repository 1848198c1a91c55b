#!/usr/bin/env bash
# A small sample release for the demo and the end-to-end runs, published by
# velkaris-publish (the native build, built here when needed) from a build
# folder assembled here: the launcher copy, a stand-in patcher and two
# accompanying files, one of them below "locales". Three releases in a row
# (the first; new "locales\zh_TW.txt" strings; a new patcher) leave the
# version record at 3 and the list at "readme.txt 1", "locales\zh_TW.txt 2",
# so that an install can be one version behind it. The tool's manifest lies
# beside the release, at RELEASE_DIR.publish-manifest. With SIGNING_KEY every
# release is signed with it (release_manifest and its signature).
# Usage: make-sample-release.sh LAUNCHER_EXE PATCHER_EXE RELEASE_DIR [SIGNING_KEY]
set -euo pipefail
repo_root=$(cd "$(dirname "$0")/.." && pwd)
launcher=$1 patcher=$2 release=$3
signing=()
[ -z "${4:-}" ] || signing=(--signing-key "$4")
tool=$repo_root/build/native/publish/velkaris-publish

# Scenarios may run side by side; one build of the tool at a time.
mkdir -p "$repo_root/build"
log=$(mktemp)
if ! (
  flock 9
  cd "$repo_root"
  [ -f build/native/build.ninja ] || cmake --preset native
  cmake --build --preset native --target velkaris-publish
) 9>"$repo_root/build/.velkaris-publish.lock" >"$log" 2>&1; then
  cat "$log" >&2
  echo "make-sample-release: cannot build velkaris-publish" >&2
  exit 1
fi
rm -f "$log"

build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
rm -rf "$release" "$release.publish-manifest"
mkdir -p "$build/locales"
cp "$launcher" "$build/VelkarisLauncher.exe"
printf 'an older patcher\r\n' >"$build/VelkarisPatcher32.vke"
printf 'Velkaris sample release: read me.\r\n' >"$build/readme.txt"
printf 'older strings\r\n' >"$build/locales/zh_TW.txt"
"$tool" --quiet "${signing[@]}" "$build" "$release"
printf 'zh-TW strings of the sample release\r\n' >"$build/locales/zh_TW.txt"
"$tool" --quiet "${signing[@]}" "$build" "$release"
cp "$patcher" "$build/VelkarisPatcher32.vke"
"$tool" --quiet "${signing[@]}" "$build" "$release"
