# Sourced by the end-to-end scenarios and the main job: the real launcher
# under Wine, each run on a fresh machine (a Wine prefix copied on write from
# a base prefix, on file systems of declared size), against nginx or the test
# server on 127.0.0.1, with the dialogs answered by the driver and every
# check collected before the scenario ends. The servers listen on the
# address the build's launcher was made for (LAUNCHER_SERVER_HOST, by
# default 127.0.0.1:18080), so scenarios run one at a time. Needs root for
# the mounts.
#
# A scenario script:
#   . "$(dirname "$0")/lib.sh"
#   e2e_bound 120 "$@"                     # the whole scenario within 120 s
#   e2e_begin NAME "$1"                    # $1: the Windows build folder
#   e2e_machine; e2e_serve_release
#   E2E_ARGS=(...); e2e_run LABEL 'C:\Downloads\VelkarisLauncher.exe' ok yes
#   e2e_expect_exit 0; e2e_expect_dialogs <<'EOF' ... EOF
#   e2e_end
set -euo pipefail

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_REPO=$(cd "$E2E_LIB_DIR/../.." && pwd)
. "$E2E_REPO/tools/serve.sh"
# Drive sizes: C: passes every free-space check (12 units of 4 GiB), D: meets
# the question (7 units: 28,672), E: the refusal (5 units: 20,480).
E2E_C_SIZE=48g
E2E_D_SIZE=30g
E2E_E_SIZE=20g
E2E_WINE_SECONDS=60      # one Wine tool call (reg, the driver's short commands)
E2E_RUN_SECONDS=60       # one launcher run, dialogs included
E2E_SERVER_SECONDS=10    # a server to start listening or a port to come free
E2E_RECORD_SECONDS=20    # the stand-in patcher to write its record
E2E_UNMOUNT_SECONDS=20
E2E_BASE_SECONDS=300     # creating the base prefix (about 15 s) under a lock
E2E_SCREEN=1920x1080
E2E_LAUNCHER_NAME=VelkarisLauncher.exe
E2E_PATCHER_NAME=VelkarisPatcher32.vke
E2E_RECORD_NAME=stand_in_record.bin
E2E_PORT_HINT='build for a free local port: cmake --preset windows -DLAUNCHER_SERVER_HOST=127.0.0.1:PORT'

E2E_INSTALL='C:\Corvane\Velkaris'
E2E_REGIONAL_KEY='HKLM\Software\Velkaris_TW'
E2E_LEGACY_KEY='HKLM\Software\Velkaris'
# Texts the scenarios expect in more than one place.
E2E_MSG_DOWNLOAD_FAILED='更新下載失敗，請查看遊戲官網FAQ。'
E2E_MSG_START_FAILED='更新版本下載失敗，請查看遊戲官網FAQ。'
E2E_MSG_CONFIRM_FOLDER='\r\n是否安裝至該檔案路徑？'
E2E_MSG_SHORTCUT='是否要建立桌面捷徑？'
E2E_BROWSE_DIALOG='Browse for Folder | 請選擇要安裝的資料夾 | owner: splash | Make New Folder,OK,Cancel | selected: Desktop > My Computer >  (C:) > Corvane > Velkaris'
# The sample release's version record and list (tools/make-sample-release.sh)
# and an install one version behind it, whose "locales\zh_TW.txt" is older.
E2E_RELEASE_RECORD='3\r\n0'
E2E_BEHIND_RECORD='2\r\n5'
E2E_BEHIND_UPDATED_RECORD='3\r\n5'
E2E_BEHIND_LIST='readme.txt 1\r\nlocales\\zh_TW.txt 1\r\n'
E2E_OLD_PATCHER='an older patcher\r\n'
# Between the install folder and the patcher's name on its command line: the
# launcher names the patcher by joining them, a signed one by the path that
# Windows gives for the file it holds.
E2E_PATCHER_SEPARATOR=/

E2E_FAILURES=0
E2E_RUNS=0
E2E_ARGS=()
E2E_ENV=()       # NAME=VALUE for the launcher's environment in the next runs
E2E_PLAYER=()    # the user and computer names of an e2e_player_machine
E2E_LOGGED=      # set: the launcher of the scenario writes the support log
E2E_RUN_ID=
E2E_OUTCOME=
E2E_SUPPORT_LOG=launcher.log
E2E_SERVER_PID=
E2E_ORIGIN_PID=
E2E_MIRROR_PID=
E2E_REQUEST_LOG=
E2E_BEFORE_WATCH=

# e2e_bound BUDGET_SECONDS SCRIPT_ARGUMENTS...: runs the calling script
# again under a time budget; when it is spent every process of the scenario
# gets TERM (and the cleanup runs), KILL 20 s later.
e2e_bound() {
  local budget=$1
  shift
  if [ -z "${E2E_BOUNDED:-}" ]; then
    export E2E_BOUNDED=1
    exec timeout -k 20 "$budget" bash "$0" "$@"
  fi
}

