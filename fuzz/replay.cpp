// Replays scenario files (see scenario.h) through the reference host with the
// shipped module, each in a freshly loaded module, with every check after every
// call. Arguments: files or folders of files. Exit status 0 when every scenario
// held; one line per failing scenario otherwise.
#include <algorithm>
#include <cstdio>
#include <cstring>
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
        host_ = std::make_unique<refhost::Host>(robustness::ScenarioHostOptions(corvane, platewright, pixmill));
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

// "K/N": shard K (0 to N - 1) of N.
bool ParseShard(const char* text, int& shard, int& shards) {
    char rest = 0;
    return std::sscanf(text, "%d/%d%c", &shard, &shards, &rest) == 2 && shards >= 1 && shard >= 0 && shard < shards;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    int shard = 0, shards = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--shard") == 0) {
            if (i + 1 >= argc || !ParseShard(argv[i + 1], shard, shards)) {
                std::fprintf(stderr, "veilshift-replay: --shard takes K/N, 0 <= K < N\n");
                return 2;
            }
            ++i;
            continue;
        }
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
        std::fprintf(stderr, "usage: veilshift-replay [--shard K/N] FILE-OR-FOLDER...\n");
        return 2;
    }
    // Every N-th file from the K-th: each process loads the reference
    // components once per scenario, and under Windows their static runtime
    // keeps a thread-local slot per load (the module itself keeps none).
    std::vector<std::filesystem::path> mine;
    for (size_t i = static_cast<size_t>(shard); i < files.size(); i += static_cast<size_t>(shards))
        mine.push_back(files[i]);
    files.swap(mine);
    int failed = 0;
    robustness::ScenarioStats stats;
    LoadedModule module;
    for (const auto& file : files) {
        const std::vector<uint8_t> bytes = ReadFile(file);
        std::string failure;
        try {
            failure = robustness::RunScenario(bytes.data(), bytes.size(), module, &stats, robustness::Checks::kEveryByte);
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
