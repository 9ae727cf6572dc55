// Checks the facts about the test platform that every other test relies on.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Harness, RunsWithJapaneseCodePageInAPrivatePrefix) {
  EXPECT_EQ(932u, GetACP());
  char windir[MAX_PATH] = {};
  ASSERT_NE(0u, GetWindowsDirectoryA(windir, sizeof windir));
  EXPECT_STRCASEEQ("C:\\windows", windir);
}
