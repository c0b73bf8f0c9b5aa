// The plug-in object: the interface the host obtains through CreateInterface and
// the state of the one transition that can be in progress.
#pragma once

#include <cstdint>

#include "host_connection.h"
#include "host_interfaces.h"
#include "memory.h"
#include "render3d/soft_renderer.h"
#include "shatter/shatter_mesh.h"
#include "transition_forms.h"
#include "transitions/ripple.h"

namespace veilshift {

// The clipped Begin arguments, in this order.
struct TransitionParams {
    int32_t effect;
    int32_t dstNumber;
    int32_t srcANumber;
    int32_t srcBNumber;
    int32_t dx;
    int32_t dy;
    int32_t ax;
    int32_t ay;
    int32_t bx;
    int32_t by;
    int32_t width;
    int32_t height;
};
static_assert(sizeof(TransitionParams) == 48);

// The transition rectangle and its corners, clipped in place against the three
// surfaces' sizes.
struct TransitionRect {
    int32_t dx, dy, ax, ay, bx, by, width, height;
};
struct SurfaceSizes {
    int32_t dstWidth, dstHeight, aWidth, aHeight, bWidth, bHeight;
};

// Keeps the part of the rectangle that lies inside all three surfaces, the
// corners keeping their offsets to one another; false when nothing is left.
// Exact whatever the inputs (no step can overflow).
bool ClipTransitionRect(TransitionRect& rect, const SurfaceSizes& sizes);

class EffectPlugin final : public PluginInterface {
public:
    EffectPlugin();
    ~EffectPlugin();
    EffectPlugin(const EffectPlugin&) = delete;
    EffectPlugin& operator=(const EffectPlugin&) = delete;

    int32_t VS_THISCALL GetVersion() override;
    int32_t VS_THISCALL GetFlags() override;
    void VS_THISCALL SetInterface(const Guid* id, void* ptr) override;
    void VS_THISCALL Idle() override;
    void VS_THISCALL Notify(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                            int32_t) override;

    bool Begin(int32_t dstNumber, int32_t dx, int32_t dy, int32_t srcANumber, int32_t ax, int32_t ay,
               int32_t srcBNumber, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t effect);
    void Draw(int32_t progress, int32_t total);
    void End();

    bool ConnectHost();
    bool PrepareEffect();
    void ReleaseEffectResources();

    // Fields in the order of the plug-in's data model: after the interface
    // table (the object's first word, so that the object's address is the
    // interface pointer the host holds) the host's interfaces, the session's
    // flags, the connections, the surfaces and the clipped Begin arguments,
    // then what the effects keep. Only the table's place is binary interface;
    // the rest keeps the model's order so that the two read alike.
    ScreenUpdater* screenUpdater = nullptr;
    SurfaceTable* surfaceTable = nullptr;
    bool connected = false;
    bool active = false;
    HostConnection platewright;
    HostConnection pixmill;
    TimerApi* timer = nullptr;
    HostSurface* dst = nullptr;
    HostSurface* srcA = nullptr;
    HostSurface* srcB = nullptr;
    TransitionParams params{};
    HostSurface* tempSurface = nullptr;  // the work surface of the effects that have one
    SoftRenderer renderer;
    GrowableArray<ShatterPiece> pieces;
    Vec3 pictureCorner{};
    RippleScratch ripple;
    // The processor forms of the transition's frames, chosen as it begins.
    TransitionForms forms{};
};

// One frame of one effect. EffectPlugin::Draw is the only caller, and calls it
// only inside a session and only with 0 <= progress < total (so total >= 1):
// the frame drawers and the helpers they pass the counters to rely on that and
// check nothing of it again. Counters from the host are checked in Draw, the
// rectangle in Begin (ClipTransitionRect).
using EffectHandler = void (*)(EffectPlugin& plugin, int32_t progress, int32_t total);

// Everything the plug-in knows of one effect (effects/effect_table.cpp).
struct EffectDescription {
    const char* name;                       // display name, from effect_catalog.h
    EffectHandler draw;
    // At Begin, once the rectangle is clipped; false fails the Begin. Null: nothing to make ready.
    bool (*prepare)(EffectPlugin& plugin);
    // At End, at the next Begin and when the plug-in goes, also after a failed
    // prepare, so it must take whatever part was made. Null: nothing to give back.
    void (*release)(EffectPlugin& plugin);
};

// The description of an implemented effect, or null for an unimplemented or
// out-of-range number.
const EffectDescription* FindEffect(int32_t effect);

}  // namespace veilshift
