// Frames drawn band by band against the same frames drawn part by part: the
// same pixels, depth cells and edges handed between parts, to the bit, and the
// same host calls, whatever the band height and the room for parts, with
// parts from three texture slots and parts whose texels meet their pixels; and
// each band's depth cells cleared only when a part reaches it.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "Veilshift/module_state.h"
#include "Veilshift/render3d/soft_renderer.h"
#include "processor_forms.h"
#include "bit_pins.h"

namespace veilshift {
namespace {

using test::FloatBits;
using refhost::TestSurface;
using test::CallRecorder;
using test::SurfaceCall;

constexpr int32_t kWidth = 45, kHeight = 37;
constexpr int32_t kLeft = 3, kTop = 2;  // the viewport in the destination
constexpr float kStale = 5.0f;          // nearer than any part: a cell left uncleared hides it

// Remembers the edges every DrawSpans call leaves for the next part.
class ExitRecorder : public SoftRenderer {
public:
    void DrawSpans(HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex, int32_t firstRow,
                   int32_t endRow) override {
        SoftRenderer::DrawSpans(destination, x, y, slotIndex, firstRow, endRow);
        exits.push_back(span);
    }
    std::vector<SpanState> exits;
};

struct Corner {
    float x, y, z, u, v;
};

// A scene: pieces of one to three triangles, each piece one DrawTriangles
// call, as the shatter draws them. Many of them overlap; some lie at one
// depth (the first drawn keeps a tie), some reach past the viewport, some
// are wild.
struct Piece {
    std::vector<Corner> corners;  // three a triangle
    std::vector<int32_t> slots;
};

std::vector<Piece> RandomScene(std::mt19937& random, bool ownTexture) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto coordinate = [&](float extent) {
        const uint32_t kind = random() % 20;
        if (kind == 0) return (unit(random) - 0.5f) * 1e7f;
        if (kind == 1) return std::numeric_limits<float>::quiet_NaN();
        return (unit(random) * 1.4f - 0.2f) * extent;
    };
    std::vector<Piece> scene(1 + random() % 12);
    for (Piece& piece : scene) {
        const float flatZ = 1.0f + unit(random) * 3.0f;
        const bool flat = random() % 3 == 0;
        const int32_t triangles = 1 + static_cast<int32_t>(random() % 3);
        for (int32_t t = 0; t < triangles; ++t) {
            for (int32_t k = 0; k < 3; ++k)
                piece.corners.push_back({coordinate(kWidth), coordinate(kHeight),
                                         flat ? flatZ : 1.0f + unit(random) * 3.0f, unit(random) * 1.2f - 0.1f,
                                         unit(random) * 1.2f - 0.1f});
            // Slots 0 and 3 differ only in their surface; slot 2 is the destination.
            const int32_t slots[] = {0, 1, 3, 2};
            piece.slots.push_back(slots[random() % (ownTexture ? 4 : 3)]);
        }
    }
    return scene;
}

struct Frame {
    std::vector<uint8_t> pixels;
    std::vector<float> depth;
    std::vector<SurfaceCall> calls;
    std::vector<SpanState> exits;
    bool guardsIntact = false;
};

// Draws the scene on fresh surfaces: part by part after a clear when
// bandRows is 0, else band by band with room for `room` parts over a depth
// buffer holding stale cells.
Frame DrawScene(const std::vector<Piece>& scene, int32_t bandRows, int32_t room) {
    Frame frame;
    ExitRecorder r;
    r.forms = test::RendererFormsNow();
    if (!r.Setup(kWidth, kHeight) || !moduleState.depthBuffer.Allocate(kHeight + 1, kWidth + 2)) return frame;
    TestSurface destination(kWidth + kLeft + 4, kHeight + kTop + 3, (kWidth + kLeft + 4) * 3 + 7);
    TestSurface textureA(23, 19, 23 * 3 + 2), textureB(11, 29, -11 * 3), textureC(23, 19, 23 * 3 + 2);
    for (TestSurface* s : {&destination, &textureA, &textureB, &textureC})
        for (int32_t y = 0; y < s->PixelHeight(); ++y)
            for (int32_t x = 0; x < s->PixelWidth(); ++x)
                s->SetPixel(x, y, {static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 5 ^ x),
                                   static_cast<uint8_t>(s == &destination ? 0x33 : s == &textureA ? 0x5A : s == &textureB ? 0x6B : 0x7C)});
    r.SetTexture(0, &textureA, 1, 2, 20, 15);
    r.SetTexture(1, &textureB, 0, 0, 11, 29);
    r.SetTexture(3, &textureC, 1, 2, 20, 15);
    // The destination as its own texture, overlapping the viewport.
    r.SetTexture(2, &destination, 1, 1, kWidth, kHeight);
    CallRecorder calls;
    for (TestSurface* s : {&destination, &textureA, &textureB, &textureC}) s->SetLog(calls.Log());

