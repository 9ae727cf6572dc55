#include "win32/KillPoint.h"

#ifdef VR_KILL_POINTS

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "win32/BoundedString.h"

namespace win32 {
namespace {

constexpr char kVariable[] = "VR_KILL_AT";

// The point asked for: a name prefix and which of its matches ends the run.
struct KillTarget {
  char text[256] = {};
  unsigned long nth = 1;
  unsigned long seen = 0;
};

// Read once, at the first point. An empty, overlong or malformed value asks
// for no point at all.
KillTarget& Target() {
  static KillTarget target;
  static bool read = false;
  if (read) return target;
  read = true;
  char value[sizeof target.text] = {};
  const DWORD length = GetEnvironmentVariableA(kVariable, value, sizeof value);
  if (length == 0 || length >= sizeof value) return target;
  char* hash = strrchr(value, '#');
  if (hash && hash[1] != '\0') {
    char* end = nullptr;
    const unsigned long nth = strtoul(hash + 1, &end, 10);
    if (*end != '\0' || nth == 0) return target;
    target.nth = nth;
    *hash = '\0';
  }
  CopyText(target.text, sizeof target.text, value);
  return target;
}

// True when name begins with text and text ends there at a word's end:
// "service: install" is "service: install" and "service: install (x)", never
// "service: installer started".
bool NamesPoint(const char* name, const char* text) {
  const size_t length = strlen(text);
  if (strncmp(name, text, length) != 0) return false;
  const unsigned char next = static_cast<unsigned char>(name[length]);
  return !((next >= '0' && next <= '9') || (next >= 'A' && next <= 'Z') ||
           (next >= 'a' && next <= 'z'));
}

}  // namespace

void ReachKillPoint(const char* name) {
  KillTarget& target = Target();
  if (target.text[0] == '\0' || !name || !NamesPoint(name, target.text)) return;
  if (++target.seen < target.nth) return;
  char line[600];
  if (FormatText(line, sizeof line, "VrUpdater: kill point %s#%lu at %s\n", target.text, target.nth,
                 name))
    OutputDebugStringA(line);
  else
    OutputDebugStringA("VrUpdater: kill point (name too long)\n");
  TerminateProcess(GetCurrentProcess(), kKillPointExitCode);
}

}  // namespace win32

#endif  // VR_KILL_POINTS
