// The animation on Windows: an animated GIF through the Windows Imaging
// Component's GIF encoder. Each frame gets its own 256-colour palette, made
// from the frame by the component, and its display time; the file loops
// forever. The encoder writes into memory; Write puts the bytes in the file.
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "animation_output.h"

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
    return std::string("GIF encoder: ") + what + " failed (" + code + ")";
}

// GIF keeps times in hundredths of a second; frame k runs from the rounded
// start to the rounded end, so that the rounding does not add up.
USHORT Centiseconds(int fromMs, int toMs) {
    const int from = (fromMs + 5) / 10, to = (toMs + 5) / 10;
    return static_cast<USHORT>(std::clamp(to - from, 1, 65535));
}

}  // namespace

const AnimationFormat kAnimationFormat = {"GIF", ".gif", "--gif", false};

namespace {

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

struct AnimationWriter::State {
    ComScope com;
    Com<IWICImagingFactory> factory;
    Com<IStream> memory;
    Com<IWICBitmapEncoder> encoder;
    int32_t width = 0;
    int32_t height = 0;
    int timestampMs = 0;
    bool timesStored = true;
    bool loopStored = true;
    std::string error;
};

AnimationWriter::AnimationWriter(int32_t width, int32_t height, const AnimationSettings&)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.width = width;
    s.height = height;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(&s.factory));
    if (FAILED(result)) {
        s.error = Failure("starting the Windows Imaging Component", result);
        return;
    }
    if (FAILED(result = CreateStreamOnHGlobal(nullptr, TRUE, &s.memory))) {
        s.error = Failure("making a memory stream", result);
        return;
    }
    if (FAILED(result = s.factory->CreateEncoder(GUID_ContainerFormatGif, nullptr, &s.encoder)) ||
        FAILED(result = s.encoder->Initialize(s.memory.get(), WICBitmapEncoderNoCache))) {
        s.error = Failure("setting up", result);
        return;
    }
    // Loop forever: the application extension "NETSCAPE2.0" with a loop count of 0.
    Com<IWICMetadataQueryWriter> metadata;
    s.loopStored = false;
    if (SUCCEEDED(s.encoder->GetMetadataQueryWriter(&metadata))) {
        static UCHAR application[] = "NETSCAPE2.0";
        static UCHAR loop[] = {3, 1, 0, 0, 0};
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UI1 | VT_VECTOR;
        value.caub.cElems = 11;
        value.caub.pElems = application;
        if (SUCCEEDED(metadata->SetMetadataByName(L"/appext/Application", &value))) {
            value.caub.cElems = sizeof loop;
            value.caub.pElems = loop;
            s.loopStored = SUCCEEDED(metadata->SetMetadataByName(L"/appext/Data", &value));
        }
    }
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
    Com<IWICFormatConverter> indexed;
    Com<IWICBitmapFrameEncode> encoded;
    Com<IPropertyBag2> options;
    HRESULT result;
    const UINT stride = static_cast<UINT>(frame.width) * 3;
    if (FAILED(result = s.factory->CreateBitmapFromMemory(static_cast<UINT>(frame.width),
                                                          static_cast<UINT>(frame.height), GUID_WICPixelFormat24bppBGR,
                                                          stride, static_cast<UINT>(bgr.size()), bgr.data(), &bitmap)))
        return Failure("taking a frame", result);
    if (FAILED(result = s.factory->CreatePalette(&palette)) ||
        FAILED(result = palette->InitializeFromBitmap(bitmap.get(), 256, FALSE)))
        return Failure("choosing a frame's palette", result);
    if (FAILED(result = s.factory->CreateFormatConverter(&indexed)) ||
        FAILED(result = indexed->Initialize(bitmap.get(), GUID_WICPixelFormat8bppIndexed, WICBitmapDitherTypeNone,
                                            palette.get(), 0, WICBitmapPaletteTypeCustom)))
        return Failure("mapping a frame to its palette", result);
    WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
    if (FAILED(result = s.encoder->CreateNewFrame(&encoded, &options)) ||
        FAILED(result = encoded->Initialize(options.get())) ||
        FAILED(result = encoded->SetSize(static_cast<UINT>(frame.width), static_cast<UINT>(frame.height))) ||
        FAILED(result = encoded->SetPixelFormat(&format)) || FAILED(result = encoded->SetPalette(palette.get())))
        return Failure("starting a frame", result);

    Com<IWICMetadataQueryWriter> metadata;
    bool timed = false;
    if (SUCCEEDED(encoded->GetMetadataQueryWriter(&metadata))) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UI2;
        value.uiVal = Centiseconds(s.timestampMs, s.timestampMs + durationMs);
        timed = SUCCEEDED(metadata->SetMetadataByName(L"/grctlext/Delay", &value));
        value.vt = VT_UI1;
        value.bVal = 1;  // each frame stays under the next: frames are whole screens
        metadata->SetMetadataByName(L"/grctlext/Disposal", &value);
    }
    s.timesStored = s.timesStored && timed;
    if (FAILED(result = encoded->WriteSource(indexed.get(), nullptr)) || FAILED(result = encoded->Commit()))
        return Failure("writing a frame", result);
    s.timestampMs += durationMs;
    return {};
}

std::string AnimationWriter::Write(const std::string& path) {
    State& s = *state_;
    if (!s.error.empty()) return s.error;
    HRESULT result = s.encoder->Commit();
    if (FAILED(result)) return Failure("finishing the file", result);
    STATSTG stat{};
    HGLOBAL memory = nullptr;
    if (FAILED(result = s.memory->Stat(&stat, STATFLAG_NONAME)) ||
        FAILED(result = GetHGlobalFromStream(s.memory.get(), &memory)))
        return Failure("reading back the file", result);
    const auto size = static_cast<size_t>(stat.cbSize.QuadPart);
    const void* bytes = GlobalLock(memory);
    std::string error;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (bytes == nullptr) {
        error = "cannot read back the encoded file";
    } else if (file == nullptr) {
        error = "cannot open for writing";
    } else {
        const bool written = std::fwrite(bytes, 1, size, file) == size;
        if (!written) error = "write failed (disk full?)";
    }
    if (file != nullptr && std::fclose(file) != 0 && error.empty()) error = "write failed (disk full?)";
    if (bytes != nullptr) GlobalUnlock(memory);
    if (!error.empty()) std::remove(path.c_str());
    return error;
}

std::string AnimationWriter::Shortfall() const {
    const State& s = *state_;
    if (s.timesStored && s.loopStored) return {};
    if (!s.timesStored && !s.loopStored)
        return "this system's GIF encoder cannot store frame times or looping: the animation plays once, at the "
               "viewer's default pace";
    return s.timesStored ? "this system's GIF encoder cannot store looping: the animation plays once"
                         : "this system's GIF encoder cannot store frame times: the animation plays at the viewer's "
                           "default pace";
}

}  // namespace preview
