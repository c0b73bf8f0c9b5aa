// The connection to one engine component; the interfaces found are kept in the
// module's state (module_state.h).
#pragma once

#include <cstddef>

#include "host_interfaces.h"

namespace veilshift {

// An owned module name. Assigning grows the storage to the name's length plus
// one and never shrinks it.
class NameBuffer {
public:
    NameBuffer() = default;
    ~NameBuffer() { Release(); }
    NameBuffer(const NameBuffer&) = delete;
    NameBuffer& operator=(const NameBuffer&) = delete;

    bool Assign(const char* name);  // false when storage ran out
    const char* CStr() const { return data_ != nullptr ? data_ : ""; }
    size_t Capacity() const { return capacity_; }
    void Release();

private:
    char* data_ = nullptr;
    size_t capacity_ = 0;
};

struct HostConnection {
    void* module = nullptr;     // null until found
    Guid guid{};                // passed to the component's factory
    void* api = nullptr;        // what the factory returned
    NameBuffer name;

    void Release();             // forgets the component; calls nothing on the host
};

bool ConnectPlatewright(HostConnection& record);
// Also reads the start-up settings and builds MulTable once the component is ready.
bool ConnectPixmill(HostConnection& record);
SystemApi* FindSystemApi();

}  // namespace veilshift
