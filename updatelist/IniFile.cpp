// The INI reader over a text in memory; the rules it follows are listed in
// IniFile.h. The profile functions work in Unicode: they convert the file,
// cut and copy in characters, and convert the answer back into the caller's
// buffer. This reader works on the bytes, which give the same answers for a
// text that passes Check: every character comes back as the same bytes, and
// every character that ends a name or a line is ASCII.
#include "updatelist/IniFile.h"

#include <string.h>

#include <algorithm>
#include <new>
#include <utility>

#include "win32/AsciiCase.h"

namespace {

// What the profile functions trim around lines, names and values.
bool IsBlank(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

void Trim(const char* text, size_t* begin, size_t* end) {
  while (*begin < *end && IsBlank(text[*begin])) ++*begin;
  while (*end > *begin && IsBlank(text[*end - 1])) --*end;
}

size_t CountCharacters(const char* text, const char* end) {
  size_t count = 0;
  for (; text < end; text += win32::CharacterLength(text, end)) ++count;
  return count;
}

// True when the system code page turns the character back into the same
// bytes after converting it to Unicode, as the profile functions do.
bool RoundTrips(const char* character, size_t length) {
  WCHAR wide[2] = {};
  if (MultiByteToWideChar(CP_ACP, 0, character, static_cast<int>(length), wide, 2) != 1) {
    return false;
  }
  char back[4] = {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, 1, back, sizeof back, nullptr, nullptr);
  return bytes == static_cast<int>(length) && memcmp(back, character, length) == 0;
}

// The number in a value as GetPrivateProfileIntA reads it (Windows'
// RtlUnicodeStringToInteger with base 0): characters up to the blank leading,
// one sign, a base prefix "0b", "0o" or "0x", then digits of that base until
// the first other character; the total wraps at 32 bits.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

uint32_t ParseProfileInteger(const char* p, const char* end) {
  while (p < end && static_cast<unsigned char>(*p) <= ' ') ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int base = 10;
  if (end - p >= 2 && p[0] == '0') {
    const char prefix = p[1];
    base = prefix == 'b' ? 2 : prefix == 'o' ? 8 : prefix == 'x' ? 16 : 10;
    if (base != 10) p += 2;
  }
  uint32_t total = 0;
  for (; p < end; ++p) {
    const int digit = DigitValue(*p);
    if (digit < 0 || digit >= base) break;
    total = total * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  return negative ? 0u - total : total;
}

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

// Places the first `wanted` characters of a list into a caller's buffer of
// `capacity` bytes, as the profile functions convert their Unicode answer:
// whole characters while they fit; `full` once one did not.
struct ListWriter {
  char* out;
  size_t capacity;
  int64_t wanted;
  int64_t characters = 0;
  size_t bytes = 0;
  bool full = false;

  void Put(const char* character, size_t length) {
    if (characters >= wanted || full) return;
    if (bytes + length > capacity) {
      full = true;
      return;
    }
    memcpy(out + bytes, character, length);
    bytes += length;
    ++characters;
  }
};

}  // namespace

IniFile::IniFile(const char* text, size_t size) : text_(text), size_(text ? size : 0) {}

IniFile::~IniFile() = default;

IniFile::ParseResult IniFile::Parse() {
  if (parsed_) return state_;
  parsed_ = true;
  state_ = Check();
  if (state_ == ParseResult::Ready && !Index()) state_ = ParseResult::OutOfMemory;
  if (state_ != ParseResult::Ready) {
    sections_.reset();
    keys_.reset();
    sectionCount_ = 0;
    keyCount_ = 0;
  }
  return state_;
}

IniFile::ParseResult IniFile::Check() const {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text_);
  if (size_ >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    return ParseResult::NotText;
  }
  if (size_ >= 2 &&
      ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    return ParseResult::NotText;
  }
  const char* const end = text_ + size_;
  for (const char* p = text_; p < end;) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == 0) return ParseResult::NotText;
    if (c < 0x80) {  // ASCII is the same in every code page of Windows
      ++p;
      continue;
    }
    const size_t length = win32::CharacterLength(p, end);
    if (!RoundTrips(p, length)) return ParseResult::NotText;
    p += length;
  }
  return ParseResult::Ready;
}

