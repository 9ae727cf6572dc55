// Platform probes on Wine itself: the running Windows, WOW64 redirection and
// the file probes, including a file that another process holds open.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/UpdaterApp.h"
#include "support/FileHolder.h"
#include "support/Files.h"
#include "win32/DynamicCalls.h"
#include "win32/MessagePump.h"
#include "win32/Platform.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

using vrtest::MakeTempFolder;
using vrtest::WriteWholeFile;

// --- the running Windows -------------------------------------------------

TEST(RunningWindows, ClassifiedAsTheRunExpects) {
  OsVersionInfo os;
  const int32_t detected = os.DetectOsVersion();
  const OSVERSIONINFOEXA& r = os.record();
  printf(
      "Wine reports platform %lu, version %lu.%lu, build %lu (low word %lu), suite 0x%x, "
      "product type %u, record %lu bytes -> detected %d, code %d, class %d\n",
      r.dwPlatformId, r.dwMajorVersion, r.dwMinorVersion, r.dwBuildNumber, r.dwBuildNumber & 0xFFFF,
      r.wSuiteMask, r.wProductType, r.dwOSVersionInfoSize, detected, os.code(),
      static_cast<int>(os.GetOsClass()));
  EXPECT_EQ(r.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0, IsNtPlatform());
  // The extended record is asked for on NT 5.0 and later only: NT 4.0 before
  // SP6 refuses it (Wine does not).
  EXPECT_EQ(r.dwPlatformId == VER_PLATFORM_WIN32_NT && r.dwMajorVersion >= 5
                ? sizeof(OSVERSIONINFOEXA)
                : sizeof(OSVERSIONINFOA),
            r.dwOSVersionInfoSize);
  if (detected) {
    EXPECT_EQ(OsClassOfCode(os.code()), os.GetOsClass());
  }

  const char* expect = strstr(GetCommandLineA(), "--expect-os=");
  if (!expect) return;  // the plain run only checks consistency
  int code = -1, osClass = -1;
  ASSERT_EQ(2, sscanf(expect, "--expect-os=%d:%d", &code, &osClass));
  EXPECT_EQ(1, detected);
  EXPECT_EQ(code, os.code());
  EXPECT_EQ(osClass, static_cast<int>(os.GetOsClass()));
}

// --- WOW64 redirection ---------------------------------------------------

