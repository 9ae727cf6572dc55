// Run-time binding of LZ32.DLL, which expands SZDD files. All or nothing:
// either the library is loaded and its seven required exports resolved, or
// nothing is loaded and every entry point is null. Unloads on destruction.
#pragma once

#include <windows.h>
#include <lzexpand.h>

#include <stdint.h>

#include "win32/UniqueHandle.h"

class Lz32Library {
 public:
  Lz32Library() = default;
  ~Lz32Library();
  Lz32Library(const Lz32Library&) = delete;
  Lz32Library& operator=(const Lz32Library&) = delete;

  // Binds preferredPath (when given), else the system directory's LZ32.DLL.
  // Never the bare name: that would search the updater's own folder first.
  HMODULE Load(const char* preferredPath);
  // Binds exactly this file and nothing else: true when it carries all seven
  // required exports; otherwise it is unloaded again and every entry point
  // stays null. Load's building block.
  bool BindCandidate(const char* path);
  void Unload();
  // Expands source into a newly created (or replaced) destination; 1 when
  // LZ32 copied it, 0 on any failure. Loads on demand.
  int32_t ExpandFile(const char* destinationPath, const char* sourcePath);

  HMODULE module() const { return module_.get(); }

  // Entry points, typed as declared (optional: LZStart, LZDone, CopyLZFile).
  decltype(&::LZStart) lzStart = nullptr;
  decltype(&::LZDone) lzDone = nullptr;
  decltype(&::CopyLZFile) copyLzFile = nullptr;
  decltype(&::LZCopy) lzCopy = nullptr;
  decltype(&::LZInit) lzInit = nullptr;
  decltype(&::GetExpandedNameA) getExpandedNameA = nullptr;
  decltype(&::LZOpenFileA) lzOpenFileA = nullptr;
  decltype(&::LZSeek) lzSeek = nullptr;
  decltype(&::LZRead) lzRead = nullptr;
  decltype(&::LZClose) lzClose = nullptr;

 private:
  win32::Module module_;
};
