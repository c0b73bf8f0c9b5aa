// veilshift-preview: plays transitions of the real module, driven through the
// reference host exactly as the engine drives it, and writes what it drew: PNG
// frames, an animation (WebP natively, GIF on Windows), a contact sheet, or a
// gallery of every effect. The same source on both; what differs lies behind
// platform.h, png_output.h and animation_output.h.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <system_error>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "animation_output.h"
#include "contact_sheet.h"
#include "effect_names.h"
#include "gallery_page.h"
#include "host/pictures.h"
#include "image_input.h"
#include "output_files.h"
#include "output_plan.h"
#include "platform.h"
#include "png_output.h"
#include "progress.h"
#include "session.h"

#ifndef VEILSHIFT_VERSION
#error "VEILSHIFT_VERSION comes from the build (the CMake project version)"
#endif

namespace preview {
namespace {

constexpr char kProgram[] = "veilshift-preview";
// The one effect that reads the host's timer (--seed), as the catalog has it.
constexpr int32_t kShatterEffect = [] {
    for (const veilshift::EffectCatalogEntry& entry : veilshift::kEffectCatalog)
        if (entry.readsTimer) return entry.number;
    return -1;
}();
constexpr int kExitFailed = 1;  // something went wrong while running; nothing was written
constexpr int kExitUsage = 2;   // the command line or an input is wrong

struct Size {
    int32_t width = 0;
    int32_t height = 0;
};

struct Options {
    int32_t effect = 1;
    int32_t frames = 30;
    std::optional<Size> rect;
    Point dstAt, aAt, bAt;
    std::optional<Size> screen;
    std::optional<Size> builtInSize;
    std::optional<uint32_t> seed;
    std::string form = "auto";
    std::string framesDir, animationFile, sheet, gallery;  // animationFile: WebP natively, GIF on Windows
    int32_t delayMs = 40;
    int32_t holdMs = 600;
    AnimationSettings animationSettings;
    int32_t sheetCount = 8;
    std::vector<int32_t> sheetList;
    int32_t columns = 4;
    int32_t thumbSide = 160;
    bool list = false;
    bool quiet = false;
    std::vector<std::string> inputs;
    std::set<std::string> given;  // the options on the command line, by long name
};

void Usage(std::FILE* to) {
    const AnimationFormat& f = kAnimationFormat;
    const std::string animationOption = std::string(f.longOption) + " FILE";
    std::fprintf(to, R"(usage: veilshift-preview [options] [A B]

Plays one transition of the Veilshift module from picture A (being left) to
picture B (being entered), or between two built-in pictures when none are
given. The module and the engine's components are loaded from this program's
folder and driven as the engine drives them: Begin, Draw once per frame, End.
Pictures: PNG, JPEG, BMP, GIF (first frame), TGA or PNM.

Transition:
  -e, --effect N        effect number, 0 to 41 (default 1); --list shows which exist
  -n, --frames N        frames to draw, 2 to 100000 (default 30); frame i has
                        progress i of N-1, so the first shows A and the last B
      --rect WxH        the transition rectangle (default: as much of the pictures
                        as fits from the corners below)
      --dst-at X,Y      its top-left corner on the screen (default 0,0)
      --a-at X,Y        its top-left corner in A (default 0,0)
      --b-at X,Y        its top-left corner in B (default 0,0)
      --screen WxH      the screen (destination surface) size (default: A's size);
                        it shows A before the transition
      --size WxH        size of the built-in pictures (default 320x240)
      --seed N          what the host's timer answers, read by the shatter
                        (effect 34) as its seed (decimal or 0x hex, default
                        0x2F6A91C3)
      --form F          the module's start-up settings for the crossfade: auto
                        (its default: the grouped MMX arithmetic when the
                        processor has MMX), scalar (the exact arithmetic), mmx
                        or sse; every kernel then runs in the widest code the
                        processor has, which the summary names (default auto)

Outputs, any combination (without one, only the summary is printed); missing
folders are made, and a failed or interrupted run leaves nothing behind. No two
outputs may share a file, nor may one overwrite an input picture:
  -o, --frames-dir DIR  every frame as DIR/frame-NNNN.png (the whole screen)
  -w, %-17s an animated %s that browsers play (also --animation FILE)
  -s, --sheet FILE      a contact sheet PNG: chosen frames labelled with their progress
  -g, --gallery DIR     every implemented effect for the pair: DIR/index.html with
                        each effect's animation, contact sheet and per-frame timing

Output settings:
      --delay MS        time per animation frame (default 40)
      --hold MS         extra time on the first and last frame (default 600)
      --quality Q       %s
      --sheet-frames N  frames on a contact sheet, spread evenly (default 8),
                        or a list of frame numbers such as 0,5,10,29
      --columns N       contact sheet columns (default 4)
      --thumb N         largest thumbnail side (default 160); pictures under 64
                        pixels a side are enlarged by a whole factor

Other:
  -l, --list            list the effects the module implements, then stop
  -q, --quiet           no summary (warnings still show)
  -h, --help            this text
      --version         the version, then stop

Examples:
  veilshift-preview --gallery out/gallery
  veilshift-preview -e 34 -n 60 --seed 7 -w shatter%s --sheet shatter.png
  veilshift-preview -e 6 --frames-dir frames/ from.jpg to.png
  veilshift-preview -e 1 --form sse --rect 200x100 --dst-at 20,40 --a-at 20,40 --b-at 0,0 a.png b.bmp

Exit status: 0 done; 1 failed while running (nothing is left behind); 2 bad
command line or input; 128+N stopped by signal N (nothing is left behind).
)",
                 animationOption.c_str(), f.name,
                 f.hasQuality ? (std::string(f.name) + " quality 0 to 100 (default 80), or \"lossless\"").c_str()
                              : (std::string("(no setting for ") + f.name + " animations)").c_str(),
                 f.extension);
}

// Error reporting: one line on standard error, prefixed with the program name.
int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return code;
}
void Warn(const std::string& message) { std::fprintf(stderr, "%s: warning: %s\n", kProgram, message.c_str()); }

bool ParseInt64(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

bool ParseInt32(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    int64_t v;
    if (!ParseInt64(text, low, high, v)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool ParsePair(const std::string& text, char separator, int32_t low, int32_t high, int32_t& first, int32_t& second) {
    const size_t at = text.find(separator);
    return at != std::string::npos && ParseInt32(text.substr(0, at), low, high, first) &&
           ParseInt32(text.substr(at + 1), low, high, second);
}

// Each option that takes a value, once: its long name, its short name (or
// none), and what it makes of the value: empty when it took it, else what it
// wants ("2 to 100000 frames"). Usage above describes them; a name on the
// command line is looked up here alone.
struct ValueOption {
    const char* name;
    const char* shortName;
    std::string (*take)(const std::string& value, Options& o);
};

constexpr int32_t kAnyInt32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kAnyInt32Max = std::numeric_limits<int32_t>::max();

std::string TakeSize(const std::string& value, std::optional<Size>& into) {
    Size size;
    if (!ParsePair(value, 'x', 1, kMaxSide, size.width, size.height))
        return "WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxSide);
    into = size;
    return {};
}

std::string TakePoint(const std::string& value, Point& into) {
    if (!ParsePair(value, ',', kAnyInt32Min, kAnyInt32Max, into.x, into.y)) return "X,Y, such as 10,20";
    return {};
}

std::string TakeSheetFrames(const std::string& value, Options& o) {
    o.sheetList.clear();
    if (value.find(',') == std::string::npos) {
        if (!ParseInt32(value, 1, 1000, o.sheetCount)) return "1 to 1000 frames, or a list such as 0,5,9";
        return {};
    }
    size_t start = 0;
    while (start <= value.size()) {
        const size_t comma = std::min(value.find(',', start), value.size());
        int32_t frame;
        if (!ParseInt32(value.substr(start, comma - start), 0, 99999, frame))
            return "frame numbers from 0, separated by commas";
        o.sheetList.push_back(frame);
        start = comma + 1;
    }
    return {};
}

// An option whose value is kept as given (a file or folder name).
template <std::string Options::*field>
std::string TakeText(const std::string& value, Options& o) {
    o.*field = value;
    return {};
}

const ValueOption kValueOptions[] = {
    // Any number is handed to the module, which has its own word for those it lacks.
    {"--effect", "-e",
     [](const std::string& v, Options& o) -> std::string {
         return ParseInt32(v, kAnyInt32Min, kAnyInt32Max, o.effect) ? "" : "an effect number, such as 1";
     }},
    {"--frames", "-n",
     [](const std::string& v, Options& o) -> std::string {
         return ParseInt32(v, 2, 100000, o.frames) ? "" : "2 to 100000 frames";
     }},
    {"--rect", nullptr, [](const std::string& v, Options& o) { return TakeSize(v, o.rect); }},
    {"--dst-at", nullptr, [](const std::string& v, Options& o) { return TakePoint(v, o.dstAt); }},
    {"--a-at", nullptr, [](const std::string& v, Options& o) { return TakePoint(v, o.aAt); }},
    {"--b-at", nullptr, [](const std::string& v, Options& o) { return TakePoint(v, o.bAt); }},
    {"--screen", nullptr, [](const std::string& v, Options& o) { return TakeSize(v, o.screen); }},
    {"--size", nullptr, [](const std::string& v, Options& o) { return TakeSize(v, o.builtInSize); }},
    {"--seed", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         int64_t seed;
         if (!ParseInt64(v, 0, 0xFFFFFFFFll, seed)) return "0 to 4294967295, or 0x0 to 0xFFFFFFFF";
         o.seed = static_cast<uint32_t>(seed);
         return {};
     }},
    {"--form", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         if (v != "auto" && v != "scalar" && v != "mmx" && v != "sse") return "auto, scalar, mmx or sse";
         o.form = v;
         return {};
     }},
    {"--frames-dir", "-o", TakeText<&Options::framesDir>},
    {"--animation", "-w", TakeText<&Options::animationFile>},
    {"--sheet", "-s", TakeText<&Options::sheet>},
    {"--gallery", "-g", TakeText<&Options::gallery>},
    {"--delay", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         return ParseInt32(v, 1, 10000, o.delayMs) ? "" : "1 to 10000 ms";
     }},
    {"--hold", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         return ParseInt32(v, 0, 60000, o.holdMs) ? "" : "0 to 60000 ms";
     }},
    {"--quality", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         o.animationSettings.lossless = v == "lossless";
         if (!o.animationSettings.lossless && !ParseInt32(v, 0, 100, o.animationSettings.quality))
             return "0 to 100, or lossless";
         return {};
     }},
    {"--sheet-frames", nullptr, TakeSheetFrames},
    {"--columns", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         return ParseInt32(v, 1, 100, o.columns) ? "" : "1 to 100 columns";
     }},
    {"--thumb", nullptr,
     [](const std::string& v, Options& o) -> std::string {
         return ParseInt32(v, 8, 4096, o.thumbSide) ? "" : "8 to 4096 pixels";
     }},
};

