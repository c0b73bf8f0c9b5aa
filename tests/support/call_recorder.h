// The host calls made on the reference host's surfaces (refhost::TestSurface),
// recorded in order through their call log. Tests that compare short lists of
// surface calls read them as SurfaceCalls.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "host/component_control.h"

namespace veilshift::test {

// One surface operation: 'A' PixelAddress (x, y), 'P' Pitch, 'W' Width,
// 'H' Height, 'R' Release.
struct SurfaceCall {
    const void* surface;
    char what;
    int32_t x;
    int32_t y;
    bool operator==(const SurfaceCall&) const = default;
};

inline void PrintTo(const SurfaceCall& call, std::ostream* os) {
    *os << call.surface << ' ' << call.what << '(' << call.x << ", " << call.y << ')';
}

class CallRecorder {
public:
    CallRecorder() {
        log_.append = [](void* context, const refhost::HostCall* call) {
            static_cast<std::vector<refhost::HostCall>*>(context)->push_back(*call);
        };
        log_.context = &calls_;
    }
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    refhost::CallLog* Log() { return &log_; }
    const std::vector<refhost::HostCall>& Calls() const { return calls_; }
    void Clear() { calls_.clear(); }
    int32_t Violations() const { return log_.violations; }

    // The surface operations among the calls, in order.
    std::vector<SurfaceCall> SurfaceCalls() const {
        std::vector<SurfaceCall> out;
        for (const refhost::HostCall& call : calls_) {
            char what = 0;
            switch (call.op) {
                case refhost::HostOp::PixelAddress: what = 'A'; break;
                case refhost::HostOp::Pitch: what = 'P'; break;
                case refhost::HostOp::Width: what = 'W'; break;
                case refhost::HostOp::Height: what = 'H'; break;
                case refhost::HostOp::Release: what = 'R'; break;
                default: continue;
            }
            const bool at = call.op == refhost::HostOp::PixelAddress;
            out.push_back({call.target, what, at ? call.args[0] : 0, at ? call.args[1] : 0});
        }
        return out;
    }

private:
    std::vector<refhost::HostCall> calls_;
    refhost::CallLog log_{};
};

}  // namespace veilshift::test
