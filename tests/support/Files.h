// Files and folders as the tests see them: the test program's own folder and
// a file read or written whole.
#pragma once

#include <string>

namespace vrtest {

// Folder of the running test program (where the build puts every program,
// library and store it needs), ending in a backslash.
std::string ExeFolder();

// The whole content of path; false when it cannot be opened or a read fails.
// Another program may be writing the file meanwhile (a log, for example).
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Creates or replaces path with bytes; false when that fails.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace vrtest
