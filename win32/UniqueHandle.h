// Move-only owners for Win32 handles: one small type per kind of handle, each
// releasing its handle on every path. Modelled on the unique_any idea:
//   RegKey key;  RegOpenKeyExA(root, sub, 0, KEY_READ, key.put());
#pragma once

#include <windows.h>

namespace win32 {

template <typename Traits>
class UniqueHandle {
 public:
  using value_type = typename Traits::type;

  UniqueHandle() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueHandle(value_type value) noexcept : value_(value) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  value_type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // Releases the owned handle (if any) and takes the new one.
  void reset(value_type value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) Traits::Close(value_);
    value_ = value;
  }
  // Gives up ownership without closing.
  value_type release() noexcept {
    value_type v = value_;
    value_ = Traits::Invalid();
    return v;
  }
  // For out-parameters: closes what is owned and hands out the slot.
  value_type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  value_type value_;
};

struct FileHandleTraits {  // CreateFileA: INVALID_HANDLE_VALUE on failure
  using type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct KernelHandleTraits {  // processes, tokens, events: null on failure
  using type = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct RegKeyTraits {
  using type = HKEY;
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct ModuleTraits {
  using type = HMODULE;
  static HMODULE Invalid() { return nullptr; }
  static void Close(HMODULE h) { FreeLibrary(h); }
};
struct ServiceHandleTraits {
  using type = SC_HANDLE;
  static SC_HANDLE Invalid() { return nullptr; }
  static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
struct FindHandleTraits {
  using type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct WindowTraits {
  using type = HWND;
  static HWND Invalid() { return nullptr; }
  static void Close(HWND h) { DestroyWindow(h); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using Module = UniqueHandle<ModuleTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using Window = UniqueHandle<WindowTraits>;

// Deletes a file when it goes out of scope (temporary files on every path).
class ScopedDeleteFile {
 public:
  ScopedDeleteFile() = default;
  explicit ScopedDeleteFile(const char* path);
  ~ScopedDeleteFile();
  ScopedDeleteFile(const ScopedDeleteFile&) = delete;
  ScopedDeleteFile& operator=(const ScopedDeleteFile&) = delete;
  // Starts guarding path (a copy is kept; an overlong path is not guarded).
  void Reset(const char* path);
  // Stops guarding without deleting.
  void Dismiss() { path_[0] = '\0'; }
  const char* path() const { return path_; }

 private:
  char path_[MAX_PATH + 1] = {};
};

// Makes a folder the current directory and restores the previous one on
// destruction, on every path.
class ScopedCurrentDirectory {
 public:
  ScopedCurrentDirectory();  // remembers the current directory only
  ~ScopedCurrentDirectory();
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
  // Changes to folder (ignored when empty); false when the change failed.
  bool ChangeTo(const char* folder);

 private:
  char saved_[MAX_PATH + 1] = {};
  bool haveSaved_ = false;
};

}  // namespace win32
