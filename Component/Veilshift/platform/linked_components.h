// Programs without dynamic loading (the WebAssembly build) link the module and
// the engine's components into one program. There the host names each
// component's factory here before the first Begin, and the module finds it by
// the component's name and the factory's export name, exactly as it finds a
// loaded module and its export elsewhere.
#pragma once

#include "../host_interfaces.h"

namespace veilshift::platform {

// Registers `factory` as the export `exportName` of the component `moduleName`
// ("Pixmill", "CreateInterface"); registering it again replaces the factory,
// and a null factory takes the component away (as if it were unloaded). False
// when a name is empty or longer than kLinkedNameCapacity - 1 bytes, or when
// kMaxLinkedComponents other components are already registered.
bool RegisterLinkedComponent(const char* moduleName, const char* exportName, ComponentFactoryFn factory);

// The registry's answers, which FindLoadedModule and FindFactory give where
// components are linked in: the component registered as `moduleName` (null
// when none is), and its factory when asked for the export name it was
// registered with (null otherwise).
void* FindLinkedComponent(const char* moduleName);
ComponentFactoryFn FindLinkedFactory(void* component, const char* exportName);

inline constexpr int kMaxLinkedComponents = 8;
inline constexpr int kLinkedNameCapacity = 32;

}  // namespace veilshift::platform
