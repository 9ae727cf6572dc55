// The product's background service: it does nothing but run until the service
// control manager stops it, which is all the updater's handling of the
// service needs (it is removed before files are replaced and installed again
// afterwards).
#include <windows.h>

#include "testbed/servinst/ServiceName.h"
#include "win32/UniqueHandle.h"

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void ReportState(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    ReportState(SERVICE_STOP_PENDING);
    SetEvent(g_stopEvent);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
  g_statusHandle = RegisterServiceCtrlHandlerExA(testbed::kServiceName, Handler, nullptr);
  if (!g_statusHandle) return;
  win32::KernelHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  g_stopEvent = stop.get();
  ReportState(SERVICE_RUNNING);
  WaitForSingleObject(g_stopEvent, INFINITE);
  ReportState(SERVICE_STOPPED);
}

}  // namespace

int main() {
  char name[sizeof testbed::kServiceName];
  lstrcpyA(name, testbed::kServiceName);
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  // Started by hand rather than by the service control manager: nothing to do.
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
