// The three passes of an update run (unregister, install, register) with the
// update's own list and store over an installed product. Pauses are recorded
// instead of slept and message boxes are answered by the test; everything
// else is the real thing on the prefix's file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/Environment.h"
#include "support/IntegrationSupport.h"
#include "support/RecordingPort.h"
#include "updatelist/UpdateList.h"

using namespace vrtest;

namespace {

// The status lines and the last count of the reports since `from`.
std::vector<std::string> StatusTexts(const RecordingPort& port, size_t from) {
  std::vector<std::string> texts;
  for (size_t i = from; i < port.reports.size(); ++i)
    if (port.reports[i].hasText) texts.push_back(port.reports[i].text);
  return texts;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One file as it lies on disk: its bytes and its last-write time.
struct FileState {
  std::string bytes;
  FILETIME write = {};
};

// A file's three times (zero where they could not be read).
struct FileStamps {
  FILETIME creation = {}, access = {}, write = {};
};

class RealListPasses : public RealStoreTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RealStoreTest::SetUp());
    expected_ = ExpectedFiles();
    ASSERT_FALSE(expected_.empty());
    const Installation& in = Installed();
    folders_ = {in.program, in.program + "Doc\\", in.program + "virtualQuirra\\",
                in.common,  in.edition,           in.shared};
  }

  // Every file of the product's folders and of the real system drivers
  // folder, by full path as a 32-bit process names it.
  std::map<std::string, FileState> Snapshot() {
    std::map<std::string, FileState> files;
    auto add = [&](const std::string& folder) {
      for (const std::string& name : FilesIn(folder)) {
        FileState state;
        const std::string path = folder + name;
        FileTimes(path, nullptr, nullptr, &state.write);
        ReadWholeFile(path, &state.bytes);
        files[path] = state;
      }
    };
    for (const std::string& folder : folders_) add(folder);
    testbed::RedirectionOff real(Installed().win64);
    add(Installed().drivers);
    return files;
  }

  // Every applicable target exists and is older than the update, so the
  // install pass must replace it: the targets and how many files name them.
  void CheckTargetsInstalledAndOlder(std::set<std::string>* applicable, int* applicableFiles) {
    for (const ListFile& file : expected_) {
      if (!file.applies) continue;
      ++*applicableFiles;
      applicable->insert(file.target);
      testbed::RedirectionOff real(file.redirectionOff);
      FILETIME write;
      ASSERT_TRUE(FileTimes(file.target, nullptr, nullptr, &write))
          << "not installed: " << file.target;
      ASSERT_LT(CompareFileTime(&write, &file.time), 0) << file.target;
    }
  }

  // The times of every applicable target, by target.
  std::map<std::string, FileStamps> TargetTimes() {
    std::map<std::string, FileStamps> times;
    for (const ListFile& file : expected_) {
      if (!file.applies) continue;
      testbed::RedirectionOff real(file.redirectionOff);
      FileStamps& t = times[file.target];
      FileTimes(file.target, &t.creation, &t.access, &t.write);
    }
    return times;
  }

  // One status line per file, naming the file, in list order.
  void CheckStatusLines(const std::vector<std::string>& statusTexts, int applicableFiles) {
    ASSERT_EQ(static_cast<size_t>(applicableFiles), statusTexts.size());
    size_t line = 0;
    for (const ListFile& file : expected_) {
      if (!file.applies) continue;
      const std::string& text = statusTexts[line++];
      EXPECT_TRUE(text.size() >= file.target.size() &&
                  text.compare(text.size() - file.target.size(), std::string::npos, file.target) ==
                      0)
          << text;
    }
  }

  // Each applicable target holds its payload and the list's time, as the
  // install pass left it (afterInstall) and after the registration pass.
  void CheckInstalledFiles(std::map<std::string, FileStamps> afterInstall) {
    for (const ListFile& file : expected_) {
      if (!file.applies) continue;
      SCOPED_TRACE(file.target);
      const FileStamps& t = afterInstall[file.target];
      EXPECT_TRUE(SameTime(file.time, t.creation)) << TimeText(t.creation);
      EXPECT_TRUE(SameTime(file.time, t.access)) << TimeText(t.access);
      EXPECT_TRUE(SameTime(file.time, t.write)) << TimeText(t.write);
      std::string payload, onDisk;
      ASSERT_TRUE(ReadWholeFile(file.source, &payload)) << file.source;
      testbed::RedirectionOff real(file.redirectionOff);
      FILETIME c, w;
      ASSERT_TRUE(FileTimes(file.target, &c, nullptr, &w));
      EXPECT_TRUE(SameTime(file.time, c) && SameTime(file.time, w)) << "after registration";
      ASSERT_TRUE(ReadWholeFile(file.target, &onDisk));
      EXPECT_EQ(payload.size(), onDisk.size());
      EXPECT_TRUE(payload == onDisk) << "content differs from " << file.source;
    }
  }

  // The skipped groups share their targets with the applied twin of the
  // other bitness: those hold the twin's payload, never the skipped one's.
  void CheckSkippedPayloadsAbsent() {
    for (const ListFile& file : expected_) {
      if (file.applies) continue;
      SCOPED_TRACE(file.source);
      std::string skipped, onDisk;
      ASSERT_TRUE(ReadWholeFile(file.source, &skipped));
      testbed::RedirectionOff real(file.redirectionOff);
      ASSERT_TRUE(ReadWholeFile(file.target, &onDisk));
      EXPECT_FALSE(skipped == onDisk) << file.target << " holds the skipped group's payload";
    }
  }

  // No box is expected; one that appears anyway is declined and reported.
  SeamRecorder seams_{IDNO};
  std::vector<ListFile> expected_;
  std::vector<std::string> folders_;
};

