// The product's DirectShow filters whose merits the updater rewrites after an
// update, in four lists; each list is written with one merit. The testbed
// registers the same filters so the rewrite can be checked for real.
#pragma once

#include <windows.h>

struct FilterMeritList {
  DWORD merit;
  int count;
  const char* const* clsids;  // "{...}" texts, processed in this order
};

inline constexpr const char* kFilterList1[] = {
    "{C4F28612-6CFE-4B7B-8E32-F5CEF5380623}",
    "{D67C3E31-A7BB-4119-A82D-60A7990AFA99}",
    "{73C65983-F2EF-438F-B0E9-39E7304A4D63}",
    "{F16EAEC5-82C2-4E56-9E41-A057F112FB45}",
    "{12120617-C0F6-4368-A500-5CD4DD02C984}",
    "{CDE8A5A2-2481-4249-A877-A57472E2BA27}",
    "{94150FAD-E50B-4262-816D-86DB303A03D9}",
    "{C2FCC719-033F-43E4-A9CF-E70F25CB60F3}",
    "{D846D7D6-4CFA-433A-99B9-324CD5CBDF8A}",
    "{6CCD0398-5D28-4D7C-84F2-3729C1AC73CF}",
    "{0CCB4DA2-6E22-4DF8-8882-F943B316CC6B}",
    "{E66ADDD0-65C9-4726-9E54-9D16A1226F32}",
    "{0B1B005F-3F63-492D-8872-CDBEC05CB15E}",
    "{6105DC01-252A-439B-A0CE-9204C5DF5D9E}",
};
inline constexpr const char* kFilterList2[] = {
    "{64595B56-70B0-4F21-9375-BD3A50F0D1CF}",
    "{C1F4FAF6-280D-48FC-A2DE-D23E5B729760}",
    "{0AC92761-FBDD-4EF8-AE71-C84DC83A36FB}",
    "{C312ADC6-2956-4F5A-AC9D-6841C1188886}",
};
inline constexpr const char* kFilterList3[] = {
    "{F3A37537-D09E-4B74-BE26-7901603E4063}",
    "{9DE5CF4A-1599-4B7B-9E90-B928E550C5E5}",
};
inline constexpr const char* kFilterList4[] = {
    "{0B39DBC4-2D65-40ED-BDED-2CBF9D3DC2F5}",
};

// 0x200000: do not use; 0x5FFFFF: just below normal.
inline constexpr FilterMeritList kFilterMeritLists[] = {
    {0x200000, 14, kFilterList1},
    {0x200000, 4, kFilterList2},
    {0x5FFFFF, 2, kFilterList3},
    {0x5FFFFF, 1, kFilterList4},
};

// Key under HKLM of one filter's registration: this prefix + "{clsid}".
inline constexpr const char kFilterInstanceKeyPrefix[] =
    "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\";
