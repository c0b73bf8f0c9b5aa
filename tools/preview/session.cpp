#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>

#include "Veilshift/form_rules.h"
#include "Veilshift/startup_settings.h"
#include "host/message_capture.h"
#include "host/reference_host.h"
#include "host/startup_switches.h"
#include "platform.h"

namespace preview {
namespace {

// The host's numbers for the three surfaces of a transition.
constexpr int32_t kScreenNumber = 1;
constexpr int32_t kSourceANumber = 2;
constexpr int32_t kSourceBNumber = 3;
std::string WhereModulesAre() {
    return std::string(" (") + platform::kModuleFile + " is loaded from this program's folder, the engine's components' " +
           "stand-ins from its " + kStandInFolder + " folder)";
}

// The host this tool plays through: its stand-ins for the engine's components
// lie in a folder of their own, so that nobody takes them for the engine's.
refhost::HostOptions ToolHost() {
    refhost::HostOptions options;
    options.componentFolder = kStandInFolder;
    return options;
}

struct AxisNames {
    const char* unit;    // "columns" / "rows"
    const char* before;  // "left of" / "above"
    const char* after;   // "past the right edge of" / "below the bottom of"
    const char* extent;  // "wide" / "high"
};

// One axis of the clip, in 64 bits so that no corner or size the user can type
// overflows; the order of the steps is the module's, so each shift is seen by
// the next. Returns false once nothing is left.
bool ClipAxis(int64_t& d, int64_t& a, int64_t& b, int64_t& size, const int64_t limits[3], const AxisNames& names,
              std::vector<std::string>& notes) {
    static const char* const kSurfaces[3] = {"the screen", "source A", "source B"};
    int64_t* corners[3] = {&d, &a, &b};
    for (int i = 0; i < 3; ++i) {
        const int64_t start = *corners[i];
        if (start >= 0) continue;
        notes.push_back(std::to_string(std::min(-start, size)) + " " + names.unit + " lay " + names.before + " " +
                        kSurfaces[i]);
        for (int64_t* corner : corners) *corner -= start;
        size += start;
        if (size <= 0) return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int64_t over = *corners[i] + size - limits[i];
        if (over <= 0) continue;
        notes.push_back(std::to_string(std::min(over, size)) + " " + names.unit + " lay " + names.after + " " +
                        kSurfaces[i] + " (" + std::to_string(limits[i]) + " " + names.extent + ")");
        size = limits[i] - *corners[i];
        if (size <= 0) return false;
    }
    return true;
}

int32_t ToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void CopyIntoSurface(const Image& picture, refhost::TestSurface& surface) {
    for (int32_t y = 0; y < picture.height; ++y)
        std::memcpy(surface.At(0, y), picture.Pixel(0, y), static_cast<size_t>(picture.width) * 3);
}

Image SurfacePicture(const refhost::TestSurface& surface) {
    Image picture;
    picture.width = surface.PixelWidth();
    picture.height = surface.PixelHeight();
    picture.rgb = surface.Snapshot();
    return picture;
}

std::string JoinMessages(const std::vector<refhost::ShownMessage>& messages) {
    std::string text;
    for (const auto& m : messages) {
        if (!text.empty()) text += "\n";
        const std::string caption = platform::ModuleText(m.caption), body = platform::ModuleText(m.text);
        text += caption.empty() ? body : caption + ": " + body;
    }
    return text;
}

// The start-up values "MMX" and "SSE" that --form sets ("auto": both absent).
veilshift::StartupValues ValuesOf(const std::string& form) {
    return refhost::NamedStartupValues(form).value_or(veilshift::StartupValues{});
}

}  // namespace

ClipOutcome ClipPlacement(const Placement& requested, int32_t screenWidth, int32_t screenHeight, int32_t aWidth,
                          int32_t aHeight, int32_t bWidth, int32_t bHeight) {
    ClipOutcome out;
    int64_t dx = requested.dst.x, ax = requested.a.x, bx = requested.b.x, width = requested.width;
    int64_t dy = requested.dst.y, ay = requested.a.y, by = requested.b.y, height = requested.height;
    const int64_t widths[3] = {screenWidth, aWidth, bWidth};
    const int64_t heights[3] = {screenHeight, aHeight, bHeight};
    static const AxisNames kAcross = {"columns", "left of", "past the right edge of", "wide"};
    static const AxisNames kDown = {"rows", "above", "below the bottom of", "high"};
    // As in the module, the vertical pass runs only when some width is left.
    out.empty = width <= 0 || height <= 0 || !ClipAxis(dx, ax, bx, width, widths, kAcross, out.notes) ||
                !ClipAxis(dy, ay, by, height, heights, kDown, out.notes);
    out.clipped = {{ToInt32(dx), ToInt32(dy)}, {ToInt32(ax), ToInt32(ay)}, {ToInt32(bx), ToInt32(by)},
                   ToInt32(width), ToInt32(height)};
    return out;
}

std::string DescribePlacement(const Placement& p) {
    auto at = [](Point c) { return std::to_string(c.x) + "," + std::to_string(c.y); };
    return std::to_string(p.width) + "x" + std::to_string(p.height) + " at screen " + at(p.dst) + ", A " + at(p.a) +
           ", B " + at(p.b);
}

TransitionResult PlayTransition(const TransitionRequest& request, const FrameSink& sink,
                                const std::function<bool()>& interrupted) {
    TransitionResult result;
    try {
        // The module reads its start-up switches when it connects, at the first
        // Begin: on Windows from a private copy of its key, so that the user's
        // own settings are neither read nor touched.
        std::optional<refhost::StartupSwitches> switches(std::in_place, ValuesOf(request.form),
                                                         refhost::SwitchStore::PrivateKey);
        if (!switches->InForce()) {
            result.error = "cannot give the module its start-up switches for --form " + request.form;
            return result;
        }
        refhost::Host host(ToolHost());
        if (request.seed) host.Control(refhost::Component::Corvane)->time = *request.seed;
        refhost::TestSurface& screen = host.AddSurface(kScreenNumber, request.screenWidth, request.screenHeight);
        CopyIntoSurface(*request.a, host.AddSurface(kSourceANumber, request.a->width, request.a->height));
        CopyIntoSurface(*request.b, host.AddSurface(kSourceBNumber, request.b->width, request.b->height));
        // Before the transition the screen shows the picture being left.
        const int32_t shownWidth = std::min(request.screenWidth, request.a->width);
        for (int32_t y = 0; y < std::min(request.screenHeight, request.a->height); ++y)
            std::memcpy(screen.At(0, y), request.a->Pixel(0, y), static_cast<size_t>(shownWidth) * 3);

        const Placement& p = request.placement;
        bool begun;
        {
            refhost::MessageCapture capture(host);
            begun = host.Begin(kScreenNumber, p.dst.x, p.dst.y, kSourceANumber, p.a.x, p.a.y, kSourceBNumber, p.b.x,
                               p.b.y, p.width, p.height, request.effect);
            result.moduleMessage = JoinMessages(capture.Finish());
        }
        switches.reset();
        if (!begun) {
            const ClipOutcome clip = ClipPlacement(p, request.screenWidth, request.screenHeight, request.a->width,
                                                   request.a->height, request.b->width, request.b->height);
            result.badInput = true;
            if (!result.moduleMessage.empty()) {
                result.error = "effect " + std::to_string(request.effect) + " is not implemented; the module says: " +
                               result.moduleMessage;
            } else if (clip.empty) {
                result.error = "the rectangle " + DescribePlacement(p) + " lies outside the pictures";
                for (const std::string& note : clip.notes) result.error += "; " + note;
            } else {
                result.badInput = false;
                result.error = "the module could not begin effect " + std::to_string(request.effect) +
                               " (its set-up failed)";
            }
            return result;
        }
        const refhost::ComponentControl* timer = host.Control(refhost::Component::Corvane);
        result.askedTime = timer->getTimeCalls > 0;
        result.time = timer->time;

        const int32_t total = request.frames - 1;
        result.frameMs.reserve(static_cast<size_t>(request.frames));
        for (int32_t progress = 0; progress <= total; ++progress) {
            if (interrupted()) {
                result.error = "interrupted";
                break;
            }
            const auto start = std::chrono::steady_clock::now();
            host.Draw(progress, total);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            result.frameMs.push_back(ms);
            // The log would otherwise grow with every pixel address the module asks for.
            host.ClearCalls();
            result.error = sink({progress, progress, total, ms}, SurfacePicture(screen));
            if (!result.error.empty()) break;
        }
        host.End();
        result.hostViolations = host.Violations() + (host.SurfacesIntact() ? 0 : 1);
    } catch (const std::exception& e) {
        result.error = std::string("cannot run the module: ") + e.what() + WhereModulesAre();
    }
    return result;
}

std::vector<EffectProbe> ProbeEffects(std::string& error) {
    std::vector<EffectProbe> probes;
    try {
        const refhost::StartupSwitches switches(veilshift::StartupValues{}, refhost::SwitchStore::PrivateKey);
        refhost::Host host(ToolHost());
        constexpr int32_t kSide = 16;
        host.AddSurface(kScreenNumber, kSide, kSide);
        host.AddSurface(kSourceANumber, kSide, kSide).FillRandom(1);
        host.AddSurface(kSourceBNumber, kSide, kSide).FillRandom(2);
        for (int32_t effect = 0; effect < kEffectTableSize; ++effect) {
            EffectProbe probe;
            probe.effect = effect;
            {
                refhost::MessageCapture capture(host);
                probe.implemented = host.Begin(kScreenNumber, 0, 0, kSourceANumber, 0, 0, kSourceBNumber, 0, 0, kSide,
                                               kSide, effect);
                probe.message = JoinMessages(capture.Finish());
            }
            host.End();
            host.ClearCalls();
            probes.push_back(probe);
        }
    } catch (const std::exception& e) {
        error = std::string("cannot run the module: ") + e.what() + WhereModulesAre();
        probes.clear();
    }
    return probes;
}

veilshift::ProcessorFeatures DetectProcessor() { return veilshift::DetectProcessorFeatures(); }

bool FormApplies(int32_t effect) { return veilshift::EffectUsesCrossfade(effect); }

std::string RanForm(const std::string& form, const veilshift::ProcessorFeatures& cpu, int32_t effect,
                    int32_t width) {
    return veilshift::EffectFormName(effect, width, veilshift::DecideFormSettings(ValuesOf(form), cpu));
}

std::string DescribeForm(const std::string& form, const veilshift::ProcessorFeatures& cpu, int32_t effect,
                         int32_t width) {
    const std::string ran = RanForm(form, cpu, effect, width);
    std::string has;
    for (const auto& [present, name] : {std::pair{cpu.mmx, "mmx"}, std::pair{cpu.sse, "sse"},
                                        std::pair{cpu.sse2, "sse2"}, std::pair{cpu.avx2, "avx2"}})
        if (present) has += (has.empty() ? "" : ", ") + std::string(name);
    if (has.empty()) has = "none of mmx, sse, sse2, avx2";
    const std::string asked = form == "auto" ? "auto" : form + " asked";
    const bool grouping = form != "scalar" && cpu.mmx;
    if (FormApplies(effect) && width < 4 && grouping)
        return ran + " (" + asked + ", rectangle narrower than 4 pixels)";
    return ran + " (" + asked + "; processor has " + has + ")";
}

}  // namespace preview
