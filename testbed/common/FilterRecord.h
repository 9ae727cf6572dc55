// The product's DirectShow filter registrations as its installer writes them:
// one "FilterData" record per filter, record version 2, normal merit, then
// pin data whose bytes depend on the filter and the position so that a test
// can tell every byte that a merit rewrite must leave alone.
#pragma once

#include <windows.h>

#include "system/FilterMeritLists.h"

namespace testbed {

inline constexpr DWORD kFilterRecordVersion = 2;
inline constexpr DWORD kFilterInstalledMerit = 0x00600000;
inline constexpr DWORD kFilterDefaultSize = 64;
inline constexpr int kFilterCount = 21;

// The CLSID text of filter n (0..20) in list order (lists 1 to 4 in turn).
inline const char* FilterClsid(int n) {
  for (const FilterMeritList& list : kFilterMeritLists) {
    if (n < list.count) return list.clsids[n];
    n -= list.count;
  }
  return nullptr;
}

// Byte i of filter n's record as installed.
inline BYTE FilterRecordByte(int n, DWORD i) {
  DWORD word = i < 4 ? kFilterRecordVersion : i < 8 ? kFilterInstalledMerit : 0;
  if (i < 8) return static_cast<BYTE>(word >> (8 * (i % 4)));
  return static_cast<BYTE>(0x40 + 7 * n + i);
}

}  // namespace testbed
