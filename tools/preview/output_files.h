// All or nothing for the files of one run: every output is written under a
// hidden temporary name beside its final place and renamed into place only when
// the whole run has succeeded. A run that fails, or is interrupted, removes its
// temporary files and the folders it made, so nothing partial is left behind.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace preview {

class OutputFiles {
public:
    OutputFiles() = default;
    ~OutputFiles();  // without a successful Commit: Discard
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Makes `folder` and its missing parents (remembered, for Discard). Empty on
    // success, else a message.
    std::string MakeFolder(const std::string& folder);
    // Checks, before any work, that a file can be written at `path`: its folder
    // exists or is being made by this run, and `path` is not a folder.
    std::string CheckFile(const std::string& path) const;
    // The temporary name to write `path`'s content to.
    std::string Stage(const std::string& path);
    // Renames every staged file into place. Empty on success.
    std::string Commit();
    // Removes the staged files and the folders this run made.
    void Discard();

    const std::vector<std::pair<std::string, std::string>>& Staged() const { return staged_; }

private:
    std::vector<std::pair<std::string, std::string>> staged_;  // temporary, final
    std::vector<std::string> madeFolders_;                     // outermost first
    bool done_ = false;
};

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);
// Joins a folder and a name.
std::string JoinPath(const std::string& folder, const std::string& name);
// The size of a file in bytes, or -1.
long long FileSize(const std::string& path);

// Set by SIGINT, SIGTERM or SIGHUP once InstallInterruptHandlers has run, so the
// work loops can stop and clean up instead of dying with files half written.
void InstallInterruptHandlers();
bool Interrupted();
int InterruptSignal();

}  // namespace preview