// The option a name on the command line stands for: a long or short name, or
// the animation format's own name (--webp, --gif) for --animation.
const ValueOption* FindValueOption(const std::string& typed) {
    const std::string name = typed == kAnimationFormat.longOption ? "--animation" : typed;
    for (const ValueOption& option : kValueOptions)
        if (name == option.name || (option.shortName != nullptr && name == option.shortName)) return &option;
    return nullptr;
}

// Parses the command line; on a mistake, prints it and returns the exit code.
std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool onlyInputs = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyInputs || arg.empty() || arg[0] != '-' || arg == "-") {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyInputs = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", kProgram, VEILSHIFT_VERSION);
            return 0;
        }
        if (arg == "-l" || arg == "--list") {
            o.list = true;
            continue;
        }
        if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        } else if (i + 1 < args.size()) {
            value = args[++i];
            hasValue = true;
        }
        // Messages use the name as typed; `given` holds the long name.
        const ValueOption* option = FindValueOption(arg);
        if (option == nullptr) return Fail(kExitUsage, "unknown option " + arg + " (see --help)");
        if (!hasValue) return Fail(kExitUsage, "option " + arg + " needs a value (see --help)");
        o.given.insert(option->name);
        if (const std::string wanted = option->take(value, o); !wanted.empty())
            return Fail(kExitUsage, "bad value \"" + value + "\" for " + arg + ": " + wanted);
    }
    if (o.inputs.size() != 0 && o.inputs.size() != 2)
        return Fail(kExitUsage, "give two pictures (A, then B) or none for the built-in pair; got " +
                                    std::to_string(o.inputs.size()));
    if (!o.inputs.empty() && o.builtInSize)
        return Fail(kExitUsage, "--size is for the built-in pictures; your pictures keep their own size");
    for (int32_t frame : o.sheetList)
        if (frame >= o.frames)
            return Fail(kExitUsage, "--sheet-frames names frame " + std::to_string(frame) + ", but there are only " +
                                        std::to_string(o.frames) + " (0 to " + std::to_string(o.frames - 1) + ")");
    return std::nullopt;
}

