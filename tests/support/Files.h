// Files and folders as the tests see them: the test program's own folder, a
// file read or written whole, the temporary folder pointed elsewhere.
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

// Points TMP and TEMP at folder while it lives; the old values (or their
// absence) come back afterwards.
class ScopedTempVariables {
 public:
  explicit ScopedTempVariables(const std::string& folder);
  ~ScopedTempVariables();
  ScopedTempVariables(const ScopedTempVariables&) = delete;
  ScopedTempVariables& operator=(const ScopedTempVariables&) = delete;

 private:
  bool had_[2] = {};
  std::string saved_[2];
};

}  // namespace vrtest