TEST(Wow64FsGuard, SwitchesRedirectionOffAndBackOn) {
  Wow64FsGuard probe;
  ASSERT_NE(nullptr, probe.Bind("kernel32.dll"));  // Wine's kernel32 has both
  BOOL wow64 = TRUE;
  ASSERT_TRUE(probe.IsWow64(GetCurrentProcess(), &wow64));
  EXPECT_EQ(vrtest::Is64BitWindows() && !kSixtyFourBitProcess, wow64 != FALSE);
  EXPECT_EQ(vrtest::Is64BitWindows(), RunningOn64BitWindows());
  if (kSixtyFourBitProcess) {
    // Never redirected: "off" succeeds, changes nothing and is never undone
    // behind the process's back.
    const char* real = "C:\\windows\\system32\\vr_only64.txt";
    ASSERT_TRUE(WriteWholeFile(real, "x"));
    EXPECT_TRUE(probe.EnableRedirection(FALSE));
    EXPECT_EQ(1, FileExists(real));
    {
      ScopedRedirectionOff off(true);
      EXPECT_EQ(1, FileExists(real));
      EXPECT_EQ(0, FileExists("C:\\windows\\syswow64\\vr_only64.txt"));
    }
    EXPECT_TRUE(probe.EnableRedirection(TRUE));
    DeleteFileA(real);
    return;
  }
  if (!wow64) {
    // No WOW64, no redirection: the switch fails and changes nothing.
    EXPECT_FALSE(probe.EnableRedirection(FALSE));
    ScopedRedirectionOff off(true);
    EXPECT_EQ(1, FileExists("C:\\windows\\system32\\kernel32.dll"));
    return;
  }
  // A file only in the real 64-bit system folder.
  const char* real = "C:\\windows\\sysnative\\vr_only64.txt";
  const char* seen = "C:\\windows\\system32\\vr_only64.txt";
  ASSERT_TRUE(WriteWholeFile(real, "x"));
  EXPECT_EQ(0, FileExists(seen));
  {
    Wow64FsGuard guard;
    ASSERT_TRUE(guard.Bind("kernel32.dll"));
    ASSERT_TRUE(guard.EnableRedirection(FALSE));
    EXPECT_EQ(1, FileExists(seen));
    // Destroyed while off: it must switch redirection on again.
  }
  EXPECT_EQ(0, FileExists(seen));
  {
    ScopedRedirectionOff off(true);
    EXPECT_EQ(1, FileExists(seen));
    ScopedRedirectionOff notOff(false);
    EXPECT_EQ(1, FileExists(seen));
  }
  EXPECT_EQ(0, FileExists(seen));
  {
    // Off twice is off once: one switch on gives the redirection back.
    Wow64FsGuard guard;
    ASSERT_TRUE(guard.Bind("kernel32.dll"));
    EXPECT_TRUE(guard.EnableRedirection(TRUE));  // nothing switched off yet
    EXPECT_EQ(0, FileExists(seen));
    EXPECT_TRUE(guard.EnableRedirection(FALSE));
    EXPECT_TRUE(guard.EnableRedirection(FALSE));
    EXPECT_EQ(1, FileExists(seen));
    EXPECT_TRUE(guard.EnableRedirection(TRUE));
    EXPECT_EQ(0, FileExists(seen));
  }
  {
    Wow64FsGuard guard;
    guard.Bind("kernel32.dll");
    guard.EnableRedirection(FALSE);
    // Binding again first gives back what this guard switched off.
    guard.Bind("kernel32.dll");
    EXPECT_EQ(0, FileExists(seen));
  }
  DeleteFileA(real);
}

// Inside a span with redirection off no message is taken (a window
// procedure could load a library), and a message box, which runs a loop of
// its own, gets redirection as it was before every span.
bool g_boxSawSpan = true;
int g_boxSawReal = -1;
const char kOnlyReal[] = "C:\\windows\\sysnative\\vr_only64.txt";
const char kSeenAsReal[] = "C:\\windows\\system32\\vr_only64.txt";
int ProbeBox(HWND, const char*, const char*, UINT) {
  g_boxSawSpan = win32::InRedirectionOffSpan();
  g_boxSawReal = FileExists(kSeenAsReal);
  return IDOK;
}

TEST(Wow64FsGuard, NoMessageIsTakenWithRedirectionOffAndABoxHasItBackOn) {
  const bool wow64 = vrtest::Is64BitWindows() && !kSixtyFourBitProcess;
  if (wow64) {
    ASSERT_TRUE(WriteWholeFile(kOnlyReal, "x"));
  }
  // A message of the thread (no window: this test has no display).
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 5, 0, 0));
  seams::SetMessageBoxHook(ProbeBox);
  {
    ScopedRedirectionOff outer(true);
    ScopedRedirectionOff inner(true);
    EXPECT_FALSE(win32::HandleOneMessage());
    win32::WaitPumping(nullptr, 30);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 5, WM_USER + 5, PM_NOREMOVE));
    EXPECT_EQ(IDOK, seams::ShowMessage(nullptr, "", "", MB_OK));
    EXPECT_FALSE(g_boxSawSpan);
    EXPECT_TRUE(win32::InRedirectionOffSpan());
    if (wow64) {
      EXPECT_EQ(0, g_boxSawReal) << "the box ran with redirection off";
      EXPECT_EQ(1, FileExists(kSeenAsReal)) << "redirection not off again after the box";
    }
  }
  seams::SetMessageBoxHook(nullptr);
  EXPECT_TRUE(win32::HandleOneMessage());
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 5, WM_USER + 5, PM_NOREMOVE));
  if (wow64) DeleteFileA(kOnlyReal);
}

