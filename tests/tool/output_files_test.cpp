// The tool's all-or-nothing commit, on its own: a rename that fails half-way
// through puts back every file already renamed, with its old content.
#include <gtest/gtest.h>

#include <fstream>

#include "output_files.h"
#include "tool_harness.h"

namespace tooltest {
namespace {

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(OutputFiles, CommitFailingHalfWayPutsEveryFileBack) {
    const fs::path dir = MakeScratchFolder();
    const std::string first = (dir / "first.png").string(), fresh = (dir / "fresh.png").string(),
                      blocked = (dir / "blocked.png").string();
    WriteText(first, "old");
    {
        preview::OutputFiles files;
        WriteText(files.Stage(first), "new");
        WriteText(files.Stage(fresh), "new");
        WriteText(files.Stage(blocked), "new");
        // Between the checks and the commit, a folder that is not empty takes the last place.
        fs::create_directories(dir / "blocked.png" / "inside");
        const std::string error = files.Commit();
        EXPECT_NE(error.find("cannot write " + blocked), std::string::npos) << error;
    }
    EXPECT_EQ(ReadFile(first), "old") << "the replaced file is back";
    EXPECT_FALSE(fs::exists(fresh)) << "a file that was not there before is gone again";
    EXPECT_EQ(Files(dir), (std::vector<std::string>{"blocked.png", "blocked.png/inside", "first.png"}))
        << "no temporary or undo file stays";
    fs::remove_all(dir);
}

TEST(OutputFiles, CommitReplacesAndEveryStagedNameIsItsOwn) {
    const fs::path dir = MakeScratchFolder();
    const std::string path = (dir / "same.png").string();
    WriteText(path, "old");
    preview::OutputFiles files;
    const std::string one = files.Stage(path), two = files.Stage(path);
    EXPECT_NE(one, two);
    int pid = 0;
    EXPECT_TRUE(preview::ParseLeftoverName(fs::path(one).filename().string(), pid));
    EXPECT_EQ(pid, TestProcessId());
    WriteText(one, "first");
    WriteText(two, "second");
    EXPECT_EQ(files.Commit(), "");
    EXPECT_EQ(ReadFile(path), "second");
    EXPECT_EQ(Files(dir), std::vector<std::string>{"same.png"});
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tooltest
