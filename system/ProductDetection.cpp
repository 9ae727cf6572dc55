// The installed product's program folder from the registry, and the version
// texts by which its files are judged.
#include "system/ProductDetection.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "res/resource.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/DynamicCalls.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/UniqueHandle.h"

namespace {

// A folder value holds at most 259 characters plus its zero; the one byte
// beyond what RegQueryValueExA is offered keeps even an unterminated value
// terminated.
constexpr DWORD kFolderValueBytes = win32::kPathSize;

// version.dll is no Known DLL: bind it from the system directory, never
// from wherever the updater happens to run. Bound once per process, before
// any group switches WOW64 redirection off: loaded inside such a span, it
// would come from the 64-bit system folder and fail in a 32-bit process.
struct VersionLibrary {
  win32::Module module;
  decltype(&::GetFileVersionInfoSizeA) size = nullptr;
  decltype(&::GetFileVersionInfoA) info = nullptr;
  decltype(&::VerQueryValueA) query = nullptr;

  VersionLibrary() {
    char path[MAX_PATH] = {};
    if (!win32::SystemFilePath(path, sizeof path, "version.dll")) return;
    win32::Module library = win32::LoadLibraryFile(path, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (win32::BindExport(library, "GetFileVersionInfoSizeA", &size) &&
        win32::BindExport(library, "GetFileVersionInfoA", &info) &&
        win32::BindExport(library, "VerQueryValueA", &query)) {
      module = std::move(library);
    } else {
      size = nullptr;
      info = nullptr;
      query = nullptr;
    }
  }
  bool bound() const { return static_cast<bool>(module); }
};

const VersionLibrary& BoundVersionLibrary() {
  static const VersionLibrary library;
  return library;
}

}  // namespace

int32_t ReadFolderValue(char* buffer, size_t capacity, const char* keyText, const char* valueName) {
  if (!buffer || !keyText || !valueName || capacity == 0) return 0;
  buffer[0] = '\0';
  win32::RegKey key;
  // No view flag: a 32-bit program reads the 32-bit view on 64-bit Windows.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyText, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return 0;
  }
  char value[kFolderValueBytes + 1] = {};
  DWORD bytes = kFolderValueBytes;
  DWORD type = REG_NONE;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &bytes) != ERROR_SUCCESS) {
    return 0;  // missing, or more than 260 bytes
  }
  if (bytes > kFolderValueBytes) return 0;
  // Only a text is a folder: a number or binary data that happens to read
  // as "C:\" would send every target to the drive root. An expandable text
  // stays unexpanded and then fails the absolute-folder test below.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 0;
  value[bytes] = '\0';
  const size_t length = strnlen(value, sizeof value);
  // 260 characters without a zero do not fit the folder's 259.
  if (length >= kFolderValueBytes) return 0;
  // An empty folder is no folder: it would make every target the drive root.
  if (length == 0) return 0;
  // A relative folder would be resolved against the updater's current
  // directory, usually its download folder.
  if (!win32::IsAbsoluteFolder(value)) return 0;
  if (!win32::AppendBackslashIfMissing(value, sizeof value)) return 0;
  return win32::CopyText(buffer, capacity, value) ? 1 : 0;
}

int32_t GetProgramFolder(char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return 0;
  buffer[0] = '\0';
  char keyText[512] = {};
  if (win32::LoadResString(IDS_APP_PATHS_KEY, keyText, sizeof keyText) &&
      ReadFolderValue(buffer, capacity, keyText, "Path")) {
    return 1;
  }
  if (!win32::LoadResString(IDS_UNINSTALL_KEY, keyText, sizeof keyText)) return 0;
  return ReadFolderValue(buffer, capacity, keyText, "InstallLocation");
}

int32_t GetFileProductVersion(const char* path, char* out, size_t capacity) {
  if (!path || !out || capacity == 0) return 0;
  if (strnlen(path, MAX_PATH) >= MAX_PATH) return 0;
  if (!FileExists(path)) return 0;

  const VersionLibrary& version = BoundVersionLibrary();
  if (!version.bound()) return 0;
  DWORD handle = 0;
  DWORD size = version.size(path, &handle);
  if (size == 0) return 0;
  std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[static_cast<size_t>(size) + 1]());
  if (!block) return 0;
  if (!version.info(path, 0, size, block.get())) return 0;

  void* translation = nullptr;
  UINT translationBytes = 0;
  if (!version.query(block.get(), "\\VarFileInfo\\Translation", &translation, &translationBytes) ||
      !translation || translationBytes < 4) {
    return 0;
  }
  // Only the first entry: language in the low word, code page in the high.
  DWORD entry = 0;
  memcpy(&entry, translation, sizeof entry);
  char subBlock[64] = {};
  if (!win32::FormatText(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\ProductVersion",
                         static_cast<unsigned>(LOWORD(entry)),
                         static_cast<unsigned>(HIWORD(entry)))) {
    return 0;
  }
  void* text = nullptr;
  UINT textLength = 0;
  if (!version.query(block.get(), subBlock, &text, &textLength) || !text) return 0;
  // The length counts characters, the zero included when there is one;
  // never read beyond it.
  size_t length = strnlen(static_cast<const char*>(text), textLength);
  size_t keep = capacity - 1 < kVersionTextCapacity - 1 ? capacity - 1 : kVersionTextCapacity - 1;
  if (length > keep) length = keep;
  memcpy(out, text, length);
  out[length] = '\0';
  return 1;
}

void BindVersionLibrary() { BoundVersionLibrary(); }

double VersionTextToNumber(const char* text) {
  if (!text || text[0] == '\0') return 0;
  // Everything after the first separator is one run of fraction digits.
  // Without memory for the digits the text counts as no version.
  try {
    std::string number = "0";
    bool separatorSeen = false;
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p >= '0' && *p <= '9') {
        number += *p;
      } else if (!separatorSeen && (*p == ',' || *p == '.')) {
        number += '.';
        separatorSeen = true;
      }
    }
    return strtod(number.c_str(), nullptr);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
