#include "win32/ForeignCall.h"

namespace win32 {

#if defined(__i386__)

__attribute__((noinline)) intptr_t CallWithOneArgument(FARPROC entry, intptr_t argument) {
  intptr_t result;
  __asm__ __volatile__(
      "movl %%esp, %%esi\n\t"
      "pushl %2\n\t"
      "call *%1\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result)
      : "r"(entry), "r"(argument)
      : "esi", "ecx", "edx", "memory", "cc");
  return result;
}

__attribute__((noinline)) int CallWithTwoPointers(FARPROC entry, const void* first,
                                                  const void* second) {
  // eax carries the entry point in and the result out; esi keeps the stack
  // pointer across the call (it is saved by every convention).
  uintptr_t entryOrResult = reinterpret_cast<uintptr_t>(entry);
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %%edx\n\t"
      "pushl %%ecx\n\t"
      "call *%%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "+a"(entryOrResult), "+c"(first), "+d"(second)
      :
      : "esi", "memory", "cc");
  return static_cast<int>(entryOrResult);
}

#elif defined(__x86_64__)

intptr_t CallWithOneArgument(FARPROC entry, intptr_t argument) {
  return reinterpret_cast<intptr_t (*)(intptr_t)>(entry)(argument);
}

int CallWithTwoPointers(FARPROC entry, const void* first, const void* second) {
  return reinterpret_cast<int (*)(const void*, const void*)>(entry)(first, second);
}

#else
#error "calls into the product's libraries are written for i386 and x86-64 only"
#endif

}  // namespace win32
