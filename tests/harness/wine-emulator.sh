#!/usr/bin/env bash
# CMAKE_CROSSCOMPILING_EMULATOR: runs a built Windows program in a throwaway
# prefix of its own kind (build-time checks such as the payload round trip):
# a 32-bit program in a 32-bit prefix, a 64-bit one in a 64-bit prefix. Where
# the machine cannot run 32-bit code, a 32-bit program is skipped (exit 77).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
arch=win32
[ "$(vr_pe_bits "$1")" = 64 ] && arch=win64
exec "$here/wine-test.sh" --arch "$arch" -- "$@"