TEST(Wow64FsGuard, BindsAllOrNothingAndKeepsTheCurrentDirectory) {
  char before[MAX_PATH] = {}, after[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof before, before);
  Wow64FsGuard guard;
  EXPECT_NE(nullptr, guard.Bind((vrtest::SystemFolder() + "kernel32.dll").c_str()));
  GetCurrentDirectoryA(sizeof after, after);
  EXPECT_STREQ(before, after);
  // A library without the two exports leaves the guard unbound.
  EXPECT_EQ(nullptr, guard.Bind((vrtest::SystemFolder() + "version.dll").c_str()));
  EXPECT_FALSE(guard.bound());
  BOOL wow64 = 7;
  EXPECT_FALSE(guard.IsWow64(GetCurrentProcess(), &wow64));
  EXPECT_EQ(7, wow64);
  // Unbound, it switches nothing; a 64-bit process has nothing to switch.
  EXPECT_EQ(kSixtyFourBitProcess, guard.EnableRedirection(FALSE) != FALSE);
  EXPECT_EQ(nullptr, guard.Bind(nullptr));
  EXPECT_EQ(nullptr, guard.Bind("C:\\no\\such\\library.dll"));
  GetCurrentDirectoryA(sizeof after, after);
  EXPECT_STREQ(before, after);
}

// --- functions bound at run time ----------------------------------------

std::vector<std::string> g_hardening;
BOOL WINAPI RecordSetDllDirectory(LPCSTR path) {
  g_hardening.push_back(std::string("SetDllDirectoryA(\"") + path + "\")");
  return TRUE;
}
BOOL WINAPI RecordSetDefaultDllDirectories(DWORD flags) {
  g_hardening.push_back("SetDefaultDllDirectories(" + std::to_string(flags) + ")");
  return TRUE;
}

TEST(DynamicCalls, LibrarySearchIsHardenedWithWhatWindowsHas) {
  // Wine exports them all, whatever Windows version it reports.
  const win32::Kernel32Calls& real = win32::Kernel32();
  EXPECT_TRUE(real.SetDllDirectoryA && real.SetDefaultDllDirectories && real.MoveFileExA);

  const win32::Kernel32Calls both = {RecordSetDllDirectory, RecordSetDefaultDllDirectories,
                                     nullptr};
  const win32::Kernel32Calls older = {RecordSetDllDirectory, nullptr, nullptr};  // XP SP1 to 7
  const win32::Kernel32Calls none = {};                                          // NT 4.0, 9x
  struct {
    const win32::Kernel32Calls* calls;
    std::vector<std::string> expected;
  } const cases[] = {
      {&both, {"SetDllDirectoryA(\"\")", "SetDefaultDllDirectories(2048)"}},
      {&older, {"SetDllDirectoryA(\"\")"}},
      {&none, {}},
  };
  for (const auto& c : cases) {
    g_hardening.clear();
    win32::SetKernel32CallsForTest(c.calls);
    HardenLibrarySearch();
    win32::SetKernel32CallsForTest(nullptr);
    EXPECT_EQ(c.expected, g_hardening);
  }
}

// --- file and disk probes ------------------------------------------------

TEST(FileProbes, ExistenceAndSize) {
  const std::string folder = MakeTempFolder("vrprobe");
  const std::string file = folder + "five.txt";
  ASSERT_TRUE(WriteWholeFile(file, "12345"));
  EXPECT_EQ(1, FileExists(file.c_str()));
  EXPECT_EQ(0, FileExists(folder.c_str()));
  EXPECT_EQ(0, FileExists((folder + "missing").c_str()));
  EXPECT_EQ(0, FileExists(nullptr));
  EXPECT_EQ(5u, GetFileSize32(file.c_str()));
  EXPECT_EQ(0u, GetFileSize32((folder + "missing").c_str()));
  EXPECT_EQ(0u, GetFileSize32(nullptr));

  // 5 GiB + 123 bytes (sparse): only the low 32 bits are reported.
  const std::string big = folder + "big.bin";
  {
    win32::FileHandle h(
        CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(h);
    LARGE_INTEGER size;
    size.QuadPart = 5LL * 1024 * 1024 * 1024 + 123;
    ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h.get()));
  }
  EXPECT_EQ(0x40000000u + 123u, GetFileSize32(big.c_str()));
  DeleteFileA(big.c_str());
  DeleteFileA(file.c_str());
}

