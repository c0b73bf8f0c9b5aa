// veilshift-preview end to end, on both builds (natively, and the Windows tool
// under Wine): the real program on small pictures, its outputs decoded back
// with the libraries a viewer would use, and its error paths. What only the
// native tool can be asked (a terminal, POSIX signals) is in
// preview_tool_posix_test.cpp.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "Veilshift/form_rules.h"
#include "contact_sheet_layout.h"
#include "gallery_page.h"
#include "tool_harness.h"

namespace tooltest {
namespace {

size_t Count(const std::string& text, const std::string& words) {
    size_t n = 0;
    for (size_t at = text.find(words); at != std::string::npos; at = text.find(words, at + 1)) ++n;
    return n;
}

std::string Anim(const std::string& stem) { return stem + kAnimationExtension; }

std::string FrameFile(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04d.png", index);
    return name;
}

class PreviewTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchFolder();
        out_ = dir_ / "out";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Write(const std::string& name, const Picture& p) {
        const fs::path path = dir_ / name;
        EXPECT_TRUE(WritePicture(path, p)) << path;
        return path;
    }
    Outcome Run(const std::vector<std::string>& args) { return RunTool(dir_, args); }

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
    std::vector<std::string> args = {"-e", "1", "-n", "5", "-o", "out/frames", "-w", Anim("out/anim"), "-s",
                                     "out/sheet.png", "--delay", "50", "--hold", "300", "a.png", "b.bmp"};
    if (kAnimationIsExact) args.insert(args.begin(), {"--quality", "lossless"});
    const Outcome o = Run(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "") << "quiet when standard error is not a terminal";
    EXPECT_NE(o.out.find("effect 1 (crossfade): 5 frames of 48x36,"), std::string::npos) << o.out;
    EXPECT_TRUE(std::regex_search(o.out, std::regex(R"([0-9]+\.[0-9]{3} ms per frame.*form ((exact|grouped)-)?(scalar|mmx|sse|sse2|avx2) \()")))
        << o.out;
    EXPECT_EQ(Files(out_), (std::vector<std::string>{Anim("anim"), "frames", "frames/frame-0000.png",
                                                     "frames/frame-0001.png", "frames/frame-0002.png",
                                                     "frames/frame-0003.png", "frames/frame-0004.png", "sheet.png"}));

    std::vector<Picture> frames;
    for (int i = 0; i < 5; ++i) frames.push_back(LoadPicture(out_ / "frames" / FrameFile(i)));
    for (const Picture& f : frames) ASSERT_EQ(std::make_pair(f.width, f.height), std::make_pair(48, 36));
    EXPECT_TRUE(Same(frames[0], a));
    EXPECT_TRUE(Same(frames[4], b));
    EXPECT_FALSE(Same(frames[2], a) || Same(frames[2], b));

    const Animation anim = LoadAnimation(out_ / Anim("anim"));
    EXPECT_EQ(std::make_pair(anim.width, anim.height), std::make_pair(48, 36));
    ASSERT_EQ(anim.frames.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        if (kAnimationIsExact) {
            EXPECT_TRUE(Same(anim.frames[i], frames[i])) << "lossless frame " << i;
        } else {
            // 256 colours of the frame's own: near the frame, far from the other noise picture.
            EXPECT_LT(MeanDifference(anim.frames[i], frames[i]), 16.0) << "frame " << i;
        }
    }
    EXPECT_GT(MeanDifference(anim.frames[0], frames[4]), 60.0);
    EXPECT_TRUE(anim.loopsForever);
    EXPECT_EQ(anim.endMs, (std::vector<int>{350, 400, 450, 500, 850})) << "the ends are held";

