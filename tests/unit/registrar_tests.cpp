// Filter merits rewritten in the testbed's filter registrations, the binary
// value helpers, and COM registration through the system's Regsvr32.exe with
// the testbed's COM server.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "support/Files.h"
#include "support/Registry.h"
#include "support/SeamRecorder.h"
#include "system/ComponentRegistrar.h"
#include "system/FilterMeritLists.h"
#include "testbed/comserver/ComServerMark.h"
#include "testbed/common/FilterRecord.h"
#include "testbed/common/TestbedRegistry.h"
#include "testbed/installer/FilterRegistrations.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kScratchKey[] = "SOFTWARE\\VrRegistrarTests";

std::string FilterKey(int n) {
  return std::string(testbed::kFilterInstanceKeyPrefix) + testbed::FilterClsid(n);
}

// The "FilterData" of filter n as stored, or an empty vector when missing.
std::vector<BYTE> FilterData(int n, DWORD* type = nullptr) {
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FilterKey(n).c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return {};
  std::vector<BYTE> data(1024);
  DWORD size = static_cast<DWORD>(data.size()), t = 0;
  if (RegQueryValueExA(key.get(), "FilterData", nullptr, &t, data.data(), &size) != ERROR_SUCCESS)
    return {};
  if (type) *type = t;
  data.resize(size);
  return data;
}

DWORD MeritOf(const std::vector<BYTE>& record) {
  if (record.size() < 8) return 0;
  return record[4] | record[5] << 8 | record[6] << 16 | static_cast<DWORD>(record[7]) << 24;
}

// The testbed's number of entry i of the updater's list l (0..3).
int FilterOfList(int l, int i) { return testbed::FilterIndexOf(kFilterMeritLists[l].clsids[i]); }

// The updater's lists and the product's own list of its filters name the
// same 21 filters, each once, with the merit the product expects after the
// update, under the same registry key.
TEST(FilterLists, TheUpdaterRewritesExactlyTheProductsFiltersWithTheirMerits) {
  std::vector<int> named(testbed::kFilterCount, 0);
  for (const FilterMeritList& list : kFilterMeritLists) {
    for (int i = 0; i < list.count; ++i) {
      SCOPED_TRACE(list.clsids[i]);
      const int n = testbed::FilterIndexOf(list.clsids[i]);
      ASSERT_LE(0, n) << "no filter of the product";
      ++named[n];
      EXPECT_EQ(testbed::kProductFilters[n].updatedMerit, list.merit);
    }
  }
  for (int n = 0; n < testbed::kFilterCount; ++n)
    EXPECT_EQ(1, named[n]) << testbed::FilterClsid(n) << " named this often by the updater";
  EXPECT_STRCASEEQ(testbed::kFilterInstanceKeyPrefix, kFilterInstanceKeyPrefix);
}

class FilterMeritTest : public ::testing::Test {
 protected:
  void SetUp() override { testbed::RemoveFilterRegistrations(); }
  void TearDown() override { testbed::RemoveFilterRegistrations(); }
  ComponentRegistrar registrar_;
};

TEST_F(FilterMeritTest, RewritesOnlyTheMeritOfEveryRecordALongOneIncluded) {
  testbed::FilterLayout layout;
  layout.longFilter = 0;
  layout.longSize = 200;
  ASSERT_EQ(21, testbed::WriteFilterRegistrations(layout));

  EXPECT_EQ(1, registrar_.AdjustFilterMerits());
  for (int n = 0; n < 21; ++n) {
    SCOPED_TRACE(n);
    DWORD type = 0;
    const std::vector<BYTE> record = FilterData(n, &type);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_EQ(n == 0 ? 200u : 64u, record.size());
    EXPECT_EQ(testbed::kProductFilters[n].updatedMerit, MeritOf(record));
    for (DWORD i = 0; i < record.size(); ++i) {
      if (i >= 4 && i < 8) continue;
      ASSERT_EQ(testbed::FilterRecordByte(n, i), record[i]) << "byte " << i;
    }
  }
  // Idempotent: the callers repeat it.
  EXPECT_EQ(1, registrar_.AdjustFilterMerits());
  EXPECT_EQ(0x200000u, MeritOf(FilterData(0)));
}

TEST_F(FilterMeritTest, AMissingFilterFailsItsListButEveryEntryIsStillWritten) {
  testbed::FilterLayout layout;
  layout.omit[FilterOfList(0, 0)] = true;
  ASSERT_EQ(20, testbed::WriteFilterRegistrations(layout));
  EXPECT_EQ(1, registrar_.AdjustFilterMerits());  // lists 2 to 4 succeeded
  EXPECT_EQ(0x200000u, MeritOf(FilterData(FilterOfList(0, 1))));
  EXPECT_EQ(0x5FFFFFu, MeritOf(FilterData(FilterOfList(3, 0))));
  EXPECT_TRUE(FilterData(FilterOfList(0, 0)).empty());  // not created

  // One filter missing from every list: no list is complete, yet the others
  // in each list still get their merit.
  testbed::RemoveFilterRegistrations();
  for (int l = 0; l < 4; ++l) layout.omit[FilterOfList(l, 0)] = true;
  ASSERT_EQ(17, testbed::WriteFilterRegistrations(layout));
  EXPECT_EQ(0, registrar_.AdjustFilterMerits());
  EXPECT_EQ(0x200000u, MeritOf(FilterData(FilterOfList(1, 3))));
  EXPECT_EQ(0x5FFFFFu, MeritOf(FilterData(FilterOfList(2, 1))));
}

