// The product's control library: tells its callers where the maker's common
// folder and the product's shared library folder are. The installer records
// both folders in the registry; the library reports them as recorded, with or
// without a trailing backslash, exactly as the installer chose.
//
// Build flavours (compile definitions):
//   QF_STDCALL      exports use __stdcall instead of the C convention
//   QF_REPORT_NONE  the library knows no folders: GetCommonPath fails and
//                   GetFolder returns null
// The export list itself comes from a .def file per flavour, so names stay
// undecorated and a flavour can leave an export out.
#include <windows.h>
#include <strsafe.h>

#include "testbed/common/TestbedRegistry.h"

#ifdef QF_STDCALL
#define QF_API __stdcall
#else
#define QF_API __cdecl
#endif

namespace {

constexpr int kSharedLibraryFolderId = 17;

// GetFolder hands out pointers into this buffer; they stay valid until the
// library is unloaded (or the next GetFolder call).
[[maybe_unused]] char g_folderText[MAX_PATH];
char g_rootFolder[MAX_PATH];

bool ReadFolder(const char* value, char* buf, DWORD capacity) {
#ifdef QF_REPORT_NONE
  (void)value;
  (void)buf;
  (void)capacity;
  return false;
#else
  return testbed::ReadText(testbed::kFoldersKey, value, buf, capacity) && buf[0] != '\0';
#endif
}

HMODULE ThisModule() {
  HMODULE self = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &self);
  return self;
}

}  // namespace

extern "C" {

int QF_API QfCtrl_Init(void) { return 1; }

// Folder 17 is the shared library folder; the library knows no other
// numbers. An unknown folder gives an empty text, no folder at all null.
const char* QF_API QfCtrl_GetFolder(int id) {
#ifdef QF_REPORT_NONE
  (void)id;
  return nullptr;
#else
  g_folderText[0] = '\0';
  if (id == kSharedLibraryFolderId &&
      !ReadFolder(testbed::kSharedValue, g_folderText, sizeof g_folderText))
    g_folderText[0] = '\0';
  return g_folderText;
#endif
}

int QF_API QfCtrl_SetMyRootFolder(const char* folder) {
  if (!folder) return 0;
  return SUCCEEDED(StringCchCopyA(g_rootFolder, sizeof g_rootFolder, folder)) ? 1 : 0;
}

// The folder this library lies in, with a trailing backslash.
int QF_API QfCtrl_GetAppPath(char* buf) {
  if (!buf) return 0;
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(ThisModule(), path, sizeof path);
  if (n == 0 || n >= sizeof path) return 0;
  char* slash = strrchr(path, '\\');
  if (!slash) return 0;
  slash[1] = '\0';
  return SUCCEEDED(StringCchCopyA(buf, MAX_PATH, path)) ? 1 : 0;
}

int QF_API QfCtrl_GetSharedPath(char* buf) {
  return buf && ReadFolder(testbed::kSharedValue, buf, MAX_PATH) ? 1 : 0;
}

// Fills a buffer of MAX_PATH characters with the common folder; non-zero on
// success. On failure the buffer is left empty.
int QF_API QfCtrl_GetCommonPath(char* buf) {
  if (!buf) return 0;
  if (ReadFolder(testbed::kCommonValue, buf, MAX_PATH)) return 1;
  buf[0] = '\0';
  return 0;
}

int QF_API QfCtrl_AppendExelink(const char* exePath) { return exePath ? 1 : 0; }

}  // extern "C"
