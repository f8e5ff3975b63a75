// The one call into the runtime library: CinemorphMain, whichever way it was compiled.
#include "launcher/runtime_call.h"

#if !defined(__i386__)
#error "the launcher is a 32-bit x86 program"
#endif

int CallCinemorphMain(CinemorphMainProc entry, HINSTANCE instance, HINSTANCE previous,
                      LPSTR commandLine, int showCommand, LaunchParams* params) {
  // Runtimes exist in both conventions and both export the undecorated name, so the
  // name cannot tell them apart. The stack pointer is kept in ESI, which both
  // conventions preserve, and restored after the call; the arguments are read
  // through EBX, never relative to a stack pointer that the pushes move.
  const void* call[6] = {
      reinterpret_cast<const void*>(entry),       instance, previous, commandLine,
      reinterpret_cast<const void*>(showCommand), params};
  int result;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl 20(%%ebx)\n\t"
      "pushl 16(%%ebx)\n\t"
      "pushl 12(%%ebx)\n\t"
      "pushl 8(%%ebx)\n\t"
      "pushl 4(%%ebx)\n\t"
      "call *(%%ebx)\n\t"
      "movl %%esi, %%esp"
      : "=a"(result)
      : "b"(call)
      : "ecx", "edx", "esi", "memory", "cc");
  return result;
}
