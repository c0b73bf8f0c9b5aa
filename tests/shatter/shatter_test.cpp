// The shatter transition: its random rule, the piece mesh, and whole frames
// through the reference host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <set>
#include <vector>

#if defined(_WIN32)
#include <float.h>
#endif

#include "Veilshift/memory.h"
#include "Veilshift/shatter/shatter_mesh.h"
#include "host/reference_host.h"

namespace veilshift {
namespace {

TEST(ShatterRandom, FollowsTheClassicRule) {
    ShatterRandom random;
    random.Seed(1);
    EXPECT_EQ(random.Next(), 41);
    EXPECT_EQ(random.Next() & 127, 35);
    EXPECT_EQ(random.Next() & 127, 62);
    random.Seed(1);
    EXPECT_NEAR(SplitFraction(random), (41.0 - 64) / 255 + 0.5, 1e-6);
    EXPECT_NEAR(SplitFraction(random), 0.3863, 1e-4);
    EXPECT_NEAR(SplitFraction(random), 0.4922, 1e-4);
    // Every value stays within 15 bits, whatever the seed.
    random.Seed(0xFFFFFFFFu);
    for (int i = 0; i < 10000; ++i) ASSERT_LE(static_cast<uint32_t>(random.Next()), 32767u);
}

#if defined(_WIN32)
TEST(ShatterRandom, MatchesTheWindowsRuntime) {
    ShatterRandom random;
    for (uint32_t seed : {0u, 1u, 2u, 12345u, 0x2F6A91C3u, 0x80000000u, 0xFFFFFFFFu}) {
        std::srand(seed);
        random.Seed(seed);
        for (int i = 0; i < 600; ++i) ASSERT_EQ(random.Next(), std::rand()) << seed << ' ' << i;
    }
}
#endif

struct Mesh {
    GrowableArray<ShatterPiece> pieces;
    Vec3 corner{-1000.0f, 414.2136f, 1000.0f};
    explicit Mesh(uint32_t seed) { EXPECT_TRUE(BuildShatterPieces(pieces, corner, seed)); }
};

double Area(const ShatterPiece& p) {
    const Vec3& a = p.triangle.vertex[0].position;
    const Vec3& b = p.triangle.vertex[1].position;
    const Vec3& c = p.triangle.vertex[2].position;
    return 0.5 * std::fabs((double(b.x) - a.x) * (double(c.y) - a.y) - (double(c.x) - a.x) * (double(b.y) - a.y));
}

TEST(ShatterMesh, PiecesTileThePictureWithTheirOwnSpinsAndTravels) {
    Mesh mesh(0x2F6A91C3u);
    ASSERT_EQ(mesh.pieces.Size(), 128u);
    double area = 0;
    for (const ShatterPiece& p : mesh.pieces) {
        area += Area(p);
        EXPECT_EQ(p.center.z, 0.0f);
        EXPECT_EQ(p.triangle.textureSlot, 0);
        float sx = 0, sy = 0;
        for (const MeshVertex& v : p.triangle.vertex) {
            sx += v.position.x;
            sy += v.position.y;
            EXPECT_EQ(v.position.z, 0.0f);
            EXPECT_GE(v.u, 0.0f);
            EXPECT_LE(v.u, 1.0f);
            EXPECT_GE(v.v, 0.0f);
            EXPECT_LE(v.v, 1.0f);
            // The texture coordinates follow the position across the picture.
            EXPECT_NEAR(v.u, (v.position.x + p.center.x + 1000.0f) / 2000.0f, 1e-4);
            EXPECT_NEAR(v.v, (414.2136f - (v.position.y + p.center.y)) / 828.4272f, 1e-4);
        }
        EXPECT_NEAR(sx, 0.0f, 1e-3f);
        EXPECT_NEAR(sy, 0.0f, 1e-3f);
        EXPECT_EQ(p.spinY % 4, 0);
        EXPECT_EQ(p.spinX % 4, 0);
        EXPECT_GE(p.spinY, -716);
        EXPECT_LE(p.spinY, 720);
        EXPECT_GE(p.spinX, -716);
        EXPECT_LE(p.spinX, 720);
        EXPECT_GE(p.travelZ, -2999);
        EXPECT_LE(p.travelZ, -1000);
    }
    EXPECT_NEAR(area, 2000.0 * 828.4272, 1e-4 * 2000.0 * 828.4272);
    // The first 64 pieces come from the top-left half: above the diagonal.
    for (size_t i = 0; i < 128; ++i) {
        const Vec3& c = mesh.pieces[i].center;
        const bool topLeft = c.y / 414.2136f > c.x / 1000.0f;
        EXPECT_EQ(topLeft, i < 64) << i;
    }
}

TEST(ShatterMesh, TheSeedDecidesEverything) {
    Mesh a(77), b(77), c(78);
    ASSERT_EQ(a.pieces.Size(), b.pieces.Size());
    EXPECT_EQ(std::memcmp(a.pieces.begin(), b.pieces.begin(), a.pieces.Size() * sizeof(ShatterPiece)), 0);
    EXPECT_NE(std::memcmp(a.pieces.begin(), c.pieces.begin(), a.pieces.Size() * sizeof(ShatterPiece)), 0);
}

TEST(ShatterMesh, DrawsFiveHundredTenNumbersDepthFirst) {
    // 2 halves x (1 + 4 + 16) subdivisions x 3 fractions + 128 pieces x 3 draws.
    GrowableArray<ShatterPiece> pieces;
    ASSERT_TRUE(BuildShatterPieces(pieces, {-1000.0f, 414.2136f, 1000.0f}, 5));
    ShatterRandom replay;
    replay.Seed(5);
    // The last piece's travel is the 510th draw.
    for (int i = 0; i < 509; ++i) replay.Next();
    EXPECT_EQ(pieces[127].travelZ, -1000 - replay.Next() % 2000);
    // Depth 0: one piece, no split fractions, three draws.
    GrowableArray<ShatterPiece> single;
    ASSERT_TRUE(single.Reserve(1));
    ShatterRandom direct;
    direct.Seed(9);
    SubdivideTriangle(single, direct, {0, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}, 0);
    ASSERT_EQ(single.Size(), 1u);
    ShatterRandom expected;
    expected.Seed(9);
    EXPECT_EQ(single[0].spinY, (180 - expected.Next() % 360) * 4);
}

TEST(ShatterMesh, StorageFailureLeavesNoPieces) {
    GrowableArray<ShatterPiece> pieces;
    FailAllocationsFrom(1);
    EXPECT_FALSE(BuildShatterPieces(pieces, {-1000.0f, 414.2136f, 1000.0f}, 5));
    FailAllocationsFrom(0);
    EXPECT_TRUE(pieces.Empty());
}

// Whole frames through the module.
class ShatterSession : public ::testing::Test {
protected:
    static constexpr int32_t kW = 160, kH = 120;
    void SetUp() override {
        dst_ = &host_.AddSurface(1, kW + 7, kH + 5, (kW + 7) * 3 + 5);
        a_ = &host_.AddSurface(2, kW + 3, kH + 2);
        b_ = &host_.AddSurface(3, kW + 1, kH + 9, -((kW + 1) * 3 + 11));
        a_->FillRandom(1);
        b_->FillRandom(2);
        dst_->FillRandom(3);
        host_.Control(refhost::Component::Corvane)->time = 12345;
        ASSERT_TRUE(host_.Begin(1, 4, 3, 2, 2, 1, 3, 1, 6, kW, kH, 34));
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) colorsOfA_.insert(Key(a_->GetPixel(2 + x, 1 + y)));
    }
    static uint32_t Key(refhost::Rgb p) { return p[0] | p[1] << 8 | p[2] << 16; }
    refhost::Host host_;
    refhost::TestSurface* dst_ = nullptr;
    refhost::TestSurface* a_ = nullptr;
    refhost::TestSurface* b_ = nullptr;
    std::set<uint32_t> colorsOfA_;
};

TEST_F(ShatterSession, StartsOnSourceAAndEndsExactlyOnSourceB) {
    const std::vector<uint8_t> outsideBefore = dst_->Snapshot();
    host_.Draw(0, 30);
    int32_t same = 0;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) same += dst_->GetPixel(4 + x, 3 + y) == a_->GetPixel(2 + x, 1 + y);
    // Only pixels on piece edges may show the neighbouring texel.
    EXPECT_GE(same, kW * kH * 99 / 100) << same;
    host_.Draw(30, 30);
    EXPECT_TRUE(dst_->RectEquals(4, 3, *b_, 1, 6, kW, kH));
    // Nothing outside the rectangle changed, in any surface.
    const std::vector<uint8_t> after = dst_->Snapshot();
    for (int32_t y = 0; y < dst_->PixelHeight(); ++y)
        for (int32_t x = 0; x < dst_->PixelWidth(); ++x) {
            if (x >= 4 && x < 4 + kW && y >= 3 && y < 3 + kH) continue;
            const size_t i = (static_cast<size_t>(y) * dst_->PixelWidth() + x) * 3;
            ASSERT_EQ(std::memcmp(&after[i], &outsideBefore[i], 3), 0) << x << ',' << y;
        }
    EXPECT_TRUE(host_.SurfacesIntact());
    EXPECT_EQ(host_.Violations(), 0);
}

