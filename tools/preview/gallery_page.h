// The gallery's index.html: one self-contained static page showing every
// effect's animation and contact sheet side by side, with its timing. It refers
// to the pictures by relative path, so the folder can be moved or served as is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

struct GalleryEntry {
    int32_t effect = 0;
    std::string name;
    std::string animation;  // file names inside the gallery folder
    std::string sheet;
    int32_t frames = 0;
    int32_t width = 0;  // the screen
    int32_t height = 0;
    std::string rectangle;  // the transition rectangle as drawn
    std::string form;       // the processor form, with its reason
    std::vector<double> frameMs;
    long long animationBytes = 0;
    long long sheetBytes = 0;
    std::string seed;  // set when the module read the host's timer
    std::string warning;
};

struct GalleryPage {
    std::string title = "Veilshift transitions";
    std::string pairDescription;  // where the two pictures came from
    std::string sourceA;          // file names inside the gallery folder
    std::string sourceB;
    int32_t sourceAWidth = 0;  // their sizes
    int32_t sourceAHeight = 0;
    int32_t sourceBWidth = 0;
    int32_t sourceBHeight = 0;
    int32_t delayMs = 40;
    int32_t holdMs = 600;
    std::string command;    // how the page was made
    std::string version;    // the Veilshift version that made it
    std::string processor;  // "NAME offering mmx, sse, ..."
    std::vector<GalleryEntry> entries;
};

// Pictures whose longer side is under kGallerySmallSide pixels are shown
// enlarged by a whole factor, each pixel a sharp square block.
inline constexpr int32_t kGallerySmallSide = 160;

std::string RenderGalleryHtml(const GalleryPage& page);

// Mean, median and largest of a run's frame times, in ms.
struct TimingSummary {
    double mean = 0;
    double median = 0;
    double max = 0;
};
TimingSummary SummariseTiming(const std::vector<double>& frameMs);

}  // namespace preview
