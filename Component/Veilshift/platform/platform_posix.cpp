// POSIX stand-ins for the Windows calls: components are shared objects that the
// host has already loaded, the start-up values come from the environment, and the
// message box is one line on standard error.
#if !defined(_WIN32)

#include <dlfcn.h>
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace veilshift::platform {

void* FindLoadedModule(const char* name) {
    char soname[256];
    if (std::snprintf(soname, sizeof soname, "lib%s.so", name) >= static_cast<int>(sizeof soname)) return nullptr;
    void* handle = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD);
    // NOLOAD still counts a reference; give it back at once so that only the
    // host's own load keeps the component, as with GetModuleHandleA.
    if (handle != nullptr) dlclose(handle);
    return handle;
}

ComponentFactoryFn FindFactory(void* module, const char* exportName) {
    return reinterpret_cast<ComponentFactoryFn>(dlsym(module, exportName));
}

StartupKey::StartupKey() : open_(true) {}  // the environment always "opens"
StartupKey::~StartupKey() = default;

namespace {
// kStartupVariablePrefix + the name, read as platform.h says.
bool ReadEnvironmentValue(const char* name, uint32_t& value) {
    char variable[64];
    if (std::snprintf(variable, sizeof variable, "%s%s", kStartupVariablePrefix, name) >= static_cast<int>(sizeof variable))
        return false;
    const char* text = std::getenv(variable);
    if (text == nullptr) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    const bool decimal = end != text && *end == '\0' && errno == 0 && parsed >= INT32_MIN && parsed <= UINT32_MAX;
    value = decimal ? static_cast<uint32_t>(parsed) : 0;
    return true;
}
}  // namespace

bool StartupKey::ReadValue(const char* name, uint32_t& value) const { return ReadEnvironmentValue(name, value); }

void ShowMessageBox(const char* text, const char* caption) {
    char utf8[4096];
    const char* shown = text;
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        char* in = const_cast<char*>(text);
        size_t inLeft = std::strlen(text);
        char* out = utf8;
        size_t outLeft = sizeof utf8 - 1;
        if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) {
            *out = '\0';
            shown = utf8;
        }
        iconv_close(converter);
    }
    std::fprintf(stderr, "%s: %s\n", caption, shown);
    std::fflush(stderr);
}

}  // namespace veilshift::platform

#endif  // !_WIN32
