// The Windows tool started as Explorer starts it (a console of its own):
// double-clicked, and with two pictures dropped on it. The browser is not
// opened; the tool's request to open the page is recorded in a file
// (VEILSHIFT_PREVIEW_OPEN_RECORD) and checked here.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tool_harness.h"

namespace tooltest {
namespace {

constexpr char kRecordVariable[] = "VEILSHIFT_PREVIEW_OPEN_RECORD";
constexpr char kPrompt[] = "Press any key to close this window.";

class ExplorerLaunch : public ::testing::Test {
protected:
    // A copy of the program with its modules, as unpacked from the release
    // (the stand-ins for the engine's components in their own folder, none
    // beside the program), and a separate folder to start it in: the gallery goes beside the program.
    void SetUp() override {
        dir_ = MakeScratchFolder();
        app_ = dir_ / "app";
        start_ = dir_ / "elsewhere";
        fs::create_directories(app_);
        fs::create_directories(start_);
        for (const char* file : {"veilshift-preview.exe", "Veilshift.dll"})
            fs::copy_file(ToolFolder() / file, app_ / file);
        fs::create_directories(app_ / "stand-ins");
        for (const char* file : {"Corvane.dll", "Platewright.dll", "Pixmill.dll"})
            fs::copy_file(ToolFolder() / file, app_ / "stand-ins" / file);
        record_ = dir_ / "opened.txt";
        SetEnvironmentVariableA(kRecordVariable, record_.string().c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA(kRecordVariable, nullptr);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::vector<fs::path> Galleries() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(app_))
            if (entry.is_directory() && entry.path().filename().string().rfind("veilshift-gallery-", 0) == 0)
                found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }

    // The recorded requests, one path each, in the order made.
    std::vector<std::string> Opened() const {
        std::vector<std::string> paths;
        const std::string text = fs::exists(record_) ? ReadFile(record_) : "";
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            EXPECT_EQ(line.rfind("open ", 0), 0u) << line;
            paths.push_back(line.substr(5));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return paths;
    }

    static bool SameFile(const fs::path& a, const fs::path& b) {
        std::error_code error;
        return fs::equivalent(a, b, error);
    }

    fs::path dir_, app_, start_, record_;
};

TEST_F(ExplorerLaunch, DoubleClickPlaysEveryEffectIntoANewGalleryAndOpensIt) {
    const fs::path program = app_ / "veilshift-preview.exe";
    const Outcome first = RunAsFromExplorer(program, start_, {});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    std::vector<fs::path> galleries = Galleries();
    ASSERT_EQ(galleries.size(), 1u);
    const std::vector<std::string> files = Files(galleries[0]);
    for (const char* name : {"index.html", "source-a.png", "source-b.png", "effect-01.gif", "effect-01-sheet.png",
                             "effect-34.gif", "effect-41-sheet.png"})
        EXPECT_NE(std::find(files.begin(), files.end(), name), files.end()) << name;
    EXPECT_EQ(files.size(), 15u) << "six animations and sheets, two sources, the page";
    const Picture source = LoadPicture(galleries[0] / "source-a.png");
    EXPECT_EQ(std::make_pair(source.width, source.height), std::make_pair(320, 240)) << "the built-in pictures";
    const Animation shatter = LoadAnimation(galleries[0] / "effect-34.gif");
    EXPECT_EQ(shatter.frames.size(), 30u);
    EXPECT_TRUE(shatter.loopsForever);

    std::vector<std::string> opened = Opened();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(SameFile(opened[0], galleries[0] / "index.html")) << opened[0];
    EXPECT_TRUE(fs::path(opened[0]).is_absolute()) << opened[0];
    EXPECT_NE(first.out.find(kPrompt), std::string::npos) << "the window stays open: " << first.out;
    EXPECT_EQ(Files(start_).size(), 0u) << "nothing in the folder it was started in";

    // A second double-click makes a gallery of its own.
    const Outcome second = RunAsFromExplorer(program, start_, {});
    ASSERT_EQ(second.status, 0) << second.err;
    galleries = Galleries();
    ASSERT_EQ(galleries.size(), 2u);
    opened = Opened();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_FALSE(SameFile(opened[0], opened[1]));
    EXPECT_EQ(Files(galleries[0]).size(), 15u) << "the first is left as it was";
}

TEST_F(ExplorerLaunch, TwoDroppedPicturesMakeTheirGallery) {
    const Picture a = Pattern(40, 30, 1), b = Pattern(40, 30, 2);
    ASSERT_TRUE(WritePicture(dir_ / "from.png", a));
    ASSERT_TRUE(WritePicture(dir_ / "to.bmp", b));
    const Outcome o = RunAsFromExplorer(app_ / "veilshift-preview.exe", start_,
                                        {(dir_ / "from.png").string(), (dir_ / "to.bmp").string()});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<fs::path> galleries = Galleries();
    ASSERT_EQ(galleries.size(), 1u);
    EXPECT_TRUE(Same(LoadPicture(galleries[0] / "source-a.png"), a));
    EXPECT_TRUE(Same(LoadPicture(galleries[0] / "source-b.png"), b));
    // Placed as the command line places them: the whole picture, last frame B.
    const Animation crossfade = LoadAnimation(galleries[0] / "effect-01.gif");
    ASSERT_EQ(crossfade.frames.size(), 30u);
    EXPECT_LT(MeanDifference(crossfade.frames.back(), b), 16.0);
    const std::string page = ReadFile(galleries[0] / "index.html");
    EXPECT_NE(page.find("from.png (40x30) to "), std::string::npos);
    const std::vector<std::string> opened = Opened();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(SameFile(opened[0], galleries[0] / "index.html")) << opened[0];
}

// An error in that mode is shown, and the window waits; nothing is opened.
TEST_F(ExplorerLaunch, OneDroppedPictureIsExplainedBeforeTheWindowCloses) {
    ASSERT_TRUE(WritePicture(dir_ / "only.png", Pattern(8, 8, 1)));
    const Outcome o = RunAsFromExplorer(app_ / "veilshift-preview.exe", start_, {(dir_ / "only.png").string()});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("give two pictures (A, then B)"), std::string::npos) << o.err;
    EXPECT_NE(o.out.find(kPrompt), std::string::npos) << o.out;
    EXPECT_TRUE(Galleries().empty());
    EXPECT_TRUE(Opened().empty());
}

// From a command prompt or a script the console is shared: the command line
// works as ever, with no gallery, no browser and no waiting.
TEST_F(ExplorerLaunch, CommandLineRunIsUnchanged) {
    const Outcome o = RunTool(start_, {"-n", "2"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("effect 1 (crossfade): 2 frames of 320x240"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find(kPrompt), std::string::npos);
    EXPECT_TRUE(Opened().empty());
    EXPECT_EQ(Files(start_).size(), 0u);
}

}  // namespace
}  // namespace tooltest
