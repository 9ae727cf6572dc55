// Filter merits rewritten in the testbed's filter registrations, the binary
// value helpers, and COM registration through the system's Regsvr32.exe with
// the testbed's COM server.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "support/Files.h"
#include "support/ImportPatch.h"
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
  std::string data;
  if (!vrtest::ReadValue(FilterKey(n).c_str(), "FilterData", &data, type)) return {};
  return std::vector<BYTE>(data.begin(), data.end());
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
  for (int n = 0; n < 21; ++n) EXPECT_FALSE(vrtest::KeyExists(FilterKey(n).c_str())) << n;
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
    EXPECT_TRUE(FilterData(0, &type) == expected);
    EXPECT_EQ(c.type, type);
  }
}

// The binary value helpers on a scratch key of the test's own.
class BinaryValueTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey); }
  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey); }
  int32_t Write(const BYTE* data, DWORD size) {
    return registrar_.WriteBinaryValue(data, size, "Data", kScratchKey, HKEY_LOCAL_MACHINE);
  }
  int32_t Read(BYTE* buffer, DWORD size, const char* name = "Data") {
    size_ = size;
    return registrar_.ReadBinaryValue(buffer, &size_, name, kScratchKey, HKEY_LOCAL_MACHINE);
  }
  DWORD SizeOf(const char* name) {
    return registrar_.QueryBinaryValueSize(name, kScratchKey, HKEY_LOCAL_MACHINE);
  }
  ComponentRegistrar registrar_;
  DWORD size_ = 0;  // as the last read left it
};

TEST_F(BinaryValueTest, SizeIsOneWhenItCannotBeLearned) {
  EXPECT_EQ(1u, SizeOf("Data"));
  const BYTE data[300] = {1, 2, 3};
  ASSERT_EQ(1, Write(data, sizeof data));
  EXPECT_EQ(300u, SizeOf("Data"));
  EXPECT_EQ(1u, SizeOf("Other"));
}

TEST_F(BinaryValueTest, ReadsAndWritesOnlyBinaryValues) {
  BYTE buffer[16] = {};
  const BYTE data[5] = {9, 8, 7, 6, 5};
  EXPECT_EQ(0, Write(data, 0));
  EXPECT_EQ(0, Write(nullptr, 5));
  EXPECT_EQ(0, Read(buffer, sizeof buffer));
  ASSERT_EQ(1, Write(data, sizeof data));
  ASSERT_EQ(1, Read(buffer, sizeof buffer));
  EXPECT_EQ(5u, size_);
  EXPECT_EQ(0, memcmp(data, buffer, sizeof data));
  EXPECT_EQ(0, Read(buffer, 0));
  EXPECT_EQ(0, Read(buffer, 2));  // too small for the value
  const DWORD number = 7;
  ASSERT_TRUE(vrtest::SetValue(kScratchKey, "Number", REG_DWORD, &number, sizeof number));
  EXPECT_EQ(0, Read(buffer, sizeof buffer, "Number"));
}

// Regsvr32.exe on the testbed's COM server, installed in a folder with blanks.
class RegisterServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vrtest::CopyFromExeFolder("VrComServer.dll", "C:\\rt\\Program Files\\Vr Com\\"));
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

  vrtest::SeamRecorder seams_;
  const std::string server_ = "C:\\rt\\Program Files\\Vr Com\\VrComServer.dll";
  ComponentRegistrar registrar_;
  win32::ScopedCurrentDirectory currentDirectory_;
};

TEST_F(RegisterServerTest, RegistersAndUnregistersAServerWhosePathHasBlanks) {
  ASSERT_EQ("", RegisteredPath());
  // The first pause comes before the tool has run (nothing registered yet).
  seams_.notePause = [] { return RegisteredPath().empty() ? '-' : 'r'; };
  EXPECT_EQ(1, registrar_.RegisterServer(server_.c_str(), 0));
  // The call returns once the tool has finished: the mark is there at once.
  EXPECT_EQ(server_, RegisteredPath());
  EXPECT_EQ(vrtest::SystemFolder(), ServerDirectory());
  EXPECT_EQ(1u, testbed::ReadDword(testbed::kMarksKey, testbed::kComServerRegisteredValue, 0));
  ASSERT_FALSE(seams_.pauseNotes.empty());
  EXPECT_EQ('-', seams_.pauseNotes[0]);

  ASSERT_TRUE(testbed::WriteText(testbed::kMarksKey, testbed::kComServerDirectoryValue, ""));
  EXPECT_EQ(1, registrar_.RegisterServer(server_.c_str(), 1));
  EXPECT_EQ("", RegisteredPath());
  EXPECT_EQ(vrtest::SystemFolder(), ServerDirectory());
  EXPECT_EQ(1u, testbed::ReadDword(testbed::kMarksKey, testbed::kComServerUnregisteredValue, 0));
  EXPECT_EQ(1u, testbed::ReadDword(testbed::kMarksKey, testbed::kComServerRegisteredValue, 0));
}

// Regsvr32.exe failing (a file that is no library) holds the pass up no
// longer than its bound, and registers nothing: a short pause before the
// tool starts (shorter than any wait after it), the settling wait and at
// most 20 polls, all of it within 500 + 20 x 100 ms, whatever the machine's
// speed.
TEST_F(RegisterServerTest, FailingRegistrationEndsWithinItsBound) {
  const std::string broken = "C:\\rt\\Program Files\\Vr Com\\Broken.dll";
  ASSERT_TRUE(vrtest::WriteWholeFile(broken, ""));
  vrtest::WaitRecorder waits;
  ASSERT_TRUE(waits.active());
  EXPECT_EQ(1, registrar_.RegisterServer(broken.c_str(), 0));
  ASSERT_FALSE(seams_.pauses.empty());
  std::vector<DWORD> asked(seams_.pauses.begin() + 1, seams_.pauses.end());
  for (const vrtest::Wait& wait : waits.Begun()) asked.push_back(wait.timeoutMs);
  ASSERT_FALSE(asked.empty());
  EXPECT_LE(asked.size(), 21u);
  DWORD total = 0;
  for (DWORD ms : asked) {
    total += ms;
    EXPECT_LT(seams_.pauses.front(), ms);
  }
  EXPECT_LE(total + seams_.pauses.front(), 2500u);
  EXPECT_EQ("", RegisteredPath());
}

TEST_F(RegisterServerTest, NoPathStartsNothing) {
  EXPECT_EQ(0, registrar_.RegisterServer(nullptr, 0));
  EXPECT_TRUE(seams_.pauses.empty());
}

}  // namespace