    if (bandRows == 0) {
        moduleState.depthBuffer.Clear(0.0f);
    } else {
        moduleState.depthBuffer.Clear(kStale);
        if (!r.bands.Reserve(room, kHeight) || !r.bands.Begin(kHeight, bandRows)) return frame;
    }
    for (const Piece& piece : scene) {
        r.vertices.Clear();
        r.triangles.Clear();
        for (size_t t = 0; t < piece.slots.size(); ++t) {
            const int32_t base = static_cast<int32_t>(r.vertices.Size());
            for (size_t k = 0; k < 3; ++k) {
                const Corner& c = piece.corners[3 * t + k];
                r.vertices.Append({{0, 0, c.z}, c.x, c.y, c.u, c.v});
            }
            r.triangles.Append({{base, base + 1, base + 2}, 1, piece.slots[t]});
        }
        r.DrawTriangles(&destination, kLeft, kTop);
    }
    if (bandRows != 0) r.EndBands();

    frame.pixels = destination.Snapshot();
    frame.calls = calls.SurfaceCalls();
    for (int32_t row = 0; row < moduleState.depthBuffer.rowCount; ++row)
        frame.depth.insert(frame.depth.end(), moduleState.depthBuffer.rowPointers[row],
                           moduleState.depthBuffer.rowPointers[row] + moduleState.depthBuffer.columnCount);
    frame.exits = r.exits;
    frame.guardsIntact =
        destination.GuardsIntact() && textureA.GuardsIntact() && textureB.GuardsIntact() && textureC.GuardsIntact();
    moduleState.depthBuffer.Free();
    return frame;
}

// Every depth row as drawn part by part, or (a band no part reached) all stale
// where the frame drawn part by part left it clear; the rows past the
// viewport untouched.
void ExpectSameDepth(const Frame& banded, const Frame& direct, const char* what) {
    const int32_t columns = kWidth + 2;
    for (int32_t row = 0; row <= kHeight; ++row) {
        bool same = true, staleWhereClear = true;
        for (int32_t c = 0; c < columns; ++c) {
            const size_t i = static_cast<size_t>(row * columns + c);
            same = same && FloatBits(banded.depth[i]) == FloatBits(direct.depth[i]);
            staleWhereClear = staleWhereClear && banded.depth[i] == kStale && FloatBits(direct.depth[i]) == 0u;
        }
        if (row == kHeight) {
            EXPECT_TRUE(staleWhereClear) << what << ": row past the viewport, " << row;
        } else {
            EXPECT_TRUE(same || staleWhereClear) << what << ": row " << row;
        }
    }
}

void ExpectSameFrame(const Frame& banded, const Frame& direct, const char* what) {
    ASSERT_FALSE(direct.pixels.empty()) << what;
    EXPECT_TRUE(banded.guardsIntact) << what;
    EXPECT_EQ(banded.pixels, direct.pixels) << what;
    ExpectSameDepth(banded, direct, what);
    EXPECT_EQ(banded.calls, direct.calls) << what;
    ASSERT_EQ(banded.exits.size(), direct.exits.size()) << what;
    for (size_t i = 0; i < direct.exits.size(); ++i)
        EXPECT_EQ(std::memcmp(&banded.exits[i], &direct.exits[i], sizeof(SpanState)), 0) << what << ", part " << i;
}

