// The thunk that calls with a misaligned stack (see misaligned_call.h).
#include "host/misaligned_call.h"

#if defined(__i386__)
namespace refhost {
extern "C" {
uint32_t LastMisalignedCallStack = 0;
}
}  // namespace refhost

// C names carry the target's prefix: "_" on Windows, none on ELF.
#define VS_ASM_STRING2(x) #x
#define VS_ASM_STRING(x) VS_ASM_STRING2(x)
#define VS_ASM_NAME(name) VS_ASM_STRING(__USER_LABEL_PREFIX__) #name

// cdecl: after the four pushes, fn is at 20(%esp), thisPtr 24, args 28, count 32.
__asm__(
    ".text\n"
    ".globl " VS_ASM_NAME(CallWithStackAt4Mod16) "\n"
    VS_ASM_NAME(CallWithStackAt4Mod16) ":\n"
    "  pushl %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl %esp, %ebp\n"
    "  movl 32(%ebp), %ecx\n"
    "  movl 28(%ebp), %esi\n"
    "  leal 16(,%ecx,4), %eax\n"  // room for the arguments and the alignment
    "  subl %eax, %esp\n"
    "  andl $-16, %esp\n"
    "  addl $8, %esp\n"           // arguments at 8 mod 16: the callee enters at 4 mod 16
    "  movl %esp, %edi\n"
    "  cld\n"
    "  rep movsl\n"
    "  movl 24(%ebp), %ecx\n"
    "  movl 20(%ebp), %eax\n"
    "  movl %esp, " VS_ASM_NAME(LastMisalignedCallStack) "\n"
    "  call *%eax\n"
    "  movl %ebp, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");
#endif
