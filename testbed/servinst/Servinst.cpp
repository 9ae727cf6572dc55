// The product's service installer. "-D" removes the service "qfsvcg" (stopping
// it first when it runs); no argument installs it with the service program
// that lies beside this installer. The updater starts it with exactly these
// command lines, so test options come from the registry instead: a delay
// before the removal and a refusal to remove. Every run is logged (a line in
// Servinst.log beside the program, a run counter and the current directory it
// was started in) so tests can see it ran, and where.
#include <windows.h>
#include <strsafe.h>

#include <cstring>

#include "testbed/common/TestbedRegistry.h"
#include "testbed/servinst/ServiceName.h"
#include "win32/UniqueHandle.h"

namespace {

// Folder of this program with a trailing backslash.
bool OwnFolder(char* buf, size_t capacity) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return false;
  char* slash = strrchr(path, '\\');
  if (!slash) return false;
  slash[1] = '\0';
  return SUCCEEDED(StringCchCopyA(buf, capacity, path));
}

// Holds a named mutex for its lifetime (or gives up waiting after 10 s).
class Turn {
 public:
  explicit Turn(const char* name) : mutex_(CreateMutexA(nullptr, FALSE, name)) {
    if (mutex_) owned_ = WaitForSingleObject(mutex_.get(), 10000) != WAIT_TIMEOUT;
  }
  ~Turn() {
    if (owned_) ReleaseMutex(mutex_.get());
  }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

 private:
  win32::KernelHandle mutex_;
  bool owned_ = false;
};

void LogRun(const char* args) {
  // Two runs may start at once (a test that answers Retry twice without
  // waiting): the counter's read-and-raise and Wine's emulated append are no
  // atomic steps, so the runs take turns.
  Turn turn("VrTestbedServinstLog");
  testbed::CountRun(testbed::kServinstRunsValue);
  testbed::RecordCurrentDirectory(testbed::kServinstDirectoryValue);
  char log[MAX_PATH];
  if (!OwnFolder(log, sizeof log) || FAILED(StringCchCatA(log, sizeof log, "Servinst.log"))) return;
  win32::FileHandle file(CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  char line[512];
  if (FAILED(StringCchPrintfA(line, sizeof line, "Servinst [%s]\r\n", args))) return;
  DWORD written = 0;
  WriteFile(file.get(), line, static_cast<DWORD>(strlen(line)), &written, nullptr);
}

// A slow installer (an option of the tests): it waits before it acts.
void DelayAsTold() {
  const DWORD delay = testbed::ReadDword(testbed::kOptionsKey, testbed::kServinstDelayValue, 0);
  if (delay) Sleep(delay);
}

int Remove() {
  if (testbed::ReadDword(testbed::kOptionsKey, testbed::kServinstRefuseValue, 0) != 0) return 3;
  DelayAsTold();

  win32::ServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return 2;
  win32::ServiceHandle service(
      OpenServiceA(scm.get(), testbed::kServiceName, SERVICE_QUERY_STATUS | SERVICE_STOP | DELETE));
  if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : 2;
  SERVICE_STATUS status = {};
  if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 50 && QueryServiceStatus(service.get(), &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      Sleep(100);
  }
  return DeleteService(service.get()) ? 0 : 2;
}

int Install() {
  DelayAsTold();
  char binary[MAX_PATH + 2];
  char folder[MAX_PATH];
  if (!OwnFolder(folder, sizeof folder) ||
      FAILED(StringCchPrintfA(binary, sizeof binary, "\"%s%s\"", folder, testbed::kServiceProgram)))
    return 2;
  win32::ServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return 2;
  win32::ServiceHandle service(
      CreateServiceA(scm.get(), testbed::kServiceName, testbed::kServiceDisplayName,
                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                     SERVICE_ERROR_IGNORE, binary, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (service) return 0;
  return GetLastError() == ERROR_SERVICE_EXISTS ? 0 : 2;
}

}  // namespace

// Exit codes: 0 done (or nothing to do), 2 the service control manager
// refused, 3 removal refused by option, 4 unknown argument.
int main(int argc, char** argv) {
  char args[400] = "";
  for (int i = 1; i < argc; ++i) {
    if (i > 1) StringCchCatA(args, sizeof args, " ");
    StringCchCatA(args, sizeof args, argv[i]);
  }
  LogRun(args);
  if (argc == 1) return Install();
  if (argc == 2 && (strcmp(argv[1], "-D") == 0 || strcmp(argv[1], "-d") == 0)) return Remove();
  return 4;
}
