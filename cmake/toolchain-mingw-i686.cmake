# Cross build for 32-bit Windows with mingw-w64: the updater that ships.
set(VR_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
