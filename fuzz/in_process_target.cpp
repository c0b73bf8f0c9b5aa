#include "fuzz/in_process_target.h"

#include <algorithm>
#include <cstdio>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace robustness {

InProcessTarget::~InProcessTarget() { Reset(); }

void InProcessTarget::Reset() {
    module_.reset();
    host_.reset();
}

refhost::Host& InProcessTarget::PrepareHost(bool corvane, bool platewright, bool pixmill) {
    module_.reset();
    outstanding_ = -1;
    const bool wanted[3] = {corvane, platewright, pixmill};
    if (host_ != nullptr && std::equal(wanted, wanted + 3, presence_)) {
        for (int32_t number = 1; number <= 3; ++number) host_->RemoveSurface(number);
        for (refhost::Component c : {refhost::Component::Corvane, refhost::Component::Platewright,
                                     refhost::Component::Pixmill}) {
            refhost::ComponentControl* control = host_->Control(c);
            if (control == nullptr) continue;
            refhost::CallLog* log = control->log;
            *control = refhost::ComponentControl{};
            control->log = log;
        }
        host_->ClearCalls();
        host_->ResetViolations();
        return *host_;
    }
    host_.reset();
    refhost::HostOptions options = ScenarioHostOptions(corvane, platewright, pixmill);
    options.loadModule = false;
    host_ = std::make_unique<refhost::Host>(options);
    std::copy(wanted, wanted + 3, presence_);
    return *host_;
}

bool InProcessTarget::Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB,
                            int32_t bx, int32_t by, int32_t width, int32_t height, int32_t effect) {
#if !defined(_WIN32)
    // The message box is a line on standard error: send it nowhere meanwhile.
    static const int nowhere = open("/dev/null", O_WRONLY);
    int saved = -1;
    if (quiet_ && nowhere >= 0) {
        std::fflush(stderr);
        saved = dup(2);
        dup2(nowhere, 2);
    }
#endif
    const bool started = module_->Plugin().Begin(dst, dx, dy, srcA, ax, ay, srcB, bx, by, width, height, effect);
#if !defined(_WIN32)
    if (saved >= 0) {
        dup2(saved, 2);
        close(saved);
    }
#endif
    return started;
}

void InProcessTarget::Unload() {
    if (!module_) return;
    module_->Unload();
    outstanding_ = module_->Outstanding();
    module_.reset();
}

bool InProcessTarget::StoredRect(int32_t rect[8]) const {
    if (!module_ || !module_->Loaded()) return false;
    const veilshift::TransitionParams& p = module_->Plugin().params;
    const int32_t stored[8] = {p.dx, p.dy, p.ax, p.ay, p.bx, p.by, p.width, p.height};
    std::copy(stored, stored + 8, rect);
    return true;
}

}  // namespace robustness
