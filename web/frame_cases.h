// The case file of the frames every build must draw (expected-frames.txt):
// one transition a line,
//   effect=1 pictures=builtin size=97x61 rect=5,3,83,50 frames=10 mmx=1 sse=- : 0a1b2c3d ...
// then the FNV-1a checksum of the screen after each frame (progress 0 to
// frames - 1 over a total of frames - 1), in hexadecimal. `pictures` is
// "builtin" (the preview tool's pair at the screen's size) or "noise" (the
// reference host's generator, seeds 1 and 2); mmx and sse are the start-up
// values given to the module ("-": absent, else a 32-bit decimal number).
// Lines starting with # are comments.
// The JavaScript test reads the same lines (web/test/frame-checksums.test.mjs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Veilshift/startup_settings.h"
#include "transition_runner.h"

namespace web {

inline constexpr char kAbsent[] = "-";

struct FrameCase {
    int32_t effect = 1;
    std::string pictures = "builtin";
    int32_t width = 0;  // the screen, A and B
    int32_t height = 0;
    Rect rect;
    int32_t frames = 0;
    std::string mmx = kAbsent;
    std::string sse = kAbsent;
    std::vector<uint32_t> sums;
};

extern const char kCaseFileHeader[];

// The list --write draws: every effect at a few sizes and rectangles, the
// crossfades with each kind of start-up value.
std::vector<FrameCase> StandardCases();
Picture CasePicture(const FrameCase& c, int which);
veilshift::StartupValues CaseStartupValues(const FrameCase& c);

std::string CaseKey(const FrameCase& c);     // the line up to the colon
std::string FormatCase(const FrameCase& c);  // the whole line
std::string Hex(uint32_t value);
// Every case of the file; `error` names the first line that cannot be read.
std::vector<FrameCase> ParseCases(const std::string& text, std::string& error);

}  // namespace web
