// The registry that stands in for the loader where there is none: the
// module's GetModuleHandleA and GetProcAddress in a program that links every
// component in (the WebAssembly build). Built everywhere, so that its rules
// are tested natively too.
#include "linked_components.h"

#include <cstring>

#include "platform.h"

namespace veilshift::platform {
namespace {

struct LinkedComponent {
    char moduleName[kLinkedNameCapacity];
    char exportName[kLinkedNameCapacity];
    ComponentFactoryFn factory;  // null: the slot is free
};
LinkedComponent linked[kMaxLinkedComponents];

bool Fits(const char* name) { return name != nullptr && name[0] != '\0' && std::strlen(name) < kLinkedNameCapacity; }

LinkedComponent* Find(const char* moduleName) {
    for (LinkedComponent& entry : linked)
        if (entry.factory != nullptr && std::strcmp(entry.moduleName, moduleName) == 0) return &entry;
    return nullptr;
}

}  // namespace

bool RegisterLinkedComponent(const char* moduleName, const char* exportName, ComponentFactoryFn factory) {
    if (!Fits(moduleName) || !Fits(exportName)) return false;
    LinkedComponent* entry = Find(moduleName);
    if (factory == nullptr) {
        if (entry != nullptr) entry->factory = nullptr;
        return true;
    }
    for (int i = 0; entry == nullptr && i < kMaxLinkedComponents; ++i)
        if (linked[i].factory == nullptr) entry = &linked[i];
    if (entry == nullptr) return false;
    std::memcpy(entry->moduleName, moduleName, std::strlen(moduleName) + 1);
    std::memcpy(entry->exportName, exportName, std::strlen(exportName) + 1);
    entry->factory = factory;
    return true;
}

void* FindLinkedComponent(const char* moduleName) { return moduleName != nullptr ? Find(moduleName) : nullptr; }

ComponentFactoryFn FindLinkedFactory(void* component, const char* exportName) {
    const auto* entry = static_cast<const LinkedComponent*>(component);
    if (entry == nullptr || entry->factory == nullptr || exportName == nullptr) return nullptr;
    return std::strcmp(entry->exportName, exportName) == 0 ? entry->factory : nullptr;
}

#if defined(__EMSCRIPTEN__)
void* FindLoadedModule(const char* name) { return FindLinkedComponent(name); }
ComponentFactoryFn FindFactory(void* module, const char* exportName) { return FindLinkedFactory(module, exportName); }
#endif

}  // namespace veilshift::platform
