/* A stand-in for the product's control library, in the flavours the binding
   must cope with: C or standard calling convention, an export missing, no
   folders reported, folders too long for any path, and folders taken from
   the environment variables LISTQF_COMMON and LISTQF_SHARED (unset: none
   reported), for tests that try many answers with one library. */
#include <windows.h>
#include <string.h>

#ifdef QF_STDCALL
#define QFAPI __stdcall
#else
#define QFAPI __cdecl
#endif
#define QFEXPORT __declspec(dllexport)

static char g_overlong[400];

#ifdef QF_FROM_ENV
/* The variable's text, or NULL when it is not set at all. */
static const char* FromEnvironment(const char* name, char* buffer, DWORD size) {
  DWORD n = GetEnvironmentVariableA(name, buffer, size);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return NULL;
  if (n >= size) return NULL;
  buffer[n] = '\0';
  return buffer;
}
static char g_fromEnvironment[8192];
#endif

QFEXPORT int QFAPI QfCtrl_Init(int flags) { return flags == 0; }

QFEXPORT const char* QFAPI QfCtrl_GetFolder(int number) {
#if defined(QF_REPORT_NONE)
  (void)number;
  return NULL;
#elif defined(QF_FROM_ENV)
  return number == 17 ? FromEnvironment("LISTQF_SHARED", g_fromEnvironment,
                                        sizeof g_fromEnvironment)
                      : NULL;
#elif defined(QF_OVERLONG)
  memset(g_overlong, 'S', sizeof g_overlong - 1);
  return number == 17 ? g_overlong : NULL;
#else
  return number == 17 ? "C:\\VrTest\\Shared" : NULL;
#endif
}

QFEXPORT int QFAPI QfCtrl_SetMyRootFolder(const char* folder) { return folder != NULL; }
QFEXPORT int QFAPI QfCtrl_GetAppPath(char* buffer) { return buffer != NULL; }
QFEXPORT int QFAPI QfCtrl_GetSharedPath(char* buffer) { return buffer != NULL; }

QFEXPORT int QFAPI QfCtrl_GetCommonPath(char* buffer) {
#if defined(QF_REPORT_NONE)
  (void)buffer;
  return 0;
#elif defined(QF_FROM_ENV)
  {
    /* At most the 260 bytes of the caller's buffer, unterminated when the
       text fills them. */
    char text[8192];
    size_t length;
    if (!FromEnvironment("LISTQF_COMMON", text, sizeof text)) return 0;
    length = strlen(text);
    memcpy(buffer, text, length < 260 ? length + 1 : 260);
    return 1;
  }
#elif defined(QF_OVERLONG)
  memset(buffer, 'C', 260); /* fills the whole buffer, no terminating zero */
  return 1;
#else
  strcpy(buffer, "C:\\VrTest\\Common");
  return 1;
#endif
}

#ifndef QF_NO_APPEND
QFEXPORT int QFAPI QfCtrl_AppendExelink(const char* name) { return name != NULL; }
#endif
