#include "effect_plugin.h"

#include "module_state.h"
#include "show_message.h"

namespace veilshift {

namespace {
// One axis of the clip, in 64 bits so that no step can wrap: the three starts
// and the size of the rectangle along it, and the three surfaces' extents.
bool ClipAxis(int32_t& d, int32_t& a, int32_t& b, int32_t& size, int32_t dExtent, int32_t aExtent,
              int32_t bExtent) {
    int64_t dv = d, av = a, bv = b, sv = size;
    // Left (top) edges, one after another: each shift is seen by the next.
    if (dv < 0) { bv -= dv; av -= dv; sv += dv; dv = 0; }
    if (av < 0) { dv -= av; bv -= av; sv += av; av = 0; }
    if (bv < 0) { dv -= bv; av -= bv; sv += bv; bv = 0; }
    // Right (bottom) edges.
    if (dv + sv > dExtent) sv = dExtent - dv;
    if (av + sv > aExtent) sv = aExtent - av;
    if (bv + sv > bExtent) sv = bExtent - bv;
    if (sv <= 0) return false;
    // Every start now lies inside its surface, so all four fit 32 bits.
    d = static_cast<int32_t>(dv);
    a = static_cast<int32_t>(av);
    b = static_cast<int32_t>(bv);
    size = static_cast<int32_t>(sv);
    return true;
}
}  // namespace

bool ClipTransitionRect(TransitionRect& r, const SurfaceSizes& s) {
    TransitionRect clipped = r;
    if (!ClipAxis(clipped.dx, clipped.ax, clipped.bx, clipped.width, s.dstWidth, s.aWidth, s.bWidth)) return false;
    if (!ClipAxis(clipped.dy, clipped.ay, clipped.by, clipped.height, s.dstHeight, s.aHeight, s.bHeight))
        return false;
    r = clipped;
    return true;
}

EffectPlugin::EffectPlugin() = default;

EffectPlugin::~EffectPlugin() {
    ReleaseEffectResources();
    active = false;
    pieces.Release();
    renderer.Release();
    pixmill.Release();
    moduleState.pixmill = nullptr;
    platewright.Release();
    moduleState.platewright = nullptr;
}

int32_t EffectPlugin::GetVersion() { return 1; }
int32_t EffectPlugin::GetFlags() { return 0; }
void EffectPlugin::Idle() {}
void EffectPlugin::Notify(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}

void EffectPlugin::SetInterface(const Guid* id, void* ptr) {
    if (id == nullptr) return;
    if (SameGuid(*id, kScreenUpdaterId))
        screenUpdater = static_cast<ScreenUpdater*>(ptr);
    else if (SameGuid(*id, kSurfaceTableId))
        surfaceTable = static_cast<SurfaceTable*>(ptr);
}

bool EffectPlugin::ConnectHost() {
    if (connected) return true;
    if (surfaceTable == nullptr || screenUpdater == nullptr) return false;
    if (!ConnectPlatewright(platewright)) return false;
    if (!ConnectPixmill(pixmill)) return false;
    SystemApi* system = FindSystemApi();
    if (system == nullptr) return false;
    timer = static_cast<TimerApi*>(system->LookupInterface(&kTimerApiId));
    if (timer == nullptr) return false;
    connected = true;
    return true;
}

bool EffectPlugin::Begin(int32_t dstNumber, int32_t dx, int32_t dy, int32_t srcANumber, int32_t ax, int32_t ay,
                         int32_t srcBNumber, int32_t bx, int32_t by, int32_t width, int32_t height,
                         int32_t effect) {
    if (!ConnectHost()) return false;
    ReleaseEffectResources();
    active = false;

    // The host may hand over null in place of its table once connected.
    if (surfaceTable == nullptr) return false;
    dst = surfaceTable->GetSurface(dstNumber);
    if (dst == nullptr) return false;
    srcA = surfaceTable->GetSurface(srcANumber);
    if (srcA == nullptr) return false;
    srcB = surfaceTable->GetSurface(srcBNumber);
    if (srcB == nullptr) return false;

    if (FindEffect(effect) == nullptr) return ShowMessage(kUnimplementedEffectFormat, effect);

    SurfaceSizes sizes;
    sizes.dstWidth = dst->Width();
    sizes.dstHeight = dst->Height();
    sizes.aWidth = srcA->Width();
    sizes.aHeight = srcA->Height();
    sizes.bWidth = srcB->Width();
    sizes.bHeight = srcB->Height();
    TransitionRect rect{dx, dy, ax, ay, bx, by, width, height};
    if (!ClipTransitionRect(rect, sizes)) return false;

    params = TransitionParams{effect,  dstNumber, srcANumber, srcBNumber, rect.dx,    rect.dy,
                              rect.ax, rect.ay,   rect.bx,    rect.by,    rect.width, rect.height};
    if (!PrepareEffect()) return false;
    active = true;
    return true;
}

// The transition's forms first: the start-up switches and the processor's
// features were settled at connection, and its frames read neither again.
bool EffectPlugin::PrepareEffect() {
    forms = ChooseTransitionForms(params.effect, params.width, params.height);
    const EffectDescription* effect = FindEffect(params.effect);
    return effect == nullptr || effect->prepare == nullptr || effect->prepare(*this);
}

// What the last session's effect took. Its number stays in params until the
// next Begin gets past the clip, so a failed Begin leaves it for the next release.
void EffectPlugin::ReleaseEffectResources() {
    const EffectDescription* effect = FindEffect(params.effect);
    if (effect != nullptr && effect->release != nullptr) effect->release(*this);
}

void EffectPlugin::Draw(int32_t progress, int32_t total) {
    if (!active || progress < 0 || total < 1) return;
    if (progress < total)
        FindEffect(params.effect)->draw(*this, progress, total);
    else  // the last frame is exactly the entered picture, whatever the effect
        moduleState.pixmill->Copy(dst, params.dx, params.dy, srcB, params.bx, params.by, params.width, params.height);
    // A ScreenUpdater the host has replaced with null is not called.
    if (screenUpdater != nullptr)
        screenUpdater->UpdateRect(params.dstNumber, params.dx, params.dy, params.width, params.height);
}

void EffectPlugin::End() {
    ReleaseEffectResources();
    active = false;
}

}  // namespace veilshift