bool IniFile::Index() {
  // Every line but the first begins after a CR or LF: an upper bound of the
  // sections (with the nameless one) and keys.
  size_t lines = 1;
  for (size_t i = 0; i < size_; ++i) lines += IsLineBreak(text_[i]) ? 1 : 0;
  if (lines >= SIZE_MAX / sizeof(Key) - 1) return false;
  sections_.reset(new (std::nothrow) Section[lines + 1]);
  keys_.reset(new (std::nothrow) Key[lines]);
  if (!sections_ || !keys_) return false;
  sections_[0] = Section{{0, 0}, 0, 0};
  sectionCount_ = 1;
  bool previousKeyNameless = false;
  for (size_t next = 0; next < size_;) {
    const size_t begin = next;
    while (next < size_ && !IsLineBreak(text_[next])) ++next;
    const size_t end = next;
    while (next < size_ && IsLineBreak(text_[next])) ++next;
    AddLine(begin, end, &previousKeyNameless);
  }
  return true;
}

void IniFile::AddLine(size_t begin, size_t end, bool* previousKeyNameless) {
  Trim(text_, &begin, &end);
  if (begin == end) return;
  if (text_[begin] == '[') {
    // The section's name runs to the last "]" character of the line.
    size_t close = end;
    for (const char* p = text_ + begin; p < text_ + end;
         p += win32::CharacterLength(p, text_ + end)) {
      if (*p == ']') close = static_cast<size_t>(p - text_);
    }
    if (close != end) {
      size_t nameBegin = begin + 1, nameEnd = close;
      Trim(text_, &nameBegin, &nameEnd);
      sections_[sectionCount_++] = Section{{nameBegin, nameEnd - nameBegin}, keyCount_, 0};
      *previousKeyNameless = false;
      return;
    }
    // No "]": an ordinary key line.
  }
  Key key{{begin, end - begin}, {end, 0}, false};
  const char* equals = static_cast<const char*>(memchr(text_ + begin, '=', end - begin));
  if (equals) {
    size_t nameEnd = static_cast<size_t>(equals - text_);
    size_t valueBegin = nameEnd + 1;
    Trim(text_, &begin, &nameEnd);
    Trim(text_, &valueBegin, &end);
    key = Key{{begin, nameEnd - begin}, {valueBegin, end - valueBegin}, true};
  }
  // A nameless key right after another nameless one is not kept.
  if (key.name.length == 0 && *previousKeyNameless) return;
  *previousKeyNameless = key.name.length == 0;
  keys_[keyCount_++] = key;
  ++sections_[sectionCount_ - 1].keyCount;
}

const IniFile::Section* IniFile::FindSection(const char* name, size_t length) const {
  for (size_t i = 0; i < sectionCount_; ++i) {
    const Section& section = sections_[i];
    if (win32::EqualsIgnoringAsciiCase(At(section.name), section.name.length, name, length)) {
      return &section;
    }
  }
  return nullptr;
}

const IniFile::Key* IniFile::FindKey(const char* section, const char* key) const {
  size_t sectionBegin = 0, sectionEnd = strlen(section);
  size_t keyBegin = 0, keyEnd = strlen(key);
  Trim(section, &sectionBegin, &sectionEnd);
  Trim(key, &keyBegin, &keyEnd);
  const Section* found = FindSection(section + sectionBegin, sectionEnd - sectionBegin);
  if (!found) return nullptr;
  for (size_t i = 0; i < found->keyCount; ++i) {
    const Key& candidate = keys_[found->firstKey + i];
    if (win32::EqualsIgnoringAsciiCase(At(candidate.name), candidate.name.length, key + keyBegin,
                                       keyEnd - keyBegin)) {
      return &candidate;
    }
  }
  return nullptr;
}

