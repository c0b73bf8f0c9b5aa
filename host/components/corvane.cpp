// Corvane: the engine's system component. Its factory answers the SystemApi,
// which knows one further interface, the timer.
#include "host/component_control.h"

using namespace veilshift;

namespace refhost {
namespace {

ComponentControl control;

class Timer final : public TimerApi {
public:
    uint32_t VS_THISCALL GetTime() override {
        ++control.getTimeCalls;
        HostCall call{};
        call.op = HostOp::GetTime;
        call.target = this;
        Record(control.log, call);
        return control.time;
    }
};
Timer timer;

class System final : public SystemApi {
public:
    void* VS_THISCALL LookupInterface(const Guid* id) override {
        ++control.lookupCalls;
        HostCall call{};
        call.op = HostOp::LookupInterface;
        call.target = this;
        if (id != nullptr) call.guid = *id;
        Record(control.log, call);
        bool timerAsked = id != nullptr && SameGuid(*id, kTimerApiId);
        return timerAsked && !control.timerLookupFails ? static_cast<TimerApi*>(&timer) : nullptr;
    }
};
System systemApi;

}  // namespace
}  // namespace refhost

#if !defined(REFHOST_WITHOUT_FACTORY)  // the fault of a component without its factory export
REFHOST_COMPONENT_EXPORT void* VS_CDECL GetInterface(const Guid* id) {
    using namespace refhost;
    return AnswerFactory(control, id, kCorvaneGuid, static_cast<SystemApi*>(&systemApi));
}
#endif

REFHOST_COMPONENT_EXPORT refhost::ComponentControl* VS_CDECL GetComponentControl() { return &refhost::control; }
REFHOST_LINKED_COMPONENT(Corvane, GetInterface)
