/* A stand-in for the product's control library, in the flavours the binding
   must cope with: C or standard calling convention, an export missing, no
   folders reported, folders too long for any path. */
#include <windows.h>
#include <string.h>

#ifdef QF_STDCALL
#define QFAPI __stdcall
#else
#define QFAPI __cdecl
#endif
#define QFEXPORT __declspec(dllexport)

static char g_overlong[400];

QFEXPORT int QFAPI QfCtrl_Init(int flags) { return flags == 0; }

QFEXPORT const char* QFAPI QfCtrl_GetFolder(int number) {
#if defined(QF_REPORT_NONE)
  (void)number;
  return NULL;
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
