// veilshift-preview: plays one transition through the real module, driven by the
// reference host exactly as the engine drives it, and writes the frames as PNG.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "host/reference_host.h"
#include "pictures.h"
#include "png_output.h"

namespace {

struct Options {
    int effect = 1;
    int frames = 30;
    int width = 320;
    int height = 240;
    std::string form = "auto";
    std::string outDir = "out/play";
};

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: veilshift-preview [options]\n"
                 "Plays a transition between two built-in pictures and writes each frame as PNG.\n\n"
                 "  --effect N     effect number (default 1)\n"
                 "  --frames N     frames in the transition, the final copy of the entered picture\n"
                 "                 comes on top (default 30)\n"
                 "  --size WxH     picture size (default 320x240)\n"
                 "  --form F       processor form: auto, scalar, mmx or sse (default auto)\n"
                 "  --out DIR      output folder (default out/play)\n\n"
                 "example: veilshift-preview --effect 1 --frames 60 --size 640x480 --out /tmp/fade\n");
}

bool ParseInt(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

// The module reads its processor settings when it first connects; these are its
// own start-up values, not a back door.
bool SelectForm(const std::string& form) {
    if (form == "auto") {
        unsetenv("TESSARY_STARTUP_MMX");
        unsetenv("TESSARY_STARTUP_SSE");
    } else if (form == "scalar") {
        setenv("TESSARY_STARTUP_MMX", "0", 1);
        unsetenv("TESSARY_STARTUP_SSE");
    } else if (form == "mmx") {
        setenv("TESSARY_STARTUP_MMX", "1", 1);
        setenv("TESSARY_STARTUP_SSE", "0", 1);
    } else if (form == "sse") {
        setenv("TESSARY_STARTUP_MMX", "1", 1);
        setenv("TESSARY_STARTUP_SSE", "1", 1);
    } else {
        return false;
    }
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "veilshift-preview: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (value == nullptr) return Usage(stderr), Fail("missing value after " + arg);
        ++i;
        if (arg == "--effect") {
            if (!ParseInt(value, INT32_MIN, INT32_MAX, o.effect)) return Fail("bad effect number: " + std::string(value));
        } else if (arg == "--frames") {
            if (!ParseInt(value, 1, 100000, o.frames)) return Fail("frames must be 1 to 100000");
        } else if (arg == "--size") {
            if (std::sscanf(value, "%dx%d", &o.width, &o.height) != 2 || o.width < 1 || o.height < 1 ||
                o.width > 8192 || o.height > 8192)
                return Fail("size must be WxH, 1 to 8192 each");
        } else if (arg == "--form") {
            o.form = value;
        } else if (arg == "--out") {
            o.outDir = value;
        } else {
            return Usage(stderr), Fail("unknown option " + arg);
        }
    }
    if (!SelectForm(o.form)) return Fail("form must be auto, scalar, mmx or sse");
    mkdir(o.outDir.c_str(), 0777);
    struct stat info;
    if (stat(o.outDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return Fail("cannot create folder " + o.outDir);

    try {
        refhost::Host host;
        refhost::TestSurface& dst = host.AddSurface(1, o.width, o.height);
        preview::DrawSunsetPicture(host.AddSurface(2, o.width, o.height));
        preview::DrawTilePicture(host.AddSurface(3, o.width, o.height));
        dst.Fill({0, 0, 0});
        if (!host.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, o.width, o.height, o.effect))
            return Fail("the module refused effect " + std::to_string(o.effect));

        const bool showProgress = isatty(STDERR_FILENO);
        double drawMs = 0;
        for (int frame = 0; frame <= o.frames; ++frame) {
            const auto start = std::chrono::steady_clock::now();
            host.Draw(frame, o.frames);
            drawMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            char name[64];
            std::snprintf(name, sizeof name, "/frame-%03d.png", frame);
            const std::string error = preview::WritePng(dst, 0, 0, o.width, o.height, o.outDir + name);
            if (!error.empty()) return Fail(error);
            if (showProgress) std::fprintf(stderr, "\rframe %d/%d", frame, o.frames);
        }
        host.End();
        if (showProgress) std::fprintf(stderr, "\n");
        std::printf("effect %d: %d frames of %dx%d in %s, %.3f ms per frame (form %s)\n", o.effect, o.frames + 1,
                    o.width, o.height, o.outDir.c_str(), drawMs / (o.frames + 1), o.form.c_str());
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 0;
}
