#include "win32/ResString.h"

namespace win32 {

bool LoadResString(UINT id, char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return false;
  buffer[0] = '\0';
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, capacity);
  if (n <= 0) return false;
  // LoadStringA cuts silently: a text that fills the buffer may be cut.
  if (n >= capacity - 1) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace win32
