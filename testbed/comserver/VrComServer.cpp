// One of the product's COM servers. Registration writes the in-process server
// entry of its class (default value: the path of this DLL); unregistration
// removes the class key again. Both raise a counter so a test can tell a
// registration that ran from one that merely left old data behind, and both
// record the current directory Regsvr32.exe was started in.
#include <windows.h>
#include <olectl.h>

#include "testbed/comserver/ComServerMark.h"
#include "testbed/common/TestbedRegistry.h"
#include "win32/UniqueHandle.h"

namespace {
HMODULE g_module = nullptr;

bool SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        lstrlenA(text) + 1) == ERROR_SUCCESS;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" HRESULT WINAPI DllRegisterServer(void) {
  testbed::RecordCurrentDirectory(testbed::kComServerDirectoryValue);
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(g_module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return SELFREG_E_CLASS;
  win32::RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, testbed::kComServerInprocKey, 0, nullptr, 0, KEY_WRITE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  if (!SetText(key.get(), nullptr, path) || !SetText(key.get(), "ThreadingModel", "Apartment"))
    return SELFREG_E_CLASS;
  testbed::CountRun(testbed::kComServerRegisteredValue);
  return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer(void) {
  testbed::RecordCurrentDirectory(testbed::kComServerDirectoryValue);
  LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, testbed::kComServerInprocKey);
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND)
    rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, testbed::kComServerKey);
  testbed::CountRun(testbed::kComServerUnregisteredValue);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** out) {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow(void) { return S_OK; }