std::string FrameName(int32_t index, int32_t frames) {
    int digits = 4;
    for (int32_t n = frames - 1; n >= 10000 && digits < 10; n /= 10) ++digits;
    char name[32];
    std::snprintf(name, sizeof name, "frame-%0*d.png", digits, index);
    return name;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
    return text;
}

std::string Ms(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string Kb(long long bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
    return text;
}

std::string ImplementedList(const std::vector<EffectProbe>& probes) {
    std::string text;
    for (const EffectProbe& p : probes)
        if (p.implemented) text += (text.empty() ? "" : ", ") + std::to_string(p.effect) + " (" + EffectName(p.effect) + ")";
    return text.empty() ? "none" : text;
}

// One transition and the files it feeds.
struct Job {
    int32_t effect = 1;
    std::string framesDir;
    std::string animationFile;
    std::string sheet;
    std::string label;  // for the progress bar
};

struct JobOutcome {
    TransitionResult result;
    std::string form;
    long long animationBytes = -1;
    long long sheetBytes = -1;
    std::string shortfall;  // what the animation file could not hold
};

class Runner {
public:
    Runner(const Options& o, OutputFiles& files, ProgressBar& progress, const Image& a, const Image& b,
           const TransitionRequest& base)
        : o_(o), files_(files), progress_(progress), a_(a), b_(b), base_(base) {}

    // Empty on success; sets `badInput` when the user's input is at fault.
    std::string Run(const Job& job, JobOutcome& outcome, bool& badInput) {
        TransitionRequest request = base_;
        request.effect = job.effect;
        request.a = &a_;
        request.b = &b_;
        std::unique_ptr<AnimationWriter> animation;
        if (!job.animationFile.empty())
            animation = std::make_unique<AnimationWriter>(request.screenWidth, request.screenHeight, o_.animationSettings);
        std::unique_ptr<ContactSheet> sheet;
        if (!job.sheet.empty())
            sheet = std::make_unique<ContactSheet>(
                o_.sheetList.empty() ? SpreadFrames(o_.sheetCount, o_.frames) : o_.sheetList, o_.columns, o_.thumbSide);

        const FrameSink sink = [&](const FrameInfo& frame, const Image& screen) -> std::string {
            if (!job.framesDir.empty()) {
                const std::string path = JoinPath(job.framesDir, FrameName(frame.index, o_.frames));
                if (std::string error = WritePng(screen, files_.Stage(path)); !error.empty())
                    return path + ": " + error;
            }
            if (animation) {
                const bool endFrame = frame.index == 0 || frame.index == o_.frames - 1;
                if (std::string error = animation->Add(screen, o_.delayMs + (endFrame ? o_.holdMs : 0));
                    !error.empty())
                    return job.animationFile + ": " + error;
            }
            if (sheet) sheet->Add(frame.index, frame.progress, frame.total, screen);
            progress_.Show(job.label, frame.index + 1, o_.frames);
            return {};
        };
        outcome.result = PlayTransition(request, sink, platform::Interrupted);
        progress_.Clear();
        if (!outcome.result.error.empty()) {
            badInput = outcome.result.badInput;
            return outcome.result.error;
        }
        if (animation) {
            const std::string staged = files_.Stage(job.animationFile);
            if (std::string error = animation->Write(staged); !error.empty()) return job.animationFile + ": " + error;
            outcome.animationBytes = FileSize(staged);
            outcome.shortfall = animation->Shortfall();
        }
        if (sheet) {
            const std::string staged = files_.Stage(job.sheet);
            if (std::string error = WritePng(sheet->Render(), staged); !error.empty()) return job.sheet + ": " + error;
            outcome.sheetBytes = FileSize(staged);
        }
        return {};
    }

private:
    const Options& o_;
    OutputFiles& files_;
    ProgressBar& progress_;
    const Image& a_;
    const Image& b_;
    const TransitionRequest& base_;
};

// The command as the platform's shell would take it back: POSIX single
// quotes, or on Windows double quotes (no file name holds one) and plain
// backslashes.
std::string CommandLine(const std::vector<std::string>& args) {
    std::string line = kProgram;
    const bool windows = platform::kCaseInsensitivePaths;
    for (std::string arg : args) {
        const bool plain = !arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                 "0123456789-_=.,/:+") == std::string::npos;
        const bool plainOnWindows =
            !arg.empty() && arg.find_first_of(" \t\"&|<>^%") == std::string::npos;
        if (windows && !plainOnWindows) {
            arg = "\"" + arg + "\"";
        } else if (!windows && !plain) {
            std::string quoted = "'";
            for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            arg = quoted + "'";
        }
        line += " " + arg;
    }
    return line;
}

