// The update list's INI reader against the system's profile functions: each
// list of the table is written to a file of its own and read both ways, for
// every section and key the case names (as written, in upper case, padded
// with blanks) and for "" and an absent name, with buffer sizes from 1 to
// those the loader uses. Answers and whole buffers (filled alike before each
// read) must be the same to the byte. Lists the reader refuses instead are
// checked to be refused.
#include <gtest/gtest.h>

#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ListSupport.h"
#include "updatelist/IniFile.h"

namespace {

struct Quirk {
  const char* what;
  std::string text;
  std::vector<std::string> sections;
  std::vector<std::string> keys;
};

const DWORD kTextSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 16, 30, 64, 80, 256, 260, 261, 1024};
const DWORD kListSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 16, 1024};
constexpr size_t kSlack = 8;  // bytes after the buffer that neither may touch
constexpr int kReportsPerCase = 6;

std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// A buffer as the report shows it: the filler after the last byte written
// is counted, not shown.
std::string Shown(const std::string& buffer) {
  const size_t end = buffer.find_last_not_of('\xA5') + 1;
  return Escape(buffer.substr(0, end)) + " + " + std::to_string(buffer.size() - end) + " unwritten";
}

std::string Upper(std::string text) {
  // Byte by byte on purpose: the second byte of a double-byte name changes
  // too, and must then name another character.
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The names asked for: each as given, in upper case and padded with blanks,
// then "" and one that no list has.
std::vector<std::string> Queries(const std::vector<std::string>& names) {
  std::vector<std::string> queries;
  for (const std::string& name : names) {
    queries.push_back(name);
    if (Upper(name) != name) queries.push_back(Upper(name));
    queries.push_back(" \t" + name + "\x1a ");
  }
  queries.push_back("");
  queries.push_back("absent");
  return queries;
}

// One case read both ways; counts and reports the differences.
class Comparison {
 public:
  Comparison(const Quirk& quirk, const std::string& path, const IniFile& ini)
      : quirk_(quirk), path_(path), ini_(ini) {}
  int differences() const { return differences_; }
  int reads() const { return reads_; }

  // One read each way, given the buffer and its size.
  using Read = std::function<long(char* buffer, DWORD size)>;

  // Both answers with a buffer of size, filled alike; true when the system
  // gave more than an empty text.
  bool Compare(const std::string& call, DWORD size, const Read& system, const Read& ours) {
    std::string theirs(size + kSlack, '\xA5'), mine(size + kSlack, '\xA5');
    const long theirResult = system(&theirs[0], size);
    const long myResult = ours(&mine[0], size);
    ++reads_;
    if (theirResult != myResult || theirs != mine) {
      Report(call + ", size " + std::to_string(size), theirResult, theirs, myResult, mine);
    }
    return theirResult > 0;
  }

  void Report(const std::string& call, long theirResult, const std::string& theirs, long myResult,
              const std::string& mine) {
    if (++differences_ > kReportsPerCase) return;
    ADD_FAILURE() << quirk_.what << ": " << call << "\n  profile functions: " << theirResult << " ["
                  << Shown(theirs) << "]\n  IniFile:           " << myResult << " [" << Shown(mine)
                  << "]";
  }

  void Texts(const std::string& section, const std::string& key) {
    const char *s = section.c_str(), *k = key.c_str(), *file = path_.c_str();
    const std::string call = "(\"" + Escape(section) + "\", \"" + Escape(key) + "\")";
    const Read system = [&](char* b, DWORD size) {
      return static_cast<long>(GetPrivateProfileStringA(s, k, "", b, size, file));
    };
    const Read ours = [&](char* b, DWORD size) {
      return static_cast<long>(ini_.GetString(s, k, b, size));
    };
    // Every size where there is a value; the smallest ones where there is none.
    if (Compare("GetString" + call, 1024, system, ours)) {
      for (DWORD size : kTextSizes) Compare("GetString" + call, size, system, ours);
    } else {
      for (DWORD size : {1, 2}) Compare("GetString" + call, size, system, ours);
    }
    const long theirs = static_cast<long>(GetPrivateProfileIntA(s, k, -7, file));
    const long mine = static_cast<long>(static_cast<UINT>(ini_.GetInt(s, k, -7)));
    ++reads_;
    if (theirs != mine) Report("GetInt" + call, theirs, "", mine, "");
  }

  // The key names of section, or the section names when section is null.
  void Names(const char* section) {
    const char* file = path_.c_str();
    const std::string call =
        section ? "GetKeyNames(\"" + Escape(section) + "\")" : std::string("GetSectionNames");
    for (DWORD size : kListSizes) {
      Compare(
          call, size,
          [&](char* b, DWORD n) {
            return static_cast<long>(
                section ? GetPrivateProfileStringA(section, nullptr, "", b, n, file)
                        : GetPrivateProfileSectionNamesA(b, n, file));
          },
          [&](char* b, DWORD n) {
            return static_cast<long>(section ? ini_.GetKeyNames(section, b, n)
                                             : ini_.GetSectionNames(b, n));
          });
    }
  }

 private:
  const Quirk& quirk_;
  const std::string& path_;
  const IniFile& ini_;
  int differences_ = 0;
  int reads_ = 0;
};

const std::string kHash(64, 'a');

const Quirk kQuirks[] = {
    {"a list as the build writes it",
     "[General]\r\nGroup=2\r\nKeyFile=VRSAFFRA9.exe\r\nVersions=1\r\nVersion0=10,2,9,0\r\n"
     "Length0=4294967295\r\n\r\n[Group0]\r\nName=General\r\nInstall Path=\r\nFiles=1\r\n"
     "Path0=D:\\build\\out\\VRSAFFRA9.exe\r\nPathTimeL0=3252985344\r\nSize0=12\r\nHash0=" +
         kHash + "\r\n",
     {"General", "group0"},
     {"Group", "keyfile", "Version0", "Length0", "Name", "install path", "Files", "Path0",
      "PathTimeL0", "Size0", "Hash0"}},
    {"names in other case, duplicated sections and keys",
     "[Sec]\r\nKey=first\r\nkey=second\r\nOther=1\r\n[sec]\r\nLate=x\r\nKey=third\r\n"
     "[SEC2]\r\nk=v\r\n",
     {"Sec", "sec2"},
     {"Key", "other", "Late", "k"}},
    {"blanks, tabs, VT, FF, CR and ^Z around lines, names and values",
     " \t[ \tGeneral \x0b]\t \r\n \x1a Key \t = \x0c value  with  inner\tblanks \x1a\t\r\n"
     "\tTabbed\t=\t\t\r\nempty=\r\n\x0b\x0c\r\n  spaced key  =  x  \r\n",
     {"General"},
     {"Key", "Tabbed", "empty", "spaced key"}},
    {"quotes",
     "[Q]\r\nd=\"double\"\r\ns='single'\r\nmixed=\"oops'\r\nempty=\"\"\r\nlone=\"\r\n"
     "inner=\"a\"b\"\r\nspaced=\" padded \"\r\nhalf=\"open\r\nsj=\"\x95\x5c\x83\x5c\x83\x41\"\r\n"
     "one='x'\r\nblank=\" \"\r\n",
     {"Q"},
     {"d", "s", "mixed", "empty", "lone", "inner", "spaced", "half", "sj", "one", "blank"}},
    {"lines without \"=\" and comment lines",
     "[A]\r\nplain line\r\n;comment=hidden\r\nk=v\r\n; just a note\r\n;k=2\r\nanother\r\n"
     "[;B]\r\nx=1\r\n",
     {"A", ";B"},
     {"plain line", ";comment", "k", "; just a note", "another", "x"}},
    {"keys before the first section, a section without name",
     "pre=1\r\nalso=2\r\n[A]\r\nk=3\r\n[]\r\nnameless=4\r\n",
     {"A"},
     {"pre", "also", "k", "nameless"}},
    {"\"[\" lines without \"]\", \"]\" inside and after names",
     "[open\r\nk=1\r\n[x=2\r\n[a]b]\r\nin=3\r\n[ c ] trailing "
     "text\r\nt=4\r\n]odd=5\r\n[]]\r\nz=6\r\n"
     "[last",
     {"open", "a]b", "a", "c", "]", "[x"},
     {"k", "[x", "[open", "in", "t", "]odd", "z", "[last"}},
    {"values with \"=\", keys without name",
     "[A]\r\nk=a=b=c\r\n=first\r\n=second\r\nn=1\r\n==\r\n  = spaced\r\nm==x\r\n",
     {"A"},
     {"k", "n", "=", "m"}},
    {"a key without name first", "[A]\r\n=v\r\nk=1\r\n", {"A"}, {"k"}},
    {"CR, LF, CR LF and runs of them",
     "[A]\rcr=1\r[B]\nlf=2\n[C]\r\n\r\n\r\ncrlf=3\n\r\n\rmixed=4\r\r\n\nk=one\rtwo\r\n",
     {"A", "B", "C"},
     {"cr", "lf", "crlf", "mixed", "k", "two"}},
    {"no final line end", "[A]\r\nk=last", {"A"}, {"k"}},
    {"an empty value at the very end", "[A]\r\nk=", {"A"}, {"k"}},
    {"an empty list", "", {"A"}, {"k"}},
    {"blanks only", " \r\n\t\r\n\x1a", {"A"}, {"k"}},
    {"numbers",
     "[N]\r\na=1\r\nb=-7\r\nc=+5\r\nd=  12\r\ne=0x1F\r\nf=0o17\r\ng=0b101\r\nh=-0x10\r\n"
     "i=4294967295\r\nj=4294967296\r\nk=99999999999\r\nl=12abc\r\nm=abc\r\nn=\r\no=\"42\"\r\n"
     "p=0X1F\r\nq=+-1\r\nr=0000000000000000000000000000000000000007\r\n"
     "s=1234567890123456789012345678901234\r\nt=\" 8\"\r\nu=0x\r\nv=-\r\nw=0b2\r\n"
     "x=2147483648\r\ny=-2147483649\r\nz=\x95\x5c\r\nzz=\"123456789012345678901234567\"\r\n",
     {"N"},
     {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n",
      "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "zz"}},
    {"values longer than every buffer",
     "[L]\r\nlong=" + std::string(300, 'v') + "\r\nlonger=X:\\" + std::string(1100, 'p') +
         "\r\nquoted=\"" + std::string(258, 'q') + "\"\r\n",
     {"L"},
     {"long", "longer", "quoted"}},
    {"Shift-JIS names and values",
     "[\x95\x5c]\r\n\x83\x41=katakana a\r\n\x83\x61=di\r\nPath0=X:\\\x95\x5c\\\x83\x5c.dll\r\n"
     "\x81\x40pad\x81\x40=full-width blanks are kept\r\nv=\x81\x40\x95\x5c\x83\x5c\x81\x40\r\n"
     "mixed=a\x95\x5c"
     "b\x83\x5c"
     "c\r\n[\x83\x5d]\r\nz=1\r\n[\x83\x5d\r\ny=2\r\n[\xb1\xb2]\r\n"
     "half=\xb1\xb2\xb3\r\n",
     {"\x95\x5c", "\x83\x5d", "\x83\x7d", "\xb1\xb2"},
     {"\x83\x41", "\x83\x61", "Path0", "\x81\x40pad\x81\x40", "pad", "v", "mixed", "z", "[\x83\x5d",
      "y", "half"}},
    {"section lists",
     "[Alpha]\r\n[Beta]\r\n[Gamma Delta]\r\n[\x95\x5c\x95\x5c\x95\x5c]\r\n[E]\r\n[alpha]\r\n",
     {"Alpha", "E"},
     {"k"}},
    {"control characters in names and values",
     "[A]\r\nk\x01=v\x7f\r\n\x7f=\x01\x02\r\n",
     {"A"},
     {"k\x01", "\x7f"}},
};

TEST(IniFileAgainstProfileFunctions, EveryQuirkReadsTheSame) {
  if (GetACP() != 932) GTEST_SKIP() << "the table is made for code page 932; this is " << GetACP();
  const std::string folder = vrtest::MakeFolder("C:\\vrdiff");
  int serial = 0, reads = 0;
  for (const Quirk& quirk : kQuirks) {
    // A new name for each list: the profile functions keep files they read.
    const std::string path = folder + "list" + std::to_string(++serial) + ".ini";
    ASSERT_TRUE(vrtest::WriteWholeFile(path, quirk.text));
    IniFile ini(quirk.text.data(), quirk.text.size());
    ASSERT_EQ(IniFile::ParseResult::Ready, ini.Parse()) << quirk.what;
    Comparison comparison(quirk, path, ini);
    comparison.Names(nullptr);
    const std::vector<std::string> sections = Queries(quirk.sections);
    const std::vector<std::string> keys = Queries(quirk.keys);
    for (const std::string& section : sections) {
      comparison.Names(section.c_str());
      for (const std::string& key : keys) comparison.Texts(section, key);
    }
    EXPECT_EQ(0, comparison.differences()) << quirk.what;
    reads += comparison.reads();
    DeleteFileA(path.c_str());
  }
  EXPECT_GT(reads, 10000) << "fewer reads compared than the table asks for";
  printf("%d reads compared\n", reads);
}

// What the profile functions would read converted to Unicode and back (so
// as other bytes) is refused as a whole.
TEST(IniFileAgainstProfileFunctions, TextsTheyWouldConvertAreRefused) {
  if (GetACP() != 932) GTEST_SKIP() << "the table is made for code page 932; this is " << GetACP();
  const std::string kRefused[] = {
      std::string("\xEF\xBB\xBF[A]\r\nk=1\r\n"),  // UTF-8 byte-order mark
      std::string("\xFF\xFE[\0A\0]\0", 8),        // UTF-16
      std::string("\xFE\xFF\0[\0A\0]", 8),        // UTF-16, big-endian
      std::string("[A]\r\nk=a\0b\r\n", 12),       // a zero byte
      std::string("[A]\r\nk=\x95"),               // a lead byte at the end
      std::string("[A]\r\nk=\x81\nj=1\r\n"),      // a lead byte before LF
      std::string("[A]\r\nk=\x85\x40\r\n"),       // no character of code page 932
      std::string("[A]\r\nk=\xFA\x4A\r\n"),       // IBM duplicate of NEC's Roman one
      std::string("[A]\r\nk=\xED\x40\r\n"),       // NEC-selected IBM character
  };
  for (const std::string& text : kRefused) {
    IniFile ini(text.data(), text.size());
    EXPECT_EQ(IniFile::ParseResult::NotText, ini.Parse()) << Escape(text);
    EXPECT_EQ(5, ini.GetInt("A", "k", 5));  // read as an empty list
  }
}

}  // namespace
