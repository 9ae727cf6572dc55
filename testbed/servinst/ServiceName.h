// The product's background service: its name in the service control manager
// and the file name of its program, which lies beside the service installer.
#pragma once

namespace testbed {

inline constexpr char kServiceName[] = "qfsvcg";
inline constexpr char kServiceDisplayName[] = "Marrowick Vorrel service";
inline constexpr char kServiceProgram[] = "qfsvcgen.exe";

}  // namespace testbed
