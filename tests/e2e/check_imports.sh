#!/usr/bin/env bash
# The launcher runs elevated from folders full of other people's files, so
# it may import at load time only DLLs that Windows always takes from the
# system folder (KnownDLLs). Fails on any other import.
set -euo pipefail
exe=$1
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
oleaut32.dll ws2_32.dll msvcrt.dll comdlg32.dll imm32.dll rpcrt4.dll"
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no import table read from $exe"; exit 1; }
status=0
for dll in $imports; do
  if ! grep -qw "$dll" <<<"$allowed"; then
    echo "FAIL: $exe imports $dll, which is not loaded from the system folder on every Windows"
    status=1
  fi
done
[ $status -eq 0 ] && echo "imports ok: $(echo $imports)"
exit $status
