// The software renderer on its own, in-process, in each span form the
// processor has: 128 textured triangles tiling the viewport, drawn straight
// from screen space (Local/render3d_tiled) and pushed piece by piece through
// the whole pipeline (Local/render3d_pieces), each frame with its depth clear.
// Their floor is Floor/copy_depth_clear.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "Veilshift/module_state.h"
#include "Veilshift/render3d/soft_renderer.h"
#include "Veilshift/startup_settings.h"
#include "bench_support.h"

namespace {

using namespace veilshift;

constexpr int32_t kColumns = 8, kRows = 8;  // 8 x 8 quads, two triangles each: 128

// Corner (i, j) of the grid over the viewport, nudged inwards so the triangles
// differ in shape, with a depth that varies across the screen.
ScreenVertex GridVertex(int32_t i, int32_t j, int32_t width, int32_t height) {
    float x = static_cast<float>(width) * static_cast<float>(i) / kColumns;
    float y = static_cast<float>(height) * static_cast<float>(j) / kRows;
    if (i > 0 && i < kColumns && j > 0 && j < kRows) {
        x += static_cast<float>((i * 7 + j * 3) % 5 - 2) * 3.0f;
        y += static_cast<float>((i * 3 + j * 5) % 5 - 2) * 3.0f;
    }
    const float z = 900.0f + 20.0f * static_cast<float>(i) + 10.0f * static_cast<float>(j);
    return {{0.0f, 0.0f, z}, x, y, static_cast<float>(i) / kColumns, static_cast<float>(j) / kRows};
}

bool FillTiledScreen(SoftRenderer& r, int32_t width, int32_t height) {
    for (int32_t j = 0; j <= kRows; ++j)
        for (int32_t i = 0; i <= kColumns; ++i)
            if (!r.vertices.Append(GridVertex(i, j, width, height))) return false;
    for (int32_t j = 0; j < kRows; ++j)
        for (int32_t i = 0; i < kColumns; ++i) {
            const int32_t a = j * (kColumns + 1) + i, b = a + 1, c = a + kColumns + 1, d = c + 1;
            if (!r.triangles.Append({{a, b, c}, 1, 0}) || !r.triangles.Append({{b, d, c}, 1, 0})) return false;
        }
    return true;
}

// The renderer picks its span form from the features recorded at connection; here they are set directly.
using SpanForm = benchsupport::FormRequest;

// DrawTriangles alone, with the depth clear it needs every frame.
void Render3dTiled(benchmark::State& state, SpanForm form, benchsupport::FrameSize size) {
    const refhost::ModuleForms scoped(form.Values(), form.Allowed());
    const int32_t w = size.width, h = size.height;
    SoftRenderer r;
    benchsupport::Frame texture(size, 4), target(size, 5);
    if (!r.Setup(w, h) || !moduleState.depthBuffer.Allocate(h, w) || !FillTiledScreen(r, w, h)) {
        state.SkipWithError("no memory");
        return;
    }
    r.SetTexture(0, &texture, 0, 0, w, h);
    for (auto _ : state) {
        moduleState.depthBuffer.Clear(0.0f);
        r.DrawTriangles(&target, 0, 0);
        benchmark::ClobberMemory();
    }
    benchsupport::CountPerPixel(state, size);
    moduleState.depthBuffer.Free();
}

// 128 one-triangle scenes through TransformScene, BuildScreenTriangles,
// ProjectTriangles and DrawTriangles, tilted so the texture is in perspective.
void Render3dPieces(benchmark::State& state, SpanForm form, benchsupport::FrameSize size) {
    const refhost::ModuleForms scoped(form.Values(), form.Allowed());
    const int32_t w = size.width, h = size.height;
    SoftRenderer r;
    benchsupport::Frame texture(size, 4), target(size, 5);
    if (!r.Setup(w, h) || !moduleState.depthBuffer.Allocate(h, w)) {
        state.SkipWithError("no memory");
        return;
    }
    r.SetTexture(0, &texture, 0, 0, w, h);
    Vec3 corner{-1.0f, 1.0f, 1.0f};
    TransformPoint(corner, r.inverseProjection);
    auto picture = [&](int32_t i, int32_t j) {
        const float x = corner.x - 2.0f * corner.x * static_cast<float>(i) / kColumns;
        const float y = corner.y - 2.0f * corner.y * static_cast<float>(j) / kRows;
        return MeshVertex{{x, y, 0.0f}, {}, static_cast<float>(i) / kColumns, static_cast<float>(j) / kRows};
    };
    for (auto _ : state) {
        moduleState.depthBuffer.Clear(0.0f);
        for (int32_t j = 0; j < kRows; ++j)
            for (int32_t i = 0; i < kColumns; ++i)
                for (int32_t half = 0; half < 2; ++half) {
                    const SceneTriangle piece = half == 0
                        ? SceneTriangle{{picture(i, j), picture(i + 1, j), picture(i, j + 1)}, 0}
                        : SceneTriangle{{picture(i + 1, j), picture(i + 1, j + 1), picture(i, j + 1)}, 0};
                    r.sceneTriangles.Clear();
                    r.vertices.Clear();
                    r.triangles.Clear();
                    if (!r.sceneTriangles.Append(piece)) break;
                    r.objectAngleY = 20.0f;
                    r.objectAngleX = -10.0f;
                    r.objectPosition = {0.0f, 0.0f, corner.z};
                    r.TransformScene();
                    BuildScreenTriangles(r);
                    ProjectTriangles(r);
                    r.DrawTriangles(&target, 0, 0);
                }
        benchmark::ClobberMemory();
    }
    benchsupport::CountPerPixel(state, size);
    moduleState.depthBuffer.Free();
}

const bool registered = [] {
    const std::vector<benchsupport::NamedForm> forms =
        benchsupport::DistinctForms("renderer's span filler (Local)", benchsupport::kVectorRequests, benchsupport::VectorFormName);
    for (const benchsupport::FrameSize size : benchsupport::kFrameSizes) {
        const std::string sizeName = benchsupport::SizeName(size);
        for (const benchsupport::NamedForm& form : forms) {
            benchmark::RegisterBenchmark(benchsupport::BenchName({"Local", "render3d_tiled", form.name, sizeName}).c_str(),
                                         Render3dTiled, form.request, size)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(benchsupport::BenchName({"Local", "render3d_pieces", form.name, sizeName}).c_str(),
                                         Render3dPieces, form.request, size)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

}  // namespace

