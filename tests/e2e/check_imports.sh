#!/usr/bin/env bash
# The launcher runs elevated from folders full of other people's files, so
# it may import at load time only DLLs that Windows always takes from the
# system folder (KnownDLLs). Fails on any other import, and on any imported
# function that Windows 7 SP1, which the manifest names, lacks: the exe
# would then not start there at all.
set -euo pipefail
exe=$1
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
oleaut32.dll ws2_32.dll msvcrt.dll comdlg32.dll imm32.dll rpcrt4.dll"
# Known to be missing from Windows 7 SP1: the DLL search functions of
# KB2533623 (an optional update), and functions that came with Windows 8 or
# later which the runtime or libcurl may pull in.
denied="SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory
GetSystemTimePreciseAsFileTime CreateFile2 GetCurrentThreadStackLimits PrefetchVirtualMemory
WaitOnAddress WakeByAddressSingle WakeByAddressAll SetThreadDescription GetThreadDescription"
table=$(i686-w64-mingw32-objdump -p "$exe")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$table" | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no import table read from $exe"; exit 1; }
# Function lines of the import tables: address, hint, name.
functions=$(sed -n '/^\s*DLL Name: /,/^$/s/^\s*[0-9a-f]\+\s\+[0-9]\+\s\+\([A-Za-z_][A-Za-z0-9_@]*\)$/\1/p' <<<"$table")
[ -n "$functions" ] || { echo "no imported functions read from $exe"; exit 1; }
status=0
for dll in $imports; do
  if ! grep -qw "$dll" <<<"$allowed"; then
    echo "FAIL: $exe imports $dll, which is not loaded from the system folder on every Windows"
    status=1
  fi
done
for function in $denied; do
  if grep -qx "$function" <<<"$functions"; then
    echo "FAIL: $exe imports $function, which Windows 7 SP1 lacks; look it up at run time"
    status=1
  fi
done
[ $status -eq 0 ] && echo "imports ok: $(echo $imports), $(wc -l <<<"$functions") functions"
exit $status
