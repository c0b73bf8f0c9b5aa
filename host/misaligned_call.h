// Calls into the module the way a host built by an older compiler does: with
// the stack pointer 4 bytes past a 16-byte boundary at the callee's entry
// (the Windows x86 convention promises only 4-byte alignment). 32-bit x86 only.
#pragma once

#include <cstdint>

#if defined(__i386__)
namespace refhost {

extern "C" {

// Calls `fn` with `count` 32-bit arguments pushed right to left and ECX set to
// `thisPtr` (so it serves both cdecl functions and thiscall operations, whose
// callee pops its arguments). The stack pointer at the callee's entry is 4 mod
// 16. Returns EAX; the caller's stack is restored whatever the convention.
uint32_t CallWithStackAt4Mod16(const void* fn, void* thisPtr, const uint32_t* args, uint32_t count);

// The stack pointer at entry to the last call CallWithStackAt4Mod16 made, as
// the thunk saw it just before the call instruction pushed the return address.
extern uint32_t LastMisalignedCallStack;

}  // extern "C"

}  // namespace refhost
#endif
