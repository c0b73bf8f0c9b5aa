// veilshift-frame-sums: the frames every build must draw, as one checksum a
// frame. The case file lists transitions (effect, pictures, size, rectangle,
// frame count, start-up values) with the checksum of each frame; the native
// build writes it, and every build (natively, the DLL under Wine, ARM64 under
// qemu-user, WebAssembly under Node and in the playground) checks its frames
// against it.
//
//   veilshift-frame-sums --write FILE   draws the built-in list of cases and writes FILE
//   veilshift-frame-sums --check FILE   draws every case of FILE and compares, frame by frame
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame_cases.h"
#include "host/startup_switches.h"
#include "transition_runner.h"

namespace {

std::vector<uint32_t> DrawCase(const web::FrameCase& c, std::string& error) {
    // Where the module reads them when it connects: the environment, or on
    // Windows a registry key of this process's own.
    const refhost::StartupSwitches switches(web::CaseStartupValues(c), refhost::SwitchStore::PrivateKey);
    if (!switches.InForce()) throw std::runtime_error("cannot set the start-up values");
    web::TransitionRunner runner;  // a fresh module: it connects, and reads the values, at this Begin
    runner.SetPicture(0, web::CasePicture(c, 0));
    runner.SetPicture(1, web::CasePicture(c, 1));
    std::vector<uint32_t> sums;
    if (!runner.Begin(c.effect, c.rect)) {
        error = "the module did not begin";
        return sums;
    }
    for (int32_t progress = 0; progress < c.frames; ++progress) {
        runner.Draw(progress, c.frames - 1);
        sums.push_back(runner.CaptureScreen());
    }
    runner.End();
    if (runner.HostViolations() != 0) error = "the host saw a request outside a surface";
    return sums;
}

int Write(const std::string& path) {
    std::ostringstream out;
    out << web::kCaseFileHeader;
    for (const web::FrameCase& c : web::StandardCases()) {
        std::string error;
        web::FrameCase drawn = c;
        drawn.sums = DrawCase(c, error);
        if (!error.empty()) {
            std::cerr << web::CaseKey(c) << ": " << error << "\n";
            return 1;
        }
        out << web::FormatCase(drawn) << "\n";
    }
    std::ofstream file(path, std::ios::binary);
    file << out.str();
    if (!file.flush()) {
        std::cerr << "cannot write " << path << "\n";
        return 1;
    }
    return 0;
}

int Check(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "cannot read " << path << "\n";
        return 1;
    }
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    const std::vector<web::FrameCase> cases = web::ParseCases(text.str(), error);
    if (!error.empty() || cases.empty()) {
        std::cerr << path << ": " << (error.empty() ? "no case" : error) << "\n";
        return 1;
    }
    int passed = 0, failed = 0;
    for (const web::FrameCase& c : cases) {
        std::string problem;
        const std::vector<uint32_t> sums = DrawCase(c, problem);
        for (size_t i = 0; problem.empty() && i < c.sums.size(); ++i)
            if (i >= sums.size() || sums[i] != c.sums[i])
                problem = "frame " + std::to_string(i) + " differs: " + web::Hex(i < sums.size() ? sums[i] : 0) +
                          " instead of " + web::Hex(c.sums[i]);
        if (problem.empty() && sums.size() != c.sums.size()) problem = "another number of frames";
        if (problem.empty()) {
            ++passed;
        } else {
            ++failed;
            std::cout << "FAILED " << web::CaseKey(c) << ": " << problem << "\n";
        }
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    try {
        if (mode == "--write") return Write(argv[2]);
        if (mode == "--check") return Check(argv[2]);
    } catch (const std::exception& e) {
        std::cerr << "veilshift-frame-sums: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: veilshift-frame-sums --write FILE | --check FILE\n";
    return 2;
}
