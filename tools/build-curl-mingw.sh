#!/usr/bin/env bash
# Build a static, HTTP-only libcurl for 32-bit Windows (i686-w64-mingw32)
# from Debian's curl source package, and install it into
#   <repo>/build/deps/curl-i686/{include,lib,lib/pkgconfig}
#
# The result imports nothing outside the DLLs Windows always loads from the
# system folder: it is built for _WIN32_WINNT=0x0501 so that curl takes its
# random numbers from advapi32 (CryptGenRandom) instead of bcrypt.dll
# (BCryptGenRandom). Consumers define CURL_STATICLIB and link ws2_32 and
# advapi32 (see cmake/LauncherCurl.cmake).
#
# Usage: tools/build-curl-mingw.sh [--force]
#   --force   rebuild even if the prefix already holds a matching build
#
# Needs root (or sudo) only when no deb-src entry exists yet: it then adds
# /etc/apt/sources.list.d/debian-src.sources (or .list) derived from the
# machine's own Debian entries and runs apt-get update.
set -euo pipefail

# Bump when anything below changes the produced library.
readonly SCRIPT_VERSION=2

readonly HOST=i686-w64-mingw32
# Windows XP as far as the headers are concerned: makes curl's lib/rand.c use
# CryptGenRandom (advapi32) rather than BCryptGenRandom (bcrypt.dll); rand.c
# picks BCrypt when _WIN32_WINNT >= 0x600, and MinGW-w64 defaults to 0xa00.
# Other effects in curl 7.88: a spin lock instead of an SRW lock around global
# init, InitializeCriticalSection instead of ...Ex. The one newer API it wants
# (if_nametoindex) it loads at run time from the system folder (iphlpapi).
readonly CURL_WIN32_WINNT=0x0501

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
deps_dir="$repo_root/build/deps"
prefix="$deps_dir/curl-i686"
work_dir="$deps_dir/work/curl"
stamp="$prefix/.build-curl-mingw.stamp"

force=0
for arg in "$@"; do
  case "$arg" in
    --force) force=1 ;;
    -h|--help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-curl-mingw: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

log() { printf 'build-curl-mingw: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

# ---------------------------------------------------------------- up to date?
up_to_date() {
  [[ $force -eq 0 && -f "$prefix/lib/libcurl.a" && -f "$prefix/include/curl/curl.h" \
     && -f "$stamp" ]] && grep -qx "script-version=$SCRIPT_VERSION" "$stamp"
}
report_up_to_date() {
  log "up to date: $prefix ($(sed -n 's/^curl-version=//p' "$stamp"))"
  exit 0
}
up_to_date && report_up_to_date

# One build at a time (two CMake configures may start this together); the
# second waits and then finds the work done.
mkdir -p "$deps_dir"
exec 9>"$deps_dir/.build-curl-mingw.lock"
flock 9
up_to_date && report_up_to_date

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else die "needs root to run: $*"
  fi
}

for tool in "$HOST-gcc-posix" "$HOST-ar" "$HOST-ranlib" "$HOST-nm" "$HOST-objdump" apt-get apt-cache dpkg-source make awk flock patch; do
  command -v "$tool" >/dev/null || die "missing tool: $tool"
done

# ------------------------------------------------------------- deb-src entry
have_curl_source() {
  local out
  out=$(apt-cache showsrc curl 2>/dev/null) || return 1
  grep -q '^Package: curl$' <<<"$out"
}

