#include "engine/Lz32Library.h"

#include <utility>

#include "win32/DynamicCalls.h"
#include "win32/Paths.h"
#include "win32/UniqueHandle.h"

namespace {

// LZ32 takes the old 16-bit-style file numbers; a Win32 file handle is one.
HFILE ToHfile(HANDLE handle) { return static_cast<HFILE>(reinterpret_cast<INT_PTR>(handle)); }

}  // namespace

Lz32Library::~Lz32Library() { Unload(); }

void Lz32Library::Unload() {
  lzStart = nullptr;
  lzDone = nullptr;
  copyLzFile = nullptr;
  lzCopy = nullptr;
  lzInit = nullptr;
  getExpandedNameA = nullptr;
  lzOpenFileA = nullptr;
  lzSeek = nullptr;
  lzRead = nullptr;
  lzClose = nullptr;
  module_.reset();
}

HMODULE Lz32Library::Load(const char* preferredPath) {
  if (module_) return module_.get();
  if (preferredPath && *preferredPath) BindCandidate(preferredPath);
  if (!module_) {
    // Only ever the system directory's copy, by its full path. The loader's
    // search by bare name starts in the updater's own folder, which is
    // usually a download folder: a DLL planted there would run with the
    // administrator rights the updater holds.
    char path[MAX_PATH + 1];
    if (win32::SystemFilePath(path, sizeof path, "LZ32.DLL")) BindCandidate(path);
  }
  return module_.get();
}

bool Lz32Library::BindCandidate(const char* path) {
  Unload();
  if (!path || !*path) return false;
  win32::Module library = win32::LoadLibraryFile(path, 0);
  if (!library) return false;
  win32::BindExport(library, "LZStart", &lzStart);
  win32::BindExport(library, "LZDone", &lzDone);
  win32::BindExport(library, "CopyLZFile", &copyLzFile);
  // The seven this updater needs: all or nothing.
  if (!win32::BindExport(library, "LZCopy", &lzCopy) ||
      !win32::BindExport(library, "LZInit", &lzInit) ||
      !win32::BindExport(library, "GetExpandedNameA", &getExpandedNameA) ||
      !win32::BindExport(library, "LZOpenFileA", &lzOpenFileA) ||
      !win32::BindExport(library, "LZSeek", &lzSeek) ||
      !win32::BindExport(library, "LZRead", &lzRead) ||
      !win32::BindExport(library, "LZClose", &lzClose)) {
    Unload();  // clears every pointer; `library` unloads the candidate
    return false;
  }
  module_ = std::move(library);
  return true;
}

int32_t Lz32Library::ExpandFile(const char* destinationPath, const char* sourcePath) {
  if (!destinationPath || !sourcePath) return 0;
  if (!module_ && !Load(nullptr)) return 0;

  // LZOpenFileA goes through OpenFile, which refuses paths of 128 characters
  // or more; the updater's paths may be longer. So both files are opened here
  // and the source is handed to LZInit, which works for any path.
  win32::FileHandle source(CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source) return 0;
  // Create always: an existing destination is replaced.
  win32::FileHandle destination(CreateFileA(destinationPath, GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!destination) return 0;

  // Both opens are checked before LZCopy: some LZ32 implementations report 0
  // (success) when handed a failed handle.
  INT lzSource = lzInit(ToHfile(source.get()));
  if (lzSource < 0) return 0;  // the file handle is still ours and closes
  // From here the LZ handle owns the file handle: LZClose closes both (an
  // uncompressed source is passed through as the file handle itself).
  source.release();
  LONG copied = lzCopy(lzSource, ToHfile(destination.get()));
  lzClose(lzSource);
  return copied >= 0 ? 1 : 0;
}
