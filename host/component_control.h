// What the test process and the three component modules share: the call log
// and each component's control block.
//
// Everything here is plain data reached through pointers. On Windows each
// module has its own C runtime, so nothing is allocated in one module and freed
// in another: the log's storage stays in the test process and is filled through
// the `append` callback.
#pragma once

#include <cstdint>

#include "Veilshift/host_interfaces.h"

#if defined(_WIN32)
#define REFHOST_COMPONENT_EXPORT extern "C"  // named in the component's .def file
#elif defined(__EMSCRIPTEN__)
// Linked into one program with the module: two components and the module share
// export names, so each component keeps its exports to itself and describes
// them in a LinkedComponent (REFHOST_LINKED_COMPONENT) for the host to register.
#define REFHOST_COMPONENT_EXPORT static
#else
#define REFHOST_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace refhost {

enum class HostOp : int32_t {
    Factory,  // a component's factory; the target is that component's control block
    GetSurface,
    UpdateRect,
    Release,
    PixelAddress,
    Width,
    Height,
    Pitch,
    CreateSurface,
    IsReady,
    SetFlag,
    Copy,
    CopyAxisX,
    CopyAxisY,
    LookupInterface,
    GetTime,
};

// One call made on a host interface.
struct HostCall {
    HostOp op;
    const void* target;            // the object called on
    veilshift::HostSurface* dst;   // Copy, CopyAxisX, CopyAxisY: the destination ...
    veilshift::HostSurface* src;   // ... and the source surface
    veilshift::Guid guid;          // Factory, LookupInterface: the id passed
    int32_t argCount;
    int32_t args[7];               // the integer arguments in order; for the copies
                                   // dx, dy, sx, sy, width, height (, amount)
};

// The log, owned by the test process. Calls a component makes while serving
// another call (Pixmill asking surfaces for addresses) are not logged: while
// `nesting` is above 0 nothing is appended.
struct CallLog {
    void (*append)(void* context, const HostCall* call);
    void* context;
    int32_t nesting;
    int32_t violations;  // requests outside a surface, out-of-range amounts, broken guards
};

inline void Record(CallLog* log, const HostCall& call) {
    if (log != nullptr && log->append != nullptr && log->nesting == 0) log->append(log->context, &call);
}
inline void RecordViolation(CallLog* log) {
    if (log != nullptr) ++log->violations;
}

inline constexpr int32_t kMaxSetFlagValues = 16;

// One per component module; fields a component has no use for stay untouched.
struct ComponentControl {
    // Faults, set by the test before the Begin they should affect.
    bool factoryAnswersNull = false;
    bool isReady = true;              // Pixmill: IsReady's answer
    bool createSurfaceFails = false;  // Platewright
    bool timerLookupFails = false;    // Corvane: LookupInterface answers null for the timer
    uint32_t time = 0x2F6A91C3;       // Corvane: GetTime's answer

    // What the component saw.
    int32_t factoryCalls = 0;
    int32_t isReadyCalls = 0;
    int32_t setFlagCalls = 0;
    int32_t setFlagValues[kMaxSetFlagValues] = {};  // the first ones, in order
    int32_t lookupCalls = 0;
    int32_t getTimeCalls = 0;
    int32_t createSurfaceCalls = 0;
    int32_t surfacesCreated = 0;
    int32_t surfacesReleased = 0;

    CallLog* log = nullptr;
};

// A component factory's answer: the call is counted and logged, and the
// component's interface comes back only for its own id (and no injected fault).
inline void* AnswerFactory(ComponentControl& control, const veilshift::Guid* id, const veilshift::Guid& own,
                           void* api) {
    ++control.factoryCalls;
    HostCall call{};
    call.op = HostOp::Factory;
    call.target = &control;
    if (id != nullptr) call.guid = *id;
    Record(control.log, call);
    if (control.factoryAnswersNull || id == nullptr || !veilshift::SameGuid(*id, own)) return nullptr;
    return api;
}

// Every component module exports this next to its factory.
inline constexpr char kControlExport[] = "GetComponentControl";
using GetComponentControlFn = ComponentControl* (VS_CDECL*)();

// A component linked into the program: its name, its factory's export name
// and its two exports.
struct LinkedComponent {
    const char* name;
    const char* factoryName;
    veilshift::ComponentFactoryFn factory;
    GetComponentControlFn control;
};
#if defined(__EMSCRIPTEN__)
extern const LinkedComponent kLinkedCorvane, kLinkedPlatewright, kLinkedPixmill;
#define REFHOST_LINKED_COMPONENT(Name, factoryFn) \
    const refhost::LinkedComponent refhost::kLinked##Name = {#Name, #factoryFn, factoryFn, GetComponentControl};
#else
#define REFHOST_LINKED_COMPONENT(Name, factoryFn)
#endif

}  // namespace refhost
