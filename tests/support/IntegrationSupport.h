// The update's real list over the simulated product as install-product.sh
// lays it out. Everything a test expects is worked out here on its own: the
// folders from the installer's registry entries, the file names, times and
// targets from the generated UPLIST.INI through the test side's layout
// (testbed/common/ExpectedLayout.h), the payloads from the expanded sources
// of the store. Nothing here asks the code under test.
//
// Command line: --store=<store library> --payload-dir=<folder of UPLIST.INI>
//               --sources=<folder of the expanded payload files>
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/Files.h"
#include "support/Registry.h"
#include "support/SeamRecorder.h"
#include "testbed/common/ExpectedLayout.h"
#include "testbed/common/Flavour.h"

namespace vrtest {

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

// Worked out once, with the list's layout below.
const Installation& Installed();
// Empty when the installation and the list could be worked out; else why not.
const std::string& InstallationProblem();

// The generated list over this installation on this Windows.
const testbed::ExpectedLayout& Layout();
using ListFile = testbed::ExpectedFile;
// Every file of the list, in group and file order (source: the expanded
// payload's full path); empty when the list cannot be read.
const std::vector<ListFile>& ExpectedFiles();
int TotalFiles();

std::string WindowsPath(std::string path);  // '/' -> '\'

bool FileTimes(const std::string& path, FILETIME* creation, FILETIME* access, FILETIME* write);
bool Exists(const std::string& path);
std::string TimeText(const FILETIME& t);
// Case-insensitive comparison of two paths (the system's rule for names).
bool SamePath(const std::string& a, const std::string& b);

// A test over the worked-out installation with the update's own store
// (--store=) loaded as this process's store, released after the test.
class RealStoreTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  HMODULE store_ = nullptr;
};

}  // namespace vrtest
