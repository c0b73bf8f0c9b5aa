// What the preview tool's tests share on both builds: running the real program
// in a scratch folder, and reading its outputs back with the libraries a
// viewer would use (stb_image for PNG and GIF, libwebp's demuxer for WebP).
// tool_harness_posix.cpp and tool_harness_win32.cpp hold the platform's part.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// The region w x h at (x, y) of `a` equals the one at (ox, oy) of `b`.
bool SameRegion(const Picture& a, int x, int y, const Picture& b, int ox, int oy, int w, int h);
bool Same(const Picture& a, const Picture& b);
double MeanDifference(const Picture& a, const Picture& b);
Picture Pattern(int width, int height, int seed);  // noise
Picture Solid(int width, int height, uint8_t value);
// Each pixel of `p` as a factor x factor block.
Picture Enlarged(const Picture& p, int factor);

// Decodes a PNG (or any picture stb_image reads); a failure is a test failure.
Picture LoadPicture(const fs::path& path);
// Writes `p` as PNG, BMP or JPEG, by the name's extension.
bool WritePicture(const fs::path& path, const Picture& p);

struct Animation {
    int width = 0;
    int height = 0;
    bool loopsForever = false;
    std::vector<Picture> frames;
    std::vector<int> endMs;  // when each frame ends
};
// The platform's animation format, as the tool writes it.
extern const char* const kAnimationExtension;  // ".webp" or ".gif"
extern const bool kAnimationIsExact;            // lossless frames can be compared byte for byte
Animation LoadAnimation(const fs::path& path);

std::string ReadFile(const fs::path& path);
// Every file and folder under `folder`, relative, sorted; hidden ones included.
std::vector<std::string> Files(const fs::path& folder);

struct Outcome {
    int status = -1;  // the exit code, or 128 + the signal that ended it
    std::string out;
    std::string err;
};
// Runs the tool with `args` in `folder` and waits for it.
Outcome RunTool(const fs::path& folder, const std::vector<std::string>& args);
#ifdef _WIN32
// Runs `program` as Explorer starts it: on a console of its own (standard
// input is not that console's keyboard, so a "press any key" does not wait).
Outcome RunAsFromExplorer(const fs::path& program, const fs::path& folder, const std::vector<std::string>& args);
// The folder of the tool and of the modules it loads.
fs::path ToolFolder();
#else
// The same, with `onStart` (if any) called with the process id while the tool
// runs, and its standard error sent to `stderrFd` instead (then not captured)
// when that is not -1.
Outcome RunToolWatched(const fs::path& folder, const std::vector<std::string>& args,
                       const std::function<void(int)>& onStart, int stderrFd);
#endif
// A new empty folder for one test.
fs::path MakeScratchFolder();
int TestProcessId();

}  // namespace tooltest
