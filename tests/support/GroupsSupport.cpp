#include "support/GroupsSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "res/resource.h"

namespace vrtest {

int ExpectedOsClass() {
  const std::string option = CommandLineOption("expect-os-class");
  return option.empty() ? -1 : atoi(option.c_str());
}

bool InstallProductAt(const std::string& folder) {
  return !MakeFolder(folder).empty() && SetText(kAppPathsKey, "Path", folder);
}

bool PlaceKeyFile(const std::string& id, const std::string& path, DWORD length) {
  const std::string source = ExeFolder() + "groups_key_" + id + ".dll";
  if (!CopyFileA(source.c_str(), path.c_str(), FALSE)) return false;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (length == 0) return true;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  bool ok = size <= length;
  if (ok) {
    // Trailing bytes beyond the image do not disturb the version resource.
    std::vector<char> zeros(length - size, '\0');
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_END);
    ok = zeros.empty() ||
         (WriteFile(file, zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr) &&
          written == zeros.size());
  }
  CloseHandle(file);
  return ok;
}

}  // namespace vrtest