std::string SizeText(int32_t width, int32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

// What the frames show: the screen when the rectangle is all of it, else the
// rectangle with its corners, and the screen when its size differs.
std::string Covered(const Placement& rect, int32_t screenWidth, int32_t screenHeight) {
    const bool wholeScreen =
        rect.dst.x == 0 && rect.dst.y == 0 && rect.width == screenWidth && rect.height == screenHeight;
    const bool cornersAtOrigin = rect.a.x == 0 && rect.a.y == 0 && rect.b.x == 0 && rect.b.y == 0;
    if (wholeScreen && cornersAtOrigin) return SizeText(screenWidth, screenHeight);
    std::string text = DescribePlacement(rect);
    if (!wholeScreen) text += " (screen " + SizeText(screenWidth, screenHeight) + ")";
    return text;
}

// One line for each option given that this run has no use for.
void WarnUnusedOptions(const Options& o, const std::vector<int32_t>& effects) {
    const bool animation = !o.animationFile.empty() || !o.gallery.empty();
    const bool sheet = !o.sheet.empty() || !o.gallery.empty();
    auto plays = [&](auto test) { return std::any_of(effects.begin(), effects.end(), test); };
    if (o.given.count("--seed") && !plays(veilshift::EffectReadsTimer))
        Warn("--seed is read only by effect " + std::to_string(kShatterEffect) + " (" + EffectName(kShatterEffect) +
             "), which this run does not play; it changes nothing");
    if (o.given.count("--form") && !plays(FormApplies))
        Warn("--form sets the crossfade's arithmetic (effects 1, 40 and 41), which this run does not play; it "
             "changes nothing");
    for (const char* option : {"--delay", "--hold", "--quality"})
        if (o.given.count(option) && !animation)
            Warn(std::string(option) + " applies to the animation (-w or -g), which this run does not write");
    if (o.given.count("--quality") && animation && !kAnimationFormat.hasQuality)
        Warn(std::string("--quality does not apply to ") + kAnimationFormat.name + " animations; it changes nothing");
    for (const char* option : {"--sheet-frames", "--columns", "--thumb"})
        if (o.given.count(option) && !sheet)
            Warn(std::string(option) + " applies to the contact sheet (-s or -g), which this run does not write");
}

// The outputs as the clash check sees them.
std::vector<PlannedOutput> PlanOutputs(const Options& o) {
    std::vector<PlannedOutput> outputs;
    if (!o.framesDir.empty())
        outputs.push_back({"--frames-dir", o.framesDir, [](const std::string& name) { return IsFrameFileName(name); },
                           "frame files (frame-NNNN.png)"});
    if (!o.gallery.empty())
        outputs.push_back({"--gallery", o.gallery,
                           [](const std::string& name) { return IsGalleryFileName(name, kAnimationFormat.extension); },
                           "gallery files"});
    if (!o.animationFile.empty()) outputs.push_back({kAnimationFormat.longOption, o.animationFile, {}, {}});
    if (!o.sheet.empty()) outputs.push_back({"--sheet", o.sheet, {}, {}});
    return outputs;
}

// Frames of an earlier run in the frame folder would read as part of this one:
// every frame-NNNN.png that this run did not write goes, whatever its digits.
void RemoveOtherFrames(const std::string& folder, int32_t frames) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!IsFrameFileName(name)) continue;
        const std::string digits = name.substr(6, name.size() - 10);
        const bool ours = digits.size() <= 9 && std::stoi(digits) < frames &&
                          name == FrameName(std::stoi(digits), frames);
        std::error_code ignored;
        if (!ours && entry->is_regular_file(ignored)) std::filesystem::remove(entry->path(), ignored);
    }
}

