// The tests' platform part on Windows (run under Wine): CreateProcess, and GIF
// animations read back through stb_image's GIF decoder.
#include <windows.h>

#include <stb_image.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tooltest {
namespace {

std::string ToolPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/")) + "\\veilshift-preview.exe";
}

// One argument as the C runtime splits a command line back into argv.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

HANDLE Capture(const fs::path& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

const char* const kAnimationExtension = ".gif";
const bool kAnimationIsExact = false;  // 256 colours a frame

Animation LoadAnimation(const fs::path& path) {
    Animation animation;
    const std::string bytes = ReadFile(path);
    int* delays = nullptr;
    int frames = 0, channels = 0;
    stbi_uc* pixels = stbi_load_gif_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                                static_cast<int>(bytes.size()), &delays, &animation.width,
                                                &animation.height, &frames, &channels, 3);
    if (pixels == nullptr) {
        ADD_FAILURE() << "cannot decode " << path << ": " << stbi_failure_reason();
        return animation;
    }
    const size_t frameBytes = static_cast<size_t>(animation.width) * animation.height * 3;
    int end = 0;
    for (int k = 0; k < frames; ++k) {
        Picture frame{animation.width, animation.height, {}};
        frame.rgb.assign(pixels + k * frameBytes, pixels + (k + 1) * frameBytes);
        animation.frames.push_back(std::move(frame));
        end += delays != nullptr ? delays[k] : 0;
        animation.endMs.push_back(end);
    }
    stbi_image_free(pixels);
    std::free(delays);
    // The application extension that makes viewers loop: NETSCAPE2.0, sub-block 1, count 0.
    static const char kLoop[] = "NETSCAPE2.0\x03\x01\x00\x00";
    animation.loopsForever = bytes.find(std::string(kLoop, sizeof kLoop - 1)) != std::string::npos;
    return animation;
}

namespace {

Outcome RunProgram(const std::string& program, const fs::path& folder, const std::vector<std::string>& args,
                   bool ownConsole) {
    static std::atomic<int> runs{0};
    const fs::path captures = fs::temp_directory_path();
    const std::string stem = "preview-tool-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(runs++);
    const fs::path outFile = captures / (stem + ".out"), errFile = captures / (stem + ".err");
    std::string command = Quoted(program);
    for (const std::string& arg : args) {
        command += ' ';
        command += Quoted(arg);
    }

    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // A console of its own, as Explorer gives; its keyboard is not the tests' to press.
    start.hStdInput = ownConsole ? CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                               OPEN_EXISTING, 0, nullptr)
                                 : GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = Capture(outFile);
    start.hStdError = Capture(errFile);
    PROCESS_INFORMATION process{};
    Outcome o;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, ownConsole ? CREATE_NEW_CONSOLE : 0, nullptr,
                       folder.string().c_str(), &start, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        o.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
    }
    if (ownConsole) CloseHandle(start.hStdInput);
    CloseHandle(start.hStdOutput);
    CloseHandle(start.hStdError);
    // The runtime writes "\r\n" for "\n"; the tests read lines.
    for (auto [text, file] : {std::pair{&o.out, &outFile}, std::pair{&o.err, &errFile}}) {
        *text = ReadFile(*file);
        text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
    }
    fs::remove(outFile);
    fs::remove(errFile);
    return o;
}

}  // namespace

Outcome RunTool(const fs::path& folder, const std::vector<std::string>& args) {
    return RunProgram(ToolPath(), folder, args, false);
}

Outcome RunAsFromExplorer(const fs::path& program, const fs::path& folder, const std::vector<std::string>& args) {
    return RunProgram(program.string(), folder, args, true);
}

fs::path ToolFolder() { return fs::path(ToolPath()).parent_path(); }

fs::path MakeScratchFolder() {
    static std::atomic<int> folders{0};
    const fs::path folder = fs::temp_directory_path() / ("preview-tool-" + std::to_string(GetCurrentProcessId()) +
                                                         "-" + std::to_string(GetTickCount()) + "-" +
                                                         std::to_string(folders++));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

int TestProcessId() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace tooltest
