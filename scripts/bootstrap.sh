#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing that is already there.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev googletest
  g++ zlib1g-dev llvm-14-dev clang libclang-rt-14-dev lldb
  wine wine32:i386 wine64 fonts-wine
  xvfb x11-apps imagemagick xdotool fonts-wqy-microhei
  ffmpeg locales tzdata python3
  lighttpd
  python3-aiosmtpd dnsmasq-base pngcheck iproute2 openssl
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  # Packages with a service (lighttpd) must not start it: the tests run their own servers on
  # free ports. A policy that forbids every start holds while apt runs, unless one is there.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    own_policy=1
  fi
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  if [ "$own_policy" = 1 ]; then "${sudo_cmd[@]}" rm -f "$policy"; fi
elif [ "${need_update:-0}" = 1 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
fi

# Wine takes the ANSI code page from LANG, but names files on the Linux side in the locale's own
# character set: without a real zh_CN.UTF-8 locale, files with Chinese names cannot be created.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  "${sudo_cmd[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# The web-server package's own service stays stopped and disabled, however apt left it.
if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
  "${sudo_cmd[@]}" systemctl disable --now lighttpd >/dev/null 2>&1 || true
else
  "${sudo_cmd[@]}" service lighttpd stop >/dev/null 2>&1 || true
  "${sudo_cmd[@]}" update-rc.d lighttpd disable >/dev/null 2>&1 || true
fi
