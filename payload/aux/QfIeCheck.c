/* QFIECHECK.DLL: reports the version of the installed Internet Explorer,
   which the product's online help needs. Carried in the updater's store. */
#include <windows.h>

/* Copies the "Version" value of Internet Explorer into buffer (capacity
   bytes, always terminated). Returns 1 on success, 0 when there is none or
   it does not fit. */
__declspec(dllexport) int QfIeCheck_GetVersion(char* buffer, DWORD capacity) {
  HKEY key;
  DWORD type = 0;
  DWORD size = capacity;
  LONG status;
  if (buffer == NULL || capacity == 0) return 0;
  buffer[0] = '\0';
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return 0;
  status = RegQueryValueExA(key, "Version", NULL, &type, (BYTE*)buffer, &size);
  RegCloseKey(key);
  /* The stored text need not be terminated; refuse one that fills the buffer. */
  if (status != ERROR_SUCCESS || type != REG_SZ || size >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[size] = '\0';
  return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