// Nothing but the applicable targets changed in the snapshot's folders, and
// no temporary copy was left.
void CheckOthersUnchanged(const std::map<std::string, FileState>& before,
                          const std::map<std::string, FileState>& after,
                          const std::set<std::string>& applicable) {
  for (const auto& entry : after) {
    if (applicable.count(entry.first)) continue;
    auto old = before.find(entry.first);
    EXPECT_TRUE(old != before.end()) << "new file: " << entry.first;
    if (old == before.end()) continue;
    EXPECT_TRUE(old->second.bytes == entry.second.bytes) << "changed: " << entry.first;
    EXPECT_TRUE(SameTime(old->second.write, entry.second.write)) << "re-stamped: " << entry.first;
  }
  for (const auto& entry : before)
    EXPECT_TRUE(after.count(entry.first)) << "removed: " << entry.first;
}

// Each replaced file is paced by two short pauses; none had to wait. The
// pass's time and what its pauses would sleep go to the test's record.
void CheckInstallPauses(const std::vector<DWORD>& installPauses, int32_t installed, double took) {
  EXPECT_EQ(std::vector<DWORD>(2 * installed, 100), installPauses);
  DWORD pausedMs = 0;
  for (DWORD ms : installPauses) pausedMs += ms;
  printf(
      "install pass: %d files in %.3f s with pauses recorded; its %zu pauses would sleep "
      "%.3f s\n",
      installed, took, installPauses.size(), pausedMs / 1000.0);
  testing::Test::RecordProperty("install_seconds", static_cast<int>(took * 1000));
  testing::Test::RecordProperty("paused_ms", static_cast<int>(pausedMs));
}

TEST_F(RealListPasses, InstallEveryApplicableFileWithItsTimeAndLeaveTheRestAlone) {
  const Installation& in = Installed();
  // The product as the installer left it.
  std::set<std::string> applicable;
  int applicableFiles = 0;
  ASSERT_NO_FATAL_FAILURE(CheckTargetsInstalledAndOlder(&applicable, &applicableFiles));
  // This Windows skips the groups of the other bitness.
  ASSERT_GT(applicableFiles, 0);
  ASSERT_LT(applicableFiles, TotalFiles());
  const std::map<std::string, FileState> before = Snapshot();
  const std::string wowDriver = "C:\\windows\\syswow64\\drivers\\cdrvrdrv.sys";
  if (in.win64) {
    testbed::RedirectionOff real(true);
    ASSERT_FALSE(Exists(wowDriver)) << "the installer left a 32-bit driver copy";
  }

  vrtest::DetectedList list;
  ASSERT_EQ(TotalFiles(), list.LoadList());
  RecordingPort port;
  const int32_t total = list.CountApplicableFiles();
  EXPECT_EQ(applicableFiles, total);
  // The list flags no COM server: both registration passes run nothing.
  EXPECT_EQ(0, list.RegisterAll(RegistrationPass::Unregister, &port, total, 121));

  seams_.pauses.clear();
  const size_t firstReport = port.reports.size();
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  const int32_t installed = list.InstallAll(&port, total);
  QueryPerformanceCounter(&end);
  const std::vector<DWORD> installPauses = seams_.pauses;
  const int32_t lastDone = port.reports.empty() ? -1 : port.reports.back().done;
  const std::vector<std::string> statusTexts = StatusTexts(port, firstReport);
  // The times right after the install pass: the registration pass reads the
  // key file's version, which may move its last-access time.
  const std::map<std::string, FileStamps> afterInstall = TargetTimes();

  EXPECT_EQ(0, list.RegisterAll(RegistrationPass::Register, &port, total, 121));

  EXPECT_EQ(applicableFiles, installed);
  EXPECT_EQ(0, list.failedFiles());
  EXPECT_TRUE(seams_.boxes.empty())
      << seams_.boxes.size() << " message box(es), first: " << seams_.boxes[0].text;
  EXPECT_EQ(applicableFiles, lastDone);
  ASSERT_NO_FATAL_FAILURE(CheckStatusLines(statusTexts, applicableFiles));
  ASSERT_NO_FATAL_FAILURE(CheckInstalledFiles(afterInstall));
  ASSERT_NO_FATAL_FAILURE(CheckSkippedPayloadsAbsent());
  if (in.win64) {
    // The driver went to the real 64-bit system folder, not the 32-bit one.
    testbed::RedirectionOff real(true);
    EXPECT_FALSE(Exists(wowDriver));
  }
  CheckOthersUnchanged(before, Snapshot(), applicable);
  CheckInstallPauses(installPauses, installed, Seconds(start, end));
}

}  // namespace
