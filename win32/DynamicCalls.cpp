// The one file that sees the declarations of functions newer than the oldest
// Windows the updater supports: they type the table, nothing here calls them.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#include <windows.h>

#include <type_traits>

#include "win32/DynamicCalls.h"
#include "win32/Seams.h"

namespace win32 {
namespace {

#define VR_SAME_TYPE_AS_DECLARED(name) \
  static_assert(std::is_same_v<newer::name, decltype(&::name)>, #name)
VR_SAME_TYPE_AS_DECLARED(SetDllDirectoryA);
VR_SAME_TYPE_AS_DECLARED(SetDefaultDllDirectories);
VR_SAME_TYPE_AS_DECLARED(MoveFileExA);
VR_SAME_TYPE_AS_DECLARED(GetFileAttributesExA);
VR_SAME_TYPE_AS_DECLARED(IsWow64Process);
VR_SAME_TYPE_AS_DECLARED(Wow64DisableWow64FsRedirection);
VR_SAME_TYPE_AS_DECLARED(Wow64RevertWow64FsRedirection);
VR_SAME_TYPE_AS_DECLARED(ShutdownBlockReasonCreate);
VR_SAME_TYPE_AS_DECLARED(ShutdownBlockReasonDestroy);
VR_SAME_TYPE_AS_DECLARED(InitializeSecurityDescriptor);
VR_SAME_TYPE_AS_DECLARED(SetSecurityDescriptorDacl);
VR_SAME_TYPE_AS_DECLARED(SetSecurityDescriptorOwner);
VR_SAME_TYPE_AS_DECLARED(SetSecurityDescriptorControl);
VR_SAME_TYPE_AS_DECLARED(InitializeAcl);
VR_SAME_TYPE_AS_DECLARED(AddAccessAllowedAce);
VR_SAME_TYPE_AS_DECLARED(AllocateAndInitializeSid);
VR_SAME_TYPE_AS_DECLARED(FreeSid);
VR_SAME_TYPE_AS_DECLARED(GetLengthSid);
VR_SAME_TYPE_AS_DECLARED(RegSetKeySecurity);
#undef VR_SAME_TYPE_AS_DECLARED
static_assert(kSearchSystem32Only == LOAD_LIBRARY_SEARCH_SYSTEM32);

int g_redirectionOffSpans = 0;
const Kernel32Calls* g_testCalls = nullptr;

}  // namespace

Module LoadLibraryFile(const char* path, DWORD flags) {
  if (!path || !*path) return Module();
  // Once the process's default directories are the system folder alone
  // (Windows with SetDefaultDllDirectories), which folders the altered
  // search path still looks in is not documented; the search flags of those
  // systems name the library's own folder and the system folder outright.
  if (flags == LOAD_WITH_ALTERED_SEARCH_PATH && Kernel32().SetDefaultDllDirectories)
    flags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
  seams::LibraryLoading(path, g_redirectionOffSpans > 0);
  return Module(LoadLibraryExA(path, nullptr, flags));
}

void EnterRedirectionOffSpan() { ++g_redirectionOffSpans; }
void LeaveRedirectionOffSpan() {
  if (g_redirectionOffSpans > 0) --g_redirectionOffSpans;
}
bool InRedirectionOffSpan() { return g_redirectionOffSpans > 0; }
int SuspendRedirectionOffSpans() {
  const int spans = g_redirectionOffSpans;
  g_redirectionOffSpans = 0;
  return spans;
}
void ResumeRedirectionOffSpans(int spans) { g_redirectionOffSpans = spans; }

const Kernel32Calls& Kernel32() {
  if (g_testCalls) return *g_testCalls;
  // kernel32 is in every process and never unloaded: its module handle is
  // used as it is, without a reference of our own.
  static const Kernel32Calls calls = [] {
    Kernel32Calls c = {};
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    BindExport(kernel, "SetDllDirectoryA", &c.SetDllDirectoryA);
    BindExport(kernel, "SetDefaultDllDirectories", &c.SetDefaultDllDirectories);
    BindExport(kernel, "MoveFileExA", &c.MoveFileExA);
    BindExport(kernel, "GetFileAttributesExA", &c.GetFileAttributesExA);
    return c;
  }();
  return calls;
}

void SetKernel32CallsForTest(const Kernel32Calls* calls) { g_testCalls = calls; }

const Advapi32Calls& Advapi32() {
  // Imported by the updater, so loaded for the life of the process.
  static const Advapi32Calls calls = [] {
    Advapi32Calls c = {};
    const HMODULE advapi = GetModuleHandleA("advapi32.dll");
    BindExport(advapi, "InitializeSecurityDescriptor", &c.InitializeSecurityDescriptor);
    BindExport(advapi, "SetSecurityDescriptorDacl", &c.SetSecurityDescriptorDacl);
    BindExport(advapi, "SetSecurityDescriptorOwner", &c.SetSecurityDescriptorOwner);
    BindExport(advapi, "SetSecurityDescriptorControl", &c.SetSecurityDescriptorControl);
    BindExport(advapi, "InitializeAcl", &c.InitializeAcl);
    BindExport(advapi, "AddAccessAllowedAce", &c.AddAccessAllowedAce);
    BindExport(advapi, "AllocateAndInitializeSid", &c.AllocateAndInitializeSid);
    BindExport(advapi, "FreeSid", &c.FreeSid);
    BindExport(advapi, "GetLengthSid", &c.GetLengthSid);
    BindExport(advapi, "RegSetKeySecurity", &c.RegSetKeySecurity);
    return c;
  }();
  return calls;
}

}  // namespace win32