int Interrupt(OutputFiles& files) {
    files.Discard();
    const int code = 128 + platform::InterruptSignal();
    Fail(code, "interrupted; nothing was written");
    platform::InterruptHandled();
    return code;
}

// The processor by name, where it tells it, and the instruction sets the
// module's forms could use on it.
std::string DescribeProcessor() {
    std::string name;
#if defined(__i386__) || defined(__x86_64__)
    unsigned regs[12] = {};
    if (__get_cpuid_max(0x80000000u, nullptr) >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf)
            __get_cpuid(0x80000002u + leaf, &regs[leaf * 4], &regs[leaf * 4 + 1], &regs[leaf * 4 + 2],
                        &regs[leaf * 4 + 3]);
        name.assign(reinterpret_cast<const char*>(regs), sizeof regs);
        name = name.substr(0, name.find('\0'));
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
    }
#endif
    const veilshift::ProcessorFeatures cpu = DetectProcessor();
    std::string offers;
    for (const auto& [present, set] : {std::pair{cpu.mmx, "mmx"}, std::pair{cpu.sse, "sse"},
                                       std::pair{cpu.sse2, "sse2"}, std::pair{cpu.avx2, "avx2"}})
        if (present) offers += (offers.empty() ? "" : ", ") + std::string(set);
    return (name.empty() ? "a processor" : name) + " offering " + (offers.empty() ? "none of mmx, sse, sse2, avx2" : offers);
}

// Each phase of a run either succeeds or ends it with an exit status.
using Stop = std::optional<int>;

// The two pictures and how the summary names them.
struct Pair {
    Image a, b;
    std::string description;
};

Stop LoadPair(const Options& o, Pair& pair) {
    if (o.inputs.empty()) {
        const Size size = o.builtInSize.value_or(Size{320, 240});
        if (int64_t{size.width} * size.height > kMaxPixels)
            return Fail(kExitUsage, "--size is larger than " + std::to_string(kMaxPixels >> 20) + " million pixels");
        pair.a = refhost::SunsetPicture(size.width, size.height);
        pair.b = refhost::TilePicture(size.width, size.height);
        pair.description = "The built-in pictures, " + SizeText(size.width, size.height);
        return std::nullopt;
    }
    std::vector<std::string> notes;
    for (int k = 0; k < 2; ++k) {
        std::string note;
        if (std::string error = LoadPicture(o.inputs[k], k == 0 ? pair.a : pair.b, note); !error.empty())
            return Fail(kExitUsage, error);
        if (!note.empty()) notes.push_back(note);
    }
    for (const std::string& note : notes) Warn(note);
    pair.description = o.inputs[0] + " (" + SizeText(pair.a.width, pair.a.height) + ") to " + o.inputs[1] + " (" +
                       SizeText(pair.b.width, pair.b.height) + ")";
    return std::nullopt;
}