// At rest the pieces tile the rectangle: the first frame is source A to the
// pixel at every size, the narrowest and the widest odd ones among them, for
// more than one mesh. In a rectangle narrower than 8 columns the pieces are
// slivers themselves: barely moved from rest they still show source A.
TEST(ShatterSessions, FirstFrameIsSourceAAtEverySize) {
    struct Size {
        int32_t width, height;
    };
    std::vector<Size> sizes = {{641, 480}, {333, 211}, {320, 241}, {321, 240}, {97, 61}, {16, 9},
                               {160, 120}, {640, 480}, {40, 1},    {11, 7},    {9, 40}};
    for (int32_t n = 1; n <= 8; ++n)
        for (int32_t other : {1, 2, 3, 5, 40}) {
            sizes.push_back({n, other});
            if (n <= 3) sizes.push_back({other * 8 + 1, n});
        }
    for (const Size s : sizes) {
        for (uint32_t time : {0u, 777u}) {
            refhost::Host host;
            refhost::TestSurface& dst = host.AddSurface(1, s.width, s.height);
            refhost::TestSurface& a = host.AddSurface(2, s.width, s.height);
            host.AddSurface(3, s.width, s.height).FillRandom(8);
            a.FillRandom(7);
            dst.FillRandom(9);
            host.Control(refhost::Component::Corvane)->time = time;
            ASSERT_TRUE(host.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, s.width, s.height, 34));
            for (int32_t progress : {0, 1}) {
                if (progress == 1 && s.width >= 8) break;
                host.Draw(progress, 1000);
                int64_t differing = 0;
                for (int32_t y = 0; y < s.height; ++y)
                    for (int32_t x = 0; x < s.width; ++x) differing += dst.GetPixel(x, y) != a.GetPixel(x, y);
                // None at rest; barely moved, at most one pixel on a piece edge.
                EXPECT_LE(differing, progress) << s.width << 'x' << s.height << " seed " << time << " progress "
                                               << progress;
            }
            host.End();
        }
    }
}

