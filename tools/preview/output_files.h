// All or nothing for the files of one run: every output is written under a
// hidden temporary name of its own beside its final place and renamed into
// place only when the whole run has succeeded. A run that fails, or is
// interrupted, removes its temporary files and the folders it made, so nothing
// partial is left behind; if a rename fails half-way through the commit, the
// files already renamed are put back as they were.
//
// Temporary names are ".NAME.part-PID-N"; a file being replaced is kept as
// ".NAME.undo-PID-N" (a second link to it) until the commit is over. A run
// that was killed leaves these behind; a later run removes them once the
// process they name is gone.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"

namespace preview {

class OutputFiles {
public:
    OutputFiles();
    ~OutputFiles();  // without a successful Commit: Discard
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Makes `folder` and its missing parents (remembered, for Discard). Empty on
    // success, else a message.
    std::string MakeFolder(const std::string& folder);
    // Checks, before any work, that a file can be written at `path`: its folder
    // exists or is being made by this run, and `path` is not a folder.
    std::string CheckFile(const std::string& path) const;
    // Removes from `folder` the temporary and undo files of runs of this tool
    // whose process has ended. Returns how many it removed.
    int RemoveLeftovers(const std::string& folder) const;
    // The temporary name to write `path`'s content to.
    std::string Stage(const std::string& path);
    // Renames every staged file into place. Empty on success; on failure every
    // file is as it was before and the message says what failed.
    std::string Commit();
    // Removes the staged files and the folders this run made.
    void Discard();

    const std::vector<std::pair<std::string, std::string>>& Staged() const { return staged_; }

private:
    std::string HiddenName(const std::string& path, const char* kind);

    std::vector<std::pair<std::string, std::string>> staged_;  // temporary, final
    std::vector<std::string> madeFolders_;                     // outermost first
    int pid_;
    int counter_ = 0;
    bool done_ = false;
};

// Whether `name` is a temporary or undo name of this tool; `pid` is the
// process it names.
bool ParseLeftoverName(const std::string& name, int& pid);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);
// The last part of a path.
std::string NameOf(const std::string& path);
// Joins a folder and a name.
std::string JoinPath(const std::string& folder, const std::string& name);
// The size of a file in bytes, or -1.
long long FileSize(const std::string& path);

// A folder no earlier run has, made under the first of `parents` that lets
// this process make one: PARENT/STEM, else STEM-2, STEM-3, ... (up to 999).
// Empty when none could be made, with `error` saying why for each parent.
using MakeFolderFn = std::function<platform::NewFolder(const std::string& folder, std::string& reason)>;
std::string ClaimNewFolder(const std::vector<std::string>& parents, const std::string& stem, const MakeFolderFn& make,
                           std::string& error);

}  // namespace preview