IniFile::Copied IniFile::CopyValue(const Key* key, DWORD size) const {
  if (!key || !key->hasValue || size == 0) return Copied{text_, 0, 0};
  const char* value = At(key->value);
  size_t length = key->value.length;
  const bool quoted =
      length >= 2 && (value[0] == '"' || value[0] == '\'') && value[length - 1] == value[0];
  if (quoted) {
    ++value;
    --length;
  }
  const char* const end = value + length;
  const size_t total = CountCharacters(value, end);
  size_t kept = std::min<size_t>(total, size - 1);
  size_t bytes = 0, last = 0;
  for (size_t i = 0; i < kept; ++i) {
    last = win32::CharacterLength(value + bytes, end);
    bytes += last;
  }
  // The closing quote goes only when the buffer had room for the whole rest
  // of the value; otherwise the last character kept goes in its place.
  if (quoted && size >= total && kept > 0) {
    bytes -= last;
    --kept;
  }
  return Copied{value, bytes, kept};
}

int32_t IniFile::GetInt(const char* section, const char* key, int32_t defaultValue) const {
  if (!section || !key) return defaultValue;
  // GetPrivateProfileIntA reads the value into 30 characters.
  const Copied value = CopyValue(FindKey(section, key), 30);
  if (value.characters == 0) return defaultValue;
  return static_cast<int32_t>(ParseProfileInteger(value.text, value.text + value.bytes));
}

uint32_t IniFile::GetDword(const char* section, const char* key, uint32_t defaultValue) const {
  char text[64] = {};
  // A missing key and an empty value keep the default, as with
  // GetPrivateProfileIntA; so does a value that is no 32-bit number.
  if (GetString(section, key, text, sizeof text) == 0) return defaultValue;
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
  if (!section || !key || !buffer || size == 0) return 0;
  const Copied value = CopyValue(FindKey(section, key), size);
  const size_t limit = size - 1;
  if (value.bytes <= limit) {
    memcpy(buffer, value.text, value.bytes);
    buffer[value.bytes] = '\0';
    return static_cast<int32_t>(value.bytes);
  }
  ListWriter writer{buffer, limit, static_cast<int64_t>(value.characters)};
  const char* const end = value.text + value.bytes;
  for (const char* p = value.text; p < end && !writer.full;) {
    const size_t length = win32::CharacterLength(p, end);
    writer.Put(p, length);
    p += length;
  }
  buffer[limit] = '\0';
  return static_cast<int32_t>(limit);
}

// The key list as the profile functions build it in size characters: names
// of the keys with a value, ";" ones left out, each cut to what is left
// but one character and ended by a zero. Gives the number of characters
// they report, 0 when the list is empty or begins with an empty name.
template <typename Put>
int64_t IniFile::EmitKeyNames(const Section& section, DWORD size, Put put) const {
  int64_t left = size;
  bool first = true, beginsWithName = false;
  for (size_t i = 0; i < section.keyCount && left > 2; ++i) {
    const Key& key = keys_[section.firstKey + i];
    const char* name = At(key.name);
    if (!key.hasValue || (key.name.length > 0 && name[0] == ';')) continue;
    const char* const end = name + key.name.length;
    int64_t copied = 0;
    for (const char* p = name; p < end && copied < left - 2; ++copied) {
      const size_t length = win32::CharacterLength(p, end);
      put(p, length);
      p += length;
    }
    put("", 1);
    if (first) beginsWithName = copied > 0;
    first = false;
    left -= copied + 1;
    if (left < 2) break;
  }
  if (!beginsWithName) return 0;
  return left <= 1 ? static_cast<int64_t>(size) - 2 : static_cast<int64_t>(size) - left;
}

