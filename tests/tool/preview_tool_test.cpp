// veilshift-preview end to end: the real program on small pictures, its outputs
// decoded back with the same libraries a user's viewer would use (stb_image for
// PNG, libwebp's demuxer for the animation), and its error paths.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webp/demux.h>

#include <chrono>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "contact_sheet_layout.h"

#include "Veilshift/form_rules.h"

namespace fs = std::filesystem;

namespace {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// The region w x h at (x, y) of `a` equals the one at (ox, oy) of `b`.
bool SameRegion(const Picture& a, int x, int y, const Picture& b, int ox, int oy, int w, int h) {
    for (int row = 0; row < h; ++row)
        if (std::memcmp(a.At(x, y + row), b.At(ox, oy + row), static_cast<size_t>(w) * 3) != 0) return false;
    return true;
}
bool Same(const Picture& a, const Picture& b) {
    return a.width == b.width && a.height == b.height && a.rgb == b.rgb;
}

Picture Pattern(int width, int height, int seed) {
    Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    uint32_t state = 2463534242u + static_cast<uint32_t>(seed);
    for (auto& byte : p.rgb) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 7);
    }
    return p;
}

Picture Solid(int width, int height, uint8_t value) {
    return {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, value)};
}

Picture LoadPng(const fs::path& path) {
    Picture p;
    int channels = 0;
    stbi_uc* data = stbi_load(path.c_str(), &p.width, &p.height, &channels, 3);
    if (data == nullptr) {
        ADD_FAILURE() << "cannot decode " << path << ": " << stbi_failure_reason();
        return {};
    }
    p.rgb.assign(data, data + static_cast<size_t>(p.width) * p.height * 3);
    stbi_image_free(data);
    return p;
}

struct Animation {
    WebPAnimInfo info{};
    std::vector<Picture> frames;
    std::vector<int> timestamps;  // end of each frame, ms
};

Animation LoadWebp(const fs::path& path) {
    Animation animation;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WebPData data = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (decoder == nullptr) {
        ADD_FAILURE() << "cannot decode " << path;
        return animation;
    }
    WebPAnimDecoderGetInfo(decoder, &animation.info);
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* rgba = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &rgba, &timestamp)) {
            ADD_FAILURE() << "broken frame in " << path;
            break;
        }
        Picture frame{static_cast<int>(animation.info.canvas_width), static_cast<int>(animation.info.canvas_height), {}};
        for (size_t i = 0; i < static_cast<size_t>(frame.width) * frame.height; ++i)
            frame.rgb.insert(frame.rgb.end(), rgba + i * 4, rgba + i * 4 + 3);
        animation.frames.push_back(std::move(frame));
        animation.timestamps.push_back(timestamp);
    }
    WebPAnimDecoderDelete(decoder);
    return animation;
}

double MeanDifference(const Picture& a, const Picture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
    return sum / static_cast<double>(a.rgb.size());
}

struct Outcome {
    int status = -1;  // the exit code, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Files(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

class PreviewTool : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/preview-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        out_ = dir_ / "out";
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Write(const std::string& name, const Picture& p) {
        const fs::path path = dir_ / name;
        const std::string ext = path.extension().string();
        int ok = 0;
        if (ext == ".png") ok = stbi_write_png(path.c_str(), p.width, p.height, 3, p.rgb.data(), p.width * 3);
        if (ext == ".bmp") ok = stbi_write_bmp(path.c_str(), p.width, p.height, 3, p.rgb.data());
        if (ext == ".jpg") ok = stbi_write_jpg(path.c_str(), p.width, p.height, 3, p.rgb.data(), 90);
        EXPECT_TRUE(ok) << path;
        return path;
    }

    // Runs the tool with `args`; `onStart` (if any) is called with its pid while it runs.
    Outcome Run(const std::vector<std::string>& args, const std::function<void(pid_t)>& onStart = {},
                int stderrFd = -1) {
        const fs::path outFile = dir_ / "stdout.txt", errFile = dir_ / "stderr.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(VEILSHIFT_PREVIEW_TOOL));
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            freopen(outFile.c_str(), "w", stdout);
            if (stderrFd >= 0) dup2(stderrFd, 2); else freopen(errFile.c_str(), "w", stderr);
            chdir(dir_.c_str());
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (onStart) onStart(pid);
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome o;
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        o.out = ReadFile(outFile);
        o.err = stderrFd >= 0 ? "" : ReadFile(errFile);
        fs::remove(outFile);
        fs::remove(errFile);
        return o;
    }

