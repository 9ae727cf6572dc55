// A product environment (engine/ProductEnvironment.h) detected for the test
// prefix at construction, as the dialog's is when it starts (each one asks
// the machine afresh), the engine of a run over it, and update lists
// composed as the text of their INI file.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/ProductEnvironment.h"
#include "engine/RunState.h"
#include "engine/UpdateEngine.h"
#include "updatelist/UpdateList.h"
#include "win32/Paths.h"

namespace vrtest {

struct DetectedEnvironment : ProductEnvironment {
  DetectedEnvironment() { Detect(); }
};

// The list and run state a DetectedList's engine works on.
struct ListAndState {
  UpdateList listSlot;
  RunState stateSlot;
};

// What one run of the update driver has: an environment of its own
// (detected first: the base named first is built first), a list (empty until
// one is loaded), a run state, and the engine over them. Questions go
// through ShowUpdaterMessage (no port).
class DetectedList : private DetectedEnvironment, private ListAndState, public UpdateEngine {
 public:
  DetectedList()
      : UpdateEngine(listSlot, static_cast<const ProductEnvironment&>(*this), nullptr, stateSlot) {}
  // The store's list (LoadListFromStore) in place of the current one; its
  // fileTotal().
  int32_t LoadList() {
    listSlot = LoadListFromStore(environment());
    return model().fileTotal();
  }
  // The list from INI text over this environment, with programFolder as the
  // product's program folder; its fileTotal().
  int32_t LoadText(const std::string& ini, const std::string& programFolder) {
    const ListInputs inputs{folders(), osClass(), programFolder.c_str()};
    listSlot = UpdateList::Parse(ini.data(), static_cast<DWORD>(ini.size()), inputs);
    return model().fileTotal();
  }
  const UpdateList& model() const { return listSlot; }
};

struct GroupSpec {
  std::string name;
  std::string os;
  int32_t keyNumber = 999;
  std::string keyVersion;
  // Full target paths ("" for none), all in one folder: below the list's
  // program folder, or with redirectionOff the system folder ("SYS").
  std::vector<std::string> targets;
  bool redirectionOff = false;
  bool existOnly = false;
  std::vector<int32_t> registerFlags;  // per file; missing entries are 0
  std::string extraLines;              // more "key=value" lines of the section
};

struct VersionRow {
  std::string version;
  DWORD length;
};

namespace detail {

// The "Install Path" of a group whose targets lie in folder; false when the
// folder is not below programFolder.
inline bool InstallPathOf(const std::string& folder, const std::string& programFolder,
                          std::string* installPath) {
  if (folder.size() < programFolder.size() ||
      lstrcmpiA(folder.substr(0, programFolder.size()).c_str(), programFolder.c_str()) != 0)
    return false;
  *installPath = folder.substr(programFolder.size());
  return true;
}

inline std::string GroupText(int g, const GroupSpec& group, const std::string& programFolder) {
  std::string installPath = group.redirectionOff ? "SYS" : "";
  bool placed = false;  // installPath names the folder of a target
  std::string paths;
  for (size_t f = 0; f < group.targets.size(); ++f) {
    const std::string& target = group.targets[f];
    const int32_t flag = f < group.registerFlags.size() ? group.registerFlags[f] : 0;
    paths += "PathTimeL" + std::to_string(f) + "=3252985344\nPathTimeH" + std::to_string(f) +
             "=30195786\nRegSvr" + std::to_string(f) + "=" + std::to_string(flag) + "\n";
    if (target.empty()) continue;
    // Double-byte aware: a second byte 0x5C is no separator.
    const char* name = win32::AfterLastBackslash(target.c_str());
    const size_t slash = name ? static_cast<size_t>(name - target.c_str()) - 1 : 0;
    const std::string folder = target.substr(0, slash + 1);
    std::string path;
    if (!group.redirectionOff) {
      if (!InstallPathOf(folder, programFolder, &path))
        ADD_FAILURE() << target << " lies outside " << programFolder;
      else if (placed && path != installPath)
        ADD_FAILURE() << target << ": the targets of a group share one folder";
      installPath = path;
      placed = true;
    }
    paths += "Path" + std::to_string(f) + "=D:\\build\\" + target.substr(slash + 1) + "\n";
  }
  return "[Group" + std::to_string(g) + "]\nName=" + group.name + "\nOS=" + group.os +
         "\nKeyNo=" + std::to_string(group.keyNumber) + "\nKeyVersion=" + group.keyVersion +
         "\nInstall Path=" + installPath + "\nExist=" + (group.existOnly ? "1" : "0") +
         "\nFiles=" + std::to_string(group.targets.size()) + "\n" + paths + group.extraLines + "\n";
}

}  // namespace detail

// The text of an update list with these versions and groups, key file
// "VRSAFFRA9.exe", each list path in a folder of the build machine (a path
// without one names no file), every file stamped as the shipped list stamps its files
// (22 December 2011, 01:41 UTC).
inline std::string ListText(const std::vector<VersionRow>& versions,
                            const std::vector<GroupSpec>& groups,
                            const std::string& programFolder) {
  std::string text =
      "[General]\nKeyPath=\nKeyFile=VRSAFFRA9.exe\nVersions=" + std::to_string(versions.size()) +
      "\nGroup=" + std::to_string(groups.size()) + "\n";
  for (size_t d = 0; d < versions.size(); ++d) {
    text += "Version" + std::to_string(d) + "=" + versions[d].version + "\nLength" +
            std::to_string(d) + "=" + std::to_string(versions[d].length) + "\n";
  }
  for (size_t g = 0; g < groups.size(); ++g)
    text += detail::GroupText(static_cast<int>(g), groups[g], programFolder);
  return text;
}

// Loads that text into list; the program folder is the drive root of the
// first target unless given.
inline void FillList(DetectedList& list, const std::vector<VersionRow>& versions,
                     const std::vector<GroupSpec>& groups, std::string programFolder = "") {
  for (size_t g = 0; programFolder.empty() && g < groups.size(); ++g) {
    for (const std::string& target : groups[g].targets) {
      if (!groups[g].redirectionOff && target.size() > 3) {
        programFolder = target.substr(0, 3);  // "C:\"
        break;
      }
    }
  }
  if (programFolder.empty()) programFolder = "C:\\";
  list.LoadText(ListText(versions, groups, programFolder), programFolder);
  EXPECT_EQ(static_cast<int32_t>(groups.size()), list.model().groupCount()) << "list not loaded";
}

}  // namespace vrtest