// Where the transition goes. The default rectangle is as much as fits from the
// three corners, so only a rectangle the user asked for can be clipped. Fills
// the screen and placement of `base` and the rectangle the module will draw.
Stop PlaceTransition(const Options& o, const Pair& pair, TransitionRequest& base, Placement& clipped) {
    const Image& a = pair.a;
    const Image& b = pair.b;
    base.frames = o.frames;
    base.seed = o.seed;
    base.form = o.form;
    const Size screen = o.screen.value_or(Size{a.width, a.height});
    if (int64_t{screen.width} * screen.height > kMaxPixels)
        return Fail(kExitUsage, "--screen is larger than " + std::to_string(kMaxPixels >> 20) + " million pixels");
    base.screenWidth = screen.width;
    base.screenHeight = screen.height;
    Placement& placement = base.placement;
    placement.dst = o.dstAt;
    placement.a = o.aAt;
    placement.b = o.bAt;
    if (o.rect) {
        placement.width = o.rect->width;
        placement.height = o.rect->height;
    } else {
        auto room = [](int64_t extent, int32_t corner) { return std::clamp<int64_t>(extent - corner, 0, kMaxSide); };
        placement.width = static_cast<int32_t>(
            std::min({room(screen.width, o.dstAt.x), room(a.width, o.aAt.x), room(b.width, o.bAt.x)}));
        placement.height = static_cast<int32_t>(
            std::min({room(screen.height, o.dstAt.y), room(a.height, o.aAt.y), room(b.height, o.bAt.y)}));
        if (placement.width == 0 || placement.height == 0)
            return Fail(kExitUsage, "nothing of the pictures lies beyond the corners: screen " +
                                        std::to_string(o.dstAt.x) + "," + std::to_string(o.dstAt.y) + " of " +
                                        SizeText(screen.width, screen.height) + ", A " + std::to_string(o.aAt.x) +
                                        "," + std::to_string(o.aAt.y) + " of " + SizeText(a.width, a.height) +
                                        ", B " + std::to_string(o.bAt.x) + "," + std::to_string(o.bAt.y) + " of " +
                                        SizeText(b.width, b.height));
        if (o.inputs.size() == 2 && (a.width != b.width || a.height != b.height))
            Warn("the pictures differ in size; the transition covers " + DescribePlacement(placement));
    }
    const ClipOutcome clip =
        ClipPlacement(placement, screen.width, screen.height, a.width, a.height, b.width, b.height);
    if (clip.empty) {
        std::string message = "the rectangle " + DescribePlacement(placement) + " lies outside the pictures";
        for (const std::string& note : clip.notes) message += "; " + note;
        return Fail(kExitUsage, message);
    }
    if (!clip.notes.empty()) {
        std::string message = "the rectangle " + DescribePlacement(placement) + " was clipped to " +
                              DescribePlacement(clip.clipped) + ":";
        for (size_t i = 0; i < clip.notes.size(); ++i) message += (i == 0 ? " " : "; ") + clip.notes[i];
        Warn(message);
    }
    clipped = clip.clipped;
    return std::nullopt;
}

// Every output is checked before any work, and staged until all of it has
// succeeded. Missing folders are made, and removed again if the run fails.
Stop PrepareOutputs(const Options& o, OutputFiles& files) {
    std::vector<std::string> folders;
    for (const std::string& folder : {o.framesDir, o.gallery, FolderOf(o.animationFile), FolderOf(o.sheet)})
        if (!folder.empty()) folders.push_back(folder);
    for (const std::string& folder : folders)
        if (folder != ".")
            if (std::string error = files.MakeFolder(folder); !error.empty()) return Fail(kExitUsage, error);
    for (const std::string* file : {&o.animationFile, &o.sheet})
        if (!file->empty())
            if (std::string error = files.CheckFile(*file); !error.empty()) return Fail(kExitUsage, error);
    // What killed runs left in these folders goes once their process is gone.
    if (!o.framesDir.empty() || !o.gallery.empty() || !o.animationFile.empty() || !o.sheet.empty())
        for (const std::string& folder : folders) files.RemoveLeftovers(folder);
    if (!o.animationFile.empty()) {
        std::string extension = std::filesystem::path(o.animationFile).extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension != kAnimationFormat.extension)
            Warn(o.animationFile + " will hold a " + kAnimationFormat.name + " animation, whatever its name says");
    }
    return std::nullopt;
}

// The transitions to play: the one effect of the single outputs, then, for a
// gallery, every effect the module implements.
struct Plan {
    std::vector<Job> jobs;
    size_t galleryStart = 0;  // jobs from here on feed the gallery
    std::vector<EffectProbe> probes;
};

Stop PlanJobs(const Options& o, Plan& plan) {
    std::vector<Job>& jobs = plan.jobs;
    const bool singleOutputs = !o.framesDir.empty() || !o.animationFile.empty() || !o.sheet.empty();
    if (singleOutputs || o.gallery.empty())
        jobs.push_back({o.effect, o.framesDir, o.animationFile, o.sheet, "effect " + std::to_string(o.effect)});
    plan.galleryStart = jobs.size();
    if (!o.gallery.empty()) {
        std::string error;
        plan.probes = ProbeEffects(error);
        if (plan.probes.empty()) return Fail(kExitFailed, error);
        for (const EffectProbe& p : plan.probes) {
            if (!p.implemented) continue;
            char stem[32];
            std::snprintf(stem, sizeof stem, "effect-%02d", p.effect);
            jobs.push_back({p.effect, "", JoinPath(o.gallery, std::string(stem) + kAnimationFormat.extension),
                            JoinPath(o.gallery, std::string(stem) + "-sheet.png"), ""});
        }
        if (jobs.size() == plan.galleryStart) return Fail(kExitFailed, "the module implements no effect");
        const size_t count = jobs.size() - plan.galleryStart;
        for (size_t j = plan.galleryStart; j < jobs.size(); ++j)
            jobs[j].label = "[" + std::to_string(j - plan.galleryStart + 1) + "/" + std::to_string(count) +
                            "] effect " + std::to_string(jobs[j].effect) + " " + EffectName(jobs[j].effect);
    }
    std::vector<int32_t> effects;
    for (const Job& job : jobs) effects.push_back(job.effect);
    WarnUnusedOptions(o, effects);
    return std::nullopt;
}

// What the jobs made: the summary's lines and the gallery's cards.
struct Played {
    std::vector<std::string> summary;
    std::vector<GalleryEntry> entries;
};

