// The update's real list over the simulated product as install-product.sh
// lays it out. Everything a test expects is worked out here on its own: the
// folders from the installer's registry entries and from the installed
// control library, the file names and times from the generated UPLIST.INI,
// the payloads from the expanded sources of the store. Nothing here asks the
// code under test.
//
// Command line: --store=<store library> --payload-dir=<folder of UPLIST.INI>
//               --sources=<folder of the expanded payload files>
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/Files.h"
#include "support/Registry.h"
#include "support/SeamRecorder.h"
#include "testbed/common/Flavour.h"

namespace vrtest {

// Folder of one group, as the list names it.
enum class Folder { Program, Doc, Common, EditionCommon, SharedLibrary, Drivers };

// The layout of the shipped list: one row per "Group%d" section.
struct GroupLayout {
  const char* name;
  const char* os;
  Folder folder;
  int files;
  bool existOnly;
};
extern const GroupLayout kGroups[10];
constexpr int kTotalFiles = 53;

// Folders of the installation, each ending in one backslash (the edition
// common folder with the doubled one the list's targets carry).
struct Installation {
  std::string program;
  std::string common;
  std::string edition;
  std::string shared;
  std::string drivers;  // the system directory's "drivers\"
  bool win64 = false;
};

// Filled once, before any test runs: the update replaces the control library
// the folders are asked from.
const Installation& Installed();
// Empty until Installed() ran; the reason it could not be worked out.
const std::string& InstallationProblem();

struct ListFile {
  int group;
  int file;
  std::string name;    // after the last backslash of "Path%d"
  FILETIME time;       // "PathTimeL%d" / "PathTimeH%d"
  std::string target;  // expected full path
  std::string source;  // expanded payload of this entry
};
// Every file of the generated list, in group and file order; empty when the
// list cannot be read.
std::vector<ListFile> ExpectedFiles();

// The groups that apply on this system: all but the other bitness's
// settings file and driver.
bool GroupApplies(int group);
bool RedirectionOffExpected(int group);

std::string WindowsPath(std::string path);  // '/' -> '\'

bool FileTimes(const std::string& path, FILETIME* creation, FILETIME* access, FILETIME* write);
bool Exists(const std::string& path);
std::string TimeText(const FILETIME& t);
// Case-insensitive comparison of two paths (the system's rule for names).
bool SamePath(const std::string& a, const std::string& b);

}  // namespace vrtest