# e2e_begin NAME BUILD_DIR [OUTPUT_DIR]: the output folder (default
# BUILD_DIR/test-output/e2e/NAME), the screen, the base prefix and the
# sample release; everything is undone on exit. E2E_LAUNCHER_EXE, when set,
# is the launcher to install and publish instead of BUILD_DIR's (one built
# with a release key), and E2E_SIGNING_KEY the key the release is signed
# with.
e2e_begin() {
  E2E_NAME=$1
  E2E_BUILD=$(cd "${2:?the Windows build folder}" && pwd)
  E2E_OUT=${3:-$E2E_BUILD/test-output/e2e/$E2E_NAME}
  E2E_LAUNCHER=${E2E_LAUNCHER_EXE:-$E2E_BUILD/VelkarisLauncher.exe}
  E2E_DRIVER=$E2E_BUILD/launcher-driver.exe
  E2E_STAND_IN=$E2E_BUILD/tests/stand_in_patcher.exe
  # The servers listen where this build's launcher looks.
  E2E_HOST=$(sed -n 's/^LAUNCHER_SERVER_HOST:[A-Z]*=//p' "$E2E_BUILD/CMakeCache.txt")
  [[ $E2E_HOST =~ ^127\.0\.0\.1:[0-9]+$ ]] ||
    { echo "the launcher in $E2E_BUILD is built for '$E2E_HOST', not 127.0.0.1:PORT; $E2E_PORT_HINT" >&2 && exit 1; }
  E2E_PORT=${E2E_HOST#*:}
  E2E_MNT=${TMPDIR:-/tmp}/velkaris-e2e-$(id -u)/$E2E_NAME
  E2E_C=$E2E_MNT/prefix/drive_c
  E2E_STARTED=$(date +%s)
  rm -rf "$E2E_OUT"
  mkdir -p "$E2E_OUT" "$E2E_MNT"
  trap e2e_cleanup EXIT
  trap 'exit 143' TERM INT
  . "$E2E_REPO/tools/xvfb.sh"
  start_xvfb "$E2E_SCREEN"
  e2e_machine_down
  e2e_base
  E2E_RELEASE=$E2E_OUT/release/UploadData
  bash "$E2E_REPO/tools/make-sample-release.sh" "$E2E_LAUNCHER" "$E2E_STAND_IN" "$E2E_RELEASE" \
    ${E2E_SIGNING_KEY:+"$E2E_SIGNING_KEY"}
  chmod -R a+rX "$E2E_OUT"
}

# e2e_signed_launcher BUILD_DIR: the launcher built with the test release
# key and the support log (into BUILD_DIR/signed-launcher) is the one the
# next e2e_begin installs and publishes, and the sample release is signed
# with the key's private half.
e2e_signed_launcher() {
  local build=$1/signed-launcher
  bash "$E2E_LIB_DIR/build_launcher.sh" "$1" "$build" "$E2E_REPO/tests/keys/test-release.pub" \
    support-log
  E2E_LAUNCHER_EXE=$build/VelkarisLauncher.exe
  E2E_SIGNING_KEY=$E2E_REPO/tests/keys/test-release.key
  E2E_LOGGED=1
  E2E_PATCHER_SEPARATOR='\'
}

# e2e_logged_launcher BUILD_DIR: the launcher as a build with the support
# log makes it (BUILD_DIR/logged-launcher, a target of the Windows build) is
# the one the next e2e_begin installs and publishes.
e2e_logged_launcher() {
  E2E_LAUNCHER_EXE=$1/logged-launcher/VelkarisLauncher.exe
  E2E_LOGGED=1
}

# e2e_release_copy DIR: DIR/UploadData, a copy of the sample release with the
# tool's manifest beside it, and DIR/build, the build folder of its last
# release, for further releases into the copy (e2e_publish).
e2e_release_copy() {
  mkdir -p "$1/build/locales"
  cp -r "$E2E_RELEASE" "$1/UploadData"
  cp "$E2E_RELEASE.publish-manifest" "$1/UploadData.publish-manifest"
  cp "$E2E_RELEASE"/{VelkarisLauncher.exe,VelkarisPatcher32.vke,readme.txt} "$1/build/"
  cp "$E2E_RELEASE/locales/zh_TW.txt" "$1/build/locales/"
}

# e2e_publish DIR [OPTION...]: DIR/build published into DIR/UploadData,
# signed with E2E_SIGNING_KEY.
e2e_publish() {
  local dir=$1
  shift
  "$(e2e_native_program velkaris-publish publish/velkaris-publish)" --quiet \
    --signing-key "$E2E_SIGNING_KEY" "$@" "$dir/build" "$dir/UploadData"
}

e2e_end() {
  local seconds=$(($(date +%s) - E2E_STARTED))
  if [ "$E2E_FAILURES" -ne 0 ]; then
    echo "FAIL $E2E_NAME: $E2E_FAILURES check(s) failed in $seconds s (output: $E2E_OUT)"
    exit 1
  fi
  echo "PASS $E2E_NAME in $seconds s"
}

e2e_cleanup() {
  set +e  # undo everything, whatever fails on the way
  e2e_stop_server
  [ -z "$E2E_MIRROR_PID" ] || serve_stop "$E2E_MIRROR_PID"
  e2e_machine_down
  # Only a screen of our own: stop_xvfb also ends the servers of the
  # checkout's other prefixes.
  [ -z "${XVFB_PID:-}" ] || stop_xvfb
}

e2e_note() { echo "-- $*"; }

# ---- the base prefix ----

# Created once per checkout (about 15 s) and only read afterwards: the
# scenarios see it through an overlay. Its user folders are plain folders
# rather than links into a home folder, so nothing reaches the host's home.
e2e_base() {
  E2E_BASE=$E2E_REPO/build/wine/e2e-base
  mkdir -p "$(dirname "$E2E_BASE")"
  local version
  version=$(/usr/lib/wine/wine --version)
  (
    flock -w "$E2E_BASE_SECONDS" 9
    [ "$(cat "$E2E_BASE.ready" 2>/dev/null)" = "$version" ] && exit 0
    echo "-- creating the base Wine prefix $E2E_BASE"
    rm -rf "$E2E_BASE" "$E2E_BASE-home" "$E2E_BASE.ready"
    export LAUNCHER_WINEPREFIX=$E2E_BASE LAUNCHER_WINEHOME=$E2E_BASE-home
    . "$E2E_REPO/tools/wine-env.sh"
    wine_prepare
    local link
    for link in "$E2E_BASE"/drive_c/users/*/*; do
      if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
    done
    timeout "$E2E_WINE_SECONDS" "$WINESERVER" -k || true
    timeout "$E2E_WINE_SECONDS" "$WINESERVER" -w || true
    echo "$version" >"$E2E_BASE.ready"
  ) 9>"$E2E_BASE.lock"
}

# ---- a fresh machine ----

# A fresh machine: the base prefix seen through an overlay whose writes go to
# a tmpfs of E2E_C_SIZE (so C: reports that free space), and the drives D:
# and E: on tmpfs mounts of their own. Replaces the machine of an earlier run.
e2e_machine() {
  e2e_machine_down
  E2E_PLAYER=()
  local drive
  for drive in c d e; do mkdir -p "$E2E_MNT/$drive"; done
  mkdir -p "$E2E_MNT/prefix"
  mount -t tmpfs -o size=$E2E_C_SIZE tmpfs "$E2E_MNT/c"
  mount -t tmpfs -o size=$E2E_D_SIZE tmpfs "$E2E_MNT/d"
  mount -t tmpfs -o size=$E2E_E_SIZE tmpfs "$E2E_MNT/e"
  mkdir -p "$E2E_MNT/c/upper" "$E2E_MNT/c/work" "$E2E_MNT/c/home"
  mount -t overlay overlay \
    -o "lowerdir=$E2E_BASE,upperdir=$E2E_MNT/c/upper,workdir=$E2E_MNT/c/work" "$E2E_MNT/prefix"
  export LAUNCHER_WINEPREFIX=$E2E_MNT/prefix LAUNCHER_WINEHOME=$E2E_MNT/c/home
  . "$E2E_REPO/tools/wine-env.sh"
  ln -s "$E2E_MNT/d" "$WINEPREFIX/dosdevices/d:"
  ln -s "$E2E_MNT/e" "$WINEPREFIX/dosdevices/e:"
}

# e2e_player_machine USER COMPUTER: a fresh machine on which Windows, in
# Traditional Chinese (code page 950), names the player USER (USERNAME, the
# profile C:\users\USER with its Temp folder as TEMP) and the computer
# COMPUTER (COMPUTERNAME). Wine takes both from the first program of its
# session: that one runs under the user name in a host name space of its
# own, and the session's server stays up for the programs that follow.
E2E_ZH_TW_LOCALE=zh_TW.UTF-8
e2e_player_machine() {
  local user=$1 computer=$2 profile="C:\\users\\$1" variable
  e2e_machine
  # shellcheck disable=SC2016  # the inner shell's arguments
  unshare --uts bash -c 'hostname "$1" && "$2" -p "$3" && shift 3 && exec "$@"' bash \
    "$computer" "$WINESERVER" "$E2E_WINE_SECONDS" env USER="$user" LOGNAME="$user" \
    LANG=$E2E_ZH_TW_LOCALE LC_ALL=$E2E_ZH_TW_LOCALE timeout -k 5 "$E2E_WINE_SECONDS" "$WINE" \
    cmd /c exit </dev/null >/dev/null 2>&1
  mkdir -p "$(e2e_path "$profile")/Temp"
  for variable in TEMP TMP; do
    LANG=$E2E_ZH_TW_LOCALE LC_ALL=$E2E_ZH_TW_LOCALE \
      e2e_wine reg add 'HKCU\Environment' /v "$variable" /d "$profile\\Temp" /f >/dev/null
  done
  E2E_PLAYER=("$user" "$computer")
}

# Ends every Windows process of the machine and unmounts its drives.
e2e_machine_down() {
  if mountpoint -q "$E2E_MNT/prefix" 2>/dev/null; then
    WINEPREFIX=$E2E_MNT/prefix timeout "$E2E_UNMOUNT_SECONDS" /usr/lib/wine/wineserver -k 2>/dev/null || true
    WINEPREFIX=$E2E_MNT/prefix timeout "$E2E_UNMOUNT_SECONDS" /usr/lib/wine/wineserver -w 2>/dev/null || true
  fi
  local mount
  for mount in prefix d e c; do
    if mountpoint -q "$E2E_MNT/$mount" 2>/dev/null; then
      timeout "$E2E_UNMOUNT_SECONDS" umount "$E2E_MNT/$mount" || umount -l "$E2E_MNT/$mount"
    fi
  done
}

# The Unix path of a Windows path on the machine's drives C:, D:, E:.
e2e_path() {
  local path=${1//\\//}
  local drive=${path:0:1}
  local rest=${path:2}
  case $drive in
    C | c) echo "$E2E_C$rest" ;;
    D | d) echo "$E2E_MNT/d$rest" ;;
    E | e) echo "$E2E_MNT/e$rest" ;;
    *) echo "e2e_path: no drive for $1" >&2 && return 1 ;;
  esac
}

# The Windows path of a Unix path, through drive Z: (the host's root).
e2e_zpath() { local path=$1; echo "Z:${path//\//\\}"; }

# A Wine program's output goes through a file: Wine's background processes,
# started with the first program of a server, inherit its output handles and
# would hold a pipe open.
e2e_wine() {
  local output status=0
  output=$(mktemp)
  timeout -k 5 "$E2E_WINE_SECONDS" "$WINE" "$@" </dev/null >"$output" 2>/dev/null || status=$?
  tr -d '\r' <"$output"
  rm -f "$output"
  return $status
}
e2e_driver() { e2e_wine "$E2E_DRIVER" "$@"; }

# ---- registry ----

e2e_reg_set() { e2e_wine reg add "$1" /v Path /d "$2" /f >/dev/null; }

# The "Path" value of a key, or nothing (and status 1) when it has none.
e2e_reg_path() {
  local line
  line=$(e2e_wine reg query "$1" /v Path | grep -m1 '    Path    REG_SZ    ') || return 1
  echo "${line#*REG_SZ    }"
}

e2e_key_exists() { e2e_wine reg query "$1" >/dev/null; }

# ---- install folders ----

# An installed game in WINDOWS_FOLDER, up to date with the sample release:
# the data marker, the launcher copy, the patcher, the listed files and the
# version files.
e2e_install_game() {
  local folder
  folder=$(e2e_path "$1")
  mkdir -p "$folder/Tov" "$folder/locales"
  : >"$folder/Tov/pad00000.meta"
  cp "$E2E_LAUNCHER" "$folder/$E2E_LAUNCHER_NAME"
  cp "$E2E_RELEASE/$E2E_PATCHER_NAME" "$E2E_RELEASE/patcher_version" \
    "$E2E_RELEASE/patcher_files_version" "$E2E_RELEASE/readme.txt" "$folder/"
  cp "$E2E_RELEASE/locales/zh_TW.txt" "$folder/locales/"
}

# An installed game in WINDOWS_FOLDER one version behind the sample release:
# record 2/5 against 3/0, "locales\zh_TW.txt" at 1 against 2, an older
# patcher.
e2e_install_game_behind() {
  local folder
  e2e_install_game "$1"
  folder=$(e2e_path "$1")
  printf "$E2E_BEHIND_RECORD" >"$folder/patcher_version"
  printf "$E2E_BEHIND_LIST" >"$folder/patcher_files_version"
  printf "$E2E_OLD_PATCHER" >"$folder/$E2E_PATCHER_NAME"
  printf 'older strings\r\n' >"$folder/locales/zh_TW.txt"
}

# FOLDER (Unix path) still holds the record, list and patcher of an install
# one version behind.
e2e_expect_still_behind() {
  e2e_expect_bytes "$1/patcher_version" "$E2E_BEHIND_RECORD"
  e2e_expect_bytes "$1/patcher_files_version" "$E2E_BEHIND_LIST"
  e2e_expect_bytes "$1/$E2E_PATCHER_NAME" "$E2E_OLD_PATCHER"
}

# A run that stopped an update of FOLDER: exit -1, no patcher started,
# nothing moved on.
e2e_expect_update_stopped() {
  e2e_expect_exit -1
  e2e_expect_no_patcher "$1"
  e2e_expect_still_behind "$1"
}

# A fresh machine with the game installed one version behind (or, with
# "current", up to date) in E2E_INSTALL, recorded in the registry.
e2e_installed_machine() {
  e2e_machine
  if [ "${1:-}" = current ]; then
    e2e_install_game "$E2E_INSTALL"
  else
    e2e_install_game_behind "$E2E_INSTALL"
  fi
  e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
}

# The requests of an update as far as the patcher: the record, the list, the
# patcher, then each server PATH given (below /UploadData/), in order.
e2e_expect_update_requests() {
  printf 'GET /UploadData/%s\n' patcher_version patcher_files_version "$E2E_PATCHER_NAME" "$@" |
    e2e_expect_requests
}

# The requests of a launcher that installs the sample release into an empty
# folder: its own copy, the record, the list, the patcher, the listed files.
e2e_expect_full_install_requests() {
  e2e_expect_requests <<'END'
GET /UploadData/VelkarisLauncher.exe
GET /UploadData/patcher_version
GET /UploadData/patcher_files_version
GET /UploadData/VelkarisPatcher32.vke
GET /UploadData/locales/zh_TW.txt
GET /UploadData/readme.txt
END
}

# What such an install leaves in FOLDER (Unix path), the stand-in patcher's
# record and the support log included.
e2e_expect_full_install_tree() {
  e2e_expect_tree "$1" < <(printf '%s\n' VelkarisLauncher.exe VelkarisPatcher32.vke locales/ \
    locales/zh_TW.txt patcher_files_version patcher_version readme.txt stand_in_record.bin \
    ${E2E_LOGGED:+"$E2E_SUPPORT_LOG"} | LC_ALL=C sort)
}

# An install made by e2e_install_game_behind in C:\Corvane\Velkaris (Unix
# path INSTALL) once the launcher has brought it up to the sample release:
# the new record, no file left over but the EXTRA files named, the patcher
# started without arguments. The fetched files themselves are compared by
# the caller.
e2e_expect_behind_updated() {
  local install=$1
  shift
  e2e_expect_bytes "$install/patcher_version" "$E2E_BEHIND_UPDATED_RECORD"
  # Not the last command of a pipeline: that runs in a subshell, whose
  # failure count would be lost.
  e2e_expect_tree "$install" < <(printf '%s\n' Tov/ Tov/pad00000.meta VelkarisLauncher.exe \
    VelkarisPatcher32.vke locales/ locales/zh_TW.txt patcher_files_version patcher_version \
    readme.txt stand_in_record.bin ${E2E_LOGGED:+"$E2E_SUPPORT_LOG"} "$@" | LC_ALL=C sort)
  e2e_expect_patcher "$E2E_INSTALL"
}

# A process under a watched NAME (the driver, copied under that name and
# holding still) runs until the machine goes down.
e2e_start_process_named() {
  local name=$1 folder='C:\Holders'
  mkdir -p "$(e2e_path "$folder")"
  cp "$E2E_DRIVER" "$(e2e_path "$folder")/$name"
  timeout -k 5 "$E2E_RUN_SECONDS" "$WINE" "$folder\\$name" hold $((E2E_RUN_SECONDS * 1000)) \
    </dev/null >/dev/null 2>&1 &
  e2e_driver wait-process "$name" running $((E2E_SERVER_SECONDS * 1000)) >/dev/null ||
    { echo "$name did not start" >&2 && return 1; }
}

# A fresh machine as a player meets it first: nothing installed, nothing
# recorded, the launcher just downloaded into C:\Downloads.
E2E_DOWNLOADED='C:\Downloads\VelkarisLauncher.exe'
e2e_machine_with_download() {
  e2e_machine
  e2e_place_launcher 'C:\Downloads'
}

# The launcher alone in WINDOWS_FOLDER, as a player puts a fresh download.
e2e_place_launcher() {
  local folder
  folder=$(e2e_path "$1")
  mkdir -p "$folder"
  cp "$E2E_LAUNCHER" "$folder/$E2E_LAUNCHER_NAME"
}

# ---- servers on E2E_HOST ----

# e2e_port_free [PORT]: E2E_PORT unless another is named.
e2e_port_free() {
  local port=${1:-$E2E_PORT}
  python3 "$E2E_LIB_DIR/e2e.py" port-free "$port" "$E2E_SERVER_SECONDS" ||
    { echo "127.0.0.1:$port is taken by another program; $E2E_PORT_HINT" >&2 && return 1; }
}

# nginx with the reference configuration, serving RELEASE_DIR (default: the
# sample release) as /UploadData/.
e2e_serve_release() {
  e2e_stop_server
  e2e_port_free
  e2e_start_origin "${1:-$E2E_RELEASE}" "$E2E_HOST"
  E2E_SERVER_PID=$SERVE_PID
}

# An edge cache (deploy/edge-cache.conf.in, copies kept FRESH seconds) on
# E2E_HOST in front of the reference nginx serving RELEASE_DIR (default: the
# sample release) on the next port. E2E_REQUEST_LOG is the edge's log,
# E2E_ORIGIN_LOG the origin's.
e2e_serve_behind_edge() {
  local fresh=$1 origin=127.0.0.1:$((E2E_PORT + 1))
  e2e_stop_server
  e2e_port_free
  e2e_port_free $((E2E_PORT + 1))
  e2e_start_origin "${2:-$E2E_RELEASE}" "$origin"
  E2E_ORIGIN_PID=$SERVE_PID
  E2E_ORIGIN_LOG=$E2E_REQUEST_LOG
  serve_render "$E2E_REPO/deploy/edge-cache.conf.in" "$E2E_OUT/edge" "LISTEN=$E2E_HOST" \
    "ORIGIN=$origin" "FRESH=$fresh"
  serve_start "$E2E_OUT/edge" "$E2E_HOST"
  E2E_SERVER_PID=$SERVE_PID
  E2E_REQUEST_LOG=$E2E_OUT/edge/access.log
}

# e2e_serve_mirror RELEASE_DIR PORT: the reference nginx serving RELEASE_DIR
# on 127.0.0.1:PORT too, a mirror that a signed manifest names, until the
# scenario ends, whatever serves E2E_HOST meanwhile. E2E_MIRROR_LOG is its
# log.
e2e_serve_mirror() {
  local log=$E2E_REQUEST_LOG
  e2e_port_free "$2"
  e2e_start_origin "$1" "127.0.0.1:$2" "$E2E_OUT/mirror"
  E2E_MIRROR_PID=$SERVE_PID E2E_MIRROR_LOG=$E2E_REQUEST_LOG E2E_REQUEST_LOG=$log
}

# e2e_start_origin RELEASE_DIR ADDRESS [RUN_DIR]: the reference nginx
# (SERVE_PID), its log in E2E_REQUEST_LOG.
e2e_start_origin() {
  local release=$1 run=${3:-$E2E_OUT/nginx}
  serve_render "$E2E_REPO/deploy/nginx-download-server.conf.in" "$run" \
    "RELEASE_DIR=$release" "LISTEN=$2"
  chmod -R a+rX "$release"
  serve_start "$run" "$2"
  E2E_REQUEST_LOG=$run/access.log
}

# The test server with the route script SCRIPT (body= files relative to its
# folder) and RELEASE_DIR (default: the sample release) as /UploadData/.
e2e_serve_script() {
  local script=$1 release=${2:-$E2E_RELEASE} server
  server=$(e2e_test_server)
  e2e_stop_server
  e2e_port_free
  E2E_REQUEST_LOG=$E2E_OUT/test-server-$(basename "$script" .routes).log
  : >"$E2E_REQUEST_LOG"
  "$server" --port "$E2E_PORT" --root "$release" --script "$script" --log "$E2E_REQUEST_LOG" \
    --max-seconds "$E2E_RUN_SECONDS" >"$E2E_OUT/test-server.out" 2>&1 &
  E2E_SERVER_PID=$!
  serve_wait_listening "$E2E_HOST" "$E2E_SERVER_PID"
}

# No server at all: the port is checked free and stays so.
e2e_serve_nothing() {
  e2e_stop_server
  e2e_port_free
  E2E_REQUEST_LOG=
}

e2e_stop_server() {
  local pid
  for pid in $E2E_SERVER_PID $E2E_ORIGIN_PID; do serve_stop "$pid"; done
  E2E_SERVER_PID= E2E_ORIGIN_PID=
}

# e2e_native_program TARGET PATH: the program PATH of the native build
# (below build/native), built when this checkout has none yet (the Windows
# tests do not build native targets).
e2e_native_program() {
  local program=$E2E_REPO/build/native/$2
  if [ ! -x "$program" ]; then
    (
      cd "$E2E_REPO"
      [ -f build/native/build.ninja ] || timeout 300 cmake --preset native >/dev/null
      timeout 600 cmake --build --preset native --target "$1" >/dev/null
    ) >&2
  fi
  echo "$program"
}

e2e_test_server() {
  e2e_native_program test_http_server_main tests/http_server/velkaris-test-server
}

# ---- one launcher run ----

# e2e_run LABEL LAUNCHER_WINDOWS_PATH ANSWER...
# Starts the launcher (arguments in E2E_ARGS, environment E2E_ENV added)
# from its folder and answers its dialogs in order with the driver.
# Afterwards E2E_EXIT holds its exit code (-1 as -1; 124 when it overran
# E2E_RUN_SECONDS) and E2E_RUN a folder with dialogs.txt, requests.txt, the
# driver's raw lines and, from a launcher with the support log, the run's
# lines of it (launcher.log; see e2e_check_support_log). E2E_BEFORE_WATCH may
# name a command to run after the start and before the dialogs are answered.
e2e_run() {
  local label=$1 exe=$2
  shift 2
  E2E_RUNS=$((E2E_RUNS + 1))
  E2E_RUN=$E2E_OUT/$(printf '%02d' "$E2E_RUNS")-$label
  mkdir -p "$E2E_RUN"
  e2e_note "run $label: $exe ${E2E_ARGS[*]:-} (answers: ${*:-none})"
  local folder skip=0
  folder=$(e2e_path "${exe%\\*}")
  [ -n "$E2E_REQUEST_LOG" ] && skip=$(wc -l <"$E2E_REQUEST_LOG")
  (cd "$folder" && exec env "${E2E_ENV[@]}" timeout -k 5 "$E2E_RUN_SECONDS" "$WINE" "$exe" \
    "${E2E_ARGS[@]}" </dev/null >/dev/null 2>&1) &
  local launcher=$!
  [ -z "$E2E_BEFORE_WATCH" ] || $E2E_BEFORE_WATCH
  timeout -k 5 $((E2E_RUN_SECONDS + 5)) "$WINE" "$E2E_DRIVER" watch $((E2E_RUN_SECONDS * 1000)) \
    --stop-file "$(e2e_zpath "$E2E_RUN/launcher-ended")" "$@" </dev/null >"$E2E_RUN/driver.out" 2>/dev/null &
  local driver=$!
  set +e
  wait "$launcher"
  E2E_EXIT=$?
  set -e
  [ "$E2E_EXIT" -eq 255 ] && E2E_EXIT=-1
  touch "$E2E_RUN/launcher-ended"
  wait "$driver" || true
  tr -d '\r' <"$E2E_RUN/driver.out" >"$E2E_RUN/driver.jsonl"
  python3 "$E2E_LIB_DIR/e2e.py" dialogs "$E2E_RUN/driver.jsonl" >"$E2E_RUN/dialogs.txt"
  : >"$E2E_RUN/requests.txt"
  [ -z "$E2E_REQUEST_LOG" ] ||
    python3 "$E2E_LIB_DIR/e2e.py" requests "$E2E_REQUEST_LOG" "$skip" >"$E2E_RUN/requests.txt"
  e2e_check_support_log "$skip"
  e2e_note "exit code $E2E_EXIT; $(wc -l <"$E2E_RUN/dialogs.txt") dialog(s); $(wc -l <"$E2E_RUN/requests.txt") request(s)${E2E_OUTCOME:+; outcome $E2E_OUTCOME}"
}

# ---- the support log ----

# After each run: a launcher with the support log (E2E_LOGGED) left the
# run's lines, ending in a closing line with an outcome other than
# "unknown"; they name no local path, nor the player or the computer of an
# e2e_player_machine; and every request
# the server logged since line SKIP carried the run's id. E2E_RUN_ID and
# E2E_OUTCOME hold them. Any other launcher, built as shipped by default,
# left no log on any drive and sent no run id.
e2e_check_support_log() {
  local skip=$1 runs=
  [ -z "$E2E_REQUEST_LOG" ] ||
    runs=$(python3 "$E2E_LIB_DIR/e2e.py" request-runs "$E2E_REQUEST_LOG" "$skip" | sort -u)
  E2E_RUN_ID= E2E_OUTCOME=
  if [ -z "$E2E_LOGGED" ]; then
    e2e_same "support logs on the machine" "" "$(find "$E2E_C" "$E2E_MNT/d" "$E2E_MNT/e" \
      -path "$E2E_C/windows" -prune -o -iname "$E2E_SUPPORT_LOG*" -print)"
    [ -z "$runs" ] || e2e_same "run ids of the requests" "-" "$runs"
    return 0
  fi
  local private
  if ! private=$(python3 "$E2E_LIB_DIR/e2e.py" run-log "$E2E_OUT/run-ids" \
    "$E2E_RUN/$E2E_SUPPORT_LOG" "$E2E_C" "$E2E_MNT/d" "$E2E_MNT/e" -- "${E2E_PLAYER[@]}"); then
    e2e_fail "no support log of this run"
    return 0
  fi
  E2E_RUN_ID=$(sed -n '1s/.* run=\([0-9a-f]*\) .*/\1/p' "$E2E_RUN/$E2E_SUPPORT_LOG")
  E2E_OUTCOME=$(sed -n '$s/.* step=end outcome=\([^ ]*\) .*/\1/p' "$E2E_RUN/$E2E_SUPPORT_LOG")
  [ -n "$E2E_OUTCOME" ] && [ "$E2E_OUTCOME" != unknown ] ||
    e2e_fail "the support log does not end with an outcome: $(tail -n 1 "$E2E_RUN/$E2E_SUPPORT_LOG")"
  [ -z "$runs" ] || e2e_same "run ids of the requests" "$E2E_RUN_ID" "$runs"
  e2e_same "support log lines naming a local path, the player or the computer" "" "$private"
}

# The last run's support log ends with the outcome CODE.
e2e_expect_outcome() { e2e_same "outcome in the support log" "$1" "$E2E_OUTCOME"; }

# e2e_run_fresh SETUP LABEL LAUNCHER_WINDOWS_PATH ANSWER...
# For runs that meet the folder dialog: SETUP (a command that makes the
# fresh machine, e2e_machine and what the run needs), then e2e_run. Wine 8
# sometimes opens the folder dialog of a fresh prefix without selecting the
# folder the launcher hands it (here about one run in eight; never twice in
# one prefix). Such a run says nothing about the launcher, so it is made
# again on a fresh machine, at most E2E_BROWSE_ATTEMPTS times in all.
E2E_BROWSE_ATTEMPTS=4
e2e_run_fresh() {
  local setup=$1 label=$2 attempt
  shift 2
  for attempt in $(seq 1 "$E2E_BROWSE_ATTEMPTS"); do
    $setup
    e2e_run "$label" "$@"
    head -n1 "$E2E_RUN/dialogs.txt" | grep -q '^Browse for Folder | .* | selected: Desktop |' ||
      return 0
    e2e_note "Wine left the folder dialog without the preselected folder; again on a fresh machine"
  done
}

# The splash as the driver first saw it placed in the last run.
e2e_splash() { python3 "$E2E_LIB_DIR/e2e.py" splash "$E2E_RUN/driver.jsonl"; }

# ---- checks: each failure is counted and shown; e2e_end decides ----

e2e_fail() {
  E2E_FAILURES=$((E2E_FAILURES + 1))
  echo "FAIL [$E2E_NAME${E2E_RUN:+ / $(basename "$E2E_RUN")}]: $*"
}

# e2e_same WHAT EXPECTED ACTUAL: equal texts, else a diff.
e2e_same() {
  if [ "$2" != "$3" ]; then
    e2e_fail "$1 differs (- expected, + actual):"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed -n -e 's/^</  -/p' -e 's/^>/  +/p' || true
  fi
  return 0
}

e2e_expect_exit() { e2e_same "exit code" "$1" "$E2E_EXIT"; }
e2e_expect_dialogs() { e2e_same "dialog transcript" "$(cat)" "$(cat "$E2E_RUN/dialogs.txt")"; }
e2e_expect_requests() { e2e_same "request log" "$(cat)" "$(cat "$E2E_RUN/requests.txt")"; }
e2e_expect_no_dialog() { e2e_same "dialog transcript" "" "$(cat "$E2E_RUN/dialogs.txt")"; }

# e2e_expect_bytes FILE PRINTF_FORMAT: the file holds exactly these bytes.
e2e_expect_bytes() {
  if [ ! -f "$1" ]; then
    e2e_fail "missing $1"
  elif ! cmp -s "$1" <(printf "$2"); then
    e2e_fail "$1 holds $(od -An -c "$1" | head -c 200), expected $(printf "$2" | od -An -c)"
  fi
}

# The files (and, ending in "/", the folders) below FOLDER, one a line on
# stdin, relative to it.
e2e_expect_tree() {
  local listing
  listing=$(cd "$1" && find . -mindepth 1 \( -type d -printf '%P/\n' \) -o -printf '%P\n' | LC_ALL=C sort)
  e2e_same "contents of $1" "$(cat)" "$listing"
}

e2e_expect_same_file() {
  cmp -s "$1" "$2" || e2e_fail "$2 is not a copy of $1"
}

e2e_expect_absent() {
  local path
  for path; do [ ! -e "$path" ] || e2e_fail "$path should not exist"; done
}

# e2e_expect_reg KEY VALUE: the key's "Path"; an empty VALUE: no key at all.
e2e_expect_reg() {
  if [ -z "$2" ]; then
    ! e2e_key_exists "$1" || e2e_fail "$1 exists: Path = '$(e2e_reg_path "$1" || true)'"
  else
    e2e_same "$1 Path" "$2" "$(e2e_reg_path "$1" || echo '(none)')"
  fi
}

# Waits (bounded) for the record the stand-in patcher writes in FOLDER (Unix
# path) as it starts; status 1 when none comes.
e2e_wait_record() {
  local record=$1/$E2E_RECORD_NAME deadline=$((SECONDS + E2E_RECORD_SECONDS))
  while [ ! -f "$record" ] && [ $SECONDS -lt $deadline ]; do sleep 0.05; done
  [ -f "$record" ]
}

# The stand-in patcher started by the launcher from the install folder
# FOLDER (Windows path, as the launcher records it): its record says the
# launcher's quoted program path, the argument text ARGS handed on as it
# stands, the folder as the current directory and ARG... as the patcher
# parsed them.
# e2e_expect_patcher FOLDER [ARGS [ARG...]]
e2e_expect_patcher() {
  local folder=$1 args=${2-}
  shift $(($# < 2 ? $# : 2))
  local program=$folder$E2E_PATCHER_SEPARATOR$E2E_PATCHER_NAME directory=${folder%\\}
  local expected index=1 arg
  expected=$(printf 'command line: ["%s" %s]\ndirectory: %s\nargument 0: %s' \
    "$program" "$args" "$directory" "$program")
  for arg; do
    expected+=$(printf '\nargument %d: %s' "$index" "$arg")
    index=$((index + 1))
  done
  local unixFolder
  unixFolder=$(e2e_path "$directory")
  if ! e2e_wait_record "$unixFolder"; then
    e2e_fail "the patcher was not started in $unixFolder"
    return 0
  fi
  e2e_same "patcher record" "$expected" \
    "$(python3 "$E2E_LIB_DIR/e2e.py" record "$unixFolder/$E2E_RECORD_NAME")"
}

# Nothing started the stand-in patcher: the launcher has ended before any
# start (every caller checks after a run that failed before the patcher).
e2e_expect_no_patcher() {
  [ ! -e "$1/$E2E_RECORD_NAME" ] || e2e_fail "the patcher was started in $1"
}

# The two shell links read back through IShellLinkW, lines on stdin.
e2e_expect_links() {
  e2e_driver links >"$E2E_RUN/links.jsonl" || true
  e2e_same "shell links" "$(cat)" "$(python3 "$E2E_LIB_DIR/e2e.py" links "$E2E_RUN/links.jsonl")"
}

# No file below C: written since MARKER outside the folders given (relative
# to C:, Unix separators) and Wine's own (its temporary folder, windows).
e2e_expect_nothing_written_outside() {
  local marker=$1
  shift
  local written
  written=$(python3 "$E2E_LIB_DIR/e2e.py" written-outside "$E2E_C" "$marker" "$@" users/root/Temp windows)
  e2e_same "files written outside the install folder" "" "$written"
}
