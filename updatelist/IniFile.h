// The INI reader of the update list. It reads a text in memory (the store
// entry where the loader mapped it, never copied or written anywhere) and
// answers every read as Windows' profile functions (GetPrivateProfileStringA,
// GetPrivateProfileIntA, GetPrivateProfileSectionNamesA) answer for a file of
// the same bytes, as Wine 8 implements them; tests/unit/list_diff_tests.cpp
// compares the two over a table of quirky lists. The rules, in short:
//   - A line ends at CR or LF (a run of them ends one line). Blanks, tabs,
//     VT, FF, CR and ^Z are trimmed around lines, names and values; nothing
//     else is (Wine 8 keeps the full-width space U+3000 as text, so does this
//     reader).
//   - "[name]" opens a section, its name taken up to the last "]" and
//     trimmed; the rest of the line is ignored. A "[" line without "]" is a
//     key line. Keys before the first section belong to a section without a
//     name, which only the name "" finds and no section list shows.
//   - A key line splits at its first "=" (the value may hold more). A line
//     without "=" is a key without a value: no read finds a value for it and
//     no key list shows it. A key of empty name right after another one of
//     empty name in the same section is dropped. ";" lines are keys like any
//     other that key lists leave out.
//   - Section and key names match without regard to ASCII case, the names
//     asked for trimmed as above (a key list takes its section's name as
//     given); the first section of a name counts, and in it the first key of
//     a name (a later section or key of the same name is never read; the
//     section list shows every one).
//   - A value between matching quotes (' or ") loses them; in a buffer too
//     small for the rest of the value the closing quote is only dropped when
//     the buffer has at least as many characters as the value after its
//     opening quote, so the last character kept may go instead.
//   - Texts are cut to the buffer size - 1 characters; a double-byte
//     character that no longer fits is left out and the read then reports
//     size - 1. Name lists end with an empty name, and report size - 2 when
//     cut.
// Texts are bytes of the system code page; a double-byte character counts as
// one character and its second byte (0x5C in 表) is never a delimiter.
//
// Where this reader does not do what the profile functions do, it refuses
// the text (Parse gives NotText) rather than read it differently:
//   - a UTF-8 or UTF-16 byte-order mark (the profile functions would read the
//     text as Unicode), a zero byte (they would end the text there), a byte
//     sequence that the system code page does not carry back to the same
//     bytes (invalid or unmapped Shift-JIS, the NEC and IBM duplicates of
//     code page 932): the profile functions read text converted to Unicode
//     and back, so they would give other bytes.
// Not matched, and not refused: names are compared with ASCII case rules
// only, where Wine also folds letters beyond ASCII (the full-width, Greek and
// Cyrillic letters of code page 932); the update list is ASCII, and the
// loader asks for ASCII names only. The registry's IniFileMapping does not
// apply to a text in memory.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <memory>

class IniFile {
 public:
  enum class ParseResult { Ready, OutOfMemory, NotText };

  // Keeps the range [text, text + size); reads nothing yet. The bytes must
  // stay unchanged and in place while the reader is used.
  IniFile(const char* text, size_t size);
  ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  // Finds the sections and keys of the text (once; a later call gives the
  // same result). Until it has given Ready every read answers as for an
  // empty list. Never throws.
  ParseResult Parse();

  // GetPrivateProfileIntA: the default for a missing key or empty value,
  // else the value's number (blanks, one sign, "0x"/"0o"/"0b", digits up to
  // the first other character, wrapping at 32 bits).
  int32_t GetInt(const char* section, const char* key, int32_t defaultValue) const;
  // Decimal values up to 4294967295: the default for a missing key, an
  // empty value and a larger number; 0 for a value without digits.
  uint32_t GetDword(const char* section, const char* key, uint32_t defaultValue) const;
  // GetPrivateProfileStringA with an empty default: bytes placed in buffer,
  // the zero not counted. Null section, key or buffer: 0 and nothing
  // written.
  int32_t GetString(const char* section, const char* key, char* buffer, DWORD size) const;

  // GetPrivateProfileSectionNamesA and GetPrivateProfileStringA(section,
  // NULL, ...): zero-terminated names followed by an empty one, as far as
  // size allows. Null buffer or section: 0 and nothing written.
  int32_t GetSectionNames(char* buffer, DWORD size) const;
  int32_t GetKeyNames(const char* section, char* buffer, DWORD size) const;
  // The same lists whole, in a buffer of their own: 1 and the list; 0 (and
  // no list) when memory for it runs out.
  int32_t GetSectionNames(std::unique_ptr<char[]>& names) const;
  int32_t GetKeyNames(const char* section, std::unique_ptr<char[]>& names) const;

 private:
  struct Span {
    size_t begin;
    size_t length;
  };
  struct Key {
    Span name;
    Span value;
    bool hasValue;
  };
  struct Section {
    Span name;
    size_t firstKey;
    size_t keyCount;
  };
  // A value as the profile functions place it in a buffer of size
  // characters before it becomes bytes again: quotes removed, cut.
  struct Copied {
    const char* text;
    size_t bytes;
    size_t characters;
  };

  ParseResult Check() const;
  bool Index();
  void AddLine(size_t begin, size_t end, bool* previousKeyNameless);
  const Section* FindSection(const char* name, size_t length) const;
  const Key* FindKey(const char* section, const char* key) const;
  Copied CopyValue(const Key* key, DWORD size) const;
  template <typename Put>
  int64_t EmitKeyNames(const Section& section, DWORD size, Put put) const;
  template <typename Put>
  int64_t EmitSectionNames(DWORD size, Put put) const;
  const char* At(const Span& span) const { return text_ + span.begin; }

  const char* text_;
  size_t size_;
  ParseResult state_ = ParseResult::OutOfMemory;
  bool parsed_ = false;
  std::unique_ptr<Section[]> sections_;
  size_t sectionCount_ = 0;
  std::unique_ptr<Key[]> keys_;
  size_t keyCount_ = 0;
};
