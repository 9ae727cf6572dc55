/* A library planted under the name of one the updater might look up by bare
   name (copied as LZ32.DLL, version.dll, ...). Loaded, it leaves
   "<its own path>.loaded" beside itself; the planting journey fails on any
   such mark. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH + 8];
  DWORD n;
  HANDLE mark;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatA(path, ".loaded");
  mark = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}
