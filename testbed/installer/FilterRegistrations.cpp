#include "testbed/installer/FilterRegistrations.h"

#include <strsafe.h>

#include <vector>

#include "testbed/common/FilterRecord.h"
#include "testbed/common/Flavour.h"
#include "win32/UniqueHandle.h"

namespace testbed {

namespace {
bool FilterKey(int n, char* key, size_t capacity) {
  const char* clsid = FilterClsid(n);
  return clsid &&
         SUCCEEDED(StringCchPrintfA(key, capacity, "%s%s", kFilterInstanceKeyPrefix, clsid));
}
}  // namespace

int WriteFilterRegistrations(const FilterLayout& layout) {
  int written = 0;
  for (int n = 0; n < kFilterCount; ++n) {
    if (layout.omit[n]) continue;
    char key[300];
    if (!FilterKey(n, key, sizeof key)) continue;
    DWORD size = n == layout.longFilter ? layout.longSize : layout.size;
    std::vector<BYTE> record(size);
    for (DWORD i = 0; i < size; ++i) record[i] = FilterRecordByte(n, i);
    win32::RegKey k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | testbed::kProductView,
                        nullptr, k.put(), nullptr) != ERROR_SUCCESS)
      continue;
    if (RegSetValueExA(k.get(), "FilterData", 0, REG_BINARY, record.data(), size) == ERROR_SUCCESS)
      ++written;
  }
  return written;
}

void RemoveFilterRegistrations() {
  for (int n = 0; n < kFilterCount; ++n) {
    char key[300];
    if (FilterKey(n, key, sizeof key))
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, testbed::kProductView, 0);
  }
}

}  // namespace testbed
