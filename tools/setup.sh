#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12
# machine (run as root). Idempotent: quick when all is already there.
set -euo pipefail
repo_root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3 curl ca-certificates
  googletest libgtest-dev libgmock-dev libcurl4-openssl-dev libssl-dev openssl
  mingw-w64 gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick
  fonts-noto-cjk fonts-wqy-microhei dpkg-dev nginx-light locales
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # 32-bit Wine needs the i386 architecture.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi

# Wine runs as a Traditional Chinese Windows (code page 950) in the
# zh_TW.UTF-8 locale, and converts names, arguments and variables with it:
# it must exist.
if ! locale -a 2>/dev/null | grep -qix 'zh_TW.utf8'; then
  echo "setup: generating the zh_TW.UTF-8 locale"
  sed -i 's/^# *\(zh_TW.UTF-8 UTF-8\)$/\1/' /etc/locale.gen
  grep -qx 'zh_TW.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_TW.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi

bash "$repo_root/tools/build-curl-mingw.sh"
