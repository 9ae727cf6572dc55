#!/usr/bin/env bash
# CMAKE_CROSSCOMPILING_EMULATOR: runs a built Windows program in a throwaway
# 32-bit prefix (build-time checks such as the payload round trip).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec "$here/wine-test.sh" --arch win32 -- "$@"
