#include "render/level_coloring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace zoomreel {
namespace {

/// Grey palettes: u = 4 entries of 101 for the relief's lighting, u = 8 entries of 10 i + 5 for the colour rule.
std::vector<std::uint8_t> greyPalette(int u) {
    std::vector<std::uint8_t> p(3 * static_cast<std::size_t>(u));
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(u == 4 ? 101 : 10 * (i / 3) + 5);
    return p;
}

/// The relief every lighting case starts from: no highlights, so that a pixel is p (1 - G) + 255 G on slopes
/// facing the light and p (1 + G) elsewhere, G = ratio * k n / sqrt(1 + k^2 q) with k = power * f, q = dx^2 + dy^2
/// and n = dy cos A + dx sin A (cos A |dx| where dy = 0).
ReliefSettings plainRelief(double power, double ratio = 0.5) {
    ReliefSettings r;
    r.active = 1;
    r.power = power;
    r.ratio = ratio;
    r.phong = r.phong2 = 0;
    return r;
}

/// The distance estimator colours by the slope alone: entry power * g * f / v, taking sqrt(f) off for each root
/// of the slope, the last entry (or 0, wrapped) at or past it, 0 below 0.
ReliefSettings estimator(double power, int wrapToZero = 0, int deSqrt = 0, int deSqrtSqrt = 0) {
    ReliefSettings r = plainRelief(power);
    r.distanceEstimator = 1;
    r.deWrapToZero = wrapToZero;
    r.deSqrt = deSqrt;
    r.deSqrtSqrt = deSqrtSqrt;
    return r;
}

// Each pixel worked out by hand. Slopes are backward differences, the first row and column taking the next one
// (x - next), so the 2 x 2 map {5, 1, 2, 1} has dx = 4, dy = 3 in its first pixel and, at k = 0.15 and azimuth 90,
// G = 0.5 * 0.15 * 4 / 1.25 = 0.24 there: 101 * 0.76 + 255 * 0.24 = 137.96; below it dx = 1, dy = 3, so
// G = 0.075 / sqrt(1.225) = 0.0678: 111.4 (or 101 * 0.932 = 94.2 turned over); the right column has n = 0. A
// single row has dy = 0: at azimuth 0 the map {28, 25, ..., 4} (dx = 3) at k = 0.25 gives G = 0.375 / 1.25 = 0.3.
TEST(LevelColoring, HandComputedPixels) {
    const std::vector<double> slope = {5, 1, 2, 1}, ramp = {28, 25, 22, 19, 16, 13, 10, 7, 4};
    const auto with = [](ReliefSettings r, void (*adjust)(ReliefSettings&)) { return adjust(r), r; };
    struct Case {
        const char* name;
        int width;  // of the map, whose rows are stored first row first
        std::vector<double> map;
        int u;
        double v, w;
        ReliefSettings relief;  // inactive: the colour rule alone
        double f, azimuth;
        bool invert;
        std::vector<int> expected;  // every channel of every pixel
    } const cases[] = {
        // y = x / v + w blends entry trunc(y) mod u with the next by the fraction; 7.75 wraps from the last entry
        // to the first, -3.5 (y = -3) is entry 5; a blend fraction below 0 is clamped into a byte.
        {"colour rule", 6, {1, 2.25, 0, 7.75, -3.5, 6.75}, 8, 1, 0.5, {}, 1, 0, false, {20, 32, 0, 7, 55, 57}},
        {"beyond int32 and no number", 5, {7.25, -3.5, 1e300, std::nan(""), -1e300}, 8, 1, 0, {}, 1, 0, false,
         {57, 50, 5, 5, 5}},
        {"tiny step", 1, {1.5}, 8, 1e-30, 0, {}, 1, 0, false, {5}},
        {"negative step", 1, {3}, 8, -2, 0, {}, 1, 0, false, {110}},
        {"lit, first column too", 2, slope, 4, 1, 0, plainRelief(0.15), 1, 90, false, {137, 101, 111, 101}},
        {"inverted", 2, slope, 4, 1, 0, plainRelief(0.15), 1, 90, true, {76, 101, 94, 101}},
        {"negative power", 2, slope, 4, 1, 0, plainRelief(-0.15), 1, 90, false, {64, 101, 90, 101}},
        {"strong light clamps", 2, slope, 4, 1, 0, plainRelief(0.15, 2.5), 1, 90, false, {255, 101, 153, 101}},
        {"turned from the light", 9, ramp, 4, 1, 0, plainRelief(0.25), 1, 180, false,
         {70, 70, 70, 70, 70, 70, 70, 70, 70}},
        {"row", 9, ramp, 4, 1, 0, plainRelief(0.25), 1, 0, false, {147, 147, 147, 147, 147, 147, 147, 147, 147}},
        // A highlight of size 0 always faces the light: G gains its whole ratio, 0.3 + 0.25.
        {"highlight", 2, {4, 1}, 4, 1, 0,
         with(plainRelief(0.25), [](ReliefSettings& r) { r.phong = 1, r.phongSize = 0, r.phongRatio = 0.25; }), 1, 0,
         false, {185, 185}},
        // Roots of the slope: sqrt(0.5625) = 0.75^(4/2) and 0.31640625^(1/4) = 0.75, so G = 0.3 again.
        {"square root", 2, {1.5625, 1}, 4, 1, 0, with(plainRelief(1), [](ReliefSettings& r) { r.deSqrt = 1; }), 1, 0,
         false, {147, 147}},
        {"fourth root", 2, {1.31640625, 1}, 4, 1, 0, with(plainRelief(1), [](ReliefSettings& r) { r.deSqrtSqrt = 1; }),
         1, 0, false, {147, 147}},
        // dx^2 + dy^2 overflows: the slope (1, 1) still faces the light at azimuth 45 fully, G = ratio (0.35).
        {"overflowing slope", 2, {1e308, 0, 0, -1e308}, 4, 1e300, 0,
         with(ReliefSettings{}, [](ReliefSettings& r) { r.active = 1, r.phong = r.phong2 = 0; }), 1, 45, false,
         {154, 89, 89, 154}},
        // The estimator at g = 2: 1.25 * 2 = 2.5, with roots 0.625 * 4^(1/2) * 4 / 2 and 0.625 * 16^(1/4) * 16 / 8.
        {"estimator", 2, {3, 1}, 8, 1, 0, estimator(1.25), 1, 0, false, {30, 30}},
        {"estimator, last entry", 2, {3, 1}, 8, 1, 0, estimator(100), 1, 0, false, {75, 75}},
        {"estimator, wrapped to 0", 2, {3, 1}, 8, 1, 0, estimator(100, 1), 1, 0, false, {5, 5}},
        {"estimator, negative power", 2, {3, 1}, 8, 1, 0, estimator(-1), 1, 0, false, {5, 5}},
        {"estimator, square root", 2, {5, 1}, 8, 1, 0, estimator(0.625, 0, 1), 4, 0, false, {30, 30}},
        {"estimator, fourth root", 2, {17, 1}, 8, 1, 0, estimator(0.625, 0, 0, 1), 16, 0, false, {30, 30}},
    };
    for (const Case& k : cases) {
        const std::vector<std::uint8_t> palette = greyPalette(k.u);
        const int height = static_cast<int>(k.map.size()) / k.width;
        Raster image(k.width, height);
        RenderJob job;
        job.destination = &image;
        job.rows = k.map.data();
        job.width = k.width, job.height = height;
        job.colorStep = k.v, job.colorShift = k.w, job.paletteLength = k.u;
        job.palette = palette.data();
        job.levelScale = k.f;
        job.relief = &k.relief;
        job.invertRelief = k.invert;
        deriveLevelFrameAngles(k.azimuth, k.relief, Projection3DSettings{}, job.angles);
        colorLevelRows(job, 0, 1);
        for (int i = 0; i < k.width * height; ++i) {
            const std::uint8_t* px = image.storedRow(i / k.width) + 3 * (i % k.width);
            EXPECT_TRUE(px[0] == k.expected[i] && px[1] == px[0] && px[2] == px[0])
                << k.name << ", pixel " << i << ": " << int(px[0]) << " " << int(px[1]) << " " << int(px[2]);
        }
    }
}

}  // namespace
}  // namespace zoomreel
