// Files and folders as the tests see them: the test program's own folder and
// command line, a fresh temporary folder, a file read or written whole, the names in a
// folder, the temporary folder pointed elsewhere.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vrtest {

// Folder of the running test program (where the build puts every program,
// library and store it needs), ending in a backslash.
std::string ExeFolder();

// Value of "--name=value" on the test program's command line; empty if absent.
std::string CommandLineOption(const char* name);

// The whole content of path; false when it cannot be opened or a read fails.
// Another program may be writing the file meanwhile (a log, for example).
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Creates or replaces path with bytes; false when that fails.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// Copies the file name of the program's folder (ExeFolder) to destination:
// a whole path, or a folder ending in a backslash (made when missing) that
// then gets the same name. The one way tests lay the product's programs and
// libraries, and their own test libraries, where they need them.
bool CopyFromExeFolder(const char* name, const std::string& destination);

// The system folder (GetSystemDirectoryA) ending in a backslash.
std::string SystemFolder();

// True on 64-bit Windows: the prefix has a SysWOW64 folder.
bool Is64BitWindows();

// Makes folder and its parents; the folder with a trailing backslash, or ""
// when it is no folder afterwards.
std::string MakeFolder(const std::string& folder);

// A new, empty folder under the temporary folder, named after tag and this
// process, ending in a backslash; "" when none can be made.
std::string MakeTempFolder(const char* tag);

// True when nobody holds the file open: an exclusive open succeeds.
bool NotHeldOpen(const std::string& path);

// The names of the files directly in folder (no subfolders), in the order
// the file system gives them.
std::vector<std::string> FilesIn(const std::string& folder);

bool SameTime(const FILETIME& a, const FILETIME& b);

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