# Prints deb822 stanzas of type deb-src mirroring every enabled "deb" stanza
# of FILE whose suites belong to CODENAME (bookworm, bookworm-updates,
# bookworm-security, ...). Other fields (URIs, Components, Signed-By, even a
# multi-line inline key) are copied as they are; Suites keeps only the
# matching suites.
derive_deb822() {
  awk -v codename="$1" '
    function suite_ok(s) { return s == codename || index(s, codename "-") == 1 || index(s, codename "/") == 1 }
    function flush(   i, k, n, w, types, isdeb, suites, out, enabled) {
      if (nkeys == 0) return
      types = tolower(val["types"]); enabled = tolower(val["enabled"])
      gsub(/[ \t\n]+/, " ", enabled); sub(/^ /, "", enabled); sub(/ $/, "", enabled)
      n = split(types, w, /[ \t\n]+/); isdeb = 0
      for (i = 1; i <= n; i++) if (w[i] == "deb") isdeb = 1
      if (isdeb && enabled != "no") {
        n = split(val["suites"], w, /[ \t\n]+/); suites = ""
        for (i = 1; i <= n; i++) if (w[i] != "" && suite_ok(w[i])) suites = suites " " w[i]
        if (suites != "") {
          out = "Types: deb-src\n"
          for (i = 1; i <= nkeys; i++) {
            k = keys[i]
            if (k == "types") continue
            if (k == "suites") out = out "Suites:" suites "\n"
            else out = out raw[k] "\n"
          }
          printf "%s\n", out
        }
      }
      nkeys = 0; delete val; delete raw; delete keys
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); cur = ""; next }
    /^[ \t]/ { if (cur != "") { raw[cur] = raw[cur] "\n" $0; val[cur] = val[cur] "\n" $0 } next }
    {
      p = index($0, ":"); if (p == 0) next
      cur = tolower(substr($0, 1, p - 1)); keys[++nkeys] = cur
      raw[cur] = $0; v = substr($0, p + 1); sub(/^[ \t]+/, "", v); val[cur] = v
    }
    END { flush() }
  ' "$2"
}

# Prints one-line "deb-src" entries mirroring the one-line "deb" entries of
# FILE whose suite belongs to CODENAME.
derive_oneline() {
  awk -v codename="$1" '
    function suite_ok(s) { return s == codename || index(s, codename "-") == 1 || index(s, codename "/") == 1 }
    {
      line = $0; sub(/#.*/, "", line)
      n = split(line, w, /[ \t]+/); i = 1
      while (i <= n && w[i] == "") i++
      if (w[i] != "deb") next
      i++
      if (substr(w[i], 1, 1) == "[") { while (i <= n && w[i] !~ /\]$/) i++; i++ }
      if (i + 1 > n || !suite_ok(w[i + 1])) next
      sub(/^[ \t]*deb/, "deb-src", line); print line
    }
  ' "$2"
}

