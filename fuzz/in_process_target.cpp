#include "fuzz/in_process_target.h"

#include <algorithm>
#include <cstdio>

#include "Veilshift/form_rules.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace robustness {

InProcessTarget::~InProcessTarget() {
    Reset();
    switches_.reset();
}

void InProcessTarget::Reset() {
    module_.reset();
    host_.Reset();
}

refhost::Host& InProcessTarget::PrepareHost(bool corvane, bool platewright, bool pixmill) {
    module_.reset();
    outstanding_ = -1;
    return host_.Prepare(corvane, platewright, pixmill);
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

void InProcessTarget::Tune(const Tuning& tuning) {
    const bool sse2 = tuning.vectors != Tuning::kScalar, avx2 = tuning.vectors == Tuning::kAllVectors;
    switches_.reset();  // what a scenario before this one left unloaded goes back first
    switches_.emplace(veilshift::ProcessorFeatures{true, true, sse2, avx2});
    uint64_t from = veilshift::kStreamingByCaches;  // the module's own choice
    if (tuning.streaming == Tuning::kStreamAll) from = 1;
    if (tuning.streaming == Tuning::kStreamFrom4K) from = 4096;
    veilshift::moduleState.hooks.streamingBytes = from;
}

void InProcessTarget::Unload() {
    switches_.reset();
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
