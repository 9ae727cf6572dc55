// Where the product's COM server records its registration: the standard
// in-process server entry of its class, plus counters of how often it was
// registered and unregistered and the current directory of the last
// (un)registration (in the testbed's marks key).
#pragma once

namespace testbed {

inline constexpr char kComServerClsid[] = "{8E3D1A52-64B7-4C0E-A1F9-3B2C7D5E9A41}";
inline constexpr char kComServerKey[] =
    "SOFTWARE\\Classes\\CLSID\\{8E3D1A52-64B7-4C0E-A1F9-3B2C7D5E9A41}";
inline constexpr char kComServerInprocKey[] =
    "SOFTWARE\\Classes\\CLSID\\{8E3D1A52-64B7-4C0E-A1F9-3B2C7D5E9A41}\\InprocServer32";
inline constexpr char kComServerRegisteredValue[] = "VrComServerRegistered";
inline constexpr char kComServerUnregisteredValue[] = "VrComServerUnregistered";
inline constexpr char kComServerDirectoryValue[] = "VrComServerDirectory";

}  // namespace testbed
