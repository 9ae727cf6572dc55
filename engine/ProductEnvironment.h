// The facts of this machine that every list and pass of a run reads: the
// class of the running Windows, the product's 64-bit driver, the product's
// shared folders and the bound LZ32 library. The update driver owns one and
// has it detected while the main dialog initialises; it hands it (const) to
// every list it makes. Tests build and detect their own.
#pragma once

#include "engine/DriverState.h"
#include "engine/Lz32Library.h"
#include "system/ProductControlLibrary.h"
#include "updatelist/UpdateList.h"
#include "win32/Platform.h"

class ProductEnvironment {
 public:
  ProductEnvironment() = default;  // knows nothing yet; Detect() asks the machine
  ProductEnvironment(const ProductEnvironment&) = delete;
  ProductEnvironment& operator=(const ProductEnvironment&) = delete;

  // Classifies the running Windows, fixes the driver state and queries the
  // product's folders through its control library (QfControl.dll, which
  // leaves QfControl_res.dll behind: deleted), in this order; version.dll
  // is bound before the driver state's probe, the first span with WOW64
  // redirection off. A later call keeps what is known and asks again only
  // for what is not: the driver state while Unknown, the folders while the
  // common or the shared library folder is.
  void Detect();

  const OsVersionInfo& os() const { return os_; }
  OsClass osClass() const { return os_.GetOsClass(); }
  DriverState driverState() const { return driverState_; }
  const ProductFolders& folders() const { return folders_; }
  // LZ32.DLL, bound on demand by the first list that loads and kept for the
  // life of the environment. The binding is no fact of the machine, so a
  // const environment still hands it out.
  Lz32Library& lz32() const { return lz32_; }

 private:
  OsVersionInfo os_;
  DriverState driverState_ = DriverState::Unknown;
  ProductFolders folders_;
  mutable Lz32Library lz32_;
};

// Fills the folders that the product's control library at libraryPath
// names (the common folder, its edition folder "Saffra9" and the shared
// library folder), unless the common and shared library folders are known
// already; deletes "QfControl_res.dll" from the program folder whenever it
// asked. Each folder ends in a backslash or stays empty.
void QueryProductFolders(ProductControlLibrary& library, ProductFolders& folders);