    fs::path dir_;
    fs::path out_;
};

bool HasProcessorFeature(unsigned bit) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (d & bit) != 0;
#else
    (void)bit;
    return false;
#endif
}

TEST_F(PreviewTool, EveryOutputDecodesBackWithSourcesAtBothEnds) {
    const Picture a = Pattern(48, 36, 1), b = Pattern(48, 36, 2);
    Write("a.png", a);
    Write("b.bmp", b);
    const Outcome o = Run({"-e", "1", "-n", "5", "-o", "out/frames", "-w", "out/anim.webp", "--quality", "lossless",
                           "-s", "out/sheet.png", "--delay", "50", "--hold", "300", "a.png", "b.bmp"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "") << "quiet when standard error is not a terminal";
    EXPECT_NE(o.out.find("effect 1 (crossfade): 5 frames of 48x36"), std::string::npos) << o.out;
    EXPECT_TRUE(std::regex_search(o.out, std::regex(R"([0-9]+\.[0-9]{3} ms per frame.*form ((exact|grouped) )?(scalar|mmx|sse|sse2|avx2) \()")))
        << o.out;
    EXPECT_EQ(Files(out_), (std::vector<std::string>{"anim.webp", "frames", "frames/frame-0000.png",
                                                     "frames/frame-0001.png", "frames/frame-0002.png",
                                                     "frames/frame-0003.png", "frames/frame-0004.png", "sheet.png"}));

    std::vector<Picture> frames;
    for (int i = 0; i < 5; ++i) frames.push_back(LoadPng(out_ / "frames" / ("frame-000" + std::to_string(i) + ".png")));
    for (const Picture& f : frames) ASSERT_EQ(std::make_pair(f.width, f.height), std::make_pair(48, 36));
    EXPECT_TRUE(Same(frames[0], a));
    EXPECT_TRUE(Same(frames[4], b));
    EXPECT_FALSE(Same(frames[2], a) || Same(frames[2], b));

    const Animation anim = LoadWebp(out_ / "anim.webp");
    EXPECT_EQ(anim.info.canvas_width, 48u);
    EXPECT_EQ(anim.info.canvas_height, 36u);
    EXPECT_EQ(anim.info.loop_count, 0u) << "plays forever";
    ASSERT_EQ(anim.frames.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Same(anim.frames[i], frames[i])) << "lossless frame " << i;
    EXPECT_EQ(anim.timestamps, (std::vector<int>{350, 400, 450, 500, 850})) << "the ends are held";

    const Picture sheet = LoadPng(out_ / "sheet.png");
    const preview::SheetLayout layout = preview::ComputeSheetLayout(48, 36, 5, 4, 160);
    ASSERT_EQ(std::make_pair(sheet.width, sheet.height), std::make_pair(layout.width, layout.height));
    EXPECT_EQ(layout.columns * 10 + layout.rows, 42);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(SameRegion(sheet, layout.ThumbX(i), layout.ThumbY(i), frames[i], 0, 0, 48, 36)) << "cell " << i;
    // Each label strip carries text: more than the two colours of an empty strip.
    for (int i = 0; i < 5; ++i) {
        std::set<std::vector<uint8_t>> colours;
        for (int y = layout.LabelY(i) + 6; y < layout.LabelY(i) + layout.labelHeight; ++y)
            for (int x = layout.CellX(i); x < layout.CellX(i) + layout.cellWidth; ++x)
                colours.insert(std::vector<uint8_t>(sheet.At(x, y), sheet.At(x, y) + 3));
        EXPECT_GE(colours.size(), 2u) << "label " << i;
    }
}

TEST_F(PreviewTool, RectangleAndCornersPlaceTheTransitionOnTheScreen) {
    // Different sizes and formats; the screen takes A's size and shows A around the rectangle.
    Write("a.jpg", Pattern(40, 30, 3));
    const Picture b = Pattern(50, 40, 4);
    Write("b.png", b);
    const Picture a = LoadPng(dir_ / "a.jpg");  // the pixels every JPEG reader of this library sees
    const Outcome o = Run({"-n", "3", "--rect", "20x10", "--dst-at", "4,6", "--a-at", "3,2", "--b-at", "10,12", "-o",
                           "out", "-s", "out/sheet.png", "--sheet-frames", "0,2", "--columns", "1", "a.jpg", "b.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const Picture first = LoadPng(out_ / "frame-0000.png"), last = LoadPng(out_ / "frame-0002.png");
    ASSERT_EQ(std::make_pair(last.width, last.height), std::make_pair(40, 30));
    EXPECT_TRUE(SameRegion(first, 4, 6, a, 3, 2, 20, 10));
    EXPECT_TRUE(SameRegion(last, 4, 6, b, 10, 12, 20, 10));
    for (const Picture* frame : {&first, &last}) {
        EXPECT_TRUE(SameRegion(*frame, 0, 0, a, 0, 0, 40, 6)) << "above the rectangle";
        EXPECT_TRUE(SameRegion(*frame, 0, 16, a, 0, 16, 40, 14)) << "below it";
        EXPECT_TRUE(SameRegion(*frame, 0, 6, a, 0, 6, 4, 10)) << "left of it";
        EXPECT_TRUE(SameRegion(*frame, 24, 6, a, 24, 6, 16, 10)) << "right of it";
    }
    const Picture sheet = LoadPng(out_ / "sheet.png");
    const preview::SheetLayout layout = preview::ComputeSheetLayout(40, 30, 2, 1, 160);
    ASSERT_EQ(std::make_pair(sheet.width, sheet.height), std::make_pair(layout.width, layout.height));
    EXPECT_TRUE(SameRegion(sheet, layout.ThumbX(1), layout.ThumbY(1), last, 0, 0, 40, 30));
}

TEST_F(PreviewTool, BuiltInPairLossyAnimationAndShrunkenSheet) {
    const Outcome o = Run({"--size", "400x300", "-n", "4", "-o", "out/f", "-w", "out/a.webp", "-s", "out/s.png",
                           "--thumb", "100", "--columns", "2"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Animation anim = LoadWebp(out_ / "a.webp");
    ASSERT_EQ(anim.frames.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const Picture frame = LoadPng(out_ / "f" / ("frame-000" + std::to_string(i) + ".png"));
        EXPECT_LT(MeanDifference(anim.frames[i], frame), 6.0) << "lossy frame " << i;
    }
    const Picture first = LoadPng(out_ / "f/frame-0000.png"), last = LoadPng(out_ / "f/frame-0003.png");
    EXPECT_GT(MeanDifference(first, last), 40.0) << "the built-in pictures differ clearly";
    const Picture sheet = LoadPng(out_ / "s.png");
    const preview::SheetLayout layout = preview::ComputeSheetLayout(400, 300, 4, 2, 100);
    EXPECT_EQ(std::make_pair(layout.thumbWidth, layout.thumbHeight), std::make_pair(100, 75));
    EXPECT_EQ(std::make_pair(sheet.width, sheet.height), std::make_pair(layout.width, layout.height));
}

TEST_F(PreviewTool, LaterShorterRunReplacesTheFrameSequence) {
    ASSERT_EQ(Run({"--size", "16x12", "-n", "6", "-o", "out"}).status, 0);
    ASSERT_EQ(Run({"--size", "16x12", "-n", "3", "-o", "out"}).status, 0);
    EXPECT_EQ(Files(out_), (std::vector<std::string>{"frame-0000.png", "frame-0001.png", "frame-0002.png"}));
}

TEST_F(PreviewTool, ProcessorFormGoesThroughTheModuleSettings) {
    if (!HasProcessorFeature(bit_MMX)) GTEST_SKIP() << "no MMX here";
    // Black to white over 3 frames: the middle frame blends with an odd weight (127),
    // where the grouped MMX bytes land one step nearer A than the scalar ones.
    Write("black.png", Solid(16, 4, 0));
    Write("white.png", Solid(16, 4, 255));
    const Outcome scalar = Run({"-n", "3", "--form", "scalar", "-o", "out/scalar", "black.png", "white.png"});
    const Outcome mmx = Run({"-n", "3", "--form", "mmx", "-o", "out/mmx", "black.png", "white.png"});
    ASSERT_EQ(scalar.status, 0) << scalar.err;
    ASSERT_EQ(mmx.status, 0) << mmx.err;
    // The arithmetic follows the setting, the code the processor.
    const std::string widest = veilshift::InstructionSetName(veilshift::DecideVectorSet(veilshift::DetectProcessorFeatures()));
    const std::string grouped = widest == "scalar" ? "mmx" : widest;
    EXPECT_NE(scalar.out.find("form exact " + widest + " (scalar asked"), std::string::npos) << scalar.out;
    EXPECT_NE(mmx.out.find("form grouped " + grouped + " (mmx asked"), std::string::npos) << mmx.out;
    EXPECT_EQ(LoadPng(out_ / "scalar/frame-0001.png").rgb[0], 126);
    EXPECT_EQ(LoadPng(out_ / "mmx/frame-0001.png").rgb[0], 125);
    if (HasProcessorFeature(bit_SSE)) {
        const Outcome sse = Run({"-n", "3", "--form", "sse", "black.png", "white.png"});
        EXPECT_NE(sse.out.find("form grouped " + (widest == "scalar" ? std::string("sse") : widest) + " (sse asked"),
                  std::string::npos)
            << sse.out;
    }
    const Outcome narrow = Run({"-n", "3", "--form", "sse", "--rect", "3x4", "black.png", "white.png"});
    EXPECT_NE(narrow.out.find("form exact " + widest + " (sse asked, rectangle narrower than 4 pixels)"),
              std::string::npos)
        << narrow.out;
}

TEST_F(PreviewTool, GalleryHoldsEveryImplementedEffect) {
    const Outcome list = Run({"--list"});
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<int> effects;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) effects.push_back(std::stoi(line));
    ASSERT_FALSE(effects.empty());
    EXPECT_EQ(effects.front(), 1);

    const Outcome o = Run({"--gallery", "out", "--size", "48x36", "-n", "4", "--quality", "lossless", "--seed", "77"});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string html = ReadFile(out_ / "index.html");
    const Picture a = LoadPng(out_ / "source-a.png"), b = LoadPng(out_ / "source-b.png");
    ASSERT_EQ(std::make_pair(a.width, b.height), std::make_pair(48, 36));
    for (int effect : effects) {
        char stem[16];
        std::snprintf(stem, sizeof stem, "effect-%02d", effect);
        SCOPED_TRACE(stem);
        EXPECT_NE(html.find(std::string("src=\"") + stem + ".webp\""), std::string::npos);
        EXPECT_NE(html.find(std::string("src=\"") + stem + "-sheet.png\""), std::string::npos);
        const Animation anim = LoadWebp(out_ / (std::string(stem) + ".webp"));
        ASSERT_FALSE(anim.frames.empty());
        EXPECT_LE(anim.frames.size(), 4u);  // identical neighbours may merge
        EXPECT_EQ(anim.info.canvas_width, 48u);
        EXPECT_TRUE(Same(anim.frames.back(), b)) << "every effect ends on B";
        if (effect == 1) {
            EXPECT_TRUE(Same(anim.frames.front(), a));
        }
        const Picture sheet = LoadPng(out_ / (std::string(stem) + "-sheet.png"));
        EXPECT_EQ(sheet.width, preview::ComputeSheetLayout(48, 36, 4, 4, 160).width);
    }
    EXPECT_EQ(std::count(html.begin(), html.end(), '\n') > 10, true);
    EXPECT_NE(html.find("ms mean"), std::string::npos);
    EXPECT_NE(html.find("data-expected=\"" + std::to_string(2 + 2 * effects.size()) + "\""), std::string::npos);
    if (std::find(effects.begin(), effects.end(), 34) != effects.end()) {
        EXPECT_NE(html.find("0x0000004D"), std::string::npos) << "the seed the shatter read";
    }
}

TEST_F(PreviewTool, BadInputIsRefusedWithAReasonAndLeavesNothing) {
    Write("a.png", Pattern(24, 16, 5));
    Write("b.png", Pattern(24, 16, 6));
    std::ofstream(dir_ / "garbage.png") << "not a picture";
    fs::create_directory(dir_ / "folder.png");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> said;  // each must appear in the message
    };
    const std::vector<Case> cases = {
        {{"missing.png", "b.png"}, {"cannot open missing.png", "No such file"}},
        {{"a.png", "garbage.png"}, {"cannot read garbage.png as a picture"}},
        {{"folder.png", "b.png"}, {"folder.png", "folder"}},
        {{"-e", "2", "a.png", "b.png"}, {"effect 2 is not implemented", "【 2 】", "implements: 1 (crossfade)"}},
        {{"-e", "42", "a.png", "b.png"}, {"【 42 】"}},
        {{"-e", "-1", "a.png", "b.png"}, {"【 -1 】"}},
        {{"--rect", "10x10", "--dst-at", "30,0", "a.png", "b.png"},
         {"lies outside the pictures", "past the right edge of the screen (24 wide)"}},
        {{"--rect", "10x10", "--b-at", "0,-20", "a.png", "b.png"}, {"lies outside", "20 rows lay above source B"}},
        {{"-n", "1"}, {"-n", "2 to 100000"}},
        {{"--rect", "0x5"}, {"--rect"}},
        {{"--form", "avx"}, {"auto, scalar, mmx or sse"}},
        {{"--seed", "-1"}, {"--seed"}},
        {{"--quality", "101"}, {"--quality"}},
        {{"--frobnicate"}, {"unknown option --frobnicate"}},
        {{"-e"}, {"needs a value"}},
        {{"a.png"}, {"give two pictures"}},
        {{"--size", "10x10", "a.png", "b.png"}, {"--size is for the built-in pictures"}},
        {{"-n", "5", "--sheet-frames", "0,5"}, {"frame 5", "only 5"}},
        {{"-w", "a.png/x.webp", "a.png", "b.png"}, {"a.png is a file"}},
        {{"-w", "out", "-o", "out"}, {"both called out"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        // Every run also asks for each kind of output, none of which may appear.
        for (const char* output : {"-o", "out/frames", "-s", "out/sheet.png", "-g", "out/gallery"}) args.push_back(output);
        std::rotate(args.begin(), args.end() - 6, args.end());
        fs::create_directory(out_);
        const Outcome o = Run(args);
        std::string joined;
        for (const auto& arg : c.args) joined += arg + " ";
        SCOPED_TRACE(joined);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("veilshift-preview: ", 0), 0u) << o.err;
        for (const std::string& words : c.said) EXPECT_NE(o.err.find(words), std::string::npos) << o.err;
        EXPECT_EQ(Files(out_), std::vector<std::string>{});
        fs::remove_all(out_);
    }
}

TEST_F(PreviewTool, PartlyOutsideRectangleIsClippedWithAWarning) {
    Write("a.png", Pattern(24, 16, 7));
    const Picture b = Pattern(24, 16, 8);
    Write("b.png", b);
    const Outcome o = Run({"-n", "2", "--rect", "30x10", "--dst-at", "-2,0", "-o", "out", "a.png", "b.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("warning: the rectangle 30x10 at screen -2,0, A 0,0, B 0,0 was clipped to 22x10 at screen "
                         "0,0, A 2,0, B 2,0: 2 columns lay left of the screen; 4 columns lay past the right edge of "
                         "the screen (24 wide); 2 columns lay past the right edge of source A (24 wide)"),
              std::string::npos)
        << o.err;
    EXPECT_TRUE(SameRegion(LoadPng(out_ / "frame-0001.png"), 0, 0, b, 2, 0, 22, 10));
}

TEST_F(PreviewTool, InterruptionLeavesNothingBehind) {
    for (int signal : {SIGINT, SIGTERM}) {
        const Outcome o = Run({"--size", "32x24", "-n", "100000", "-o", "out/frames", "-w", "out/a.webp"}, [&](pid_t pid) {
            // Once the output folder exists the run is under way, with its handlers in place.
            for (int i = 0; i < 500 && !fs::exists(out_ / "frames"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(pid, signal);
        });
        EXPECT_EQ(o.status, 128 + signal) << o.err;
        EXPECT_NE(o.err.find("interrupted; nothing was written"), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out_)) << "the folders it made are gone too";
    }
}

TEST_F(PreviewTool, HelpAndProgressBar) {
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: veilshift-preview"), std::string::npos);
    EXPECT_NE(help.out.find("Examples:"), std::string::npos);

    // On a terminal the bar is drawn on standard error and cleared before the summary.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const Outcome o = Run({"--size", "16x12", "-n", "40"}, {}, slave);
    close(slave);
    std::string screen;
    char buffer[4096];
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, static_cast<size_t>(got));
    close(master);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(screen.find("effect 1 ["), std::string::npos) << screen;
    EXPECT_NE(screen.find("##############################] 40/40"), std::string::npos) << screen;
    EXPECT_NE(screen.rfind("\r\033[K"), std::string::npos);
}

}  // namespace
