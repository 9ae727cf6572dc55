// Filter merits of the product's DirectShow filters, and COM servers
// registered through the system's Regsvr32.exe.
#pragma once

#include <windows.h>

#include <stdint.h>

class ComponentRegistrar {
 public:
  ComponentRegistrar() = default;
  ~ComponentRegistrar() = default;

  // Lists 1..4 in order; 1 when at least one list succeeded completely.
  int32_t AdjustFilterMerits();
  int32_t SetFilterMerit(DWORD merit, HKEY root, const char* subkey);
  DWORD QueryBinaryValueSize(const char* valueName, const char* subkey, HKEY root);
  int32_t ReadBinaryValue(BYTE* buffer, DWORD* size, const char* valueName, const char* subkey,
                          HKEY root);
  int32_t WriteBinaryValue(const BYTE* data, DWORD size, const char* valueName,
                           const char* subkey, HKEY root);
  // Starts Regsvr32.exe "/s [/u ]\"path\"" hidden and waits (bounded).
  int32_t RegisterServer(const char* path, int32_t unregister);
};
