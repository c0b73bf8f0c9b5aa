// The animation on Windows: an animated GIF. Each frame gets its own
// 256-colour palette, chosen from the frame by the Windows Imaging Component;
// the frame is mapped to it and coded by gif_encoder.cpp, which also stores
// each frame's display time and endless looping.
//
// The component's own GIF encoder is not used: under Wine its LZW coder
// searches its string table linearly and its conversion to indices compares
// every pixel with all 256 colours, together nearly all of a gallery's time
// (docs/performance.md); it also stored no frame times or looping there.
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "animation_output.h"
#include "gif_encoder.h"

namespace preview {
namespace {

template <typename T>
struct Com {
    T* p = nullptr;
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p != nullptr) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    T* get() const { return p; }
};

std::string Failure(const char* what, HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    return std::string("GIF palette: ") + what + " failed (" + code + ")";
}

// GIF keeps times in hundredths of a second; frame k runs from the rounded
// start to the rounded end, so that the rounding does not add up.
uint16_t Centiseconds(int fromMs, int toMs) {
    const int from = (fromMs + 5) / 10, to = (toMs + 5) / 10;
    return static_cast<uint16_t>(std::clamp(to - from, 1, 65535));
}

// COM for this thread, for as long as the writer lives; declared before the
// objects of State, so it ends after they are released.
struct ComScope {
    // S_FALSE (already started) counts too: every successful call is paired with CoUninitialize.
    bool started = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ComScope() = default;
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (started) CoUninitialize();
    }
};

}  // namespace

const AnimationFormat kAnimationFormat = {"GIF", ".gif", "--gif", false};

struct AnimationWriter::State {
    ComScope com;
    Com<IWICImagingFactory> factory;
    GifEncoder encoder;
    int32_t width = 0;
    int32_t height = 0;
    int timestampMs = 0;
    std::string error;
    State(int32_t w, int32_t h) : encoder(w, h), width(w), height(h) {}
};

AnimationWriter::AnimationWriter(int32_t width, int32_t height, const AnimationSettings&)
    : state_(std::make_unique<State>(width, height)) {
    State& s = *state_;
    const HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IWICImagingFactory, reinterpret_cast<void**>(&s.factory));
    if (FAILED(result)) s.error = Failure("starting the Windows Imaging Component", result);
}

AnimationWriter::~AnimationWriter() = default;

std::string AnimationWriter::Add(const Image& frame, int durationMs) {
    State& s = *state_;
    if (!s.error.empty()) return s.error;
    if (frame.width != s.width || frame.height != s.height) return "frame size changed";

    // The component's bitmaps are blue, green, red.
    std::vector<BYTE> bgr(frame.rgb.size());
    for (size_t i = 0; i < bgr.size(); i += 3) {
        bgr[i] = frame.rgb[i + 2];
        bgr[i + 1] = frame.rgb[i + 1];
        bgr[i + 2] = frame.rgb[i];
    }
    Com<IWICBitmap> bitmap;
    Com<IWICPalette> palette;
    HRESULT result;
    const UINT stride = static_cast<UINT>(frame.width) * 3;
    if (FAILED(result = s.factory->CreateBitmapFromMemory(static_cast<UINT>(frame.width),
                                                          static_cast<UINT>(frame.height), GUID_WICPixelFormat24bppBGR,
                                                          stride, static_cast<UINT>(bgr.size()), bgr.data(), &bitmap)))
        return Failure("taking a frame", result);
    WICColor colours[256];
    UINT count = 0;
    if (FAILED(result = s.factory->CreatePalette(&palette)) ||
        FAILED(result = palette->InitializeFromBitmap(bitmap.get(), 256, FALSE)) ||
        FAILED(result = palette->GetColors(256, colours, &count)) || count == 0)
        return Failure("choosing a frame's palette", result);
    GifPalette table;
    table.size = static_cast<int>(std::min<UINT>(count, 256));
    for (int k = 0; k < table.size; ++k) {
        table.rgb[k * 3] = static_cast<uint8_t>(colours[k] >> 16);
        table.rgb[k * 3 + 1] = static_cast<uint8_t>(colours[k] >> 8);
        table.rgb[k * 3 + 2] = static_cast<uint8_t>(colours[k]);
    }
    s.encoder.AddFrame(MapToPalette(frame, table), table, Centiseconds(s.timestampMs, s.timestampMs + durationMs));
    s.timestampMs += durationMs;
    return {};
}

std::string AnimationWriter::Write(const std::string& path) {
    State& s = *state_;
    if (!s.error.empty()) return s.error;
    const std::string& bytes = s.encoder.Finish();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return "cannot open for writing";
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::remove(path.c_str());
        return "write failed (disk full?)";
    }
    return {};
}

std::string AnimationWriter::Shortfall() const { return {}; }

}  // namespace preview
