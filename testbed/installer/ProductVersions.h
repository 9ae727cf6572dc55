// The product versions the update accepts and the length of the key file
// "VRSAFFRA9.exe" of each, as the product's releases shipped it.
#pragma once

#include <windows.h>

namespace testbed {

struct ProductRelease {
  const char* version;  // dotted, as the installer's command line takes it
  DWORD keyFileLength;
};

inline constexpr ProductRelease kProductReleases[] = {
    {"10.0.0.0", 6711184}, {"10.0.1.0", 6711312}, {"10.0.2.0", 6711312}, {"10.0.3.0", 6711312},
    {"10.0.4.0", 6711312}, {"10.0.5.0", 6711312}, {"10.0.6.0", 6711264}, {"10.0.7.0", 6711264},
    {"10.0.8.0", 6711264}, {"10.0.9.0", 6711264}, {"10.1.0.0", 6711264}, {"10.1.5.0", 6735848},
    {"10.1.6.0", 6735840}, {"10.1.7.0", 6735840}, {"10.1.8.0", 6735840}, {"10.1.9.0", 6735840},
    {"10.2.0.0", 6735840}, {"10.2.1.0", 6735840}, {"10.2.2.0", 6748128}, {"10.2.3.0", 6748128},
    {"10.2.4.0", 6748128}, {"10.2.5.0", 6748128}, {"10.2.6.0", 6748128}, {"10.2.7.0", 6750544},
    {"10.2.8.0", 6750544}, {"10.2.9.0", 6750544}, {"10.3.0.0", 6748072},
};

// Length given to a key file of a version the update does not list.
inline constexpr DWORD kUnlistedKeyFileLength = 6720000;

// Listed length of version, or 0 when the version is not listed.
inline DWORD ListedKeyFileLength(const char* version) {
  for (const ProductRelease& r : kProductReleases)
    if (lstrcmpA(r.version, version) == 0) return r.keyFileLength;
  return 0;
}

}  // namespace testbed
