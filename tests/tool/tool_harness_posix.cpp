// The tests' platform part natively: fork and exec, and WebP animations read
// back through libwebp's demuxer.
#include <sys/wait.h>
#include <unistd.h>
#include <webp/demux.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tooltest {

const char* const kAnimationExtension = ".webp";
const bool kAnimationIsExact = true;  // with --quality lossless

Animation LoadAnimation(const fs::path& path) {
    Animation animation;
    const std::string bytes = ReadFile(path);
    WebPData data = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (decoder == nullptr) {
        ADD_FAILURE() << "cannot decode " << path;
        return animation;
    }
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    animation.width = static_cast<int>(info.canvas_width);
    animation.height = static_cast<int>(info.canvas_height);
    animation.loopsForever = info.loop_count == 0;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* rgba = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &rgba, &timestamp)) {
            ADD_FAILURE() << "broken frame in " << path;
            break;
        }
        Picture frame{animation.width, animation.height, {}};
        for (size_t i = 0; i < static_cast<size_t>(frame.width) * frame.height; ++i)
            frame.rgb.insert(frame.rgb.end(), rgba + i * 4, rgba + i * 4 + 3);
        animation.frames.push_back(std::move(frame));
        animation.endMs.push_back(timestamp);
    }
    WebPAnimDecoderDelete(decoder);
    return animation;
}

Outcome RunTool(const fs::path& folder, const std::vector<std::string>& args) {
    return RunToolWatched(folder, args, {}, -1);
}

Outcome RunToolWatched(const fs::path& folder, const std::vector<std::string>& args,
                       const std::function<void(int)>& onStart, int stderrFd) {
    char outName[] = "/tmp/preview-tool-out-XXXXXX", errName[] = "/tmp/preview-tool-err-XXXXXX";
    const int outFd = mkstemp(outName), errFd = mkstemp(errName);
    std::fflush(nullptr);  // nothing buffered here is written twice by the child
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(VEILSHIFT_PREVIEW_TOOL));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        dup2(outFd, 1);
        dup2(stderrFd >= 0 ? stderrFd : errFd, 2);
        if (chdir(folder.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (onStart) onStart(static_cast<int>(pid));
    int status = 0;
    waitpid(pid, &status, 0);
    close(outFd);
    close(errFd);
    Outcome o;
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.out = ReadFile(outName);
    o.err = stderrFd >= 0 ? "" : ReadFile(errName);
    std::remove(outName);
    std::remove(errName);
    return o;
}

fs::path MakeScratchFolder() {
    char pattern[] = "/tmp/preview-tool-XXXXXX";
    if (mkdtemp(pattern) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
    return pattern;
}

int TestProcessId() { return static_cast<int>(getpid()); }

}  // namespace tooltest
