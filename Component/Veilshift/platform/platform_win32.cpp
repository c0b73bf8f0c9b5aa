// The real Windows calls.
#if defined(_WIN32)

#include <windows.h>

#include "platform.h"

namespace veilshift::platform {

void* FindLoadedModule(const char* name) { return reinterpret_cast<void*>(GetModuleHandleA(name)); }

ComponentFactoryFn FindFactory(void* module, const char* exportName) {
    return reinterpret_cast<ComponentFactoryFn>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), exportName)));
}

StartupKey::StartupKey() {
    HKEY key = nullptr;
    DWORD disposition = 0;  // received, not used
    open_ = RegCreateKeyExA(HKEY_CURRENT_USER, kStartupKeyPath, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS;
    handle_ = open_ ? key : nullptr;
}

StartupKey::~StartupKey() {
    if (open_) RegCloseKey(static_cast<HKEY>(handle_));
}

bool StartupKey::ReadValue(const char* name, uint32_t& value) const {
    DWORD data = 0;  // shorter data fills only the low bytes
    DWORD type = 0;  // received, not tested
    DWORD size = sizeof data;
    const bool present = RegQueryValueExA(static_cast<HKEY>(handle_), name, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS;
    value = data;
    return present;
}

void ShowMessageBox(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_TOPMOST | MB_SETFOREGROUND);
}

}  // namespace veilshift::platform

#endif  // _WIN32
