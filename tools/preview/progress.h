// A one-line progress bar on standard error, drawn only when standard error is
// a terminal; elsewhere (pipes, files, CI logs) it stays silent.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace preview {

class ProgressBar {
public:
    explicit ProgressBar(bool wanted);
    ~ProgressBar() { Clear(); }

    void Show(const std::string& label, int64_t done, int64_t total);
    void Clear();  // erases the line, before anything else is printed
    bool Active() const { return active_; }

private:
    bool active_;
    bool shown_ = false;
    int lastFilled = -1;
    std::chrono::steady_clock::time_point lastDrawn{};
};

}  // namespace preview