    const Picture sheet = LoadPicture(out_ / "sheet.png");
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
    const Picture a = LoadPicture(dir_ / "a.jpg");  // the pixels every JPEG reader of this library sees
    const Outcome o = Run({"-n", "3", "--rect", "20x10", "--dst-at", "4,6", "--a-at", "3,2", "--b-at", "10,12", "-o",
                           "out", "-s", "out/sheet.png", "--sheet-frames", "0,2", "--columns", "1", "a.jpg", "b.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_NE(o.out.find("3 frames of 20x10 at screen 4,6, A 3,2, B 10,12 (screen 40x30),"), std::string::npos)
        << "the summary names the rectangle drawn, and the screen around it: " << o.out;
    const Picture first = LoadPicture(out_ / "frame-0000.png"), last = LoadPicture(out_ / "frame-0002.png");
    ASSERT_EQ(std::make_pair(last.width, last.height), std::make_pair(40, 30));
    EXPECT_TRUE(SameRegion(first, 4, 6, a, 3, 2, 20, 10));
    EXPECT_TRUE(SameRegion(last, 4, 6, b, 10, 12, 20, 10));
    for (const Picture* frame : {&first, &last}) {
        EXPECT_TRUE(SameRegion(*frame, 0, 0, a, 0, 0, 40, 6)) << "above the rectangle";
        EXPECT_TRUE(SameRegion(*frame, 0, 16, a, 0, 16, 40, 14)) << "below it";
        EXPECT_TRUE(SameRegion(*frame, 0, 6, a, 0, 6, 4, 10)) << "left of it";
        EXPECT_TRUE(SameRegion(*frame, 24, 6, a, 24, 6, 16, 10)) << "right of it";
    }
    const Picture sheet = LoadPicture(out_ / "sheet.png");
    const preview::SheetLayout layout = preview::ComputeSheetLayout(40, 30, 2, 1, 160);
    ASSERT_EQ(std::make_pair(sheet.width, sheet.height), std::make_pair(layout.width, layout.height));
    EXPECT_TRUE(SameRegion(sheet, layout.ThumbX(1), layout.ThumbY(1), last, 0, 0, 40, 30));
}

TEST_F(PreviewTool, BuiltInPairLossyAnimationAndShrunkenSheet) {
    const Outcome o = Run({"--size", "400x300", "-n", "4", "-o", "out/f", "-w", Anim("out/a"), "-s", "out/s.png",
                           "--thumb", "100", "--columns", "2"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Animation anim = LoadAnimation(out_ / Anim("a"));
    ASSERT_EQ(anim.frames.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const Picture frame = LoadPicture(out_ / "f" / FrameFile(i));
        EXPECT_LT(MeanDifference(anim.frames[i], frame), 6.0) << "lossy frame " << i;
    }
    const Picture first = LoadPicture(out_ / "f/frame-0000.png"), last = LoadPicture(out_ / "f/frame-0003.png");
    EXPECT_GT(MeanDifference(first, last), 40.0) << "the built-in pictures differ clearly";
    const Picture sheet = LoadPicture(out_ / "s.png");
    const preview::SheetLayout layout = preview::ComputeSheetLayout(400, 300, 4, 2, 100);
    EXPECT_EQ(std::make_pair(layout.thumbWidth, layout.thumbHeight), std::make_pair(100, 75));
    EXPECT_EQ(std::make_pair(sheet.width, sheet.height), std::make_pair(layout.width, layout.height));
}

TEST_F(PreviewTool, LaterShorterRunReplacesTheFrameSequence) {
    ASSERT_EQ(Run({"--size", "16x12", "-n", "6", "-o", "out"}).status, 0);
    // Frames of earlier runs with more digits (a run of 100000 frames or more) go too;
    // names that are not frames stay.
    for (const char* name : {"frame-00007.png", "frame-123456.png", "frame-12.png", "notes.txt"})
        std::ofstream(out_ / name) << "earlier";
    ASSERT_EQ(Run({"--size", "16x12", "-n", "3", "-o", "out"}).status, 0);
    EXPECT_EQ(Files(out_), (std::vector<std::string>{"frame-0000.png", "frame-0001.png", "frame-0002.png",
                                                     "frame-12.png", "notes.txt"}));
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
    EXPECT_NE(scalar.out.find("form exact-" + widest + " (scalar asked"), std::string::npos) << scalar.out;
    EXPECT_NE(mmx.out.find("form grouped-" + grouped + " (mmx asked"), std::string::npos) << mmx.out;
    EXPECT_EQ(LoadPicture(out_ / "scalar/frame-0001.png").rgb[0], 126);
    EXPECT_EQ(LoadPicture(out_ / "mmx/frame-0001.png").rgb[0], 125);
    if (HasProcessorFeature(bit_SSE)) {
        const Outcome sse = Run({"-n", "3", "--form", "sse", "black.png", "white.png"});
        EXPECT_NE(sse.out.find("form grouped-" + (widest == "scalar" ? std::string("sse") : widest) + " (sse asked"),
                  std::string::npos)
            << sse.out;
    }
    const Outcome narrow = Run({"-n", "3", "--form", "sse", "--rect", "3x4", "black.png", "white.png"});
    EXPECT_NE(narrow.out.find("form exact-" + widest + " (sse asked, rectangle narrower than 4 pixels)"),
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
    const Picture a = LoadPicture(out_ / "source-a.png"), b = LoadPicture(out_ / "source-b.png");
    ASSERT_EQ(std::make_pair(a.width, b.height), std::make_pair(48, 36));
    for (int effect : effects) {
        char stem[16];
        std::snprintf(stem, sizeof stem, "effect-%02d", effect);
        SCOPED_TRACE(stem);
        EXPECT_NE(html.find(std::string("src=\"") + Anim(stem) + "\""), std::string::npos);
        EXPECT_NE(html.find(std::string("src=\"") + stem + "-sheet.png\""), std::string::npos);
        const Animation anim = LoadAnimation(out_ / Anim(stem));
        ASSERT_FALSE(anim.frames.empty());
        EXPECT_LE(anim.frames.size(), 4u);  // identical neighbours may merge
        EXPECT_EQ(anim.width, 48);
        if (kAnimationIsExact) {
            EXPECT_TRUE(Same(anim.frames.back(), b)) << "every effect ends on B";
            if (effect == 1) {
                EXPECT_TRUE(Same(anim.frames.front(), a));
            }
        } else {
            EXPECT_LT(MeanDifference(anim.frames.back(), b), 4.0) << "every effect ends on B";
            if (effect == 1) {
                EXPECT_LT(MeanDifference(anim.frames.front(), a), 4.0);
            }
        }
        const Picture sheet = LoadPicture(out_ / (std::string(stem) + "-sheet.png"));
        EXPECT_EQ(sheet.width, preview::ComputeSheetLayout(48, 36, 4, 4, 160).width);
    }
    EXPECT_EQ(std::count(html.begin(), html.end(), '\n') > 10, true);
    EXPECT_NE(html.find("ms mean"), std::string::npos);
    EXPECT_NE(html.find("data-expected=\"" + std::to_string(2 + 2 * effects.size()) + "\""), std::string::npos);
    // One line for the whole page: the version that made it and what the processor offers.
    const size_t madeWith = html.find("<p class=\"lead\" id=\"made-with\">Made with Veilshift " +
                                      std::string(VEILSHIFT_VERSION) + " on ");
    ASSERT_NE(madeWith, std::string::npos);
    const std::string line = html.substr(madeWith, html.find('\n', madeWith) - madeWith);
    EXPECT_TRUE(std::regex_search(line, std::regex(" offering (mmx|none)[a-z0-9, ]*; each effect names the form")))
        << line;
    if (std::find(effects.begin(), effects.end(), 34) != effects.end()) {
        EXPECT_NE(html.find("0x0000004D"), std::string::npos) << "the seed the shatter read";
    }
}

TEST_F(PreviewTool, BadInputIsRefusedWithAReasonAndLeavesNothing) {
    Write("a.png", Pattern(24, 16, 5));
    Write("b.png", Pattern(24, 16, 6));
    std::ofstream(dir_ / "garbage.png") << "not a picture";
    fs::create_directory(dir_ / "folder.png");
    // A PNG whose header claims a width no decoder takes, and one cut short in its pixel data.
    std::string png = ReadFile(dir_ / "a.png");
    std::string huge = png;
    huge[16] = 0x7f;  // IHDR width, most significant byte
    std::ofstream(dir_ / "huge.png", std::ios::binary) << huge;
    std::ofstream(dir_ / "cut.png", std::ios::binary) << png.substr(0, png.size() / 2);
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> said;  // each must appear in the message
    };
    const std::vector<Case> cases = {
        {{"missing.png", "b.png"}, {"cannot open missing.png", "No such file"}},
        {{"a.png", "garbage.png"}, {"cannot read garbage.png as a picture", "not a picture this tool reads"}},
        {{"huge.png", "b.png"}, {"cannot read huge.png as a picture", "too large"}},
        {{"a.png", "cut.png"}, {"cannot decode cut.png", "truncated or corrupt"}},
        {{"folder.png", "b.png"}, {"folder.png", "folder"}},
        {{"-e", "2", "a.png", "b.png"}, {"effect 2 is not implemented", "【 2 】", "implements: 1 (crossfade)"}},
        {{"-e", "42", "a.png", "b.png"}, {"【 42 】"}},
        {{"-e", "-1", "a.png", "b.png"}, {"【 -1 】"}},
        {{"--rect", "10x10", "--dst-at", "30,0", "a.png", "b.png"},
         {"lies outside the pictures", "past the right edge of the screen (24 wide)"}},
        // The columns and rows cut, never more than the rectangle has: not the offset.
        {{"--rect", "10x10", "--b-at", "0,-20", "a.png", "b.png"}, {"lies outside", "10 rows lay above source B"}},
        {{"--rect", "10x10", "--dst-at", "-30,0", "a.png", "b.png"}, {"lies outside", "10 columns lay left of the screen"}},
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
        {{"-w", Anim("a.png/x"), "a.png", "b.png"}, {"a.png is a file"}},
        {{"-w", "out", "-o", "out"}, {"out are the same path"}},
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

// Outputs that are one file under two spellings, a file that a folder output
// writes, and an output over an input picture: refused before any work, with
// every file as it was.
TEST_F(PreviewTool, OutputsThatMeetAreRefusedUpFront) {
    Write("a.png", Pattern(8, 6, 1));
    Write("b.png", Pattern(8, 6, 2));
    fs::create_directories(dir_ / "d");
    fs::create_directories(dir_ / "g");
    Write("d/frame-0001.png", Pattern(8, 6, 3));  // an input that lies where frames go
    std::ofstream(dir_ / "x.png") << "mine";
    fs::create_hard_link(dir_ / "x.png", dir_ / "y.png");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> said;
    };
    std::vector<Case> cases = {
        {{"-s", "./x.png", "-w", "x.png"}, {"--sheet ./x.png", "x.png are the same file"}},
        {{"-s", "sub/../x.png", "-w", "./x.png"}, {"are the same file"}},
        {{"-s", "x.png", "-w", "y.png"}, {"are the same file"}},  // two names of one file
        {{"-o", "d", "-s", "d/frame-0000.png"},
         {"--sheet d/frame-0000.png is one of the frame files", "--frames-dir d"}},
        {{"-o", "d/", "-s", "./d/frame-00042.png"}, {"is one of the frame files"}},
        {{"-g", "g", "-w", "g/index.html"}, {"is one of the gallery files that --gallery g writes"}},
        {{"-g", "g", "-s", "g/effect-01-sheet.png"}, {"is one of the gallery files"}},
        {{"-w", "a.png", "a.png", "b.png"}, {"would overwrite the input picture a.png"}},
        {{"-s", "./b.png", "a.png", "b.png"}, {"would overwrite the input picture b.png"}},
        {{"-o", "d", "a.png", "d/frame-0001.png"},
         {"--frames-dir d would overwrite the input picture d/frame-0001.png"}},
    };
#if defined(_WIN32)
    cases.push_back({{"-s", "X.PNG", "-w", "x.png"}, {"are the same file"}});  // letter case tells no files apart
#endif
    const std::vector<std::string> before = Files(dir_);
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& arg : c.args) joined += arg + " ";
        SCOPED_TRACE(joined);
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.out, "");
        for (const std::string& words : c.said) EXPECT_NE(o.err.find(words), std::string::npos) << o.err;
        EXPECT_EQ(Count(o.err, "\n"), 1u) << o.err;
        EXPECT_EQ(Files(dir_), before);
        EXPECT_EQ(ReadFile(dir_ / "x.png"), "mine");
    }
    // A file of another name in the frame folder is no clash.
    const Outcome apart = Run({"-n", "2", "-o", "d", "-s", "d/sheet.png", "a.png", "b.png"});
    EXPECT_EQ(apart.status, 0) << apart.err;
    EXPECT_TRUE(fs::exists(dir_ / "d/sheet.png") && fs::exists(dir_ / "d/frame-0001.png"));
}

// Temporary files of runs that were killed: a later run that writes into the
// same folder removes them once their process is gone, and only then.
TEST_F(PreviewTool, LeftoversOfEndedRunsAreRemoved) {
    fs::create_directories(out_);
    const std::string dead = "999999999", alive = std::to_string(TestProcessId());
    const std::vector<std::string> gone = {Anim(".a") + ".part-" + dead + "-0", ".frame-0003.png.part-" + dead + "-7",
                                           ".s.png.undo-" + dead + "-2"};
    const std::vector<std::string> kept = {".s.png.part-" + alive + "-0", ".notes.part-x", "notes.part-" + dead + "-1"};
    for (const auto& name : gone) std::ofstream(out_ / name) << "left";
    for (const auto& name : kept) std::ofstream(out_ / name) << "left";
    const Outcome o = Run({"--size", "8x6", "-n", "2", "-o", "out", "-w", Anim("out/a"), "-s", "out/s.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    std::vector<std::string> expected = kept;
    for (const char* name : {"frame-0000.png", "frame-0001.png", "s.png"}) expected.push_back(name);
    expected.push_back(Anim("a"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(out_), expected);
}

// Options with nothing to act on, and a picture that loses its transparency,
// are each said in one line.
TEST_F(PreviewTool, WhatARunIgnoresIsSaidOnce) {
    const int w = 6, h = 4;
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4, 200);
    rgba[3] = 0;  // one transparent pixel
    ASSERT_TRUE(stbi_write_png((dir_ / "clear.png").string().c_str(), w, h, 4, rgba.data(), w * 4));
    std::fill(rgba.begin(), rgba.end(), 255);
    ASSERT_TRUE(stbi_write_png((dir_ / "opaque.png").string().c_str(), w, h, 4, rgba.data(), w * 4));
    const Outcome o = Run({"-n", "2", "--seed", "5", "--quality", "50", "--columns", "2", "clear.png", "opaque.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Count(o.err, "\n"), 4u) << o.err;
    EXPECT_EQ(Count(o.err, "warning: --seed is read only by effect 34"), 1u) << o.err;
    EXPECT_EQ(Count(o.err, "warning: --quality applies to the animation"), 1u) << o.err;
    EXPECT_EQ(Count(o.err, "warning: --columns applies to the contact sheet"), 1u) << o.err;
    EXPECT_EQ(Count(o.err, "warning: clear.png: its alpha channel is dropped"), 1u) << o.err;
    EXPECT_EQ(Count(o.err, "opaque.png"), 0u) << "an opaque alpha channel loses nothing";

    // The same options where they apply: not a word (GIF has no quality to set).
    const Outcome used = Run({"-n", "2", "-e", "1", "--quality", "50", "--columns", "2", "-s", "s.png", "-w",
                              Anim("a"), "opaque.png", "opaque.png"});
    ASSERT_EQ(used.status, 0) << used.err;
    EXPECT_EQ(used.err,
              kAnimationIsExact ? ""
                                : "veilshift-preview: warning: --quality does not apply to GIF animations; it changes "
                                  "nothing\n");
}

// Pictures of a few pixels: thumbnails enlarged by a whole factor, each pixel a
// block, and the gallery shows them pixelated.
TEST_F(PreviewTool, TinyPicturesAreEnlargedByWholeFactors) {
    const Picture a = Pattern(4, 3, 1), b = Pattern(4, 3, 2);
    Write("a.png", a);
    Write("b.png", b);
    const Outcome o = Run({"-n", "2", "-s", "out/s.png", "-g", "out/g", "a.png", "b.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    const preview::SheetLayout layout = preview::ComputeSheetLayout(4, 3, 2, 4, 160);
    ASSERT_EQ(std::make_pair(layout.thumbWidth, layout.thumbHeight), std::make_pair(64, 48));
    const Picture sheet = LoadPicture(out_ / "s.png");
    ASSERT_EQ(sheet.width, layout.width);
    EXPECT_TRUE(SameRegion(sheet, layout.ThumbX(0), layout.ThumbY(0), Enlarged(a, 16), 0, 0, 64, 48));
    EXPECT_TRUE(SameRegion(sheet, layout.ThumbX(1), layout.ThumbY(1), Enlarged(b, 16), 0, 0, 64, 48));
    // An odd size enlarges by the whole factor that fits: 64 / 30 = 2.
    EXPECT_EQ(preview::ComputeSheetLayout(30, 7, 1, 1, 160).thumbWidth, 60);
    EXPECT_EQ(preview::ComputeSheetLayout(64, 7, 1, 1, 160).thumbWidth, 64);

    const std::string html = ReadFile(out_ / "g/index.html");
    EXPECT_NE(html.find("image-rendering: pixelated"), std::string::npos);
    EXPECT_NE(html.find(Anim("effect-01") + "\" width=\"160\" height=\"120\" class=\"pixelated\""), std::string::npos)
        << html;
    EXPECT_NE(html.find("source-a.png\" width=\"160\" height=\"120\" class=\"pixelated\""), std::string::npos);
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
    EXPECT_TRUE(SameRegion(LoadPicture(out_ / "frame-0001.png"), 0, 0, b, 2, 0, 22, 10));
}

TEST_F(PreviewTool, VersionIsTheProjectVersion) {
    const Outcome o = Run({"--version"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, std::string("veilshift-preview ") + VEILSHIFT_VERSION + "\n");
}

}  // namespace
}  // namespace tooltest
