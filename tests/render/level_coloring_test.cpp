#include "render/level_coloring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace zoomreel {
namespace {

constexpr double kPi = 3.141592653589793;

// The colour rule and the relief step written out plainly, formula by formula, as the reference.
struct Reference {
    const std::vector<double>& map;
    int width;
    int height;
    const std::vector<std::uint8_t>& palette;
    int u;
    double v;
    double w;
    double f;
    ReliefSettings relief;
    bool relieved;
    bool invert;
    double azimuthDegrees;

    static std::uint8_t byte(double value) {
        if (!(value > 0)) return 0;
        return value >= 255 ? 255 : static_cast<std::uint8_t>(static_cast<int>(value));
    }
    void blend(double y, std::uint8_t* px) const {
        const auto i = static_cast<std::int32_t>(y);
        const int i0 = ((i % u) + u) % u;
        const int i1 = i0 + 1 == u ? 0 : i0 + 1;
        const double frac = y - i;
        for (int b = 0; b < 3; ++b) px[b] = byte(palette[3 * i1 + b] * frac + palette[3 * i0 + b] * (1 - frac));
    }
    void pixel(int r, int c, std::uint8_t* px) const {
        auto at = [&](int rr, int cc) { return map[static_cast<std::size_t>(rr) * width + cc]; };
        const double x = at(r, c);
        const bool estimator = relieved && relief.distanceEstimator != 0;
        if (x == 0) px[0] = px[1] = px[2] = 0;
        else if (!estimator) blend(x / v + w, px);
        if (!relieved) return;
        double dy = r > 0 ? at(r - 1, c) - x : x - at(r + 1, c);
        double dx = c > 0 ? at(r, c - 1) - x : x - at(r, 1);
        if (invert) dx = -dx, dy = -dy;
        double g = std::sqrt(dx * dx + dy * dy);
        const bool s1 = relief.deSqrt || relief.deSqrtSqrt, s2 = relief.deSqrtSqrt != 0;
        if (s1) g = std::sqrt(g);
        if (s2) g = std::sqrt(g);
        if (estimator && x != 0) {
            double s = relief.power * g * f / v;
            if (s1) s = s / std::sqrt(f);
            if (s2) s = s / std::sqrt(std::sqrt(f));
            if (s >= u - 1) s = relief.deWrapToZero ? 0 : u - 1;
            if (s < 0) s = 0;
            blend(s, px);
            return;
        }
        const double A = azimuthDegrees * kPi / 180;
        const double a = std::atan(relief.power * g * f);
        const double d = dy == 0 ? 0 : std::atan(dx / dy) + (dy < 0 ? kPi : 0);
        const double B = (std::cos(d) * std::cos(A) + std::sin(d) * std::sin(A)) * relief.ratio;
        if (B > 0) {
            double G = B * std::sin(a);
            const double lights[2][4] = {
                {double(relief.phong), relief.lightElevation, relief.phongSize, relief.phongRatio},
                {double(relief.phong2), relief.light2Elevation, relief.phong2Size, relief.phong2Ratio}};
            for (const auto& l : lights) {
                if (l[0] == 0) continue;
                const double e = (2 * a - kPi + l[1] * kPi / 180) * l[2];
                if (std::fabs(e) >= kPi / 2) continue;
                const double delta = (A - d) * l[2];
                if (std::fabs(delta) < kPi / 2) G = std::min(1.0, G + std::cos(delta) * std::cos(e) * l[3]);
            }
            for (int b = 0; b < 3; ++b) px[b] = byte(px[b] * (1 - G) + 255 * G);
        } else {
            for (int b = 0; b < 3; ++b) px[b] = byte(px[b] * (1 + std::sin(a) * B));
        }
    }
};

// A terrain with gentle and steep slopes, level rows and columns (dy = 0, dx = 0), and holes of value 0.
std::vector<double> terrain(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-0.02, 0.02);
    std::vector<double> map(static_cast<std::size_t>(width) * height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            double x = 40 + 6 * std::sin(0.21 * c) * std::cos(0.17 * r) + 0.03 * c * r + noise(rng);
            if (r == 7) x = map[static_cast<std::size_t>(6) * width + c];  // a level row
            if ((r * 31 + c * 17) % 29 == 0) x = 0;
            map[static_cast<std::size_t>(r) * width + c] = x;
        }
    }
    return map;
}

std::vector<std::uint8_t> rampPalette(int n) {
    std::vector<std::uint8_t> p(3 * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        p[3 * i] = static_cast<std::uint8_t>(i * 255 / (n - 1));
        p[3 * i + 1] = static_cast<std::uint8_t>((i * 97) % 256);
        p[3 * i + 2] = static_cast<std::uint8_t>(255 - i * 255 / (n - 1));
    }
    return p;
}

/// The library's colouring of `map` (rows of `width`) with palette length u, step v and shift w at level scale f.
Raster coloured(const std::vector<double>& map, int width, const std::vector<std::uint8_t>& palette, int u, double v,
                double w, double f = 1.0, const ReliefSettings* relief = nullptr, bool invert = false,
                double azimuth = 0.0) {
    const int height = static_cast<int>(map.size()) / width;
    Raster image(width, height);
    RenderJob job;
    job.destination = &image;
    job.rows = map.data();
    job.width = width;
    job.height = height;
    job.colorStep = v;
    job.colorShift = w;
    job.paletteLength = u;
    job.palette = palette.data();
    job.levelScale = f;
    job.relief = relief;
    job.invertRelief = invert;
    if (relief != nullptr) {
        Projection3DSettings projection;
        projection.active = invert ? 1 : 0;
        projection.zScale = invert ? -70 : 70;
        deriveLevelFrameAngles(azimuth, *relief, projection, job.angles);
    }
    colorLevelRows(job, 0, 1);
    return image;
}

