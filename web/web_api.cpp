// The WebAssembly build's C surface, which web/api.js wraps for JavaScript:
// the module, its reference host and the three components linked into one
// program, one transition at a time. Pixels cross as packed RGB rows in the
// program's memory.
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "Veilshift/effect_catalog.h"
#include "transition_runner.h"

#ifndef VEILSHIFT_VERSION
#error "VEILSHIFT_VERSION is set by the build"
#endif

namespace {

std::unique_ptr<web::TransitionRunner> runner;
web::Picture generated;  // the last picture asked of vs_builtin_picture or vs_noise_picture

web::TransitionRunner& Runner() {
    if (!runner) runner = std::make_unique<web::TransitionRunner>();
    return *runner;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* vs_version() { return VEILSHIFT_VERSION; }

EMSCRIPTEN_KEEPALIVE int vs_effect_count() { return static_cast<int>(std::size(veilshift::kEffectCatalog)); }
EMSCRIPTEN_KEEPALIVE int vs_effect_number(int i) {
    return i >= 0 && i < vs_effect_count() ? veilshift::kEffectCatalog[i].number : 0;
}
EMSCRIPTEN_KEEPALIVE const char* vs_effect_name(int i) {
    return i >= 0 && i < vs_effect_count() ? veilshift::kEffectCatalog[i].name : "";
}

// A start-up value ("MMX" or "SSE") as the module reads it at its first
// connection, the first Begin of this program: null takes it away.
EMSCRIPTEN_KEEPALIVE int vs_set_startup_value(const char* name, const char* value) {
    const std::string variable = std::string("TESSARY_STARTUP_") + name;
    return (value == nullptr ? unsetenv(variable.c_str()) : setenv(variable.c_str(), value, 1)) == 0;
}

// The built-in pair (which 0: A, 1: B) or noise at a size; the pixels stay
// until the next such call. Null for an impossible size.
EMSCRIPTEN_KEEPALIVE const uint8_t* vs_builtin_picture(int which, int32_t width, int32_t height) {
    if (!web::PictureSizeFits(width, height)) return nullptr;
    generated = web::BuiltInPicture(which, width, height);
    return generated.rgb.data();
}
EMSCRIPTEN_KEEPALIVE const uint8_t* vs_noise_picture(uint32_t seed, int32_t width, int32_t height) {
    if (!web::PictureSizeFits(width, height)) return nullptr;
    generated = web::NoisePicture(seed, width, height);
    return generated.rgb.data();
}

// Source A (which 0) or B (1) from width * height * 3 bytes at `rgb`, copied.
EMSCRIPTEN_KEEPALIVE int vs_set_picture(int which, int32_t width, int32_t height, const uint8_t* rgb) {
    if (!web::PictureSizeFits(width, height) || rgb == nullptr) return 0;
    web::Picture picture{width, height, {rgb, rgb + static_cast<size_t>(width) * static_cast<size_t>(height) * 3}};
    return Runner().SetPicture(which, std::move(picture));
}

EMSCRIPTEN_KEEPALIVE int vs_begin(int32_t effect, int32_t x, int32_t y, int32_t width, int32_t height) {
    return Runner().Begin(effect, {x, y, width, height});
}
EMSCRIPTEN_KEEPALIVE void vs_draw(int32_t progress, int32_t total) { Runner().Draw(progress, total); }
EMSCRIPTEN_KEEPALIVE void vs_end() { Runner().End(); }

EMSCRIPTEN_KEEPALIVE int32_t vs_screen_width() { return Runner().ScreenWidth(); }
EMSCRIPTEN_KEEPALIVE int32_t vs_screen_height() { return Runner().ScreenHeight(); }
// Copies the screen as it is now and answers the copy's checksum; the copy's
// packed RGB rows stay at vs_captured_pixels until the next capture.
EMSCRIPTEN_KEEPALIVE uint32_t vs_capture_screen() { return Runner().CaptureScreen(); }
EMSCRIPTEN_KEEPALIVE const uint8_t* vs_captured_pixels() { return Runner().CapturedPixels().data(); }
EMSCRIPTEN_KEEPALIVE int32_t vs_host_violations() { return Runner().HostViolations(); }

}  // extern "C"
