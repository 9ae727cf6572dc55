/* SCHEDSTOP.DLL: tells whether the Task Scheduler service runs, so the
   product can warn before a scheduled recording. Carried in the updater's
   store. */
#include <windows.h>

/* Returns the service's current state (SERVICE_RUNNING, SERVICE_STOPPED, ...)
   or 0 when it cannot be queried. */
__declspec(dllexport) DWORD SchedStop_QueryState(void) {
  SC_HANDLE manager;
  SC_HANDLE service;
  SERVICE_STATUS status;
  DWORD state = 0;
  manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  if (manager == NULL) return 0;
  service = OpenServiceA(manager, "Schedule", SERVICE_QUERY_STATUS);
  if (service != NULL) {
    if (QueryServiceStatus(service, &status)) state = status.dwCurrentState;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return state;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
