// INI reads through the platform's profile functions, except for unsigned
// numbers: GetPrivateProfileIntA returns a signed int and cannot carry the
// whole 32-bit range, so GetDword reads the text and parses it here.
#include "updatelist/IniFile.h"

#include <new>
#include <utility>

#include "win32/BoundedString.h"

namespace {

enum class Parsed { Number, NoDigits, TooLarge };

// Decimal text (leading blanks and one '+' allowed) up to 4294967295; stops
// at the first non-digit like the profile functions do.
Parsed ParseDword(const char* text, uint32_t* value) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '+') ++text;
  uint64_t result = 0;
  const char* digits = text;
  for (; *text >= '0' && *text <= '9'; ++text) {
    result = result * 10 + static_cast<uint64_t>(*text - '0');
    if (result > 0xFFFFFFFFull) return Parsed::TooLarge;
  }
  if (text == digits) return Parsed::NoDigits;
  *value = static_cast<uint32_t>(result);
  return Parsed::Number;
}

}  // namespace

IniFile::IniFile(const char* path) {
  if (path) win32::CopyText(path_, sizeof path_, path);  // overlong: empty
}

int32_t IniFile::GetInt(const char* section, const char* key, int32_t defaultValue) const {
  if (!section || !key || path_[0] == '\0') return defaultValue;
  return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, path_));
}

uint32_t IniFile::GetDword(const char* section, const char* key, uint32_t defaultValue) const {
  if (!section || !key || path_[0] == '\0') return defaultValue;
  char text[64] = {};
  // A missing key and an empty value keep the default, as with
  // GetPrivateProfileIntA; so does a value that is no 32-bit number.
  if (GetPrivateProfileStringA(section, key, "", text, sizeof text, path_) == 0) {
    return defaultValue;
  }
  uint32_t value = 0;
  switch (ParseDword(text, &value)) {
    case Parsed::Number:
      return value;
    case Parsed::NoDigits:
      return 0;  // what the profile functions make of text
    case Parsed::TooLarge:
    default:
      return defaultValue;  // no 32-bit quantity: better none than a wrong one
  }
}

int32_t IniFile::GetString(const char* section, const char* key, char* buffer, DWORD size) const {
  if (!section || !key || !buffer) return 0;
  if (path_[0] == '\0') {
    // No file: the same answer as a file that does not exist.
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  return static_cast<int32_t>(GetPrivateProfileStringA(section, key, "", buffer, size, path_));
}

int32_t IniFile::GetSectionNames(std::unique_ptr<char[]>& names) const {
  return ReadNameList(nullptr, names);
}

int32_t IniFile::GetKeyNames(const char* section, std::unique_ptr<char[]>& names) const {
  names.reset();
  if (!section) return 0;
  return ReadNameList(section, names);
}

int32_t IniFile::ReadNameList(const char* section, std::unique_ptr<char[]>& names) const {
  names.reset();
  if (path_[0] == '\0') return 0;
  // The profile functions give no size up front: grow until the list fits
  // (a list that fills the buffer is reported as size - 2).
  for (DWORD size = 4096; size <= 64u * 1024 * 1024; size *= 4) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer) return 0;
    DWORD n = section ? GetPrivateProfileStringA(section, nullptr, "", buffer.get(), size, path_)
                      : GetPrivateProfileSectionNamesA(buffer.get(), size, path_);
    if (n < size - 2) {
      buffer[n] = '\0';
      buffer[n + 1] = '\0';
      names = std::move(buffer);
      return 1;
    }
  }
  return 0;
}
