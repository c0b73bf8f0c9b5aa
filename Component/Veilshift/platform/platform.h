// The few operating-system services the module uses. On Windows these are the
// real calls; elsewhere small stand-ins (platform_posix.cpp) with the same meaning.
#pragma once

#include <cstdint>

#include "../host_interfaces.h"

namespace veilshift::platform {

// An engine component that the host has already loaded, by name ("Pixmill");
// null when absent. The module never loads or frees a module itself.
void* FindLoadedModule(const char* name);

// A factory exported by such a module, or null.
ComponentFactoryFn FindFactory(void* module, const char* exportName);

// The engine family's start-up key under HKEY_CURRENT_USER, and its POSIX
// stand-in: the environment variable kStartupVariablePrefix + the value's name
// (unset = absent; a decimal integer = that 32-bit value; any other text =
// present, but not 1).
inline constexpr char kStartupKeyPath[] = "Software\\Quillmoor\\Tessary\\Startup";
inline constexpr char kStartupVariablePrefix[] = "TESSARY_STARTUP_";

// The start-up key, opened (and created, empty, when missing) for the holder's lifetime.
class StartupKey {
public:
    StartupKey();
    ~StartupKey();
    StartupKey(const StartupKey&) = delete;
    StartupKey& operator=(const StartupKey&) = delete;

    bool IsOpen() const { return open_; }
    // A 32-bit value: true when present (read with 4 bytes offered); shorter data
    // fills the low bytes, the rest reads as zero.
    bool ReadValue(const char* name, uint32_t& value) const;

private:
    void* handle_ = nullptr;
    bool open_ = false;
};

// The one message box: no owner, OK only, topmost. `text` is Shift-JIS.
void ShowMessageBox(const char* text, const char* caption);

// CPUID as the processor answers it. `HasCpuId` is the ID-flag test (bit 21 of
// EFLAGS can be toggled); always true on x86-64, false on other processors.
bool HasCpuId();
// `subleaf` goes in ECX (the cache leaves take one; the others ignore it).
void CpuId(uint32_t leaf, uint32_t regs[4], uint32_t subleaf = 0);  // eax, ebx, ecx, edx
// XGETBV with ECX = 0: which register states the operating system saves on a
// task switch. Only valid when CPUID leaf 1 reports OSXSAVE (ECX bit 27); 0 on
// other processors.
uint64_t ReadXcr0();

}  // namespace veilshift::platform
