#include "pictures.h"

#include <algorithm>
#include <cmath>

namespace preview {
namespace {
uint8_t Clamp(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }
}  // namespace

void DrawSunsetPicture(refhost::TestSurface& s) {
    const int w = s.PixelWidth(), h = s.PixelHeight();
    const double sunX = 0.68 * w, sunY = 0.42 * h, sunR = 0.12 * std::min(w, h);
    for (int y = 0; y < h; ++y) {
        const double t = static_cast<double>(y) / h;
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w;
            double r = 255 * (0.98 - 0.2 * t), g = 120 + 110 * t, b = 60 + 120 * (1 - t);
            const double d = std::hypot(x - sunX, y - sunY);
            if (d < sunR) r = 255, g = 236, b = 150;
            else if (d < sunR * 2.2) { const double k = 1 - (d - sunR) / (sunR * 1.2); r += 40 * k; g += 60 * k; }
            // Two ranges of hills, the nearer darker.
            const double far = 0.62 + 0.06 * std::sin(u * 9.0) + 0.03 * std::sin(u * 23.0);
            const double nearH = 0.78 + 0.05 * std::sin(u * 5.0 + 1.0) + 0.02 * std::sin(u * 31.0);
            if (t > nearH) r = 40 + 30 * u, g = 28, b = 70 - 20 * u;
            else if (t > far) r = 120, g = 60 + 30 * u, b = 110;
            s.SetPixel(x, y, {Clamp(r), Clamp(g), Clamp(b)});
        }
    }
}

void DrawTilePicture(refhost::TestSurface& s) {
    const int w = s.PixelWidth(), h = s.PixelHeight();
    const int tile = std::max(8, std::min(w, h) / 8);
    const double cx = 0.5 * w, cy = 0.5 * h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool dark = ((x / tile) + (y / tile)) % 2 == 0;
            double r = dark ? 20 : 40, g = dark ? 90 : 150, b = dark ? 140 : 210;
            const double ring = std::sin(std::hypot(x - cx, y - cy) * 0.12);
            if (ring > 0.6) r += 170, g += 90, b += 30;  // bright rings across the tiles
            if (x % tile == 0 || y % tile == 0) r = g = b = 245;
            s.SetPixel(x, y, {Clamp(r), Clamp(g), Clamp(b)});
        }
}

}  // namespace preview
