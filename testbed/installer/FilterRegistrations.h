// Writes the product's filter registrations (see FilterRecord.h) under
// HKLM\<filter instance key>{clsid}, in the 32-bit registry view.
#pragma once

#include <windows.h>

namespace testbed {

struct FilterLayout {
  DWORD size = 64;      // bytes of every record
  int longFilter = -1;  // this filter (0..20) gets longSize bytes instead
  DWORD longSize = 200;
  bool omit[21] = {};  // filters left unregistered
};

// Number of records written; every filter that is not omitted must succeed
// for the result to equal 21 minus the omitted ones.
int WriteFilterRegistrations(const FilterLayout& layout);

// Removes the registrations of all 21 filters (missing ones are fine).
void RemoveFilterRegistrations();

}  // namespace testbed
