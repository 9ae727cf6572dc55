// Settling the records of a killed run against the update's own list over an
// installed product: what the updater could have recorded is settled, in the
// folder and view it was made in; every other record is dropped and its file
// left as it is, however its name tries to reach a file of the product, the
// user or the system.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "engine/Leftovers.h"
#include "support/Environment.h"
#include "support/IntegrationSupport.h"
#include "testbed/common/Flavour.h"
#include "updatelist/UpdateList.h"

using namespace vrtest;

namespace {

// One record as a killed run (or somebody else) could have left it.
struct RecordCase {
  std::string what;
  std::string name;       // the value's name: the recorded path
  std::string data;       // its data, written with the terminating zero
  DWORD type;             // REG_SZ unless the case is about the type
  std::string file;       // a file made before, as the file system names it
  bool realSystemFolder;  // file lies in the real 64-bit system folder
  bool settled;           // the file must be gone (else untouched)
};

void WriteRecord(const RecordCase& c) {
  ASSERT_TRUE(vrtest::SetValue(leftovers::kRecordKey, c.name.c_str(), c.type, c.data.c_str(),
                               static_cast<DWORD>(c.data.size() + 1)))
      << c.what;
}

std::string Contents(const std::string& path, bool realSystemFolder) {
  testbed::RedirectionOff real(realSystemFolder && Installed().win64);
  std::string bytes;
  return ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}

void Put(const std::string& path, const std::string& bytes, bool realSystemFolder) {
  testbed::RedirectionOff real(realSystemFolder && Installed().win64);
  ASSERT_TRUE(WriteWholeFile(path, bytes)) << path;
}

void Remove(const std::string& path, bool realSystemFolder) {
  testbed::RedirectionOff real(realSystemFolder && Installed().win64);
  DeleteFileA(path.c_str());
}

std::string WithoutBackslash(const std::string& folder) {
  return folder.substr(0, folder.size() - 1);
}

class RealListLeftovers : public RealStoreTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RealStoreTest::SetUp());
    for (const ListFile& file : ExpectedFiles()) {
      if (file.group == 0 && programTarget_.empty()) programTarget_ = file.target;
      if (Layout().groups()[file.group].installPath == "MarrowickCommon")
        commonTarget_ = file.target;
    }
    ASSERT_FALSE(programTarget_.empty());
    ASSERT_FALSE(commonTarget_.empty());
  }

  // The records of the case table: what the updater makes (settled) and
  // what it never makes (dropped, the file untouched).
  std::vector<RecordCase> RecordCases() const {
    const Installation& in = Installed();
    const std::string& p = in.program;
    const std::string programParent = p.substr(0, WithoutBackslash(p).rfind('\\') + 1);
    const std::string slashed = WithoutBackslash(p) + "/";
    const std::string d = in.drivers;
    const std::string sys = d.substr(0, WithoutBackslash(d).rfind('\\') + 1);
    const std::string mark(1, leftovers::kRedirectionOffMark);
    const bool win64 = in.win64;
    return {
        // What the updater makes: settled.
        {"temporary in the program folder", p + "tmp1A2B.tmp", "", REG_SZ, p + "tmp1A2B.tmp", false,
         true},
        {"small digits, capital extension", p + "tmpab.TMP", "", REG_SZ, p + "tmpab.TMP", false,
         true},
        {"in a subfolder of the list", p + "Doc\\tmpC3.tmp", "", REG_SZ, p + "Doc\\tmpC3.tmp",
         false, true},
        {"in the common folder", in.common + "tmp4D5E.tmp", "", REG_SZ, in.common + "tmp4D5E.tmp",
         false, true},
        {"in the shared library folder", in.shared + "tmpF.tmp", "", REG_SZ, in.shared + "tmpF.tmp",
         false, true},
        {"in the edition folder (doubled backslash)", in.edition + "tmp10.tmp", "", REG_SZ,
         in.edition + "tmp10.tmp", false, true},
        {"aside copy, its target in place", p + "tmp3.tmp", programTarget_, REG_SZ, p + "tmp3.tmp",
         false, true},
        {"made with redirection off, driver folder", d + "tmp4.tmp", mark, REG_SZ, d + "tmp4.tmp",
         true, true},
        {"made with redirection off, program folder", p + "tmp5.tmp", mark, REG_SZ, p + "tmp5.tmp",
         false, true},
        // A driver folder written only with redirection off on 64-bit Windows.
        {"driver folder, redirection on", d + "tmpF3.tmp", "", REG_SZ, d + "tmpF3.tmp", true,
         !win64},
        // Nothing the updater makes: dropped, the file untouched.
        {"the root of C:", "C:\\victim.txt", "", REG_SZ, "C:\\victim.txt", false, false},
        {"a user's file in the program folder", p + "notes.txt", "", REG_SZ, p + "notes.txt", false,
         false},
        {"a folder the list does not name", "C:\\elsewhere\\tmp1234.tmp", "", REG_SZ,
         "C:\\elsewhere\\tmp1234.tmp", false, false},
        {"a sibling sharing the program folder's text", WithoutBackslash(p) + "2\\tmp1234.tmp", "",
         REG_SZ, WithoutBackslash(p) + "2\\tmp1234.tmp", false, false},
        {"out through ..", p + "Doc\\..\\..\\tmp1234.tmp", "", REG_SZ,
         programParent + "tmp1234.tmp", false, false},
        {"a slash for the backslash", slashed + "tmp6.tmp", "", REG_SZ, p + "tmp6.tmp", false,
         false},
        {"a folder with a trailing dot", WithoutBackslash(p) + ".\\tmp7.tmp", "", REG_SZ,
         p + "tmp7.tmp", false, false},
        {"a name with a trailing dot", p + "tmp8.tmp.", "", REG_SZ, p + "tmp8.tmp", false, false},
        {"a name with a trailing blank", p + "tmp9.tmp ", "", REG_SZ, p + "tmp9.tmp", false, false},
        {"a second backslash", p + "\\tmpA.tmp", "", REG_SZ, p + "tmpA.tmp", false, false},
        {"five digits", p + "tmp12345.tmp", "", REG_SZ, p + "tmp12345.tmp", false, false},
        {"no digits", p + "tmp.tmp", "", REG_SZ, p + "tmp.tmp", false, false},
        {"not hexadecimal", p + "tmpXY.tmp", "", REG_SZ, p + "tmpXY.tmp", false, false},
        {"another extension", p + "tmpB.dll", "", REG_SZ, p + "tmpB.dll", false, false},
        {"overlong name", p + std::string(300, 'a') + "\\tmp1.tmp", "", REG_SZ, "", false, false},
        {"overlong data", p + "tmpB.tmp", std::string(300, 'x'), REG_SZ, p + "tmpB.tmp", false,
         false},
        {"REG_EXPAND_SZ", p + "tmpC.tmp", "", REG_EXPAND_SZ, p + "tmpC.tmp", false, false},
        {"REG_BINARY", p + "tmpD.tmp", "", REG_BINARY, p + "tmpD.tmp", false, false},
        {"aside copy of a target in another folder", p + "tmpE.tmp", commonTarget_, REG_SZ,
         p + "tmpE.tmp", false, false},
        {"aside copy of no target of the list", p + "tmpE1.tmp", p + "planted.dll", REG_SZ,
         p + "tmpE1.tmp", false, false},
        {"a planted library for the system folder", "C:\\users\\Public\\tmpF1.tmp",
         sys + "vrplanted.dll", REG_SZ, "C:\\users\\Public\\tmpF1.tmp", false, false},
        {"a planted driver beside the list's driver", d + "tmpF2.tmp", mark + d + "vrplanted.sys",
         REG_SZ, d + "tmpF2.tmp", true, false},
    };
  }

  std::string programTarget_;  // a target of the list in the program folder
  std::string commonTarget_;   // one in the common folder
};

