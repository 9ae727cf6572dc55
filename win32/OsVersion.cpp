// Classification of the running Windows by its version record.
#include "win32/Platform.h"

#include <string.h>

namespace {

// Product type and suite bits of the extended record.
constexpr BYTE kWorkstation = 1;    // VER_NT_WORKSTATION
constexpr WORD kDatacenter = 0x80;  // VER_SUITE_DATACENTER
constexpr WORD kEnterprise = 0x2;   // VER_SUITE_ENTERPRISE
constexpr WORD kPersonal = 0x200;   // VER_SUITE_PERSONAL
constexpr WORD kBlade = 0x400;      // VER_SUITE_BLADE (Web Edition)

// The 9x family keeps the version in the high word of the build number.
DWORD Build9x(const OSVERSIONINFOEXA& r) { return r.dwBuildNumber & 0xFFFF; }

int32_t Classify9x(const OSVERSIONINFOEXA& r, int32_t* code) {
  const DWORD build = Build9x(r);
  switch (r.dwMinorVersion) {
    case 0:
      if (build == 950) {
        *code = kOsWin95;
      } else if (build > 1000) {
        *code = kOsWin95Osr2;
      } else {
        return 0;
      }
      return 1;
    case 10:
      if (build == 1998) {
        *code = kOsWin98;
      } else if (build > 1998) {
        *code = kOsWin98Se;
      } else {
        return 0;
      }
      return 1;
    case 90:
      *code = kOsWinMe;
      return 1;
    default:
      return 1;  // a 9x we do not know: classified as "unclassified"
  }
}

int32_t ClassifyNt(const OSVERSIONINFOEXA& r, bool sixtyFourBit, int32_t* code) {
  const WORD suite = r.wSuiteMask;
  switch (r.dwMajorVersion) {
    case 3:
      *code = kOsNt3;
      return 1;
    case 4:
      *code = kOsNt4;
      return 1;
    case 5:
      switch (r.dwMinorVersion) {
        case 0:
          if (r.wProductType == kWorkstation) {
            *code = kOsWin2000Pro;
          } else if (suite & kDatacenter) {
            *code = kOsWin2000Datacenter;
          } else if (suite & kEnterprise) {
            *code = kOsWin2000Advanced;
          } else {
            *code = kOsWin2000Server;
          }
          return 1;
        case 1:
          *code = (suite & kPersonal) ? kOsXpHome : kOsXpPro;
          return 1;
        case 2:
          if (sixtyFourBit) {
            *code = r.wProductType == kWorkstation ? kOsXpPro64 : kOs2003x64;
          } else if (suite & kDatacenter) {
            *code = kOs2003Datacenter;
          } else if (suite & kEnterprise) {
            *code = kOs2003Enterprise;
          } else if (suite == kBlade) {
            *code = kOs2003Web;
          } else {
            *code = kOs2003Standard;
          }
          return 1;
        default:
          return 0;
      }
    case 6:
      *code = sixtyFourBit ? kOsVista64 : kOsVista32;
      return 1;
    default:
      return 0;  // newer than the update knows
  }
}

// Only 5.2 and 6.x need to know whether this is 64-bit Windows.
bool NeedsWow64Answer(const OSVERSIONINFOEXA& r) {
  return r.dwPlatformId == VER_PLATFORM_WIN32_NT &&
         ((r.dwMajorVersion == 5 && r.dwMinorVersion == 2) || r.dwMajorVersion == 6);
}

}  // namespace

int32_t ClassifyOsVersion(const OSVERSIONINFOEXA& record, bool sixtyFourBit, int32_t* code) {
  int32_t scratch = kOsUnclassified;
  if (!code) code = &scratch;
  *code = kOsUnclassified;
  switch (record.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
      *code = kOsWin32s;
      return 1;
    case VER_PLATFORM_WIN32_WINDOWS:
      return Classify9x(record, code);
    case VER_PLATFORM_WIN32_NT:
      return ClassifyNt(record, sixtyFourBit, code);
    default:
      return 1;
  }
}

OsClass OsClassOfCode(int32_t code) {
  if (code >= kOsWin95 && code <= kOsWinMe) return OsClass::Win9x;
  if (code >= kOsWin2000Datacenter && code <= kOs2003Standard) return OsClass::Nt32;
  if (code == kOs2003x64 || code == kOsXpPro64) return OsClass::Xp64;
  if (code == kOsVista32) return OsClass::Vista32;
  if (code == kOsVista64) return OsClass::Vista64;
  return OsClass::Other;  // Win32s, NT 3/4, unclassified and anything out of range
}

OsVersionInfo::OsVersionInfo() { memset(&record_, 0, sizeof record_); }

int32_t OsVersionInfo::DetectOsVersion() {
  code_ = kOsUnclassified;
  detected_ = 0;
  memset(&record_, 0, sizeof record_);
  // The short record first: the 9x family and NT 4.0 before SP6 refuse the
  // long one. Only 5.x tells its editions apart by the long record's suite
  // and product type, so NT 4.0 is classified by the short record, whatever
  // its service pack: a refused long record would leave it unclassified,
  // and that counts as the 2000/XP class.
  record_.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record_))) return 0;
  if (record_.dwPlatformId == VER_PLATFORM_WIN32_NT && record_.dwMajorVersion >= 5) {
    record_.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record_))) return 0;
  }
  const bool sixtyFourBit = NeedsWow64Answer(record_) && RunningOn64BitWindows();
  detected_ = ClassifyOsVersion(record_, sixtyFourBit, &code_);
  return detected_;
}

OsClass OsVersionInfo::GetOsClass() const {
  if (!detected_) return IsNtPlatform() ? OsClass::Nt32 : OsClass::Win9x;
  return OsClassOfCode(code_);
}

int32_t IsNtPlatform() {
  OSVERSIONINFOA info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return 0;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}
