// payload_verify: checks a built store against the files it was made from.
//
//   payload_verify <module> <list>
//
// <list> has one line per store entry, fields separated by tabs:
//   raw|szdd  ENTRY  SOURCE  [PRODUCTVERSION]
// A raw entry must equal SOURCE byte for byte. A szdd entry is written to a
// temporary file and expanded through LZ32.DLL, as the updater does it; the
// expansion must equal SOURCE, and when PRODUCTVERSION is given the expanded
// file's version resource must carry it. The module's "FILES" entries must be
// exactly the listed ones, each stored under Japanese (1041).
// Paths that start with '/' are build-machine paths and are reached through
// drive Z:. Exit code 0 when everything matches, 1 otherwise.
#include <windows.h>
#include <lzexpand.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "win32/UniqueHandle.h"

namespace {

struct Entry {
  std::string mode, name, source, version;
};

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string WinePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool ReadWholeFile(const std::string& path, std::vector<char>* out) {
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x40000000) return false;
  out->assign(static_cast<size_t>(size.QuadPart), 0);
  DWORD done = 0;
  size_t at = 0;
  while (at < out->size()) {
    DWORD chunk = static_cast<DWORD>(out->size() - at > (1u << 24) ? (1u << 24) : out->size() - at);
    if (!ReadFile(file.get(), out->data() + at, chunk, &done, nullptr) || done == 0) return false;
    at += done;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, DWORD size) {
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD done = 0;
  return file && WriteFile(file.get(), data, size, &done, nullptr) && done == size;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  auto* names = reinterpret_cast<std::set<std::string>*>(param);
  if (IS_INTRESOURCE(name)) {
    names->insert("#" + std::to_string(reinterpret_cast<ULONG_PTR>(name)));
  } else {
    names->insert(Upper(name));
  }
  return TRUE;
}

// Expands an SZDD file through LZ32.DLL. Wine's LZCopy does not fail on a
// failed open, so both opens are tested first.
bool Expand(const std::string& source, const std::string& destination) {
  OFSTRUCT of = {};
  of.cBytes = sizeof(of);
  INT in = LZOpenFileA(const_cast<char*>(source.c_str()), &of, OF_READ);
  if (in < 0) return false;
  OFSTRUCT of2 = {};
  of2.cBytes = sizeof(of2);
  INT out = LZOpenFileA(const_cast<char*>(destination.c_str()), &of2, OF_CREATE);
  if (out < 0) {
    LZClose(in);
    return false;
  }
  LONG copied = LZCopy(in, out);
  LZClose(in);
  LZClose(out);
  return copied >= 0;
}

bool ProductVersionOf(const std::string& path, std::string* version) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return false;
  DWORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length < 4)
    return false;
  char query[64];
  snprintf(query, sizeof(query), "\\StringFileInfo\\%04x%04x\\ProductVersion", LOWORD(*translation),
           HIWORD(*translation));
  char* text = nullptr;
  if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&text), &length)) return false;
  *version = text;
  return true;
}

class Checker {
 public:
  Checker(HMODULE module, const std::string& temp) : module_(module), temp_(temp) {}

  // Returns an empty text when the entry matches, else what is wrong.
  std::string Check(const Entry& e) {
    HRSRC found = FindResourceExA(module_, "FILES", e.name.c_str(),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    if (found == nullptr) return "not stored under language 1041";
    DWORD size = SizeofResource(module_, found);
    HGLOBAL loaded = LoadResource(module_, found);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data == nullptr || size == 0) return "empty or unreadable";
    std::vector<char> source;
    if (!ReadWholeFile(WinePath(e.source), &source)) return "source unreadable: " + e.source;
    if (e.mode == "raw") {
      if (source.size() != size || memcmp(source.data(), data, size) != 0)
        return "differs from " + e.source;
      return "";
    }
    static const unsigned char kMagic[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
    if (size < 14 || memcmp(data, kMagic, 8) != 0 || data[8] != 'A') return "not SZDD";
    std::string packed = temp_ + "pv_packed.tmp", expanded = temp_ + "pv_expanded.tmp";
    win32::ScopedDeleteFile deletePacked(packed.c_str()), deleteExpanded(expanded.c_str());
    if (!WriteWholeFile(packed, data, size)) return "cannot write " + packed;
    if (!Expand(packed, expanded)) return "LZ32.DLL cannot expand it";
    std::vector<char> result;
    if (!ReadWholeFile(expanded, &result)) return "expansion unreadable";
    if (result != source) {
      return "expands to " + std::to_string(result.size()) + " bytes that differ from " + e.source +
             " (" + std::to_string(source.size()) + " bytes)";
    }
    expandedBytes_ += result.size();
    packedBytes_ += size;
    if (!e.version.empty()) {
      std::string version;
      if (!ProductVersionOf(expanded, &version)) return "no ProductVersion";
      if (version != e.version) return "ProductVersion " + version + ", expected " + e.version;
    }
    return "";
  }

  unsigned long long expandedBytes_ = 0, packedBytes_ = 0;

 private:
  HMODULE module_;
  std::string temp_;
};

std::vector<Entry> ReadList(const std::string& path, bool* ok) {
  std::vector<char> text;
  std::vector<Entry> entries;
  *ok = ReadWholeFile(path, &text);
  std::string line;
  text.push_back('\n');
  for (char c : text) {
    if (c == '\r') continue;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (!line.empty()) {
      std::vector<std::string> fields(1);
      for (char d : line) {
        if (d == '\t') {
          fields.emplace_back();
        } else {
          fields.back() += d;
        }
      }
      fields.resize(4);
      entries.push_back({fields[0], Upper(fields[1]), fields[2], fields[3]});
    }
    line.clear();
  }
  return entries;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: payload_verify <module> <list>\n");
    return 2;
  }
  std::string modulePath = WinePath(argv[1]);
  win32::Module module(LoadLibraryExA(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) {
    fprintf(stderr, "payload_verify: cannot load %s\n", modulePath.c_str());
    return 1;
  }
  bool ok = false;
  std::vector<Entry> entries = ReadList(WinePath(argv[2]), &ok);
  if (!ok || entries.empty()) {
    fprintf(stderr, "payload_verify: cannot read the list %s\n", argv[2]);
    return 1;
  }
  char temp[MAX_PATH + 1];
  DWORD tempLength = GetTempPathA(sizeof(temp), temp);
  if (tempLength == 0 || tempLength >= sizeof(temp)) return 1;

  int failures = 0;
  std::set<std::string> stored, listed;
  EnumResourceNamesA(module.get(), "FILES", CollectName, reinterpret_cast<LONG_PTR>(&stored));
  Checker checker(module.get(), temp);
  for (const Entry& e : entries) {
    if (!listed.insert(e.name).second) {
      fprintf(stderr, "payload_verify: %s listed twice\n", e.name.c_str());
      ++failures;
      continue;
    }
    std::string problem = checker.Check(e);
    if (!problem.empty()) {
      fprintf(stderr, "payload_verify: %s: %s\n", e.name.c_str(), problem.c_str());
      ++failures;
    }
  }
  for (const std::string& name : stored) {
    if (!listed.count(name)) {
      fprintf(stderr, "payload_verify: %s is stored but not listed\n", name.c_str());
      ++failures;
    }
  }
  printf("payload_verify: %u entries, %u stored, %llu bytes packed, %llu expanded, %d failures\n",
         static_cast<unsigned>(entries.size()), static_cast<unsigned>(stored.size()),
         checker.packedBytes_, checker.expandedBytes_, failures);
  return failures == 0 ? 0 : 1;
}
