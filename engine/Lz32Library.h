// Run-time binding of LZ32.DLL, which expands SZDD files. All or nothing:
// either the library is loaded and its seven required exports resolved, or
// nothing is loaded and every entry point is null. Unloads on destruction.
#pragma once

#include <windows.h>

#include <stdint.h>

class Lz32Library {
 public:
  Lz32Library() = default;
  virtual ~Lz32Library();
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

  HMODULE module() const { return module_; }

  using LZStartFn = INT(WINAPI*)();
  using LZDoneFn = VOID(WINAPI*)();
  using CopyLZFileFn = LONG(WINAPI*)(HFILE, HFILE);
  using LZCopyFn = LONG(WINAPI*)(HFILE, HFILE);
  using LZInitFn = INT(WINAPI*)(HFILE);
  using GetExpandedNameAFn = INT(WINAPI*)(LPSTR, LPSTR);
  using LZOpenFileAFn = INT(WINAPI*)(LPSTR, LPOFSTRUCT, WORD);
  using LZSeekFn = LONG(WINAPI*)(INT, LONG, INT);
  using LZReadFn = INT(WINAPI*)(INT, LPSTR, INT);
  using LZCloseFn = VOID(WINAPI*)(INT);

  // Entry points (optional: LZStart, LZDone, CopyLZFile).
  LZStartFn lzStart = nullptr;
  LZDoneFn lzDone = nullptr;
  CopyLZFileFn copyLzFile = nullptr;
  LZCopyFn lzCopy = nullptr;
  LZInitFn lzInit = nullptr;
  GetExpandedNameAFn getExpandedNameA = nullptr;
  LZOpenFileAFn lzOpenFileA = nullptr;
  LZSeekFn lzSeek = nullptr;
  LZReadFn lzRead = nullptr;
  LZCloseFn lzClose = nullptr;

 private:
  HMODULE module_ = nullptr;
};
