// Row walking shared by the crossfade forms. Included only by the form files,
// each of which keeps its own copy (internal linkage: see
// Component/Veilshift/CMakeLists.txt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../pixel_words.h"
#include "blend.h"

namespace veilshift {
namespace {

// Row sizes in size_t: width * 3 must not overflow a signed 32-bit product.
struct CrossfadeRow {
    size_t bytes;       // width * 3
    size_t touchCount;  // warm-up words per source row, one every 32 bytes
};

inline CrossfadeRow MeasureRow(int32_t width) {
    const size_t bytes = static_cast<size_t>(width) * 3u;
    return {bytes, bytes / 32u};
}

// Pulls both source rows towards the cache before they are blended: one 32-bit
// read every 32 bytes, source B first. The words only feed an empty asm, which
// keeps the reads without costing more than an add each. 32k + 3 < rowBytes,
// so no read leaves the row.
struct TouchRows {
    void operator()(const uint8_t* a, const uint8_t* b, size_t touchCount) const {
        uint32_t sink = 0;
        for (size_t k = 0; k < touchCount; ++k) {
            sink += LoadWord(b + 32 * k);
            sink += LoadWord(a + 32 * k);
        }
#if defined(__GNUC__)
        __asm__ volatile("" : : "r"(sink));
#else
        static_cast<void>(sink);
#endif
    }
};

// Scalar bytes [from, to) of one row with the full weight.
inline void BlendBytes(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t from, size_t to,
                       int32_t alpha) {
    for (size_t i = from; i < to; ++i) dst[i] = BlendByte(a[i], b[i], alpha);
}

// Visits the rows top to bottom. The pointers move on only while another row
// follows, so none is ever formed a pitch beyond its surface (negative pitches
// included).
template <typename RowFn>
inline void ForEachRow(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch,
                       const uint8_t* b, ptrdiff_t bPitch, int32_t height, RowFn&& row) {
    for (int32_t y = 0;;) {
        row(dst, a, b);
        if (++y >= height) break;
        dst += dstPitch;
        a += aPitch;
        b += bPitch;
    }
}

}  // namespace
}  // namespace veilshift
