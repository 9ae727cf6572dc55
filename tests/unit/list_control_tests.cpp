// The product's control library: the all-or-nothing binding, calls in either
// calling convention, and the folder query with its leftovers.
#include <gtest/gtest.h>

#include "support/Environment.h"
#include "support/ListSupport.h"
#include "system/ProductControlLibrary.h"

namespace {

std::string CurrentDirectory() {
  char path[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof path, path);
  return path;
}

TEST(ProductControlLibrary, EitherCallingConventionAnswers) {
  const std::string folder = vrtest::MakeFolder("C:\\vrqf\\bind");
  for (const char* flavour : {"listqf_cdecl", "listqf_stdcall"}) {
    SCOPED_TRACE(flavour);
    const std::string path = folder + flavour + ".dll";
    ASSERT_TRUE(vrtest::CopyLibrary(flavour, path));
    const std::string before = CurrentDirectory();
    ProductControlLibrary library;
    ASSERT_NE(nullptr, library.Load(path.c_str()));
    EXPECT_EQ(before, CurrentDirectory());
    // Many calls: a stack that drifted by one argument per call would show.
    for (int i = 0; i < 10000; ++i) {
      const char* shared = library.GetFolder(17);
      ASSERT_NE(nullptr, shared);
      ASSERT_STREQ("C:\\VrTest\\Shared", shared);
      char common[260];
      ASSERT_EQ(1, library.GetCommonPath(common));
      ASSERT_STREQ("C:\\VrTest\\Common", common);
    }
    EXPECT_EQ(nullptr, library.GetFolder(3));
    library.Unload();
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));
    EXPECT_EQ(nullptr, library.GetFolder(17));
    char common[260] = {};
    EXPECT_EQ(0, library.GetCommonPath(common));
  }
}

TEST(ProductControlLibrary, MissingExportBindsNothing) {
  const std::string path = vrtest::MakeFolder("C:\\vrqf\\noappend") + "QfControl.dll";
  ASSERT_TRUE(vrtest::CopyLibrary("listqf_noappend", path));
  const std::string before = CurrentDirectory();
  ProductControlLibrary library;
  EXPECT_EQ(nullptr, library.Load(path.c_str()));
  EXPECT_EQ(nullptr, library.module());
  EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));  // freed at once
  EXPECT_EQ(nullptr, library.GetFolder(17));
  EXPECT_EQ(before, CurrentDirectory());
  EXPECT_EQ(nullptr, library.Load("C:\\vrqf\\missing\\QfControl.dll"));
  EXPECT_EQ(nullptr, library.Load(nullptr));
  EXPECT_EQ(before, CurrentDirectory());
}

class FolderQueryTest : public testing::Test {
 protected:
  void SetUp() override {
    program_ = vrtest::MakeFolder("C:\\vrqf\\program");
    ASSERT_TRUE(vrtest::SetText(vrtest::kAppPathsKey, "Path", program_));
  }
  void TearDown() override { vrtest::RemoveProductKeys(); }
  // Installs a flavour as the product's library, with the leftover file the
  // query removes, and runs the query.
  void Query(const char* flavour, bool asks = true) {
    ASSERT_TRUE(vrtest::CopyLibrary(flavour, program_ + "QfControl.dll"));
    ASSERT_TRUE(vrtest::WriteWholeFile(program_ + "QfControl_res.dll", "x"));
    const std::string before = CurrentDirectory();
    ProductControlLibrary library;
    QueryProductFolders(library, folders_);
    EXPECT_EQ(nullptr, library.module());
    EXPECT_EQ(before, CurrentDirectory());
    // The leftover goes whenever the library was asked, bound or not.
    EXPECT_EQ(asks, GetFileAttributesA((program_ + "QfControl_res.dll").c_str()) ==
                        INVALID_FILE_ATTRIBUTES);
  }
  std::string program_;
  ProductFolders folders_;  // what the queries of one test found
};

TEST_F(FolderQueryTest, FillsTheThreeFoldersOnce) {
  Query("listqf_stdcall");
  EXPECT_STREQ("C:\\VrTest\\Common\\", folders_.common);
  EXPECT_STREQ("C:\\VrTest\\Common\\\\Saffra9\\", folders_.editionCommon);
  EXPECT_STREQ("C:\\VrTest\\Shared\\", folders_.sharedLibrary);
  // Both known: a later query asks nothing and keeps them.
  Query("listqf_none", false);
  EXPECT_STREQ("C:\\VrTest\\Common\\", folders_.common);
  EXPECT_STREQ("C:\\VrTest\\Shared\\", folders_.sharedLibrary);
}

TEST_F(FolderQueryTest, NothingReportedOrTooLongLeavesThemEmpty) {
  for (const char* flavour : {"listqf_none", "listqf_overlong", "listqf_noappend"}) {
    SCOPED_TRACE(flavour);
    Query(flavour);
    EXPECT_STREQ("", folders_.common);
    EXPECT_STREQ("", folders_.editionCommon);
    EXPECT_STREQ("", folders_.sharedLibrary);
  }
}

// Whatever the library answers, a folder is kept only when it is absolute
// and fits; anything else leaves that folder unknown (its groups get no
// targets) rather than a folder relative to the updater's current directory.
TEST_F(FolderQueryTest, UnusableAnswersLeaveTheFolderUnknown) {
  std::string junk;
  for (int i = 1; i < 256; ++i) junk += static_cast<char>(i);
  const std::string long259 = "C:\\" + std::string(256, 'f');
  const struct {
    const char* what;
    std::string answer;
    bool kept;
  } kCases[] = {
      {"absolute", "C:\\Vr", true},
      {"network", "\\\\srv\\share", true},
      {"259 characters", long259, true},
      {"empty", "", false},
      {"relative", "Vr\\Common", false},
      {"parent", "..\\Vr", false},
      {"drive relative", "C:Vr", false},
      {"rooted without drive", "\\Vr", false},
      {"junk", junk, false},
      {"260 characters", long259 + "g", false},
      {"261 characters", long259 + "gh", false},
      {"4096 characters", "C:\\" + std::string(4093, 'f'), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    folders_ = ProductFolders();
    ASSERT_TRUE(SetEnvironmentVariableA("LISTQF_COMMON", c.answer.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableA("LISTQF_SHARED", c.answer.c_str()));
    Query("listqf_env");
    const std::string folder = c.kept ? c.answer + "\\" : "";
    EXPECT_EQ(folder, folders_.common);
    EXPECT_EQ(c.kept ? folder + "\\Saffra9\\" : "", folders_.editionCommon);
    EXPECT_EQ(folder, folders_.sharedLibrary);
  }
  SetEnvironmentVariableA("LISTQF_COMMON", nullptr);
  SetEnvironmentVariableA("LISTQF_SHARED", nullptr);
}

TEST_F(FolderQueryTest, NoProductNoQuery) {
  vrtest::RemoveProductKeys();
  ProductControlLibrary library;
  QueryProductFolders(library, folders_);
  EXPECT_STREQ("", folders_.common);
  EXPECT_EQ(nullptr, library.module());
}

}  // namespace
