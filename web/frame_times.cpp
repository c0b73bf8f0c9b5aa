// veilshift-frame-times: the module's time per frame for every effect at
// 640x480 and 1920x1080, built from the same source natively and as
// WebAssembly (run under Node), so that the two builds are compared with one
// method in one run (scripts/wasm-timings.py). Google Benchmark has no
// WebAssembly build in Debian; this is the one timing program both builds share.
//
// For each effect and size: a 30-frame transition over two noise pictures,
// drawn `rounds` times (default 5); the time of a round is the sum of its
// Draw calls alone, and the line printed is the median round over 30, in ms:
//   effect=31 size=640x480 ms=1.234
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "Veilshift/effect_catalog.h"
#include "transition_runner.h"

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    constexpr int32_t kFrames = 30;
    const struct {
        int32_t width, height;
    } sizes[] = {{640, 480}, {1920, 1080}};
    web::TransitionRunner runner;
    for (const auto& size : sizes) {
        runner.SetPicture(0, web::NoisePicture(1, size.width, size.height));
        runner.SetPicture(1, web::NoisePicture(2, size.width, size.height));
        for (const veilshift::EffectCatalogEntry& effect : veilshift::kEffectCatalog) {
            std::vector<double> roundMs;
            for (int round = 0; round < rounds; ++round) {
                if (!runner.Begin(effect.number, {0, 0, size.width, size.height})) {
                    std::fprintf(stderr, "effect %d did not begin\n", effect.number);
                    return 1;
                }
                double ms = 0;
                for (int32_t progress = 0; progress < kFrames; ++progress) {
                    const auto start = std::chrono::steady_clock::now();
                    runner.Draw(progress, kFrames - 1);
                    ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                }
                runner.End();
                roundMs.push_back(ms / kFrames);
            }
            std::nth_element(roundMs.begin(), roundMs.begin() + rounds / 2, roundMs.end());
            std::printf("effect=%d size=%dx%d ms=%.4f\n", effect.number, size.width, size.height, roundMs[rounds / 2]);
            std::fflush(stdout);
        }
    }
    return 0;
}
