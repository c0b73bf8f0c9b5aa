#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "platform.h"

namespace preview {

ProgressBar::ProgressBar(bool wanted) : active_(wanted && platform::ErrorStreamIsTerminal()) {}

void ProgressBar::Show(const std::string& label, int64_t done, int64_t total) {
    if (!active_ || total <= 0) return;
    constexpr int kBarWidth = 30;
    const int filled = static_cast<int>(std::clamp<int64_t>(done * kBarWidth / total, 0, kBarWidth));
    const auto now = std::chrono::steady_clock::now();
    // Redraw when the bar grows, at the end, or every tenth of a second for the count.
    if (filled == lastFilled && done != total && now - lastDrawn < std::chrono::milliseconds(100)) return;
    lastFilled = filled;
    lastDrawn = now;
    std::string line = label + " [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] " + std::to_string(done) + "/" +
                       std::to_string(total);
    if (const int columns = platform::TerminalColumns(); columns > 1 && line.size() >= static_cast<size_t>(columns))
        line.resize(static_cast<size_t>(columns) - 1);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressBar::Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
    lastFilled = -1;
}

}  // namespace preview
