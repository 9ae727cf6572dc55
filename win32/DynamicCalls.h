// Run-time binding, written one way for every library the updater binds
// (LZ32.DLL, version.dll, the product's control and sound-effect libraries,
// kernel32's newer functions): a win32::Module owns the library, and each
// wanted export lands in a typed pointer through BindExport. Every library
// is loaded through LoadLibraryFile, which keeps loads out of spans with
// WOW64 redirection off (a load there would come from the 64-bit system
// folder) and lets tests watch them.
//
// The updater is compiled for the oldest Windows it starts on, so functions
// newer than that are not even declared for it: they are reached only
// through the Kernel32Calls table below, whose types DynamicCalls.cpp checks
// against the system headers' declarations.
#pragma once

#include <windows.h>

#include "win32/UniqueHandle.h"

namespace win32 {

// Loads a library by its full path (or, for a library that the manifest
// redirects, by its bare name once the search path is locked down); the
// null module when it cannot. LOAD_WITH_ALTERED_SEARCH_PATH (the library's
// own folder first for what it loads in turn) becomes the search flags for
// its folder and the system folder where Windows has them (those with
// SetDefaultDllDirectories); elsewhere those flags make the load fail.
Module LoadLibraryFile(const char* path, DWORD flags);

// Resolves an export into a typed pointer; false (and null) when missing.
template <typename Fn>
bool BindExport(HMODULE module, const char* name, Fn* slot) {
  *slot = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                 : nullptr;
  return *slot != nullptr;
}
template <typename Fn>
bool BindExport(const Module& module, const char* name, Fn* slot) {
  return BindExport(module.get(), name, slot);
}

// Spans with WOW64 redirection switched off (kept by the engine's
// redirection guard); no library may be loaded inside one.
void EnterRedirectionOffSpan();
void LeaveRedirectionOffSpan();
bool InRedirectionOffSpan();
// For redirection switched back on inside spans (ScopedRedirectionBackOn):
// the spans end for a while; Suspend returns what Resume takes back.
int SuspendRedirectionOffSpans();
void ResumeRedirectionOffSpans(int spans);

// Types of kernel32 functions that not every supported Windows exports,
// as their declarations give them (checked in DynamicCalls.cpp).
namespace newer {
using SetDllDirectoryA = BOOL(WINAPI*)(LPCSTR);            // XP SP1, 2003
using SetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);     // 8, 7 with KB2533623
using MoveFileExA = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);  // NT; a failing stub on 9x
using GetFileAttributesExA = BOOL(WINAPI*)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);  // 98, NT 4.0
using IsWow64Process = BOOL(WINAPI*)(HANDLE, PBOOL);             // XP SP2, 2003 SP1
using Wow64DisableWow64FsRedirection = BOOL(WINAPI*)(PVOID*);    // XP x64, 2003 SP1
using Wow64RevertWow64FsRedirection = BOOL(WINAPI*)(PVOID);      // XP x64, 2003 SP1
using ShutdownBlockReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);  // user32, Vista
using ShutdownBlockReasonDestroy = BOOL(WINAPI*)(HWND);          // user32, Vista
// advapi32's security functions: NT 3.1 (SetSecurityDescriptorControl:
// 2000); the Win32 reference gives none of them for the 9x family.
using InitializeSecurityDescriptor = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
using SetSecurityDescriptorDacl = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
using SetSecurityDescriptorOwner = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID, BOOL);
using SetSecurityDescriptorControl = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR,
                                                   SECURITY_DESCRIPTOR_CONTROL,
                                                   SECURITY_DESCRIPTOR_CONTROL);
using InitializeAcl = BOOL(WINAPI*)(PACL, DWORD, DWORD);
using AddAccessAllowedAce = BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID);
using AllocateAndInitializeSid = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD,
                                               DWORD, DWORD, DWORD, DWORD, DWORD, PSID*);
using FreeSid = PVOID(WINAPI*)(PSID);
using GetLengthSid = DWORD(WINAPI*)(PSID);
using RegSetKeySecurity = LONG(WINAPI*)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
}  // namespace newer

// The newer kernel32 functions the updater calls through one process-wide
// table; each is null where the running Windows lacks it, and what the
// updater does then is said where it calls them. (The WOW64 functions are
// bound by the engine's redirection guard, which tests bind to other
// libraries as well.)
struct Kernel32Calls {
  newer::SetDllDirectoryA SetDllDirectoryA;
  newer::SetDefaultDllDirectories SetDefaultDllDirectories;
  newer::MoveFileExA MoveFileExA;
  newer::GetFileAttributesExA GetFileAttributesExA;
};

// LOAD_LIBRARY_SEARCH_SYSTEM32 for SetDefaultDllDirectories.
inline constexpr DWORD kSearchSystem32Only = 0x00000800;

// Bound on first use, from kernel32.dll, for the whole process.
const Kernel32Calls& Kernel32();
// Tests only: answer with this table instead (null: the real one again).
void SetKernel32CallsForTest(const Kernel32Calls* calls);

// advapi32's security functions, for the NT family only: the 9x family has
// no security, and nothing there calls them. Each is null where the running
// Windows lacks it (SetSecurityDescriptorControl before Windows 2000, whose
// inheritance model NT 4.0 does not have).
struct Advapi32Calls {
  newer::InitializeSecurityDescriptor InitializeSecurityDescriptor;
  newer::SetSecurityDescriptorDacl SetSecurityDescriptorDacl;
  newer::SetSecurityDescriptorOwner SetSecurityDescriptorOwner;
  newer::SetSecurityDescriptorControl SetSecurityDescriptorControl;
  newer::InitializeAcl InitializeAcl;
  newer::AddAccessAllowedAce AddAccessAllowedAce;
  newer::AllocateAndInitializeSid AllocateAndInitializeSid;
  newer::FreeSid FreeSid;
  newer::GetLengthSid GetLengthSid;
  newer::RegSetKeySecurity RegSetKeySecurity;
};

// Bound on first use, from advapi32.dll (which the updater imports), for the
// whole process.
const Advapi32Calls& Advapi32();

}  // namespace win32
