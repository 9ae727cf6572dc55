// The product's virtual-drive driver installer. Windows runs it once at the
// next logon after the updater replaced it; here it only leaves a mark: a run
// counter in the registry and a line with its command line in DrvInst.log
// beside the program.
#include <windows.h>
#include <strsafe.h>

#include <cstring>

#include "testbed/common/TestbedRegistry.h"
#include "win32/UniqueHandle.h"

int main() {
  testbed::CountRun(testbed::kDrvInstRunsValue);
  char log[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, log, sizeof log);
  if (n == 0 || n >= sizeof log) return 1;
  char* slash = strrchr(log, '\\');
  if (!slash) return 1;
  slash[1] = '\0';
  if (FAILED(StringCchCatA(log, sizeof log, "DrvInst.log"))) return 1;
  win32::FileHandle file(CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  char line[600];
  if (FAILED(StringCchPrintfA(line, sizeof line, "DrvInst [%s]\r\n", GetCommandLineA()))) return 1;
  DWORD written = 0;
  return WriteFile(file.get(), line, static_cast<DWORD>(strlen(line)), &written, nullptr) ? 0 : 1;
}
