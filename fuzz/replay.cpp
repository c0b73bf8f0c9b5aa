// Replays scenario files (see scenario.h) through the reference host with the
// shipped module, each in a freshly loaded module, with every check after every
// call. Arguments: files or folders of files. Exit status 0 when every scenario
// held; one line per failing scenario otherwise.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/scenario.h"

namespace {

class LoadedModule final : public robustness::ModuleUnderTest {
public:
    refhost::Host& PrepareHost(bool corvane, bool platewright, bool pixmill) override {
        host_.reset();
        refhost::HostOptions options;
        options.loadCorvane = corvane;
        options.loadPlatewright = platewright;
        options.loadPixmill = pixmill;
        options.giveScreenUpdater = false;
        options.giveSurfaceTable = false;
        host_ = std::make_unique<refhost::Host>(options);
        return *host_;
    }
    void Load() override {}  // the host loaded it
    veilshift::PluginInterface* Plugin() override { return host_->Plugin(); }
    bool Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB, int32_t bx,
               int32_t by, int32_t width, int32_t height, int32_t effect) override {
        return host_->Begin(dst, dx, dy, srcA, ax, ay, srcB, bx, by, width, height, effect);
    }
    void Draw(int32_t progress, int32_t total) override { host_->Draw(progress, total); }
    void End() override { host_->End(); }
    void Unload() override { host_->UnloadModule(); }
    void Finish() { host_.reset(); }

private:
    std::unique_ptr<refhost::Host> host_;
};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
        } else {
            std::fprintf(stderr, "veilshift-replay: %s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "usage: veilshift-replay FILE-OR-FOLDER...\n");
        return 2;
    }
    int failed = 0;
    robustness::ScenarioStats stats;
    LoadedModule module;
    for (const auto& file : files) {
        const std::vector<uint8_t> bytes = ReadFile(file);
        std::string failure;
        try {
            failure = robustness::RunScenario(bytes.data(), bytes.size(), module, &stats);
        } catch (const std::exception& e) {
            failure = std::string("host: ") + e.what();
        }
        module.Finish();
        if (!failure.empty()) {
            ++failed;
            std::printf("FAILED %s: %s\n", file.filename().string().c_str(), failure.c_str());
        }
    }
    std::printf("%lld Begin calls (%lld transitions started), %lld frames drawn, every check after every call\n",
                static_cast<long long>(stats.begins), static_cast<long long>(stats.started),
                static_cast<long long>(stats.frames));
    std::printf("%zu passed, %d failed\n", files.size() - failed, failed);
    return failed == 0 ? 0 : 1;
}
