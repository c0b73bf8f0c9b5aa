// The table position of a virtual operation, read from a pointer to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace test {

// A pointer to a virtual member function is two words: a pointer word and
// an adjustment. In the Itanium C++ ABI (GCC on x86 and x86-64) the pointer
// word holds 1 + the operation's byte offset in the table. ARM's variant of the
// ABI, which WebAssembly shares, keeps the byte offset as it is and marks the
// pointer as virtual in the adjustment's lowest bit instead.
template <typename MemberFn>
ptrdiff_t VirtualSlot(MemberFn fn) {
    struct Raw {
        ptrdiff_t pointer, adjustment;
    };
    static_assert(sizeof(fn) == sizeof(Raw));
    Raw raw;
    std::memcpy(&raw, &fn, sizeof raw);
#if defined(__arm__) || defined(__aarch64__) || defined(__wasm__)
    if ((raw.adjustment & 1) == 0) return -1;  // not virtual
    return raw.pointer / static_cast<ptrdiff_t>(sizeof(void*));
#else
    if ((raw.pointer & 1) == 0) return -1;
    return (raw.pointer - 1) / static_cast<ptrdiff_t>(sizeof(void*));
#endif
}

}  // namespace test
