// What chooses a kernel's processor form: the start-up switches and the
// processor's features (FormSettings), and the rules that turn them into an
// arithmetic and an instruction set, pure functions all. The choosers that
// turn a decision into a form are declared beside each kernel's forms and all
// defined in form_dispatch.cpp, whose opening comment states the policy; what
// the module holds of them is its state (module_state.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "effect_catalog.h"
#include "processor_features.h"

namespace veilshift {

// The instruction set a form's code is written in.
enum class InstructionSet : uint8_t { Scalar, Mmx, Sse, Sse2, Avx2 };

// The crossfade's arithmetic (see above).
enum class CrossfadeArithmetic : uint8_t { Exact, Grouped };

struct FormSettings {
    bool useMmx = false;  // the crossfade may use its grouped arithmetic (the MMX form and its wider forms)
    bool useSse = false;  // the crossfade may use its SSE form; never without useMmx
    ProcessorFeatures features;
    CacheSizes caches;  // where the kernels store around the cache (DecideStreaming)
};

struct CrossfadeChoice {
    CrossfadeArithmetic arithmetic;
    InstructionSet set;
};

// The decisions, pure functions of what decides them. Inline, so that a tool
// can tell what the module runs by the module's own rules. The build says
// whether it has the x86 forms (VEILSHIFT_WIDE_FORMS, 1 or 0): a build for
// another processor has the portable forms only.
inline constexpr bool kX86Forms = VEILSHIFT_WIDE_FORMS != 0;

// The mosaic's, the ripple's and the span filler's code; the crossfade's too.
constexpr InstructionSet DecideVectorSet(const ProcessorFeatures& features) {
    if (kX86Forms && features.avx2) return InstructionSet::Avx2;
    if (kX86Forms && features.sse2) return InstructionSet::Sse2;
    return InstructionSet::Scalar;
}

// Kernels whose AVX2 forms read with gathers (the ripple's passes) have forms
// that read with a load a value instead: chosen where AVX2 code runs and the
// gathers are slow (form_dispatch.cpp's essay).
constexpr bool DecideLoadsForGathers(const ProcessorFeatures& features) {
    return DecideVectorSet(features) == InstructionSet::Avx2 && !features.fastGather;
}

constexpr CrossfadeChoice DecideCrossfade(int32_t width, const FormSettings& settings) {
    const InstructionSet vector = DecideVectorSet(settings.features);
    // Rows without a whole group of 4 pixels, and both switches off: the exact bytes.
    if (width < 4 || (!settings.useMmx && !settings.useSse)) return {CrossfadeArithmetic::Exact, vector};
    // Off x86 the grouped arithmetic runs in portable code.
    if (vector != InstructionSet::Scalar || !kX86Forms) return {CrossfadeArithmetic::Grouped, vector};
    return {CrossfadeArithmetic::Grouped, settings.useSse ? InstructionSet::Sse : InstructionSet::Mmx};
}

// Who reads a kernel's destination next.
enum class DestinationUse : uint8_t {
    Later,   // the host, after the frame, or the next frame
    AtOnce,  // the host, right after the kernel: the work surface of effects 40 and 41
};

// The cache a frame's bytes can stay in between the kernel and whoever reads
// them next: the last level the thread reaches (AMD reports the L3 of its
// core complex), at most kNearCacheLimit, and kAssumedNearCache where the
// processor reports none. The limit: one core keeps no more than that of an
// L3 spread over a whole server chip (Intel's report their chip's whole L3,
// hundreds of MiB, of which one core's data gets the slices near it and what
// the other cores leave), while the largest L3 next to a core is 96 MiB.
inline constexpr uint64_t kNearCacheLimit = uint64_t{64} << 20;
inline constexpr uint64_t kAssumedNearCache = uint64_t{16} << 20;

constexpr uint64_t NearCacheBytes(const CacheSizes& caches) {
    const uint64_t last = caches.l3 != 0 ? caches.l3 : caches.l2 != 0 ? caches.l2 : kAssumedNearCache;
    return last < kNearCacheLimit ? last : kNearCacheLimit;
}

// Whether a frame writing `destinationBytes` stores around the cache
// (non-temporal stores), where its form can. From a quarter of the near cache
// on (the point from which glibc's memcpy streams, its threshold of 2.38 and
// later): a frame that large pushes out what else is cached, and plain stores
// would first read every destination line. Where the host reads the
// destination at once, plain stores leave it in the cache for that read, and
// only a destination larger than the near cache itself, which would be gone
// before the read anyway, streams.
constexpr bool DecideStreaming(uint64_t destinationBytes, const CacheSizes& caches, DestinationUse use) {
    const uint64_t cached = NearCacheBytes(caches);
    return use == DestinationUse::AtOnce ? destinationBytes > cached : destinationBytes >= cached / 4;
}

constexpr const char* InstructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::Mmx: return "mmx";
        case InstructionSet::Sse: return "sse";
        case InstructionSet::Sse2: return "sse2";
        case InstructionSet::Avx2: return "avx2";
        case InstructionSet::Scalar: break;
    }
    return "scalar";
}

// The name of the form a frame of `effect` over rows of `width` pixels runs:
// for the effects that use the crossfade's arithmetic "exact-" or "grouped-"
// and the instruction set ("grouped-mmx"), for the others the instruction set
// of their kernels ("avx2"), and "avx2-loads" for the ripple's AVX2 passes
// without gathers.
constexpr const char* EffectFormName(int32_t effect, int32_t width, const FormSettings& settings) {
    constexpr const char* kExact[] = {"exact-scalar", "exact-mmx", "exact-sse", "exact-sse2", "exact-avx2"};
    constexpr const char* kGrouped[] = {"grouped-scalar", "grouped-mmx", "grouped-sse", "grouped-sse2",
                                        "grouped-avx2"};
    if (effect == 31 && DecideLoadsForGathers(settings.features)) return "avx2-loads";
    if (!EffectUsesCrossfade(effect)) return InstructionSetName(DecideVectorSet(settings.features));
    const CrossfadeChoice choice = DecideCrossfade(width, settings);
    const auto set = static_cast<size_t>(choice.set);
    return choice.arithmetic == CrossfadeArithmetic::Exact ? kExact[set] : kGrouped[set];
}

}  // namespace veilshift
