// The update's own list, loaded from its own store inside an installed
// product: every target path and every redirection flag.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/Environment.h"
#include "support/IntegrationSupport.h"
#include "updatelist/UpdateList.h"

using namespace vrtest;

namespace {

class RealList : public RealStoreTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RealStoreTest::SetUp());
    expected_ = ExpectedFiles();
    ASSERT_FALSE(expected_.empty()) << "the generated UPLIST.INI cannot be read (--payload-dir=)";
  }

  std::vector<ListFile> expected_;
};

TEST_F(RealList, TheInstallationHasTheFoldersOfAThirtyTwoBitInstaller) {
  const Installation& in = Installed();
  // A 32-bit installer on 64-bit Windows lands in "Program Files (x86)", and
  // the system directory a 32-bit process is told of is still system32.
  EXPECT_EQ(in.win64 && !testbed::kSixtyFourBitProcess,
            in.program.find("Program Files (x86)") != std::string::npos)
      << in.program;
  EXPECT_TRUE(SamePath("C:\\windows\\system32\\drivers\\", in.drivers)) << in.drivers;
  EXPECT_NE(std::string::npos, in.edition.find("\\\\Saffra9\\")) << in.edition;
  EXPECT_EQ(0u, in.shared.find(in.common)) << in.shared << " outside " << in.common;
}

TEST_F(RealList, ResolvesEveryTargetAndRedirectionFlag) {
  vrtest::DetectedList list;
  // The two prefixes this runs in: 64-bit Windows 7 and 32-bit Windows XP.
  EXPECT_EQ(Installed().win64 ? OsClass::Vista64 : OsClass::Nt32, list.GetOsClass());
  ASSERT_EQ(TotalFiles(), list.LoadList());
  EXPECT_STREQ("VRSAFFRA9.exe", list.model().keyFile());
  EXPECT_EQ(27, list.model().versionCount());
  const std::vector<testbed::ExpectedGroup>& groups = Layout().groups();
  ASSERT_EQ(static_cast<int>(groups.size()), list.model().groupCount());
  EXPECT_TRUE(SamePath(Installed().program, list.model().programFolder()))
      << list.model().programFolder();

  int systemGroups = 0;
  for (int g = 0; g < list.model().groupCount(); ++g) {
    SCOPED_TRACE(testing::Message() << "Group" << g);
    const UpdateGroup& group = list.model().group(g);
    EXPECT_EQ(groups[g].name, group.name);
    EXPECT_EQ(groups[g].os, group.os);
    EXPECT_EQ(groups[g].files, group.fileCount);
    EXPECT_EQ(groups[g].existOnly, group.existOnly);
    EXPECT_EQ(999, group.keyNumber);
    EXPECT_EQ(groups[g].redirectionOff, group.redirectionOff);
    // The system kind keeps its resolved folder as the group's folder text.
    if (!groups[g].systemFolder) continue;
    EXPECT_TRUE(SamePath(groups[g].folder, group.folderText)) << group.folderText;
    ++systemGroups;
  }
  EXPECT_GT(systemGroups, 0);

  // Paths compare byte for byte: the doubled backslash of the edition folder
  // is part of the expected text.
  for (const ListFile& file : expected_) {
    ASSERT_TRUE(file.group < list.model().groupCount() &&
                file.file < list.model().group(file.group).fileCount)
        << file.group << "/" << file.file;
    const UpdateFile* entry = &list.model().file(file.group, file.file);
    EXPECT_EQ(file.target, std::string(entry->targetPath))
        << "Group" << file.group << " file " << file.file;
    EXPECT_EQ(file.time.dwLowDateTime, entry->timeLow) << file.target;
    EXPECT_EQ(file.time.dwHighDateTime, entry->timeHigh) << file.target;
    EXPECT_EQ(0, entry->registerServer) << file.target;
  }
}

TEST_F(RealList, EveryEntryHasItsPayloadAndAListTimeFromTheBuild) {
  // The expected data itself: a missing source or a zero time would make
  // the install checks vacuous.
  const FILETIME year2000 = {0xD53E8000, 0x01BF53EB};  // 1 January 2000
  for (const ListFile& file : expected_) {
    EXPECT_TRUE(Exists(file.source)) << file.source;
    EXPECT_GT(CompareFileTime(&file.time, &year2000), 0) << file.target;
  }
}

}  // namespace
