// The product's Uninstall entry: two values overwritten in an existing entry,
// stored with their terminating zero; nothing created, nothing else
// touched.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "res/resource.h"
#include "support/Registry.h"
#include "support/SeamRecorder.h"
#include "system/UninstallEntry.h"
#include "win32/ResString.h"
#include "win32/UniqueHandle.h"

namespace {

std::string UninstallKeyText() { return vrtest::ResText(IDS_UNINSTALL_KEY); }

struct Value {
  bool present = false;
  DWORD type = 0;
  std::string data;  // exactly the stored characters (ASCII texts only)
};

// Read through the wide call, which reports the size of the data as stored.
Value ReadValue(const char* name) {
  Value v;
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyText().c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return v;
  wchar_t wideName[64] = {};
  MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 64);
  // The size alone first: with a buffer, a terminating zero is appended
  // and counted when there is room for it.
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), wideName, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
    return v;
  wchar_t buffer[1024];
  DWORD room = sizeof buffer;
  if (size > room || RegQueryValueExW(key.get(), wideName, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(buffer), &room) != ERROR_SUCCESS)
    return v;
  v.present = true;
  for (DWORD i = 0; i < size / sizeof(wchar_t); ++i) v.data += static_cast<char>(buffer[i]);
  return v;
}

// The entry as the product's installer leaves it (values with their zero).
class UninstallEntryTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(UninstallKeyText().empty());
    const std::string key = UninstallKeyText();
    ASSERT_TRUE(vrtest::SetText(key.c_str(), "DisplayName", "Vorrel Recorder 10"));
    ASSERT_TRUE(vrtest::SetText(key.c_str(), "DisplayVersion", "10.20.090"));
    ASSERT_TRUE(vrtest::SetText(key.c_str(), "InstallLocation",
                                "C:\\Program Files\\Marrowick\\Vorrel Recorder\\"));
  }
  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKeyText().c_str()); }
};

TEST_F(UninstallEntryTest, NameAndVersionOfTheUpdateWithTheirTerminatingZero) {
  EXPECT_EQ(1, UpdateUninstallEntry());

  Value name = ReadValue("DisplayName");
  ASSERT_TRUE(name.present);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), name.type);
  EXPECT_EQ(std::string("Vorrel Recorder 10.30 (Update)") + '\0', name.data);  // 31 bytes

  Value version = ReadValue("DisplayVersion");
  ASSERT_TRUE(version.present);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), version.type);
  EXPECT_EQ(std::string("10.30.000") + '\0', version.data);  // 10 bytes

  Value location = ReadValue("InstallLocation");
  EXPECT_EQ(std::string("C:\\Program Files\\Marrowick\\Vorrel Recorder\\") + '\0', location.data);
}

TEST_F(UninstallEntryTest, AbsentTextsAndOverlongTextsLeaveTheirValueAlone) {
  EXPECT_EQ(1, WriteUninstallValues(nullptr, "1.2"));
  EXPECT_EQ(std::string("Vorrel Recorder 10") + '\0', ReadValue("DisplayName").data);
  EXPECT_EQ(std::string("1.2") + '\0', ReadValue("DisplayVersion").data);

  const std::string longest(269, 'n');
  EXPECT_EQ(1, WriteUninstallValues(longest.c_str(), nullptr));
  EXPECT_EQ(longest + '\0', ReadValue("DisplayName").data);
  EXPECT_EQ(std::string("1.2") + '\0', ReadValue("DisplayVersion").data);

  // One byte more no longer fits the 270-byte buffer: not written at all,
  // rather than cut short.
  const std::string tooLong(270, 'x');
  EXPECT_EQ(1, WriteUninstallValues(tooLong.c_str(), "3.4"));
  EXPECT_EQ(longest + '\0', ReadValue("DisplayName").data);
  EXPECT_EQ(std::string("3.4") + '\0', ReadValue("DisplayVersion").data);
}

TEST(UninstallEntry, MissingEntryIsNeverCreated) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKeyText().c_str());
  ASSERT_FALSE(vrtest::KeyExists(UninstallKeyText().c_str()));
  EXPECT_EQ(0, UpdateUninstallEntry());
  EXPECT_EQ(0, WriteUninstallValues("a", "b"));
  EXPECT_FALSE(vrtest::KeyExists(UninstallKeyText().c_str()));
}

}  // namespace
