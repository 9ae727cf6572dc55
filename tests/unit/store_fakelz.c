/* Stand-in for LZ32.DLL in the binding tests: exports the required entry
   points by name (never called). Built once with all seven and once without
   LZSeek. */
#define EXPORT __declspec(dllexport)

EXPORT int LZCopy(void) { return -1; }
EXPORT int LZInit(void) { return -1; }
EXPORT int GetExpandedNameA(void) { return -1; }
EXPORT int LZOpenFileA(void) { return -1; }
#ifndef OMIT_LZSEEK
EXPORT int LZSeek(void) { return -1; }
#endif
EXPORT int LZRead(void) { return -1; }
EXPORT void LZClose(void) {}