TEST(Render3dBands, FramesAreThoseDrawnPartByPart) {
    for (const test::ProcessorForm& form : test::AvailableForms()) {
        const refhost::ModuleForms scope(form.Allowed());
        std::mt19937 random(29);
        for (int32_t trial = 0; trial < 150; ++trial) {
            const std::vector<Piece> scene = RandomScene(random, trial % 4 == 3);
            const Frame direct = DrawScene(scene, 0, 0);
            ASSERT_TRUE(direct.guardsIntact);
            // Bands of one row, a few, and one band for the whole viewport; room
            // for one part (each drawn before the next is kept) up to all of them.
            for (const int32_t bandRows : {1, 4, 7, kHeight + 5}) {
                for (const int32_t room : {1, 3, 512}) {
                    ASSERT_NO_FATAL_FAILURE(ExpectSameFrame(DrawScene(scene, bandRows, room), direct, form.name))
                        << "trial " << trial << ", bands of " << bandRows << ", room " << room;
                }
            }
        }
    }
}

// A band's cells are cleared when a part first reaches it, not before, and
// only that band's.
TEST(Render3dBands, EachBandIsClearedWhenFirstReached) {
    const std::vector<Piece> lowTriangle = {{{{2, 20, 1, 0, 0}, {30, 21, 1, 1, 0}, {10, 26, 1, 0, 1}}, {0}}};
    const Frame banded = DrawScene(lowTriangle, 8, 4);
    ASSERT_FALSE(banded.depth.empty());
    const int32_t columns = kWidth + 2;
    auto rowIs = [&](int32_t row, auto&& test) {
        for (int32_t c = 0; c < columns; ++c)
            if (!test(banded.depth[static_cast<size_t>(row * columns + c)])) return false;
        return true;
    };
    // Rows 20 to 25 are drawn: their band, rows 16 to 23, and the next, 24 to 31.
    for (int32_t row = 0; row < 16; ++row) EXPECT_TRUE(rowIs(row, [](float d) { return d == kStale; })) << row;
    for (int32_t row = 16; row < 20; ++row) EXPECT_TRUE(rowIs(row, [](float d) { return d == 0.0f; })) << row;
    for (int32_t row = 20; row < 26; ++row) EXPECT_FALSE(rowIs(row, [](float d) { return d == 0.0f; })) << row;
    for (int32_t row = 26; row < 32; ++row) EXPECT_TRUE(rowIs(row, [](float d) { return d == 0.0f; })) << row;
    for (int32_t row = 32; row <= kHeight; ++row) EXPECT_TRUE(rowIs(row, [](float d) { return d == kStale; })) << row;
    ExpectSameFrame(banded, DrawScene(lowTriangle, 0, 0), "one triangle");
}

// Without room reserved, or over a viewport taller than the room, there is no
// banded frame: the parts are drawn at once.
TEST(Render3dBands, NoFrameWithoutRoom) {
    SpanBands bands;
    EXPECT_FALSE(bands.Begin(10, 4));
    EXPECT_FALSE(bands.Active());
    ASSERT_TRUE(bands.Reserve(8, 10));
    EXPECT_FALSE(bands.Begin(11, 4));
    EXPECT_TRUE(bands.Begin(10, 4));
    EXPECT_TRUE(bands.Active());
    bands.End();
    EXPECT_FALSE(bands.Active());
    bands.Release();
    EXPECT_FALSE(bands.Begin(10, 4));

    SoftRenderer r;
    ASSERT_TRUE(r.Setup(kWidth, kHeight));
    EXPECT_FALSE(r.BeginBands());  // no room reserved
    ASSERT_TRUE(r.ReserveBands(4));
    EXPECT_FALSE(r.BeginBands());  // no depth buffer
    ASSERT_TRUE(moduleState.depthBuffer.Allocate(kHeight, kWidth - 1));
    EXPECT_FALSE(r.BeginBands());  // one column short
    moduleState.depthBuffer.Free();
    ASSERT_TRUE(moduleState.depthBuffer.Allocate(kHeight, kWidth));
    EXPECT_TRUE(r.BeginBands());
    r.EndBands();
    moduleState.depthBuffer.Free();
}

}  // namespace
}  // namespace veilshift
