#include "host_connection.h"

#include <cstring>

#include "memory.h"
#include "module_state.h"
#include "platform/platform.h"

namespace veilshift {

bool NameBuffer::Assign(const char* name) {
    const size_t needed = std::strlen(name) + 1;
    if (needed > capacity_) {
        char* grown = AllocateArray<char>(needed);
        if (grown == nullptr) return false;
        FreeBytes(data_);
        data_ = grown;
        capacity_ = needed;
    }
    std::memcpy(data_, name, needed);
    return true;
}

void NameBuffer::Release() {
    FreeBytes(data_);
    data_ = nullptr;
    capacity_ = 0;
}

void HostConnection::Release() {
    api = nullptr;
    module = nullptr;
    name.Release();
}

namespace {
// Finds the component by name and asks its factory for the interface; every
// field of the record is overwritten, nothing is released between attempts.
void* ConnectComponent(HostConnection& record, const char* moduleName, const char* factoryName, const Guid& guid) {
    if (!record.name.Assign(moduleName)) return nullptr;
    record.module = platform::FindLoadedModule(record.name.CStr());
    if (record.module == nullptr) return nullptr;
    record.guid = guid;
    const ComponentFactoryFn factory = platform::FindFactory(record.module, factoryName);
    record.api = factory != nullptr ? factory(&record.guid) : nullptr;
    return record.api;
}
}  // namespace

bool ConnectPlatewright(HostConnection& record) {
    void* api = ConnectComponent(record, kPlatewrightModule, kPlatewrightFactory, kPlatewrightGuid);
    if (api == nullptr) return false;
    moduleState.platewright = static_cast<PlatewrightApi*>(api);
    return true;
}

bool ConnectPixmill(HostConnection& record) {
    void* api = ConnectComponent(record, kPixmillModule, kPixmillFactory, kPixmillGuid);
    if (api == nullptr) return false;
    PixmillApi* pixmill = static_cast<PixmillApi*>(api);
    moduleState.pixmill = pixmill;
    if (!pixmill->IsReady()) return false;
    pixmill->SetFlag(1);
    // The last step of this connection: the forms the user and the processor
    // allow, and the blend table. The key stays open until it ends, on every way out.
    const platform::StartupKey key;
    const ProcessorReport processor = DetectProcessorReport();
    RecordProcessorReport(processor);
    LoadStartupSettings(key, processor.features);
    return BuildMulTable();
}

SystemApi* FindSystemApi() {
    if (moduleState.system != nullptr) return moduleState.system;
    void* module = platform::FindLoadedModule(kCorvaneModule);
    if (module == nullptr) return nullptr;
    const ComponentFactoryFn factory = platform::FindFactory(module, kCorvaneFactory);
    if (factory == nullptr) return nullptr;
    moduleState.system = static_cast<SystemApi*>(factory(&kCorvaneGuid));
    return moduleState.system;
}

}  // namespace veilshift
