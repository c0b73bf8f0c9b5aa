#include "output_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform.h"

namespace fs = std::filesystem;

namespace preview {
namespace {

bool IsFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// Exists in any form, a dangling link included.
bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == ".") return name;
    const char last = folder.back();
    if (last == '/' || (platform::kCaseInsensitivePaths && last == '\\')) return folder + name;
    // A Windows path spelled with backslashes only goes on with one.
    const bool backslashes = platform::kCaseInsensitivePaths && folder.find('/') == std::string::npos &&
                             folder.find('\\') != std::string::npos;
    return folder + (backslashes ? "\\" : "/") + name;
}

long long FileSize(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? -1 : static_cast<long long>(size);
}

bool ParseLeftoverName(const std::string& name, int& pid) {
    if (name.size() < 2 || name[0] != '.') return false;
    for (const char* kind : {".part-", ".undo-"}) {
        const size_t at = name.rfind(kind);
        if (at == std::string::npos || at == 0) continue;
        const std::string tail = name.substr(at + 6);  // PID-N
        const size_t dash = tail.find('-');
        if (dash == std::string::npos || !AllDigits(tail.substr(0, dash)) || !AllDigits(tail.substr(dash + 1)) ||
            dash > 9)
            continue;
        pid = std::stoi(tail.substr(0, dash));
        return true;
    }
    return false;
}

OutputFiles::OutputFiles() : pid_(platform::ProcessId()) {}

OutputFiles::~OutputFiles() {
    if (!done_) Discard();
}

std::string OutputFiles::MakeFolder(const std::string& folder) {
    if (folder.empty()) return "an empty folder name";
    // Parents first, each made only when missing.
    std::vector<fs::path> missing;
    for (fs::path path = fs::path(folder).lexically_normal(); !path.empty(); path = path.parent_path()) {
        if (path.has_filename() == false) path = path.parent_path();  // "a/b/" is "a/b"
        if (path.empty() || path == path.root_path()) break;
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (fs::exists(status)) {
            if (!fs::is_directory(status))
                return "cannot make folder " + folder + ": " + path.string() + " is a file";
            break;
        }
        missing.push_back(path);
        if (!path.has_parent_path()) break;
    }
    std::reverse(missing.begin(), missing.end());
    for (const fs::path& path : missing) {
        std::error_code error;
        if (!fs::create_directory(path, error) && error)
            return "cannot make folder " + path.string() + ": " + error.message();
        madeFolders_.push_back(path.string());
    }
    if (std::string reason = platform::CanWriteInto(folder); !reason.empty())
        return "cannot write into folder " + folder + ": " + reason;
    return {};
}

std::string OutputFiles::CheckFile(const std::string& path) const {
    if (path.empty() || !fs::path(path).has_filename()) return "\"" + path + "\" is not a file name";
    if (IsFolder(path)) return "cannot write " + path + ": it is a folder";
    const std::string folder = FolderOf(path);
    if (!IsFolder(folder)) return "cannot write " + path + ": folder " + folder + " does not exist";
    if (std::string reason = platform::CanWriteInto(folder); !reason.empty())
        return "cannot write " + path + ": " + reason;
    return {};
}

int OutputFiles::RemoveLeftovers(const std::string& folder) const {
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator entry(folder.empty() ? "." : folder, error), end; !error && entry != end;
         entry.increment(error)) {
        int pid = 0;
        if (!ParseLeftoverName(entry->path().filename().string(), pid)) continue;
        // This run has staged nothing yet under its own number; another live run keeps its files.
        if (pid != pid_ && platform::ProcessRunning(pid)) continue;
        std::error_code ignored;
        if (entry->is_regular_file(ignored) && fs::remove(entry->path(), ignored)) ++removed;
    }
    return removed;
}

std::string OutputFiles::HiddenName(const std::string& path, const char* kind) {
    const fs::path full(path);
    std::string name(1, '.');
    name += full.filename().string();
    name += kind;
    name += std::to_string(pid_) + "-" + std::to_string(counter_++);
    return full.has_parent_path() ? (full.parent_path() / name).string() : name;
}

std::string OutputFiles::Stage(const std::string& path) {
    std::string temporary = HiddenName(path, ".part-");
    staged_.emplace_back(temporary, path);
    return temporary;
}

std::string OutputFiles::Commit() {
    struct Renamed {
        std::string path;
        std::string undo;  // the file it replaced, kept under this name; empty when there was none
    };
    std::vector<Renamed> renamed;
    std::string error;
    for (const auto& [temporary, path] : staged_) {
        std::string undo;
        if (Exists(path) && !IsFolder(path)) {
            // A second link to the old file (a copy where links are not to be had) keeps it until the end.
            undo = HiddenName(path, ".undo-");
            std::error_code linkError, copyError;
            fs::create_hard_link(path, undo, linkError);
            if (linkError && !fs::copy_file(path, undo, copyError)) {
                error = "cannot write " + path + ": cannot keep the file it replaces: " + copyError.message();
                break;
            }
        }
        if (std::string reason = platform::MoveIntoPlace(temporary, path); !reason.empty()) {
            error = "cannot write " + path + ": " + reason;
            if (!undo.empty()) std::remove(undo.c_str());
            break;
        }
        renamed.push_back({path, undo});
    }
    if (!error.empty()) {
        // Back to how things were: the new files go, the old ones return.
        for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
            if (it->undo.empty())
                std::remove(it->path.c_str());
            else
                platform::MoveIntoPlace(it->undo, it->path);  // on failure the old file stays under its undo name
        }
        Discard();
        return error;
    }
    for (const Renamed& r : renamed)
        if (!r.undo.empty()) std::remove(r.undo.c_str());
    staged_.clear();
    madeFolders_.clear();
    done_ = true;
    return {};
}

void OutputFiles::Discard() {
    for (const auto& staged : staged_) std::remove(staged.first.c_str());
    staged_.clear();
    // Innermost first; a folder that is not empty (the user put something there) stays.
    for (auto folder = madeFolders_.rbegin(); folder != madeFolders_.rend(); ++folder) {
        std::error_code ignored;
        fs::remove(*folder, ignored);
    }
    madeFolders_.clear();
    done_ = true;
}

std::string ClaimNewFolder(const std::vector<std::string>& parents, const std::string& stem, const MakeFolderFn& make,
                           std::string& error) {
    error.clear();
    for (const std::string& parent : parents) {
        std::string reason = "every name up to " + stem + "-999 is taken";
        for (int n = 1; n <= 999; ++n) {
            const std::string folder = JoinPath(parent, n == 1 ? stem : stem + "-" + std::to_string(n));
            const platform::NewFolder made = make(folder, reason);
            if (made == platform::NewFolder::Made) return folder;
            if (made == platform::NewFolder::Failed) break;
        }
        error += (error.empty() ? "" : "; ") + parent + ": " + reason;
    }
    if (parents.empty()) error = "no folder to write into";
    return {};
}

}  // namespace preview
