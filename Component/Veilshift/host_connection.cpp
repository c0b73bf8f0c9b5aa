#include "host_connection.h"

#include <cstring>

#include "memory.h"
#include "mul_table.h"
#include "platform/platform.h"
#include "form_rules.h"
#include "startup_settings.h"

namespace veilshift {

PlatewrightApi* ThePlatewrightApi = nullptr;
PixmillApi* ThePixmillApi = nullptr;
SystemApi* TheSystemApi = nullptr;

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
    ThePlatewrightApi = static_cast<PlatewrightApi*>(api);
    return true;
}

bool ConnectPixmill(HostConnection& record) {
    void* api = ConnectComponent(record, kPixmillModule, kPixmillFactory, kPixmillGuid);
    if (api == nullptr) return false;
    ThePixmillApi = static_cast<PixmillApi*>(api);
    if (!ThePixmillApi->IsReady()) return false;
    ThePixmillApi->SetFlag(1);
    // The key stays open until this step ends, on every way out.
    const platform::StartupKey key;
    const ProcessorReport processor = DetectProcessorReport();
    RecordProcessorFeatures(processor.features);
    RecordProcessorCaches(processor.caches);
    LoadStartupSettings(key, processor.features);
    return BuildMulTable();
}

SystemApi* FindSystemApi() {
    if (TheSystemApi != nullptr) return TheSystemApi;
    void* module = platform::FindLoadedModule(kCorvaneModule);
    if (module == nullptr) return nullptr;
    const ComponentFactoryFn factory = platform::FindFactory(module, kCorvaneFactory);
    if (factory == nullptr) return nullptr;
    TheSystemApi = static_cast<SystemApi*>(factory(&kCorvaneGuid));
    return TheSystemApi;
}

}  // namespace veilshift
