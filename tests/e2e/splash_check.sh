#!/usr/bin/env bash
# The real launcher on a 1920x1080 screen: its splash stands centred with
# the picture's soft edges, a quit message does not end the splash thread,
# and the folder dialog it opens on a fresh machine is owned by the splash.
# The dialog is cancelled, so the launcher ends with -1. The screenshot
# (build/windows/test-output/e2e/splash/splash-screen.png) shows the splash
# with the dialog parked in the corner.
# Usage: splash_check.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_begin splash "$1"
readonly SPLASH_TIMEOUT_MS=20000
readonly QUIT_TIMEOUT_MS=5000
# The picture's size, centred on 1920x1080.
readonly SPLASH_X=730 SPLASH_Y=283 SPLASH_SIZE=461x514
readonly SPLASH_RECT="$SPLASH_X,$SPLASH_Y $SPLASH_SIZE"
readonly PICTURE=$E2E_REPO/res/splash_zh.png

# While the folder dialog is up: the splash's place, a screenshot with the
# dialog moved aside, and the splash thread surviving a quit message.
look_at_the_splash() {
  e2e_driver splash "$SPLASH_TIMEOUT_MS" >"$E2E_OUT/splash.jsonl" || true
  e2e_same "splash (x,y widthxheight)" "$SPLASH_RECT" \
    "$(python3 "$E2E_LIB_DIR/e2e.py" splash "$E2E_OUT/splash.jsonl")"
  e2e_driver park "$SPLASH_TIMEOUT_MS" >"$E2E_OUT/parked.jsonl" ||
    e2e_fail "no folder dialog to park: $(cat "$E2E_OUT/parked.jsonl")"
  import -display "$DISPLAY" -window root "$E2E_OUT/splash-screen.png"
  e2e_driver quit-splash "$QUIT_TIMEOUT_MS" >"$E2E_OUT/quit.jsonl" ||
    e2e_fail "the splash thread stopped serving after a quit message: $(cat "$E2E_OUT/quit.jsonl")"
}

e2e_serve_nothing
E2E_BEFORE_WATCH=look_at_the_splash
e2e_run_fresh e2e_machine_with_download splash "$E2E_DOWNLOADED" cancel
e2e_expect_exit -1
e2e_expect_dialogs <<<"$E2E_BROWSE_DIALOG | cancel"

# The splash's pixels over the black root window against the picture with
# its alpha applied.
out=$E2E_OUT
convert "$out/splash-screen.png" -crop "$SPLASH_SIZE+$SPLASH_X+$SPLASH_Y" +repage \
  "$out/splash-crop.ppm"
convert "$PICTURE" -background black -alpha remove -alpha off "$out/expected.ppm"
convert "$PICTURE" -alpha extract "$out/alpha.pgm"
convert "$out/alpha.pgm" -type TrueColor "$out/alpha.ppm"
python3 "$E2E_LIB_DIR/compare_splash.py" "$out/splash-crop.ppm" "$out/expected.ppm" "$out/alpha.ppm" ||
  e2e_fail "splash pixels differ from the picture (see $out)"
e2e_note "screenshot: $out/splash-screen.png"
e2e_end