TEST_F(ShatterSession, EveryPixelIsSourceBOrATexelOfSourceA) {
    for (int32_t progress : {5, 15, 22, 29}) {
        host_.Draw(progress, 30);
        int32_t background = 0;
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const refhost::Rgb p = dst_->GetPixel(4 + x, 3 + y);
                if (p == b_->GetPixel(1 + x, 6 + y)) {
                    ++background;
                    continue;
                }
                ASSERT_TRUE(colorsOfA_.count(Key(p))) << progress << ": " << x << ',' << y;
            }
        if (progress >= 15) {
            EXPECT_GT(background, kW * kH / 20) << progress;  // pieces have left gaps
        }
    }
    EXPECT_TRUE(host_.SurfacesIntact());
}

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The same frames, to the byte, in the native build and in the 32-bit DLL,
// whatever precision the x87 unit was left in.
TEST_F(ShatterSession, FramesAreTheSameInEveryBuild) {
    // At progress 28 one pixel's u lies within rounding of a texel boundary:
    // its texel is the one that interpolants computed from the span's start
    // (not summed pixel by pixel) give.
    const uint32_t expected[] = {3673716213u, 2960339772u, 1336523609u, 2524628225u, 2880801589u};
    const int32_t progress[] = {0, 7, 14, 21, 28};
#if defined(_WIN32)
    for (unsigned precision : {_PC_24, _PC_53, _PC_64}) {
        const unsigned saved = _controlfp(0, 0);
        _controlfp(precision, _MCW_PC);
#else
    for (unsigned precision : {0u}) {
#endif
        for (int i = 0; i < 5; ++i) {
            host_.Draw(progress[i], 30);
            EXPECT_EQ(Crc32(dst_->Snapshot()), expected[i]) << "progress " << progress[i] << " mode " << precision;
        }
#if defined(_WIN32)
        EXPECT_EQ(_controlfp(0, 0) & _MCW_PC, precision);  // the host's mode is given back
        _controlfp(saved, _MCW_PC);
#endif
    }
}

TEST(ShatterSessions, RepeatedBeginsWithChangingRectanglesLeakNothing) {
    refhost::Host host;
    refhost::TestSurface& dst = host.AddSurface(1, 97, 61);
    host.AddSurface(2, 80, 70).FillRandom(4);
    host.AddSurface(3, 90, 50).FillRandom(5);
    std::srand(7);
    for (int i = 0; i < 40; ++i) {
        const int32_t w = 1 + std::rand() % 120, h = 1 + std::rand() % 80;
        host.Control(refhost::Component::Corvane)->time = static_cast<uint32_t>(i);
        if (host.Begin(1, std::rand() % 40 - 10, std::rand() % 30 - 10, 2, std::rand() % 20, std::rand() % 20, 3,
                       std::rand() % 20, std::rand() % 20, w, h, 34)) {
            for (int32_t f = 0; f <= 6; f += 1 + i % 3) host.Draw(f, 6);
        }
        if (i % 3 != 0) host.End();  // sometimes the next Begin does the release
    }
    EXPECT_TRUE(dst.GuardsIntact());
    EXPECT_TRUE(host.SurfacesIntact());
    EXPECT_EQ(host.Violations(), 0);
}

}  // namespace
}  // namespace veilshift
