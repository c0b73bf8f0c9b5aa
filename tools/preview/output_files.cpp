#include "output_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace preview {
namespace {

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void CatchSignal(int signal) { caughtSignal = signal; }

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == ".") return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

long long FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

OutputFiles::~OutputFiles() {
    if (!done_) Discard();
}

std::string OutputFiles::MakeFolder(const std::string& folder) {
    if (folder.empty()) return "an empty folder name";
    // Parents first, each made only when missing.
    std::vector<std::string> missing;
    for (std::string path = folder; !path.empty() && path != "." && path != "/"; path = FolderOf(path)) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        struct stat info;
        if (stat(path.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) return "cannot make folder " + folder + ": " + path + " is a file";
            break;
        }
        missing.push_back(path);
        if (path.find('/') == std::string::npos) break;
    }
    std::reverse(missing.begin(), missing.end());
    for (const std::string& path : missing) {
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
            return "cannot make folder " + path + ": " + std::strerror(errno);
        madeFolders_.push_back(path);
    }
    if (access(folder.c_str(), W_OK) != 0) return "cannot write into folder " + folder + ": " + std::strerror(errno);
    return {};
}

std::string OutputFiles::CheckFile(const std::string& path) const {
    if (path.empty() || path.back() == '/') return "\"" + path + "\" is not a file name";
    if (IsFolder(path)) return "cannot write " + path + ": it is a folder";
    const std::string folder = FolderOf(path);
    if (!IsFolder(folder)) return "cannot write " + path + ": folder " + folder + " does not exist";
    if (access(folder.c_str(), W_OK) != 0) return "cannot write " + path + ": " + std::strerror(errno);
    return {};
}

std::string OutputFiles::Stage(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string temporary = folder + "." + name + ".part-" + std::to_string(getpid());
    staged_.emplace_back(temporary, path);
    return temporary;
}

std::string OutputFiles::Commit() {
    for (const auto& [temporary, path] : staged_) {
        if (std::rename(temporary.c_str(), path.c_str()) != 0) {
            const std::string error = "cannot write " + path + ": " + std::strerror(errno);
            Discard();
            return error;
        }
    }
    staged_.clear();
    madeFolders_.clear();
    done_ = true;
    return {};
}

void OutputFiles::Discard() {
    for (const auto& staged : staged_) std::remove(staged.first.c_str());
    staged_.clear();
    // Innermost first; a folder that is not empty (the user put something there) stays.
    for (auto folder = madeFolders_.rbegin(); folder != madeFolders_.rend(); ++folder) rmdir(folder->c_str());
    madeFolders_.clear();
    done_ = true;
}

void InstallInterruptHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = CatchSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return caughtSignal != 0; }
int InterruptSignal() { return caughtSignal; }

}  // namespace preview
