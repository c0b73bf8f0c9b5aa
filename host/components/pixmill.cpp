// Pixmill: the engine's drawing component.
//
// Copy moves a rectangle unchanged. CopyAxisX and CopyAxisY are this host's own
// picture for the work-surface effects:
//   CopyAxisX squeezes the source rectangle toward its vertical centre line:
//   `amount` columns on each side of the destination rectangle turn black and the
//   width - 2 * amount columns between them receive the whole source rectangle,
//   resampled across by nearest neighbour (column i takes source column
//   ((2i + 1) * width) / (2 * (width - 2 * amount)), the centre of its span).
//   CopyAxisY does the same with rows, toward the horizontal centre line.
// `amount` is clamped into 0..width / 2 (0..height / 2); at the top of that range
// an even-sized rectangle is all black. A rectangle reaching outside either
// surface, or an amount outside its range, counts as a violation; such a
// rectangle is not drawn.
//
// Surfaces are reached only through PixelAddress, Pitch, Width and Height; those
// inner calls are kept out of the log. A surface that answers no address (a
// fault the test set) is not drawn.
#include <cstddef>
#include <cstring>

#include "host/component_control.h"

using namespace veilshift;

namespace refhost {
namespace {

ComponentControl control;

class InnerCalls {
public:
    InnerCalls() {
        if (control.log != nullptr) ++control.log->nesting;
    }
    ~InnerCalls() {
        if (control.log != nullptr) --control.log->nesting;
    }
};

void RecordCopy(HostOp op, const void* target, HostSurface* dst, int32_t dx, int32_t dy, HostSurface* src,
                int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t amount = 0) {
    HostCall call{};
    call.op = op;
    call.target = target;
    call.dst = dst;
    call.src = src;
    call.argCount = op == HostOp::Copy ? 6 : 7;
    int32_t args[7] = {dx, dy, sx, sy, width, height, amount};
    std::memcpy(call.args, args, sizeof(args));
    Record(control.log, call);
}

bool Inside(HostSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height) {
    return surface != nullptr && width >= 1 && height >= 1 && x >= 0 && y >= 0 &&
           int64_t{x} + width <= surface->Width() && int64_t{y} + height <= surface->Height();
}

// One surface rectangle as rows of bytes.
struct Rows {
    uint8_t* origin;
    ptrdiff_t pitch;
    uint8_t* Row(int32_t y) const { return origin + y * pitch; }
};

Rows RowsOf(HostSurface* surface, int32_t x, int32_t y) { return {surface->PixelAddress(x, y), surface->Pitch()}; }

const uint8_t kBlack[3] = {0, 0, 0};

// The source column (or row) shown at position i of `inner` squeezed positions out of `size`.
int32_t SqueezedSource(int32_t i, int32_t inner, int32_t size) {
    return static_cast<int32_t>((2 * int64_t{i} + 1) * size / (2 * int64_t{inner}));
}

int32_t ClampAmount(int32_t amount, int32_t size) {
    int32_t most = size / 2;
    if (amount >= 0 && amount <= most) return amount;
    RecordViolation(control.log);
    return amount < 0 ? 0 : most;
}

class Pixmill final : public PixmillApi {
public:
    bool VS_THISCALL IsReady() override {
        ++control.isReadyCalls;
        HostCall call{};
        call.op = HostOp::IsReady;
        call.target = this;
        Record(control.log, call);
        return control.isReady;
    }

    void VS_THISCALL SetFlag(int32_t value) override {
        if (control.setFlagCalls < kMaxSetFlagValues) control.setFlagValues[control.setFlagCalls] = value;
        ++control.setFlagCalls;
        HostCall call{};
        call.op = HostOp::SetFlag;
        call.target = this;
        call.argCount = 1;
        call.args[0] = value;
        Record(control.log, call);
    }

    void VS_THISCALL Copy(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* src, int32_t sx, int32_t sy,
                          int32_t width, int32_t height) override {
        RecordCopy(HostOp::Copy, this, dst, dx, dy, src, sx, sy, width, height);
        InnerCalls inner;
        if (!Inside(dst, dx, dy, width, height) || !Inside(src, sx, sy, width, height)) {
            RecordViolation(control.log);
            return;
        }
        Rows to = RowsOf(dst, dx, dy), from = RowsOf(src, sx, sy);
        if (to.origin == nullptr || from.origin == nullptr) return;
        for (int32_t y = 0; y < height; ++y) std::memmove(to.Row(y), from.Row(y), static_cast<size_t>(width) * 3);
    }

    void VS_THISCALL CopyAxisX(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* src, int32_t sx, int32_t sy,
                               int32_t width, int32_t height, int32_t amount) override {
        RecordCopy(HostOp::CopyAxisX, this, dst, dx, dy, src, sx, sy, width, height, amount);
        InnerCalls inner;
        if (!Inside(dst, dx, dy, width, height) || !Inside(src, sx, sy, width, height)) {
            RecordViolation(control.log);
            return;
        }
        amount = ClampAmount(amount, width);
        int32_t squeezed = width - 2 * amount;
        Rows to = RowsOf(dst, dx, dy), from = RowsOf(src, sx, sy);
        if (to.origin == nullptr || from.origin == nullptr) return;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                int32_t i = x - amount;
                const uint8_t* pixel =
                    i >= 0 && i < squeezed ? from.Row(y) + SqueezedSource(i, squeezed, width) * 3 : kBlack;
                std::memcpy(to.Row(y) + x * 3, pixel, 3);
            }
        }
    }

    void VS_THISCALL CopyAxisY(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* src, int32_t sx, int32_t sy,
                               int32_t width, int32_t height, int32_t amount) override {
        RecordCopy(HostOp::CopyAxisY, this, dst, dx, dy, src, sx, sy, width, height, amount);
        InnerCalls inner;
        if (!Inside(dst, dx, dy, width, height) || !Inside(src, sx, sy, width, height)) {
            RecordViolation(control.log);
            return;
        }
        amount = ClampAmount(amount, height);
        int32_t squeezed = height - 2 * amount;
        Rows to = RowsOf(dst, dx, dy), from = RowsOf(src, sx, sy);
        if (to.origin == nullptr || from.origin == nullptr) return;
        for (int32_t y = 0; y < height; ++y) {
            int32_t i = y - amount;
            if (i >= 0 && i < squeezed) {
                std::memmove(to.Row(y), from.Row(SqueezedSource(i, squeezed, height)), static_cast<size_t>(width) * 3);
            } else {
                std::memset(to.Row(y), 0, static_cast<size_t>(width) * 3);
            }
        }
    }
};
Pixmill pixmill;

}  // namespace
}  // namespace refhost

#if !defined(REFHOST_WITHOUT_FACTORY)  // the fault of a component without its factory export
REFHOST_COMPONENT_EXPORT void* VS_CDECL CreateInterface(const Guid* id) {
    using namespace refhost;
    return AnswerFactory(control, id, kPixmillGuid, static_cast<PixmillApi*>(&pixmill));
}
#endif

REFHOST_COMPONENT_EXPORT refhost::ComponentControl* VS_CDECL GetComponentControl() { return &refhost::control; }
REFHOST_LINKED_COMPONENT(Pixmill, CreateInterface)
