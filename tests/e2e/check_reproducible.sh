#!/usr/bin/env bash
# Anyone can check a release: the launcher built again, in another folder,
# must be byte for byte the one of WINDOWS_BUILD_DIR (same host, no key),
# and so must its debug file.
# Usage: check_reproducible.sh WINDOWS_BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
again=${TMPDIR:-/tmp}/velkaris-reproducible-$$
trap 'rm -rf "$again"' EXIT
bash "$(dirname "$0")/build_launcher.sh" "$build" "$again"
status=0
for file in VelkarisLauncher.exe VelkarisLauncher.exe.debug; do
  first=$(sha256sum <"$build/$file" | cut -d' ' -f1)
  second=$(sha256sum <"$again/$file" | cut -d' ' -f1)
  if [ "$first" = "$second" ]; then
    echo "$file: $first in both folders"
  else
    echo "FAIL: $file differs: $first ($build) vs $second ($again)"
    cmp -l "$build/$file" "$again/$file" | head -n 20 || true
    status=1
  fi
done
# Stripped: the debug sections live only in the debug file.
if i686-w64-mingw32-objdump -h "$build/VelkarisLauncher.exe" | grep -q '\.debug_'; then
  echo "FAIL: VelkarisLauncher.exe still carries debug sections"
  status=1
fi
exit $status
