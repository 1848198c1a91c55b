#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix: the
# emulator that CTest uses for the Windows build's tests. The exit code is
# the program's (its low byte, so -1 arrives as 255).
set -u
. "$(dirname "$0")/wine-env.sh"
wine_prepare
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$WINE" "$@"
fi
exec "$WINE" "$@"
