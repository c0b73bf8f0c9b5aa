// veilshift-preview end to end, what only the native tool is asked: POSIX
// signals while it runs, and its progress bar on a terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tool_harness.h"

namespace tooltest {
namespace {

class PreviewToolPosix : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchFolder();
        out_ = dir_ / "out";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool in the test's folder; `onStart` (if any) gets its pid while it runs.
    Outcome Run(const std::vector<std::string>& args, const std::function<void(pid_t)>& onStart = {},
                int stderrFd = -1) {
        return RunToolWatched(dir_, args, onStart, stderrFd);
    }

    // Waits until the run has staged a file in `folder` (its handlers are then in place).
    void AwaitStagedFile(const fs::path& folder) {
        for (int i = 0; i < 1000; ++i) {
            if (fs::exists(folder))
                for (const auto& entry : fs::directory_iterator(folder))
                    if (entry.path().filename().string().find(".part-") != std::string::npos) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the run staged nothing in " << folder;
    }

    fs::path dir_;
    fs::path out_;
};

TEST_F(PreviewToolPosix, InterruptionLeavesNothingBehind) {
    for (int signal : {SIGINT, SIGTERM}) {
        const Outcome o = Run({"--size", "32x24", "-n", "100000", "-o", "out/frames", "-w", "out/a.webp"}, [&](pid_t pid) {
            AwaitStagedFile(out_ / "frames");
            kill(pid, signal);
        });
        EXPECT_EQ(o.status, 128 + signal) << o.err;
        EXPECT_NE(o.err.find("interrupted; nothing was written"), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out_)) << "the folders it made are gone too";
    }
}

// A run killed outright cleans up nothing; the next run into the folder does.
TEST_F(PreviewToolPosix, KilledRunsTemporaryFilesGoWithTheNextRun) {
    fs::create_directories(out_);
    const Outcome killed = Run({"--size", "32x24", "-n", "100000", "-o", "out"}, [&](pid_t pid) {
        AwaitStagedFile(out_);
        kill(pid, SIGKILL);
    });
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    ASSERT_FALSE(Files(out_).empty());
    EXPECT_EQ(Files(out_).front().rfind(".frame-", 0), 0u) << "hidden temporary frames";
    const Outcome next = Run({"--size", "8x6", "-n", "2", "-o", "out"});
    ASSERT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(Files(out_), (std::vector<std::string>{"frame-0000.png", "frame-0001.png"}));
}

TEST_F(PreviewToolPosix, HelpAndProgressBar) {
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
}  // namespace tooltest