TEST_F(RealListLeftovers, OnlyRecordsTheUpdaterCouldHaveMadeAreActedUpon) {
  const Installation& in = Installed();
  const std::string& p = in.program;
  CreateDirectoryA("C:\\elsewhere", nullptr);
  CreateDirectoryA((WithoutBackslash(p) + "2").c_str(), nullptr);
  const std::string d = in.drivers;
  const std::string sys = d.substr(0, WithoutBackslash(d).rfind('\\') + 1);
  const std::vector<RecordCase> cases = RecordCases();
  for (const RecordCase& c : cases) {
    if (!c.file.empty()) Put(c.file, c.what, c.realSystemFolder);
    WriteRecord(c);
  }
  // A 32-bit process on 64-bit Windows names the 32-bit driver folder the
  // same way: a file there must outlive the settlement of the real one.
  // (A fresh 64-bit prefix has no such folder.)
  const bool decoy = in.win64 && !testbed::kSixtyFourBitProcess;
  const bool madeDecoyFolder = decoy && CreateDirectoryA(WithoutBackslash(d).c_str(), nullptr);
  if (decoy) Put(d + "tmp4.tmp", "the 32-bit folder's own", false);
  // A killed 9x replacement: the installed copy moved aside, the new one not
  // yet in place.
  const std::string installed = Contents(programTarget_, false);
  ASSERT_TRUE(MoveFileA(programTarget_.c_str(), (p + "tmp2.tmp").c_str()));
  WriteRecord(
      {"aside copy, its target gone", p + "tmp2.tmp", programTarget_, REG_SZ, "", false, true});

  vrtest::DetectedList list;
  ASSERT_EQ(TotalFiles(), list.LoadList());
  const int settled = leftovers::RemoveEarlierLeftovers(list.model(), list.GetOsClass());

  int expected = 1;  // the aside copy put back
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.settled) ++expected;
    if (c.file.empty()) continue;
    EXPECT_EQ(c.settled ? "<missing>" : c.what, Contents(c.file, c.realSystemFolder)) << c.file;
    Remove(c.file, c.realSystemFolder);
  }
  EXPECT_EQ(expected, settled);
  EXPECT_EQ(installed, Contents(programTarget_, false));
  EXPECT_EQ("<missing>", Contents(p + "tmp2.tmp", false));
  EXPECT_EQ("<missing>", Contents(p + "planted.dll", false));
  EXPECT_EQ("<missing>", Contents(sys + "vrplanted.dll", true));
  EXPECT_EQ("<missing>", Contents(d + "vrplanted.sys", true));
  if (decoy) {
    EXPECT_EQ("the 32-bit folder's own", Contents(d + "tmp4.tmp", false));
    Remove(d + "tmp4.tmp", false);
    if (madeDecoyFolder) RemoveDirectoryA(WithoutBackslash(d).c_str());
  }
  // Every record is gone, settled or dropped, and the updater's key with them.
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
}

}  // namespace
