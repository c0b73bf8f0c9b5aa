// The SSE crossfade form: the MMX arithmetic, with non-temporal prefetch hints
// instead of warm-up reads (the sources are read once per frame, so they need
// not displace anything else from the cache). Built with MMX and SSE code
// generation; form_dispatch.cpp says when it runs.
#include "crossfade.h"
#include "crossfade_grouped.h"

#if !defined(__SSE__)
#error "the SSE crossfade form needs SSE code generation (-msse)"
#endif
#include <xmmintrin.h>

namespace veilshift {
namespace {

// PREFETCHNTA at every address where the other forms read a word, B row first.
struct PrefetchRowsNta {
    void operator()(const uint8_t* a, const uint8_t* b, size_t touchCount) const {
        for (size_t k = 0; k < touchCount; ++k) {
            _mm_prefetch(reinterpret_cast<const char*>(b + 32 * k), _MM_HINT_NTA);
            _mm_prefetch(reinterpret_cast<const char*>(a + 32 * k), _MM_HINT_NTA);
        }
    }
};

}  // namespace

void CrossfadeGrouped_Sse(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool) {
    CrossfadeGrouped<PrefetchRowsNta>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha);
}

}  // namespace veilshift
