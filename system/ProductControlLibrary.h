// Run-time binding of the product's control library "QfControl.dll", and the
// query of the product's shared folders that it answers.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/UniqueHandle.h"

class ProductControlLibrary {
 public:
  ProductControlLibrary() = default;
  ~ProductControlLibrary();  // unloads
  ProductControlLibrary(const ProductControlLibrary&) = delete;
  ProductControlLibrary& operator=(const ProductControlLibrary&) = delete;

  // Binds all seven exports or nothing; restores the current directory.
  HMODULE Load(const char* libraryPath);
  void Unload();
  // QfCtrl_GetFolder(number), or null when not loaded.
  const char* GetFolder(int32_t number);
  // QfCtrl_GetCommonPath(buffer of 260 bytes), or 0 when not loaded.
  int32_t GetCommonPath(char* buffer260);

  HMODULE module() const { return module_.get(); }

 private:
  win32::Module module_;
  // The library's own exports; no declaration of ours types them, and they
  // are called through win32/ForeignCall.h.
  FARPROC entries_[7] = {};
};

// Fills CommonFolder, EditionCommonFolder and SharedLibraryFolder once per
// process (a later call queries again only while one of them is unknown), and
// deletes "QfControl_res.dll" from the program folder.
void QueryProductFolders(ProductControlLibrary& library);

// Process-wide folder texts, empty until found; each ends in a backslash.
const char* CommonFolder();
const char* EditionCommonFolder();
const char* SharedLibraryFolder();
// Tests only: forget what the query found.
void ResetProductFoldersForTest();