TEST_F(FilterMeritTest, NoneRegisteredGivesZeroAndWritesNothing) {
  EXPECT_EQ(0, registrar_.AdjustFilterMerits());
  for (int n = 0; n < 21; ++n) {
    win32::RegKey key;
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, FilterKey(n).c_str(), 0, KEY_READ, key.put()))
        << n;
  }
}

TEST_F(FilterMeritTest, RecordsTooShortOrOfAnotherTypeStayUnchanged) {
  testbed::FilterLayout layout;
  layout.size = 7;  // one byte short of a merit
  ASSERT_EQ(21, testbed::WriteFilterRegistrations(layout));
  EXPECT_EQ(0, registrar_.AdjustFilterMerits());
  for (int n = 0; n < 21; ++n) {
    const std::vector<BYTE> record = FilterData(n);
    ASSERT_EQ(7u, record.size()) << n;
    for (DWORD i = 0; i < 7; ++i) EXPECT_EQ(testbed::FilterRecordByte(n, i), record[i]);
  }

  // A text where a record should be.
  const char text[] = "not a filter record at all";
  ASSERT_TRUE(vrtest::SetValue(FilterKey(0).c_str(), "FilterData", REG_SZ, text, sizeof text));
  EXPECT_EQ(0, registrar_.SetFilterMerit(0x200000, HKEY_LOCAL_MACHINE, FilterKey(0).c_str()));
  DWORD type = 0;
  EXPECT_EQ(sizeof text, FilterData(0, &type).size());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

// Every shape a "FilterData" value may have: only a binary record with room
// for the merit is rewritten, and then only in bytes 4 to 7; anything else
// is left byte for byte as it was.
TEST_F(FilterMeritTest, OnlyBinaryRecordsWithRoomForTheMeritAreRewritten) {
  const struct {
    const char* what;
    DWORD type;
    DWORD size;
    bool rewritten;
  } kCases[] = {
      {"empty", REG_BINARY, 0, false},
      {"just the merit", REG_BINARY, 8, true},
      {"4096 bytes", REG_BINARY, 4096, true},
      {"64 KB", REG_BINARY, 65536, true},
      {"eight-byte number", REG_QWORD, 8, false},
      {"number", REG_DWORD, 4, false},
      {"text list", REG_MULTI_SZ, 16, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> stored(c.size);
    for (DWORD i = 0; i < c.size; ++i) stored[i] = static_cast<BYTE>(i * 7 + 1);
    if (c.type == REG_MULTI_SZ) stored[c.size - 2] = stored[c.size - 1] = 0;
    ASSERT_TRUE(
        vrtest::SetValue(FilterKey(0).c_str(), "FilterData", c.type, stored.data(), c.size));
    EXPECT_EQ(c.rewritten ? 1 : 0,
              registrar_.SetFilterMerit(0x200000, HKEY_LOCAL_MACHINE, FilterKey(0).c_str()));
    std::vector<BYTE> expected = stored;
    if (c.rewritten) {
      expected[4] = 0x00, expected[5] = 0x00, expected[6] = 0x20, expected[7] = 0x00;
    }
    DWORD type = 0;
    win32::RegKey read;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, FilterKey(0).c_str(), 0, KEY_READ, read.put()));
    std::vector<BYTE> now(c.size + 16);
    DWORD size = static_cast<DWORD>(now.size());
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(read.get(), "FilterData", nullptr, &type, now.data(), &size));
    now.resize(size);
    EXPECT_EQ(c.type, type);
    EXPECT_TRUE(now == expected);
  }
}

class BinaryValueTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey); }
  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey); }
  ComponentRegistrar registrar_;
};