Stop PlayJobs(const Options& o, const Plan& plan, const Pair& pair, const TransitionRequest& base,
              const Placement& clipped, OutputFiles& files, Played& played) {
    ProgressBar progress(true);
    Runner runner(o, files, progress, pair.a, pair.b, base);
    const veilshift::ProcessorFeatures cpu = DetectProcessor();
    std::string shortfall;
    for (size_t j = 0; j < plan.jobs.size(); ++j) {
        const Job& job = plan.jobs[j];
        JobOutcome outcome;
        bool badInput = false;
        const std::string error = runner.Run(job, outcome, badInput);
        if (platform::Interrupted()) return Interrupt(files);
        if (!error.empty()) {
            files.Discard();
            Fail(badInput ? kExitUsage : kExitFailed, error);
            if (!outcome.result.moduleMessage.empty()) {
                std::string probeError;
                const std::vector<EffectProbe> known = ProbeEffects(probeError);
                if (!known.empty()) Fail(kExitUsage, "the effects it implements: " + ImplementedList(known));
            }
            return badInput ? kExitUsage : kExitFailed;
        }
        if (shortfall.empty()) shortfall = outcome.shortfall;
        const TransitionResult& r = outcome.result;
        const TimingSummary t = SummariseTiming(r.frameMs);
        const std::string form = DescribeForm(o.form, cpu, job.effect, clipped.width);
        std::string line = "effect " + std::to_string(job.effect) + " (" + EffectName(job.effect) + "): " +
                           std::to_string(o.frames) + " frames of " +
                           Covered(clipped, base.screenWidth, base.screenHeight) + ", " + Ms(t.mean) +
                           " ms per frame (median " + Ms(t.median) + ", slowest " + Ms(t.max) + "), form " + form;
        if (r.askedTime) line += ", seed " + Hex(r.time);
        std::string warning;
        if (r.hostViolations > 0) {
            warning = "the host saw " + std::to_string(r.hostViolations) +
                      " request(s) outside a surface or stray writes during effect " + std::to_string(job.effect) +
                      ": the module has a fault";
            Warn(warning);
        }
        played.summary.push_back(line);
        if (j < plan.galleryStart) {
            if (!job.framesDir.empty())
                played.summary.push_back("  frames: " + JoinPath(job.framesDir, FrameName(0, o.frames)) + " .. " +
                                         FrameName(o.frames - 1, o.frames));
            if (!job.animationFile.empty())
                played.summary.push_back("  animation: " + job.animationFile + " (" + Kb(outcome.animationBytes) + ")");
            if (!job.sheet.empty())
                played.summary.push_back("  contact sheet: " + job.sheet + " (" + Kb(outcome.sheetBytes) + ")");
            continue;
        }
        GalleryEntry entry;
        entry.effect = job.effect;
        entry.name = EffectName(job.effect);
        entry.animation = NameOf(job.animationFile);
        entry.sheet = NameOf(job.sheet);
        entry.frames = o.frames;
        entry.width = base.screenWidth;
        entry.height = base.screenHeight;
        entry.rectangle = DescribePlacement(clipped);
        entry.form = form;
        entry.frameMs = r.frameMs;
        entry.animationBytes = outcome.animationBytes;
        entry.sheetBytes = outcome.sheetBytes;
        if (r.askedTime) entry.seed = Hex(r.time);
        entry.warning = warning;
        played.entries.push_back(entry);
    }
    if (!shortfall.empty()) Warn(shortfall);
    return std::nullopt;
}

// The gallery's sources and its index.html, staged with the rest.
Stop WriteGallery(const Options& o, const Pair& pair, const Plan& plan, Played& played, const std::string& command,
                  OutputFiles& files) {
    GalleryPage page;
    page.pairDescription = pair.description;
    page.delayMs = o.delayMs;
    page.holdMs = o.holdMs;
    page.command = command;
#ifdef VEILSHIFT_PLAYGROUND_PAGE
    {  // the playground beside the sources this tool was built from, when it is there
        std::error_code error;
        const std::filesystem::path link = std::filesystem::relative(
            VEILSHIFT_PLAYGROUND_PAGE, std::filesystem::absolute(o.gallery, error), error);
        if (!error && std::filesystem::exists(VEILSHIFT_PLAYGROUND_PAGE, error)) page.playground = link.generic_string();
    }
#endif
    page.version = VEILSHIFT_VERSION;
    page.processor = DescribeProcessor();
    page.entries = std::move(played.entries);
    page.sourceA = "source-a.png";
    page.sourceB = "source-b.png";
    page.sourceAWidth = pair.a.width;
    page.sourceAHeight = pair.a.height;
    page.sourceBWidth = pair.b.width;
    page.sourceBHeight = pair.b.height;
    for (const auto& [picture, name] : {std::pair{&pair.a, page.sourceA}, std::pair{&pair.b, page.sourceB}})
        if (std::string error = WritePng(*picture, files.Stage(JoinPath(o.gallery, name))); !error.empty()) {
            files.Discard();
            return Fail(kExitFailed, JoinPath(o.gallery, name) + ": " + error);
        }
    const std::string index = JoinPath(o.gallery, "index.html");
    const std::string html = RenderGalleryHtml(page);
    std::FILE* out = std::fopen(files.Stage(index).c_str(), "wb");
    const bool written = out != nullptr && std::fwrite(html.data(), 1, html.size(), out) == html.size();
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        files.Discard();
        return Fail(kExitFailed, "cannot write " + index);
    }
    played.summary.push_back("gallery: " + index + " (" + std::to_string(page.entries.size()) + " effects: " +
                             ImplementedList(plan.probes) + ")");
    return std::nullopt;
}

