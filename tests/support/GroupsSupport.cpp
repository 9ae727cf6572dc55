#include "support/GroupsSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "res/resource.h"
#include "testbed/common/ProductKeys.h"

namespace vrtest {

int ExpectedOsClass() {
  const std::string option = CommandLineOption("expect-os-class");
  return option.empty() ? -1 : atoi(option.c_str());
}

const char* AppPathsKey() { return testbed::kAppPathsKey; }
const char* UninstallKey() { return testbed::kUninstallKey; }

bool InstallProductAt(const std::string& folder) {
  return !MakeFolder(folder).empty() && SetText(AppPathsKey(), "Path", folder);
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

void FillList(UpdateList& list, const std::vector<VersionRow>& versions,
              const std::vector<GroupSpec>& groups) {
  list.ClearList();
  strcpy(list.keyFile, "VRSAFFRA9.exe");
  if (!versions.empty()) {
    list.versionCount = static_cast<int32_t>(versions.size());
    list.versions.reset(new VersionEntry[versions.size()]());
    for (size_t d = 0; d < versions.size(); ++d) {
      snprintf(list.versions[d].version, sizeof list.versions[d].version, "%s",
               versions[d].version.c_str());
      list.versions[d].length = versions[d].length;
    }
  }
  list.groupCount = static_cast<int32_t>(groups.size());
  list.groups.reset(new UpdateGroup[groups.size()]());
  for (size_t g = 0; g < groups.size(); ++g) {
    UpdateGroup& group = list.groups[g];
    const GroupSpec& entry = groups[g];
    snprintf(group.name, sizeof group.name, "%s", entry.name.c_str());
    snprintf(group.os, sizeof group.os, "%s", entry.os.c_str());
    snprintf(group.keyVersion, sizeof group.keyVersion, "%s", entry.keyVersion.c_str());
    group.keyNumber = entry.keyNumber;
    group.redirectionOff = entry.redirectionOff;
    group.existOnly = entry.existOnly;
    group.fileCount = static_cast<int32_t>(entry.targets.size());
    if (!entry.targets.empty()) group.files.reset(new UpdateFile[entry.targets.size()]());
    for (size_t f = 0; f < entry.targets.size(); ++f) {
      snprintf(group.files[f].targetPath, sizeof group.files[f].targetPath, "%s",
               entry.targets[f].c_str());
      group.files[f].registerServer = f < entry.registerFlags.size() ? entry.registerFlags[f] : 0;
      // 22 December 2011, 01:41 UTC, as the shipped list stamps its files.
      group.files[f].timeLow = 3252985344u;
      group.files[f].timeHigh = 30195786u;
    }
  }
}

}  // namespace vrtest
