// Where the files of an update list belong on the Windows at hand, worked
// out by the test side on its own from the generated list (UPLIST.INI):
// which groups apply on this Windows, the folder of each file, and which
// files lie in the real 64-bit system folder. The testbed's installer lays
// the product out by it and the tests judge the updater's work by it. It
// shares no code with the updater, so a rule that differs on either side
// shows; counts of files come from the list through it, never as numbers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testbed {

// Windows as the update's group rules tell it apart. Other: NT 4.0 and older.
enum class WindowsClass { Other, Win9x, Nt32, Xp64, Vista32, Vista64 };

struct Machine {
  WindowsClass windows = WindowsClass::Other;
  std::string systemFolder;  // GetSystemDirectoryA's answer, ending in a backslash
  bool SixtyFourBit() const {
    return windows == WindowsClass::Xp64 || windows == WindowsClass::Vista64;
  }
};

// The Windows this process runs on (its version record and WOW64).
Machine ThisMachine();

// The product's own folders, each ending in a backslash.
struct ProductFolders {
  std::string program, common, shared;
};

// The folders the testbed's installer recorded (App Paths and the folders
// the control library reports); false when any of them is missing.
bool ReadInstalledFolders(ProductFolders* folders);

// The folder an "Install Path" names, ending in a backslash, composed as the
// updater composes it (the edition folder keeps its doubled backslash).
// *systemFolder (optional) tells the system folder kinds ("driver", "SYS").
std::string FolderOf(const std::string& installPath, const ProductFolders& folders,
                     const Machine& machine, bool* systemFolder = nullptr);

struct ExpectedGroup {
  std::string name, os, installPath;
  std::string folder;  // FolderOf(installPath)
  int files = 0;
  int existOnly = 0;
  bool systemFolder = false;
  bool applies = false;
  bool redirectionOff = false;  // its files lie in the real 64-bit system folder
};

struct ExpectedFile {
  int group = 0, file = 0;
  std::string name;    // after the last backslash of "Path%d"
  std::string target;  // the full path the updater installs it to
  std::string source;  // the expanded payload "GGFF_<name>" in the folder Load was given
  FILETIME time = {};  // "PathTimeL%d" / "PathTimeH%d"
  bool applies = false;
  bool redirectionOff = false;
};

// The layout of one list over one installation; empty until Load succeeds.
class ExpectedLayout {
 public:
  // Reads the list at upList. sources is the folder of the expanded payload
  // (empty: source is the bare entry name). False, with problem() saying
  // why, when the list cannot be read or a group's rule depends on more
  // than Windows (the sound-effect set, the product's driver).
  bool Load(const std::string& upList, const ProductFolders& folders, const Machine& machine,
            const std::string& sources = "");
  const std::vector<ExpectedGroup>& groups() const { return groups_; }
  const std::vector<ExpectedFile>& files() const { return files_; }
  std::vector<ExpectedFile> ApplicableFiles() const;
  const std::string& problem() const { return problem_; }

 private:
  bool Fail(const std::string& why);

  std::vector<ExpectedGroup> groups_;
  std::vector<ExpectedFile> files_;
  std::string problem_;
};

}  // namespace testbed