struct Case {
    std::string name;
    bool relief;
    void (*adjust)(ReliefSettings&);
    bool invert = false;
    double levelScale = 1.0;
    double azimuth = -45.0;
};

// The relief's transcendental functions may differ from the reference's in the last bit, which can move a
// truncated byte by one; the colour rule itself is exact.
TEST(LevelColoring, MatchesTheFormulasPixelForPixel) {
    const int width = 67, height = 41;  // odd sizes: vector loops end with scalar columns
    const std::vector<double> map = terrain(width, height, 1);
    const std::vector<std::uint8_t> palette = rampPalette(37);
    const Case cases[] = {
        {"colour rule", false, [](ReliefSettings&) {}},
        {"default relief", true, [](ReliefSettings&) {}},
        {"deeper level, other light", true, [](ReliefSettings&) {}, false, 4.0, 130.0},
        {"inverted", true, [](ReliefSettings&) {}, true},
        {"strong light clamps", true, [](ReliefSettings& r) { r.ratio = 2.5; }},
        {"negative power", true, [](ReliefSettings& r) { r.power = -60; }},
        {"wide highlights", true, [](ReliefSettings& r) { r.phongSize = 0.7, r.phong2Size = 0; }},
        {"square roots", true, [](ReliefSettings& r) { r.deSqrt = 1; }},
        {"fourth roots", true, [](ReliefSettings& r) { r.deSqrtSqrt = 1; }},
        {"estimator, last colour", true, [](ReliefSettings& r) { r.distanceEstimator = 1, r.power = 3000; }},
        {"estimator, wrapped", true,
         [](ReliefSettings& r) { r.distanceEstimator = 1, r.deWrapToZero = 1, r.deSqrt = 1, r.power = 900; }},
        {"estimator, negative", true, [](ReliefSettings& r) { r.distanceEstimator = 1, r.power = -50; }},
    };
    for (const Case& k : cases) {
        ReliefSettings relief;
        relief.active = k.relief ? 1 : 0;
        k.adjust(relief);
        const Raster image = coloured(map, width, palette, 37, 0.37, 5.25, k.levelScale, &relief, k.invert, k.azimuth);
        const Reference ref{map, width, height, palette, 37, 0.37, 5.25, k.levelScale, relief, k.relief, k.invert,
                            k.azimuth};
        int offByOne = 0, worse = 0;
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                std::uint8_t want[3];
                ref.pixel(r, c, want);
                for (int b = 0; b < 3; ++b) {
                    const int diff = std::abs(image.storedRow(r)[3 * c + b] - want[b]);
                    offByOne += diff == 1;
                    worse += diff > 1;
                }
            }
        }
        EXPECT_EQ(worse, 0) << k.name;
        EXPECT_LE(offByOne, k.relief ? width * height * 3 / 100 : 0) << k.name;
    }
}

// Differences so large that dx^2 + dy^2 overflows, or so small that it underflows, still light the pixel as the
// formulas do (the slope's direction survives), instead of leaving it unlit or black.
TEST(LevelColoring, ExtremeSlopesAreLitAsTheFormulasSay) {
    const std::vector<std::uint8_t> flat(3 * 4, 100);
    struct Slope {
        std::vector<double> map;
        int width;
        double azimuth;
        int deSqrt;
    };
    const Slope cases[] = {{{1, -1.2e308, -1.2e308, 1e307}, 2, 45, 0},
                          {{1e-170, 1e-170, 1e-170, 1e-170, 3e-170, 2e-170, 1e-170, 1e-170}, 4, -45, 1},
                          {{1, 1, 1, 1, 0.3e160, 1e160, 1, 1}, 4, -45, 0}};
    for (const Slope& k : cases) {
        const int height = static_cast<int>(k.map.size()) / k.width;
        ReliefSettings relief;
        relief.active = 1;
        relief.phong = relief.phong2 = 0;
        relief.deSqrt = k.deSqrt;
        // A huge step keeps every palette position finite: the flat palette gives 100 anyway.
        const Raster image = coloured(k.map, k.width, flat, 4, 1e300, 0, 1, &relief, false, k.azimuth);
        const Reference ref{k.map, k.width, height, flat, 4, 1e300, 0, 1, relief, true, false, k.azimuth};
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < k.width; ++c) {
                std::uint8_t want[3];
                ref.pixel(r, c, want);
                EXPECT_NEAR(image.storedRow(r)[3 * c], want[0], 1) << r << "," << c;
            }
        }
    }
}

// Hostile colour parameters give palette colours, never a read outside the palette.
TEST(LevelColoring, IndicesFarOutsideThePaletteWrapSafely) {
    const std::vector<std::uint8_t> palette = rampPalette(5);
    const std::vector<double> map = {1e300, -1e300, -3.5, 7.25, std::nan(""), 1e-300};
    Raster image;
    for (double v : {1e-30, -2.0, 1.0}) image = coloured(map, 6, palette, 5, v, 0);
    // v = 1: 7.25 lies a quarter of the way from entry 2 to entry 3; -3.5 wraps to entry 2 (-3 mod 5) and is
    // blended towards entry 3 by -0.5, clamped into a byte.
    const std::uint8_t* px = image.storedRow(0);
    EXPECT_EQ(px[3 * 3], static_cast<std::uint8_t>(palette[9] * 0.25 + palette[6] * 0.75));
    EXPECT_EQ(px[3 * 2], static_cast<std::uint8_t>(palette[9] * -0.5 + palette[6] * 1.5));
}

}  // namespace
}  // namespace zoomreel