// The section list in size (2 or more) characters: every named section, the
// one that does not fit cut so that two zeros still end the list. Gives the
// number of characters reported (size - 2 when cut); the zero after them is
// the list's end.
template <typename Put>
int64_t IniFile::EmitSectionNames(DWORD size, Put put) const {
  int64_t room = static_cast<int64_t>(size) - 1, written = 0;
  for (size_t i = 0; i < sectionCount_; ++i) {
    const Section& section = sections_[i];
    if (section.name.length == 0) continue;
    const char* name = At(section.name);
    const char* const end = name + section.name.length;
    const int64_t characters = static_cast<int64_t>(CountCharacters(name, end));
    const bool cut = characters + 1 >= room;
    const int64_t kept = cut ? room - 1 : characters;
    const char* p = name;
    for (int64_t c = 0; c < kept; ++c) {
      const size_t length = win32::CharacterLength(p, end);
      put(p, length);
      p += length;
    }
    put("", 1);
    if (cut) {
      put("", 1);
      return static_cast<int64_t>(size) - 2;
    }
    room -= characters + 1;
    written += characters + 1;
  }
  put("", 1);
  return written;
}

int32_t IniFile::GetSectionNames(char* buffer, DWORD size) const {
  if (!buffer || size == 0) return 0;
  const auto ignore = [](const char*, size_t) {};
  const int64_t reported = size == 1 ? 0 : EmitSectionNames(size, ignore);
  if (reported == 0) {
    buffer[0] = '\0';
    return 0;
  }
  // The reported characters and the zero after them, in size - 1 bytes.
  ListWriter writer{buffer, size - 1, reported + 1};
  EmitSectionNames(size, [&writer](const char* c, size_t n) { writer.Put(c, n); });
  if (writer.full) {
    buffer[size - 1] = '\0';
    return static_cast<int32_t>(size - 2);
  }
  return static_cast<int32_t>(writer.bytes - 1);
}

int32_t IniFile::GetKeyNames(const char* section, char* buffer, DWORD size) const {
  if (!section || !buffer || size == 0) return 0;
  // Key lists take the section's name as given, untrimmed.
  const Section* found = FindSection(section, strlen(section));
  const auto ignore = [](const char*, size_t) {};
  const int64_t reported = found ? EmitKeyNames(*found, size, ignore) : 0;
  if (reported == 0) {
    buffer[0] = '\0';
    return 0;
  }
  ListWriter writer{buffer, size - 1, reported};
  EmitKeyNames(*found, size, [&writer](const char* c, size_t n) { writer.Put(c, n); });
  const size_t end = writer.full ? size - 1 : writer.bytes;
  buffer[end] = '\0';
  return static_cast<int32_t>(end);
}

namespace {

// A zeroed buffer of size bytes for a whole name list; null when memory or
// the profile functions' DWORD sizes cannot hold it.
std::unique_ptr<char[]> MakeListBuffer(size_t size) {
  if (size > 0x7FFFFFFF) return nullptr;
  return std::unique_ptr<char[]>(new (std::nothrow) char[size]());
}

}  // namespace

int32_t IniFile::GetSectionNames(std::unique_ptr<char[]>& names) const {
  names.reset();
  // Every name and its zero, the list's final zero and the one character
  // the profile functions keep free: the list is never cut.
  size_t size = 2;
  for (size_t i = 0; i < sectionCount_; ++i) size += sections_[i].name.length + 1;
  std::unique_ptr<char[]> buffer = MakeListBuffer(size);
  if (!buffer) return 0;
  GetSectionNames(buffer.get(), static_cast<DWORD>(size));
  names = std::move(buffer);
  return 1;
}

int32_t IniFile::GetKeyNames(const char* section, std::unique_ptr<char[]>& names) const {
  names.reset();
  if (!section) return 0;
  const Section* found = FindSection(section, strlen(section));
  size_t size = 2;
  for (size_t i = 0; found && i < found->keyCount; ++i) {
    size += keys_[found->firstKey + i].name.length + 1;
  }
  std::unique_ptr<char[]> buffer = MakeListBuffer(size);
  if (!buffer) return 0;
  GetKeyNames(section, buffer.get(), static_cast<DWORD>(size));
  names = std::move(buffer);
  return 1;
}
