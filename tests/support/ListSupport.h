// Shared pieces of the update-list tests: test libraries beside the test
// program, folders, allocations that fail, a store of the test's own.
#pragma once

#include <windows.h>

#include <string>

#include "support/Files.h"
#include "support/Registry.h"
#include "testbed/common/ProductKeys.h"

namespace vrtest {

using testbed::kAppPathsKey;
using testbed::kUninstallKey;

// Copies a test library built beside the test program ("listqf_cdecl").
bool CopyLibrary(const char* name, const std::string& destination);

// While one lives, every allocation after the first `allowed` ones fails
// (operator new throws, its nothrow form gives null), as when the address
// space is exhausted.
class FailAllocations {
 public:
  explicit FailAllocations(long allowed);
  ~FailAllocations();
};

// Points the store at a resource-only test library while it lives.
class StoreLibrary {
 public:
  explicit StoreLibrary(const char* name);
  // A store whose only entry is this update list: a copy of the empty test
  // library with the list added as its "UPLIST.INI" entry.
  static StoreLibrary WithList(const std::string& ini);
  StoreLibrary() = default;
  StoreLibrary(StoreLibrary&& other) noexcept : module_(other.module_) { other.module_ = nullptr; }
  ~StoreLibrary();
  bool loaded() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace vrtest
