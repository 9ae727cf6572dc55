# Cross build for 64-bit Windows with mingw-w64: the test flavour. Everything
# the i686 build makes is built again for x86-64, so that the updater's logic
# runs and is tested on machines whose Wine can start 64-bit programs only.
set(VR_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
