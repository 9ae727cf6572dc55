// Reads values of an INI file through the platform's profile functions; every
// read opens the file anew. No read fails visibly: each falls back to its
// default.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <memory>

class IniFile {
 public:
  explicit IniFile(const char* path);  // null or overlong path: empty path
  ~IniFile() = default;

  int32_t GetInt(const char* section, const char* key, int32_t defaultValue) const;
  // Decimal values up to 4294967295.
  uint32_t GetDword(const char* section, const char* key, uint32_t defaultValue) const;
  // Characters placed in buffer (the zero not counted); a longer value is cut
  // to size - 1. Missing section/key/buffer: 0 and the buffer unchanged.
  int32_t GetString(const char* section, const char* key, char* buffer, DWORD size) const;

  // Names of all sections, or of the keys of one section: zero-terminated
  // texts followed by an empty one. 0 (and no list) when there is none to read.
  int32_t GetSectionNames(std::unique_ptr<char[]>& names) const;
  int32_t GetKeyNames(const char* section, std::unique_ptr<char[]>& names) const;

  const char* path() const { return path_; }

 private:
  int32_t ReadNameList(const char* section, std::unique_ptr<char[]>& names) const;
  char path_[MAX_PATH] = {};
};