TEST_F(BinaryValueTest, SizeIsOneWhenItCannotBeLearned) {
  EXPECT_EQ(1u, registrar_.QueryBinaryValueSize("Data", kScratchKey, HKEY_LOCAL_MACHINE));
  const BYTE data[300] = {1, 2, 3};
  ASSERT_EQ(
      1, registrar_.WriteBinaryValue(data, sizeof data, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(300u, registrar_.QueryBinaryValueSize("Data", kScratchKey, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(1u, registrar_.QueryBinaryValueSize("Other", kScratchKey, HKEY_LOCAL_MACHINE));
}

TEST_F(BinaryValueTest, ReadsAndWritesOnlyBinaryValues) {
  BYTE buffer[16] = {};
  DWORD size = sizeof buffer;
  const BYTE data[5] = {9, 8, 7, 6, 5};
  EXPECT_EQ(0, registrar_.WriteBinaryValue(data, 0, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(0, registrar_.WriteBinaryValue(nullptr, 5, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(0, registrar_.ReadBinaryValue(buffer, &size, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  ASSERT_EQ(
      1, registrar_.WriteBinaryValue(data, sizeof data, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  ASSERT_EQ(1, registrar_.ReadBinaryValue(buffer, &size, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(5u, size);
  EXPECT_EQ(0, memcmp(data, buffer, sizeof data));
  size = 0;
  EXPECT_EQ(0, registrar_.ReadBinaryValue(buffer, &size, "Data", kScratchKey, HKEY_LOCAL_MACHINE));
  size = 2;  // too small for the value
  EXPECT_EQ(0, registrar_.ReadBinaryValue(buffer, &size, "Data", kScratchKey, HKEY_LOCAL_MACHINE));

  const DWORD number = 7;
  ASSERT_TRUE(vrtest::SetValue(kScratchKey, "Number", REG_DWORD, &number, sizeof number));
  size = sizeof buffer;
  EXPECT_EQ(0,
            registrar_.ReadBinaryValue(buffer, &size, "Number", kScratchKey, HKEY_LOCAL_MACHINE));
}

// Regsvr32.exe on the testbed's COM server, installed in a folder with blanks.
class RegisterServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA("C:\\rt", nullptr);
    CreateDirectoryA("C:\\rt\\Program Files", nullptr);
    CreateDirectoryA("C:\\rt\\Program Files\\Vr Com", nullptr);
    server_ = "C:\\rt\\Program Files\\Vr Com\\VrComServer.dll";
    ASSERT_TRUE(
        CopyFileA((vrtest::ExeFolder() + "VrComServer.dll").c_str(), server_.c_str(), FALSE));
    // The updater usually runs from a download folder: Regsvr32.exe must not
    // inherit it.
    ASSERT_TRUE(currentDirectory_.ChangeTo("C:\\rt\\Program Files"));
  }
  // The registered server path, or empty when the class is not registered.
  static std::string RegisteredPath() {
    return testbed::ReadText(testbed::kComServerInprocKey, "");
  }

  // The current directory of the server's last (un)registration.
  static std::string ServerDirectory() {
    return testbed::ReadText(testbed::kMarksKey, testbed::kComServerDirectoryValue);
  }
  // Regsvr32.exe's own folder, ending in a backslash.
  static std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\";
  }

  vrtest::SeamRecorder seams_;
  std::string server_;
  ComponentRegistrar registrar_;
  win32::ScopedCurrentDirectory currentDirectory_;
};

TEST_F(RegisterServerTest, RegistersAndUnregistersAServerWhosePathHasBlanks) {
  ASSERT_EQ("", RegisteredPath());

  EXPECT_EQ(1, registrar_.RegisterServer(server_.c_str(), 0));
  // The call returns once the tool has finished: the mark is there at once.
  EXPECT_EQ(server_, RegisteredPath());
  EXPECT_EQ(SystemFolder(), ServerDirectory());
  EXPECT_EQ(1u, testbed::ReadDword(testbed::kMarksKey, testbed::kComServerRegisteredValue, 0));
  ASSERT_FALSE(seams_.pauses.empty());
  EXPECT_EQ(10u, seams_.pauses.front());

  ASSERT_TRUE(testbed::WriteText(testbed::kMarksKey, testbed::kComServerDirectoryValue, ""));
  EXPECT_EQ(1, registrar_.RegisterServer(server_.c_str(), 1));
  EXPECT_EQ("", RegisteredPath());
  EXPECT_EQ(SystemFolder(), ServerDirectory());
  EXPECT_EQ(1u, testbed::ReadDword(testbed::kMarksKey, testbed::kComServerUnregisteredValue, 0));
  EXPECT_EQ(1u, testbed::ReadDword(testbed::kMarksKey, testbed::kComServerRegisteredValue, 0));
}

// Regsvr32.exe failing (a file that is no library) holds the pass up no
// longer than its bound, and registers nothing.
TEST_F(RegisterServerTest, FailingRegistrationEndsWithinItsBound) {
  const std::string broken = "C:\\rt\\Program Files\\Vr Com\\Broken.dll";
  win32::FileHandle file(CreateFileA(broken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  file.reset();
  const DWORD start = GetTickCount();
  registrar_.RegisterServer(broken.c_str(), 0);
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ("", RegisteredPath());
}

TEST_F(RegisterServerTest, NoPathStartsNothing) {
  EXPECT_EQ(0, registrar_.RegisterServer(nullptr, 0));
  EXPECT_TRUE(seams_.pauses.empty());
}

}  // namespace
