#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix: the
# emulator that CTest uses for the Windows build's tests. The exit code is
# the program's (its low byte, so -1 arrives as 255).
#
# The program's output goes through a file: Wine's own background processes
# (started with the first program of a server) inherit the program's output
# handles and can outlive it, and a caller reading a pipe would wait for them.
set -u
. "$(dirname "$0")/wine-env.sh"
wine_prepare
output=$(mktemp)
trap 'rm -f "$output"' EXIT
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24" "$WINE" "$@" >"$output" 2>&1 </dev/null
else
  "$WINE" "$@" >"$output" 2>&1 </dev/null
fi
status=$?
cat "$output"
exit $status