TEST(FileProbes, LockedTimesAndAFileHeldByAnotherProcess) {
  const std::string folder = MakeTempFolder("vrlock");
  const std::string file = folder + "held.txt";
  ASSERT_TRUE(WriteWholeFile(file, "held"));
  EXPECT_EQ(0, IsFileLocked(file.c_str()));
  EXPECT_EQ(0, IsFileLocked(folder.c_str()));
  EXPECT_EQ(0, IsFileLocked((folder + "missing").c_str()));

  FILETIME time;
  time.dwLowDateTime = 3252985344u;  // 22 December 2011, 01:41:00 UTC
  time.dwHighDateTime = 30195786u;
  ASSERT_EQ(1, SetFileTimes(file.c_str(), &time));
  FILETIME creation = {}, access = {}, write = {};
  ASSERT_EQ(1, GetFileTimes(file.c_str(), &creation, &access, &write));
  EXPECT_EQ(0, CompareFileTime(&time, &write));
  EXPECT_EQ(0, CompareFileTime(&time, &creation));
  EXPECT_EQ(0, SetFileTimes(nullptr, &time));
  EXPECT_EQ(0, SetFileTimes(file.c_str(), nullptr));
  EXPECT_EQ(0, GetFileTimes(nullptr, &creation, &access, &write));

  {
    vrtest::FileHolder held(file);
    ASSERT_TRUE(held.holding());
    EXPECT_EQ(1, IsFileLocked(file.c_str()));
    // Even reading the times fails while another process holds the file.
    EXPECT_EQ(0, GetFileTimes(file.c_str(), &creation, &access, &write));
    EXPECT_EQ(0, SetFileTimes(file.c_str(), &time));
    // Opening without access rights is no conflict: the size is still read.
    EXPECT_EQ(4u, GetFileSize32(file.c_str()));
  }
  EXPECT_EQ(0, IsFileLocked(file.c_str()));
  DeleteFileA(file.c_str());
}

TEST(FileProbes, DiskFree) {
  int32_t ok = -1;
  EXPECT_GT(GetDiskFree("C:\\", &ok), 0.0);
  EXPECT_EQ(1, ok);
  EXPECT_EQ(0.0, GetDiskFree("Q:\\no\\such\\drive\\", &ok));
  EXPECT_EQ(0, ok);
  EXPECT_EQ(0.0, GetDiskFree(nullptr, &ok));
  EXPECT_EQ(0, ok);
}

TEST(FileProbes, AppendCharIfMissing) {
  char text[8] = "C:\\a";
  EXPECT_EQ(1, AppendCharIfMissing(text, sizeof text, '\\'));
  EXPECT_STREQ("C:\\a\\", text);
  EXPECT_EQ(1, AppendCharIfMissing(text, sizeof text, '\\'));
  EXPECT_STREQ("C:\\a\\", text);
  char empty[4] = "";
  EXPECT_EQ(1, AppendCharIfMissing(empty, sizeof empty, '\\'));
  EXPECT_STREQ("\\", empty);
  // 表 is 0x95 0x5C in code page 932: its second byte is no backslash.
  char kanji[8] = "C:\x95\x5c";
  ASSERT_EQ(932u, GetACP());
  EXPECT_EQ(1, AppendCharIfMissing(kanji, sizeof kanji, '\\'));
  EXPECT_STREQ("C:\x95\x5c\\", kanji);
  char full[4] = "abc";
  EXPECT_EQ(0, AppendCharIfMissing(full, sizeof full, '\\'));
  EXPECT_STREQ("abc", full);
  EXPECT_EQ(0, AppendCharIfMissing(nullptr, 4, '\\'));
}

}  // namespace