// Lists the effects the module implements.
int ListEffects() {
    std::string error;
    const std::vector<EffectProbe> probes = ProbeEffects(error);
    if (probes.empty()) return Fail(kExitFailed, error);
    for (const EffectProbe& p : probes)
        if (p.implemented) std::printf("%2d  %s\n", p.effect, EffectName(p.effect).c_str());
    return 0;
}

// One run from parsed options to committed files; `command` is how the
// gallery page says it was made.
int Run(const Options& o, const std::string& command) {
    platform::InstallInterruptHandlers();
    if (o.list) return ListEffects();
    // Outputs that meet each other or an input are refused before anything is read or made.
    if (std::string clash = FindOutputClash(PlanOutputs(o), o.inputs); !clash.empty()) return Fail(kExitUsage, clash);

    Pair pair;
    if (Stop stop = LoadPair(o, pair)) return *stop;
    TransitionRequest base;
    Placement clipped;
    if (Stop stop = PlaceTransition(o, pair, base, clipped)) return *stop;
    OutputFiles files;
    if (Stop stop = PrepareOutputs(o, files)) return *stop;
    Plan plan;
    if (Stop stop = PlanJobs(o, plan)) return *stop;
    Played played;
    if (Stop stop = PlayJobs(o, plan, pair, base, clipped, files, played)) return *stop;
    if (!o.gallery.empty())
        if (Stop stop = WriteGallery(o, pair, plan, played, command, files)) return *stop;

    if (platform::Interrupted()) return Interrupt(files);
    if (std::string error = files.Commit(); !error.empty()) return Fail(kExitFailed, error);
    if (!o.framesDir.empty()) RemoveOtherFrames(o.framesDir, o.frames);
    if (!o.quiet)
        for (const std::string& line : played.summary) std::printf("%s\n", line.c_str());
    return 0;
}

// Explorer starts the tool without options: a double-click gives no arguments,
// pictures dropped on it give their paths.
bool LaunchedWithoutOptions(int argc, char** argv) {
    if (argc == 1) return true;
    return argc == 3 && argv[1][0] != '-' && argv[2][0] != '-' && argv[1][0] != '\0' && argv[2][0] != '\0';
}

// From Explorer: every effect between the built-in pictures, or the two
// dropped, into a new gallery folder that is then opened in the browser.
int RunFromExplorer(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) o.inputs.push_back(argv[i]);
    std::time_t now = std::time(nullptr);
    char stem[64] = "veilshift-gallery";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stem, sizeof stem, "veilshift-gallery-%Y-%m-%d-%H%M%S", local);
    std::string error;
    o.gallery = ClaimNewFolder(platform::GalleryParents(), stem, platform::MakeNewFolder, error);
    if (o.gallery.empty()) return Fail(kExitFailed, "cannot make a gallery folder: " + error);
    std::printf("Playing every effect %s into %s\n",
                o.inputs.empty() ? "between the built-in pictures" : "between the two pictures", o.gallery.c_str());
    std::fflush(stdout);

    std::vector<std::string> command = {"--gallery", o.gallery};
    command.insert(command.end(), o.inputs.begin(), o.inputs.end());
    const int status = Run(o, CommandLine(command));
    if (status != 0) {
        std::error_code ignored;
        std::filesystem::remove(o.gallery, ignored);  // only while empty
        return status;
    }
    const std::string index = JoinPath(o.gallery, "index.html");
    if (std::string reason = platform::OpenInBrowser(index); !reason.empty())
        Warn("cannot open the gallery in a browser (" + reason + "); open " + index + " yourself");
    else
        std::printf("The gallery opens in your browser: %s\n", index.c_str());
    return 0;
}

int Main(int argc, char** argv, bool ownsConsole) {
    if (ownsConsole && LaunchedWithoutOptions(argc, argv)) return RunFromExplorer(argc, argv);
    Options o;
    if (Stop stop = ParseOptions(argc, argv, o)) return *stop;
    return Run(o, CommandLine(std::vector<std::string>(argv + 1, argv + argc)));
}

}  // namespace
}  // namespace preview

int main(int argc, char** argv) {
    preview::platform::PrepareConsole();
    // Started from Explorer, the window closes with the program: keep it until
    // the user has read it.
    const bool ownsConsole = preview::platform::OwnsConsole();
    int status = 1;
    try {
        status = preview::Main(argc, argv, ownsConsole);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "veilshift-preview: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veilshift-preview: %s\n", e.what());
    }
    if (ownsConsole) preview::platform::WaitForKey("Press any key to close this window.");
    return status;
}
