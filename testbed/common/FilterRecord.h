// The product's DirectShow filters as its installer registers them: one
// "FilterData" record per filter, record version 2, normal merit, then pin
// data whose bytes depend on the filter and the position so that a test can
// tell every byte that a merit rewrite must leave alone.
//
// The list is the product's own, stated here and nowhere else in the
// testbed: the updater's lists (system/FilterMeritLists.h) are compared with
// it by a test, so a wrong CLSID or merit on either side shows.
#pragma once

#include <windows.h>

namespace testbed {

inline constexpr DWORD kFilterRecordVersion = 2;
inline constexpr DWORD kFilterDefaultSize = 64;

// Merits of the filter mapper: as installed, and the two the 10.30 update
// leaves (a filter it takes out of automatic use, and one it keeps just
// below the normal ones).
inline constexpr DWORD kFilterInstalledMerit = 0x00600000;  // MERIT_NORMAL
inline constexpr DWORD kMeritDoNotUse = 0x00200000;         // MERIT_DO_NOT_USE
inline constexpr DWORD kMeritBelowNormal = kFilterInstalledMerit - 1;

// Key under HKLM of one filter's registration: this prefix + "{clsid}"
// (the DirectShow filter category's instances).
inline constexpr char kFilterInstanceKeyPrefix[] =
    "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\";

struct ProductFilter {
  const char* clsid;   // "{...}"
  DWORD updatedMerit;  // the merit after the 10.30 update
};

// The product's filters, in the order its installer registers them.
inline constexpr ProductFilter kProductFilters[] = {
    // Taken out of automatic use by the update.
    {"{C4F28612-6CFE-4B7B-8E32-F5CEF5380623}", kMeritDoNotUse},
    {"{D67C3E31-A7BB-4119-A82D-60A7990AFA99}", kMeritDoNotUse},
    {"{73C65983-F2EF-438F-B0E9-39E7304A4D63}", kMeritDoNotUse},
    {"{F16EAEC5-82C2-4E56-9E41-A057F112FB45}", kMeritDoNotUse},
    {"{12120617-C0F6-4368-A500-5CD4DD02C984}", kMeritDoNotUse},
    {"{CDE8A5A2-2481-4249-A877-A57472E2BA27}", kMeritDoNotUse},
    {"{94150FAD-E50B-4262-816D-86DB303A03D9}", kMeritDoNotUse},
    {"{C2FCC719-033F-43E4-A9CF-E70F25CB60F3}", kMeritDoNotUse},
    {"{D846D7D6-4CFA-433A-99B9-324CD5CBDF8A}", kMeritDoNotUse},
    {"{6CCD0398-5D28-4D7C-84F2-3729C1AC73CF}", kMeritDoNotUse},
    {"{0CCB4DA2-6E22-4DF8-8882-F943B316CC6B}", kMeritDoNotUse},
    {"{E66ADDD0-65C9-4726-9E54-9D16A1226F32}", kMeritDoNotUse},
    {"{0B1B005F-3F63-492D-8872-CDBEC05CB15E}", kMeritDoNotUse},
    {"{6105DC01-252A-439B-A0CE-9204C5DF5D9E}", kMeritDoNotUse},
    {"{64595B56-70B0-4F21-9375-BD3A50F0D1CF}", kMeritDoNotUse},
    {"{C1F4FAF6-280D-48FC-A2DE-D23E5B729760}", kMeritDoNotUse},
    {"{0AC92761-FBDD-4EF8-AE71-C84DC83A36FB}", kMeritDoNotUse},
    {"{C312ADC6-2956-4F5A-AC9D-6841C1188886}", kMeritDoNotUse},
    // Kept just below the normal filters by the update.
    {"{F3A37537-D09E-4B74-BE26-7901603E4063}", kMeritBelowNormal},
    {"{9DE5CF4A-1599-4B7B-9E90-B928E550C5E5}", kMeritBelowNormal},
    {"{0B39DBC4-2D65-40ED-BDED-2CBF9D3DC2F5}", kMeritBelowNormal},
};
inline constexpr int kFilterCount = sizeof kProductFilters / sizeof kProductFilters[0];

// The CLSID text of filter n (0..20), or null.
inline const char* FilterClsid(int n) {
  return n >= 0 && n < kFilterCount ? kProductFilters[n].clsid : nullptr;
}

// Index of the filter with this CLSID (registry key names ignore case), or
// -1 when the product has none such.
inline int FilterIndexOf(const char* clsid) {
  for (int n = 0; n < kFilterCount; ++n) {
    if (clsid && lstrcmpiA(kProductFilters[n].clsid, clsid) == 0) return n;
  }
  return -1;
}

// Byte i of filter n's record as installed.
inline BYTE FilterRecordByte(int n, DWORD i) {
  DWORD word = i < 4 ? kFilterRecordVersion : i < 8 ? kFilterInstalledMerit : 0;
  if (i < 8) return static_cast<BYTE>(word >> (8 * (i % 4)));
  return static_cast<BYTE>(0x40 + 7 * n + i);
}

}  // namespace testbed
