// The product's sound-effect filter library. Callers load the filter set
// (FilterLoad), ask how many filters it holds (FiltersGetNum) and release it
// (FilterFree). The entry edition ships a set of three filters, the full
// edition more.
//
// Build flavours: SOUNDFX_COUNT=n fixes the count; without it the count comes
// from the registry option (default 5). SOUNDFX_NO_GETNUM leaves
// FiltersGetNum out.
#include <windows.h>

#include "testbed/common/TestbedRegistry.h"

namespace {
int g_loaded = 0;

int FilterCount() {
#ifdef SOUNDFX_COUNT
  return SOUNDFX_COUNT;
#else
  return static_cast<int>(testbed::ReadDword(testbed::kOptionsKey, testbed::kSoundFxCountValue, 5));
#endif
}
}  // namespace

extern "C" {

// key: the product's registry key; tempFolder: where filters may unpack.
// Non-zero when the set was loaded.
__declspec(dllexport) int FilterLoad(const char* key, const char* tempFolder) {
  if (!key || !key[0] || !tempFolder || !tempFolder[0]) return 0;
  g_loaded = FilterCount();
  return 1;
}

__declspec(dllexport) void FilterFree(void) { g_loaded = 0; }

#ifndef SOUNDFX_NO_GETNUM
// Number of filters of the loaded set; 0 before FilterLoad.
__declspec(dllexport) int FiltersGetNum(void) { return g_loaded; }
#endif

}  // extern "C"
