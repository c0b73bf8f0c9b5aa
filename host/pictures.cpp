#include "host/pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace refhost {
namespace {

using Colour = std::array<double, 3>;

Colour Mix(const Colour& a, const Colour& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

// Every pixel is the mean of a 3x3 grid of samples, so edges are smooth at any size.
template <typename Scene>
Image Render(int32_t width, int32_t height, Scene scene) {
    Image image(width, height);
    constexpr int kGrid = 3;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            Colour sum = {0, 0, 0};
            for (int sy = 0; sy < kGrid; ++sy)
                for (int sx = 0; sx < kGrid; ++sx) {
                    const Colour c = scene((x + (sx + 0.5) / kGrid) / width, (y + (sy + 0.5) / kGrid) / height);
                    for (int k = 0; k < 3; ++k) sum[k] += c[k];
                }
            uint8_t* p = image.Pixel(x, y);
            for (int k = 0; k < 3; ++k)
                p[k] = static_cast<uint8_t>(std::lround(std::clamp(sum[k] / (kGrid * kGrid), 0.0, 255.0)));
        }
    return image;
}

// A small deterministic hash in [0, 1), for stars and ripples.
double Hash(int32_t i, int32_t j) {
    uint32_t h = static_cast<uint32_t>(i) * 73856093u ^ static_cast<uint32_t>(j) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / 16777216.0;
}

}  // namespace

Image SunsetPicture(int32_t width, int32_t height) {
    const double aspect = static_cast<double>(width) / height;
    return Render(width, height, [aspect](double u, double v) {
        const double horizon = 0.70;
        const double sunX = 0.66, sunY = 0.47, sunR = 0.11;
        // Sky: violet at the top through rose to gold at the horizon.
        const Colour top = {44, 26, 88}, middle = {214, 84, 124}, low = {255, 196, 110};
        auto sky = [&](double vv) {
            const double t = vv / horizon;
            return t < 0.55 ? Mix(top, middle, t / 0.55) : Mix(middle, low, (t - 0.55) / 0.45);
        };
        auto sun = [&](double uu, double vv, Colour base) {
            const double d = std::hypot((uu - sunX) * aspect, vv - sunY);
            if (d < sunR) return Mix(Colour{255, 246, 200}, Colour{255, 222, 140}, (vv - (sunY - sunR)) / (2 * sunR));
            return Mix(base, Colour{255, 214, 150}, 0.55 * std::exp(-(d - sunR) * 9.0));
        };
        if (v < horizon) {
            Colour c = sun(u, v, sky(v));
            // A few stars where the sky is still dark.
            const int32_t cx = static_cast<int32_t>(u * 90), cy = static_cast<int32_t>(v * 70);
            if (v < 0.3 && Hash(cx, cy) > 0.985) {
                const double fx = u * 90 - cx - 0.5, fy = v * 70 - cy - 0.5;
                c = Mix(c, Colour{255, 250, 235}, (1 - v / 0.3) * std::exp(-(fx * fx + fy * fy) * 40));
            }
            // Two ranges of hills, the nearer darker.
            const double far = 0.56 + 0.05 * std::sin(u * 9.0) + 0.025 * std::sin(u * 23.0 + 0.7);
            const double nearTop = 0.63 + 0.04 * std::sin(u * 5.0 + 1.0) + 0.015 * std::sin(u * 31.0);
            if (v > nearTop) return Mix(Colour{58, 30, 74}, Colour{34, 18, 52}, (v - nearTop) / 0.08);
            if (v > far) return Mix(Colour{132, 64, 120}, Colour{96, 48, 104}, (v - far) / 0.1);
            return c;
        }
        // The lake mirrors the sky and the sun, broken into ripples.
        const double depth = (v - horizon) / (1 - horizon);
        const double wobble = 0.012 * std::sin(v * 140.0 + 3.0 * std::sin(u * 17.0));
        const double mirrored = horizon - (v - horizon) * 1.4;
        Colour c = sun(u + wobble, std::max(mirrored, 0.0), sky(std::max(mirrored, 0.0)));
        c = Mix(c, Colour{40, 24, 70}, 0.25 + 0.55 * depth);
        if (std::sin(v * 260.0 + u * 8.0) > 0.93) c = Mix(c, Colour{255, 230, 190}, 0.35 * (1 - depth));
        return c;
    });
}

Image TilePicture(int32_t width, int32_t height) {
    const double aspect = static_cast<double>(width) / height;
    // Square tiles: eight across the shorter side.
    const double tilesDown = aspect >= 1 ? 8.0 : 8.0 / aspect;
    const double tilesAcross = tilesDown * aspect;
    return Render(width, height, [=](double u, double v) {
        const double tx = u * tilesAcross, ty = v * tilesDown;
        const int32_t ix = static_cast<int32_t>(std::floor(tx)), iy = static_cast<int32_t>(std::floor(ty));
        const bool dark = ((ix + iy) & 1) == 0;
        // Each tile a slightly different blue, lighter towards the top left.
        const double shade = 0.85 + 0.15 * Hash(ix, iy);
        Colour c = dark ? Colour{18 * shade, 70 * shade, 132 * shade} : Colour{38 * shade, 138 * shade, 206 * shade};
        c = Mix(c, Colour{230, 245, 255}, 0.12 * (1 - u) * (1 - v));
        // Bright rings centred on the picture.
        const double r = std::hypot((u - 0.5) * aspect, v - 0.5) * tilesDown;
        const double ring = std::cos(r * 1.9);
        if (ring > 0.55) c = Mix(c, Colour{150, 240, 230}, (ring - 0.55) * 4.0);
        // Grout between the tiles.
        const double gx = std::min(tx - ix, 1 - (tx - ix)), gy = std::min(ty - iy, 1 - (ty - iy));
        if (std::min(gx, gy) < 0.04) c = Mix(c, Colour{240, 246, 250}, 0.85);
        return c;
    });
}

}  // namespace refhost
