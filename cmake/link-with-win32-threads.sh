#!/bin/sh
# Linker launcher of the shipped programs: CMake calls it with the posix
# thread model's compiler driver and its arguments; the link runs with the
# win32 thread model's driver of the same compiler instead, so the static
# runtime needs no winpthread library.
compiler=$1
shift
case $compiler in
  *-posix) exec "${compiler%-posix}-win32" "$@" ;;
  *) exec "$compiler" "$@" ;;
esac
