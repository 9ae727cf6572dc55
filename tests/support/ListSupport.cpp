#include "support/ListSupport.h"

#include <stdlib.h>

#include <new>

#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace vrtest {

bool CopyLibrary(const char* name, const std::string& destination) {
  return CopyFromExeFolder((std::string(name) + ".dll").c_str(), destination);
}

StoreLibrary::StoreLibrary(const char* name) {
  std::string path = ExeFolder() + name + ".dll";
  module_ = LoadLibraryA(path.c_str());
  if (module_) seams::SetStoreModule(module_);
}

namespace {
volatile long g_allocationsLeft = -1;  // -1: no limit
}  // namespace

FailAllocations::FailAllocations(long allowed) { g_allocationsLeft = allowed; }
FailAllocations::~FailAllocations() { g_allocationsLeft = -1; }

StoreLibrary StoreLibrary::WithList(const std::string& ini) {
  // In the prefix's own temporary folder: test programs of several prefixes
  // share the folder they are built in.
  static int serial = 0;
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  const std::string name = std::string(temp) + "liststore_text" + std::to_string(++serial);
  const std::string path = name + ".dll";
  bool written = CopyFileA((ExeFolder() + "liststore_nolist.dll").c_str(), path.c_str(), FALSE);
  HANDLE update = written ? BeginUpdateResourceA(path.c_str(), FALSE) : nullptr;
  written = update && UpdateResourceA(
                          update, "FILES", "UPLIST.INI", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                          const_cast<char*>(ini.data()), static_cast<DWORD>(ini.size()));
  if (update) written = EndUpdateResourceA(update, !written) && written;
  StoreLibrary store;
  store.module_ = written ? LoadLibraryA(path.c_str()) : nullptr;
  if (store.module_) seams::SetStoreModule(store.module_);
  return store;
}

StoreLibrary::~StoreLibrary() {
  seams::SetStoreModule(nullptr);
  if (module_) FreeLibrary(module_);
}

}  // namespace vrtest

// The program's allocator, so that FailAllocations reaches the updater's
// code linked into it. The nothrow forms of the runtime call these.
void* operator new(size_t size) {
  if (vrtest::g_allocationsLeft == 0) throw std::bad_alloc();
  if (vrtest::g_allocationsLeft > 0) --vrtest::g_allocationsLeft;
  void* p = malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
