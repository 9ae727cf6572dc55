#!/usr/bin/env bash
# Installs every build and test dependency on a Debian bookworm machine (run as root).
# Idempotent: returns in well under a second when everything is already there.
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
# Both flavours: i686 (the updater that ships) and x86-64 (the test flavour).
have i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686)
# The shipped updater links the win32 thread model's runtime (see CMakeLists.txt).
have i686-w64-mingw32-g++-win32 || need+=(g++-mingw-w64-i686-win32)
have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix)
have wine || need+=(wine)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
# Wine's 64-bit loader (/usr/lib/wine/wine64) runs the x64 flavour on every
# machine; wine32 is installed everywhere, even where the kernel cannot run it.
dpkg -s wine64 >/dev/null 2>&1 || need+=(wine64)
have Xvfb || need+=(xvfb)
have xauth || need+=(xauth)
have xwd || need+=(x11-apps)
dpkg -s fonts-ipafont-gothic >/dev/null 2>&1 || need+=(fonts-ipafont-gothic)
dpkg -s fonts-wine >/dev/null 2>&1 || need+=(fonts-wine)
have msexpand || need+=(mscompress)
have cmake || need+=(cmake)
have ninja || need+=(ninja-build)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have python3 || need+=(python3)
# The host checks (tests/static): pefile reads the shipped updater's headers,
# imports and resources; pmccabe measures the functions of the sources.
dpkg -s python3-pefile >/dev/null 2>&1 || need+=(python3-pefile)
have pmccabe || need+=(pmccabe)
# The shipped updater is signed with osslsigncode (cmake/Signing.cmake);
# scripts/test-all.sh makes its throwaway certificate with openssl.
have osslsigncode || need+=(osslsigncode)
have openssl || need+=(openssl)
# ImageMagick for screenshots (a stand-in "convert" may exist that cannot read xwd)
dpkg -s imagemagick >/dev/null 2>&1 || need+=(imagemagick)
have iconv || need+=(libc-bin)
# Wine takes code page 932 from LANG alone, but stores non-ASCII file names
# (a program folder with Japanese names) only with a real UTF-8 locale.
[ -f /usr/share/i18n/locales/ja_JP ] || need+=(locales)
has_ja_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; }
make_ja_locale() {
  has_ja_locale || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null ||
    echo "bootstrap: could not make the ja_JP.UTF-8 locale" >&2
}

if [ ${#need[@]} -eq 0 ]; then
  [ "$(id -u)" -eq 0 ] && make_ja_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: missing packages (${need[*]}); run this script as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A mirror in the middle of a sync can fail one index; the install below
# still works from the others, so retry once and then go on.
apt-get update -qq || { sleep 5; apt-get update -qq || true; }
apt-get install -t bookworm -y -qq --no-install-recommends "${need[@]}" >/dev/null
echo "bootstrap: installed ${need[*]}"
make_ja_locale
