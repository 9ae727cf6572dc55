/* A sound-effect filter library for the probe tests. It leaves a trace of
 * every call in the process environment so a test can see what was called
 * with which arguments after the library is gone again.
 *   SFX_COUNT=n      number of filters after a successful load
 *   SFX_LOAD_FAILS   FilterLoad answers 0
 *   SFX_NO_FREE      no FilterFree export
 *   SFX_STDCALL      entry points that pop their own arguments */
#include <windows.h>

#ifdef SFX_STDCALL
#define SFX_API __declspec(dllexport) __stdcall
#else
#define SFX_API __declspec(dllexport) __cdecl
#endif

static unsigned g_count;

int SFX_API FilterLoad(const char* key, const char* tempFolder) {
  SetEnvironmentVariableA("GROUPS_SFX_KEY", key);
  SetEnvironmentVariableA("GROUPS_SFX_TEMP", tempFolder);
#ifdef SFX_LOAD_FAILS
  return 0;
#else
  g_count = SFX_COUNT;
  return 1;
#endif
}

#ifndef SFX_NO_FREE
void SFX_API FilterFree(void) {
  SetEnvironmentVariableA("GROUPS_SFX_FREED", "1");
  g_count = 0;
}
#endif

unsigned SFX_API FiltersGetNum(void) { return g_count; }