ensure_deb_src() {
  have_curl_source && return 0
  local codename src822=/etc/apt/sources.list.d/debian-src.sources
  local srclist=/etc/apt/sources.list.d/debian-src.list
  if [[ ! -e $src822 && ! -e $srclist ]]; then
    # shellcheck disable=SC1091
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [[ -n $codename ]] || die "cannot tell the Debian codename from /etc/os-release"
    local tmp822 tmplist f
    tmp822=$(mktemp); tmplist=$(mktemp)
    for f in /etc/apt/sources.list.d/*.sources; do
      if [[ -f $f ]]; then derive_deb822 "$codename" "$f" >>"$tmp822"; fi
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      if [[ -f $f ]]; then derive_oneline "$codename" "$f" >>"$tmplist"; fi
    done
    [[ -s $tmp822 || -s $tmplist ]] \
      || die "no enabled 'deb' entry for $codename found in /etc/apt to derive a deb-src entry from"
    if [[ -s $tmp822 ]]; then
      log "adding $src822:"; sed 's/^/    /' "$tmp822" >&2
      as_root install -m 644 "$tmp822" "$src822"
    fi
    if [[ -s $tmplist ]]; then
      log "adding $srclist:"; sed 's/^/    /' "$tmplist" >&2
      as_root install -m 644 "$tmplist" "$srclist"
    fi
    rm -f "$tmp822" "$tmplist"
  fi
  log "apt-get update (to fetch the source indexes)"
  local try
  for try in 1 2 3; do
    as_root apt-get -q update >&2 && break
    [[ $try -eq 3 ]] && die "apt-get update failed"
    sleep 10
  done
  have_curl_source || die "apt still knows no source package 'curl' after adding deb-src entries"
}

# ------------------------------------------------------------ fetch + unpack
ensure_deb_src

mkdir -p "$work_dir/download"
cd "$work_dir/download"
# The .dsc apt-get picks (candidate version) decides what we build. Ask from
# an empty folder: apt-get lists no URI for files it finds already there.
rm -rf "$work_dir/empty" && mkdir -p "$work_dir/empty"
dsc_name=$(cd "$work_dir/empty" \
           && apt-get source --download-only --print-uris curl 2>/dev/null \
             | awk '/^'"'"'/ && $2 ~ /\.dsc$/ && !done { print $2; done = 1 }')
rmdir "$work_dir/empty"
[[ -n $dsc_name ]] || die "apt-get source --print-uris curl named no .dsc"
log "downloading Debian source: $dsc_name"
apt-get -q -o APT::Sandbox::User=root source --download-only curl >&2
[[ -f $dsc_name ]] || die "download did not produce $dsc_name"
curl_version=$(awk '/^Version:/ { print $2; exit }' "$dsc_name")

src_dir="$work_dir/src"
rm -rf "$src_dir"
log "unpacking and applying Debian patches (dpkg-source -x)"
# dpkg-source -x unpacks the upstream tarball and applies debian/patches in
# series order.
dpkg-source -q -x --no-copy "$dsc_name" "$src_dir" >&2
# The last two patches in the series only rename the library for Debian's
# GnuTLS and NSS flavours; debian/rules pops them ("quilt pop" twice) for the
# main (OpenSSL) flavour. Do the same, so the tree is that of libcurl4.
mapfile -t series < <(grep -v '^[[:space:]]*\(#\|$\)' "$src_dir/debian/patches/series" | awk '{ print $1 }')
for ((i = ${#series[@]} - 1; i >= ${#series[@]} - 2 && i >= 0; i--)); do
  case "${series[i]}" in
    *gnutls*|*nss*)
      patch -s -R -p1 -d "$src_dir" <"$src_dir/debian/patches/${series[i]}" \
        || die "could not revert ${series[i]}" ;;
    *) log "warning: expected a GnuTLS/NSS flavour patch at the end of the series, found ${series[i]}" ;;
  esac
done
# configure and the Makefile.in files are used as shipped in the upstream
# tarball (no autoreconf). The Debian patches that touch configure.ac or
# Makefile.am concern GSSAPI, LDAP, zsh completion and the test suite, none
# of which this build uses; the security fixes are all in C sources.

# --------------------------------------------------------------- configure
build_dir="$work_dir/build-i686"
rm -rf "$build_dir"
mkdir -p "$build_dir"
cd "$build_dir"

# Pin the environment so a caller's settings do not leak into the build.
unset CFLAGS CPPFLAGS LDFLAGS LIBS PKG_CONFIG_PATH PKG_CONFIG_LIBDIR
export PKG_CONFIG_LIBDIR=/nonexistent   # no host .pc files
export CC="$HOST-gcc-posix" AR="$HOST-ar" RANLIB="$HOST-ranlib"

configure_args=(
  --host="$HOST"
  --prefix="$prefix"
  --disable-shared --enable-static
  --disable-dependency-tracking
  --without-ssl
  # HTTP only
  --enable-http
  --disable-ftp --disable-file --disable-ldap --disable-ldaps --disable-rtsp
  --disable-dict --disable-telnet --disable-tftp --disable-pop3 --disable-imap
  --disable-smtp --disable-gopher --disable-mqtt --disable-smb
  # no optional libraries
  --without-zlib --without-brotli --without-zstd --without-libpsl
  --without-libidn2 --without-winidn --without-nghttp2 --without-nghttp3
  --without-ngtcp2 --without-quiche --without-msh3 --without-librtmp
  --without-libssh2 --without-libssh --without-wolfssh --without-libgsasl
  --without-hyper --without-ca-bundle --without-ca-path
  # Win32 threads for the threaded resolver, not winpthreads
  --disable-pthreads
  --disable-manual
)

log "configure (curl $curl_version, _WIN32_WINNT=$CURL_WIN32_WINNT)"
t0=$SECONDS
# Build paths mapped away: the launcher built on it is the same from any folder.
CPPFLAGS="-D_WIN32_WINNT=$CURL_WIN32_WINNT" \
  CFLAGS="-O2 -ffile-prefix-map=$src_dir=/curl-src -ffile-prefix-map=$build_dir=/curl-build" \
  "$src_dir/configure" "${configure_args[@]}" >configure.out 2>&1 \
  || { tail -n 40 configure.out >&2; die "configure failed (see $build_dir/configure.out)"; }
t_configure=$((SECONDS - t0))

# What the _WIN32_WINNT value above relies on; the checks after the build are
# what actually guard against bcrypt.dll.
grep -q 'HAVE_WIN_BCRYPTGENRANDOM' "$src_dir/lib/rand.c" \
  || log "warning: lib/rand.c no longer mentions HAVE_WIN_BCRYPTGENRANDOM; re-check the bcrypt avoidance"

# ------------------------------------------------------------------- build
log "make -C lib"
t0=$SECONDS
make -C lib -j2 >make.out 2>&1 || { tail -n 40 make.out >&2; die "make failed (see $build_dir/make.out)"; }
t_build=$((SECONDS - t0))

# No object may reference bcrypt: the static library would drag in bcrypt.dll.
if "$HOST-nm" -u lib/.libs/libcurl.a 2>/dev/null | grep -i 'BCrypt'; then
  die "libcurl.a references BCrypt* functions (would import bcrypt.dll)"
fi

# Link a small program the way consumers do and check its import table: only
# DLLs Windows always loads from the system folder may appear.
readonly SYSTEM_LIBS=(ws2_32 advapi32)
readonly ALLOWED_DLLS="kernel32.dll msvcrt.dll ws2_32.dll advapi32.dll"
cat >check.c <<'EOF'
#include <curl/curl.h>
int main(void)
{
  CURL *h = curl_easy_init();
  curl_easy_setopt(h, CURLOPT_URL, "http://127.0.0.1:9/");
  curl_easy_perform(h);
  curl_easy_cleanup(h);
  return curl_mime_init(NULL) != NULL;
}
EOF
"$CC" -DCURL_STATICLIB -I"$src_dir/include" -Iinclude check.c -o check.exe \
  -static lib/.libs/libcurl.a "${SYSTEM_LIBS[@]/#/-l}" >check.out 2>&1 \
  || { cat check.out >&2; die "a test program does not link against libcurl.a with: ${SYSTEM_LIBS[*]}"; }
imports=$("$HOST-objdump" -p check.exe | awk '/DLL Name:/ { print tolower($3) }' | sort -u | xargs)
for dll in $imports; do
  [[ " $ALLOWED_DLLS " == *" $dll "* ]] || die "a libcurl program imports $dll (imports: $imports)"
done
log "test program imports: $imports"

# ----------------------------------------------------------------- install
rm -rf "$prefix"
make -C lib install >install.out 2>&1 || { tail -n 20 install.out >&2; die "make -C lib install failed"; }
make -C include install >>install.out 2>&1 || { tail -n 20 install.out >&2; die "make -C include install failed"; }
install -D -m 644 libcurl.pc "$prefix/lib/pkgconfig/libcurl.pc"
rm -f "$prefix"/lib/*.la

libs_private=$(awk -F': *' '/^Libs.private:/ { print $2 }' libcurl.pc)
{
  echo "script-version=$SCRIPT_VERSION"
  echo "curl-version=$curl_version"
  echo "win32-winnt=$CURL_WIN32_WINNT"
  echo "system-libs=${SYSTEM_LIBS[*]}"
  echo "imports=$imports"
  echo "pc-libs-private=$libs_private"
  echo "configure-seconds=$t_configure"
  echo "build-seconds=$t_build"
} >"$stamp"

log "installed curl $curl_version into $prefix"
log "configure ${t_configure}s, make -C lib ${t_build}s; link with: ${SYSTEM_LIBS[*]}"
