/* Body of the programs and libraries that the update carries as data: each
   is this stub plus a version resource of its own. They are installed and
   their versions read, never run. The store library is this stub plus the
   store. */
#include <windows.h>

#ifdef PAYLOAD_MODULE_DLL
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
#else
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  return 0;
}
#endif
