// The Windows classification as a pure function of the version record.
#include <gtest/gtest.h>
#include <string.h>

#include "win32/Platform.h"

namespace {

OSVERSIONINFOEXA Record(DWORD platform, DWORD major, DWORD minor, DWORD build = 0, WORD suite = 0,
                        BYTE productType = 1) {
  OSVERSIONINFOEXA r;
  memset(&r, 0, sizeof r);
  r.dwOSVersionInfoSize = sizeof r;
  r.dwPlatformId = platform;
  r.dwMajorVersion = major;
  r.dwMinorVersion = minor;
  r.dwBuildNumber = build;
  r.wSuiteMask = suite;
  r.wProductType = productType;
  return r;
}

struct Row {
  const char* what;
  OSVERSIONINFOEXA record;
  bool wow64;
  int32_t result;
  int32_t code;
  int32_t osClass;
};

constexpr BYTE kServer = 3;

TEST(ClassifyOsVersion, EveryCodeOfTheTable) {
  const Row rows[] = {
      // The 9x family keeps its version in the high word of the build number.
      {"95", Record(1, 4, 0, 0x040003B6), false, 1, 0, 1},
      {"95 OSR2", Record(1, 4, 0, 0x04000457), false, 1, 1, 1},
      {"98", Record(1, 4, 10, 0x040A07CE), false, 1, 2, 1},
      {"98 SE", Record(1, 4, 10, 0x040A08AE), false, 1, 3, 1},
      {"Me", Record(1, 4, 90, 0x045A0BB8), false, 1, 4, 1},
      {"Win32s", Record(0, 3, 10), false, 1, 5, 0},
      {"NT 3.51", Record(2, 3, 51), false, 1, 6, 0},
      {"NT 4.0", Record(2, 4, 0), false, 1, 7, 0},
      {"2000 Datacenter", Record(2, 5, 0, 2195, 0x82, kServer), false, 1, 8, 2},
      {"2000 Advanced", Record(2, 5, 0, 2195, 0x2, kServer), false, 1, 9, 2},
      {"2000 Server", Record(2, 5, 0, 2195, 0x10, kServer), false, 1, 10, 2},
      {"2000 Pro", Record(2, 5, 0, 2195, 0x80, 1), false, 1, 11, 2},
      {"XP Home", Record(2, 5, 1, 2600, 0x300), false, 1, 12, 2},
      {"XP Pro", Record(2, 5, 1, 2600, 0x100), false, 1, 13, 2},
      {"2003 Datacenter", Record(2, 5, 2, 3790, 0x82, kServer), false, 1, 14, 2},
      {"2003 Enterprise", Record(2, 5, 2, 3790, 0x2, kServer), false, 1, 15, 2},
      {"2003 Web", Record(2, 5, 2, 3790, 0x400, kServer), false, 1, 16, 2},
      {"2003 Standard", Record(2, 5, 2, 3790, 0x0, kServer), false, 1, 17, 2},
      {"2003 x64", Record(2, 5, 2, 3790, 0x2, kServer), true, 1, 18, 3},
      {"XP Pro x64", Record(2, 5, 2, 3790, 0x0, 1), true, 1, 19, 3},
      {"Vista 32-bit", Record(2, 6, 0, 6000), false, 1, 20, 4},
      {"Vista 64-bit", Record(2, 6, 0, 6000), true, 1, 21, 5},
      {"unknown platform", Record(3, 6, 0), false, 1, 22, 0},
      // Suite masks: datacenter wins over enterprise, on 2000 and 2003 alike;
      // web edition only for the blade bit alone; "personal" means nothing
      // outside 5.1; a 2000 workstation ignores suites.
      {"2003 blade and small business", Record(2, 5, 2, 3790, 0x410, kServer), false, 1, 17, 2},
      {"2003 personal bit", Record(2, 5, 2, 3790, 0x200, kServer), false, 1, 17, 2},
      {"2000 Pro with server suites", Record(2, 5, 0, 2195, 0x82, 1), false, 1, 11, 2},
      // A WOW64 process on 5.2 is told apart by product type only; WOW64
      // changes nothing below 5.2.
      {"2003 x64 with a blade bit", Record(2, 5, 2, 3790, 0x80, kServer), true, 1, 18, 3},
      {"XP Pro under WOW64", Record(2, 5, 1, 2600, 0x100), true, 1, 13, 2},
      // The 9x rules use the low word of the build number.
      {"98, low word below 1998", Record(1, 4, 10, 0x040A07C0), false, 0, 22, 0},
      {"95, low word 920", Record(1, 4, 0, 0x04000398), false, 0, 22, 0},
      {"95, build 1000", Record(1, 4, 0, 1000), false, 0, 22, 0},
      {"95, build 1001", Record(1, 4, 0, 1001), false, 1, 1, 1},
      {"unknown 9x minor", Record(1, 4, 50, 0), false, 1, 22, 0},
      // Newer and unknown NT versions are not classified, but Windows 8 to 10
      // without a manifest report 6.2: Vista and later.
      {"NT 7.0", Record(2, 7, 0), true, 0, 22, 0},
      {"NT 10.0", Record(2, 10, 0, 19045), true, 0, 22, 0},
      {"NT 5.3", Record(2, 5, 3), false, 0, 22, 0},
      {"6.2 under WOW64", Record(2, 6, 2, 9200), true, 1, 21, 5},
  };
  for (const Row& row : rows) {
    int32_t code = -1;
    EXPECT_EQ(row.result, ClassifyOsVersion(row.record, row.wow64, &code)) << row.what;
    EXPECT_EQ(row.code, code) << row.what;
    EXPECT_EQ(row.osClass, static_cast<int32_t>(OsClassOfCode(code))) << row.what;
  }
}

TEST(OsClassOfCode, OutOfRangeCodesAreOther) {
  for (int32_t code : {-1, 22, 23}) EXPECT_EQ(OsClass::Other, OsClassOfCode(code)) << code;
}

}  // namespace
