// CPUID and the ID-flag test. Built without SIMD code generation, like every file
// but the kernels' processor forms (MMX, SSE, SSE2 and AVX2 files): this is
// what decides whether they may run.
#include "platform.h"

namespace veilshift::platform {

#if defined(__x86_64__)
bool HasCpuId() { return true; }
#elif defined(__i386__)
bool HasCpuId() {
    // A processor with CPUID lets bit 21 of EFLAGS (the ID flag) be toggled.
    uint32_t original, toggled;
    __asm__ volatile(
        "pushfl\n\t"
        "popl %0\n\t"
        "movl %0, %1\n\t"
        "xorl $0x200000, %1\n\t"
        "pushl %1\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %1\n\t"
        "pushl %0\n\t"
        "popfl"
        : "=&r"(original), "=&r"(toggled)
        :
        : "cc");
    return ((original ^ toggled) & 0x200000) != 0;
}
#else
bool HasCpuId() { return false; }
#endif

void CpuId(uint32_t leaf, uint32_t regs[4], uint32_t subleaf) {
#if defined(__x86_64__) || defined(__i386__)
    __asm__ volatile("cpuid" : "=a"(regs[0]), "=b"(regs[1]), "=c"(regs[2]), "=d"(regs[3]) : "a"(leaf), "c"(subleaf));
#else
    (void)leaf;
    (void)subleaf;
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#endif
}

uint64_t ReadXcr0() {
#if defined(__x86_64__) || defined(__i386__)
    // Inline assembly rather than the intrinsic, which would need -mxsave for this file.
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t{high} << 32) | low;
#else
    return 0;
#endif
}

}  // namespace veilshift::platform
