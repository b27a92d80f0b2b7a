#include "render/projection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "render/frame_renderer.h"

namespace zoomreel {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Smoothing, KernelRadiusFollowsTheFrameWidth) {
    for (const auto& [setting, frameWidth, radius] :
         {std::tuple{8.0, 1280, 5}, {8.0, 1920, 8}, {0.74, 1280, 0}, {0.75, 1280, 1}, {0.0, 1280, 0}, {-3.0, 1280, 0},
          {kNaN, 1280, 0}, {1e300, 1280, kMaxFrameSide}}) {
        EXPECT_EQ(filterRadius(filterWidthFor(setting, frameWidth)), radius) << setting << " " << frameWidth;
    }
}

// Hand-summed cells: at s = 1 the kernel reaches one cell, with weight 0.01 there and 0.0001 diagonally; a kernel
// far wider than the field takes the plain mean; holes neither add nor are smoothed, they take the top (123).
// One kernel serves every case in turn, so a kernel not rebuilt for a new width shows too.
TEST(Smoothing, HandSummedCells) {
    constexpr double N = kNoData;
    struct Case {
        const char* name;
        int width, height;
        double s;
        std::vector<double> field, expected;
    } const cases[] = {
        {"ramp along a row", 3, 1, 1.0, {0, 101, 202}, {1, 101, 201}},
        {"kernel wider than the field", 3, 1, 1e6, {0, 101, 202}, {101, 101, 101}},
        {"ramp down a column", 1, 3, 1.0, {0, 101, 202}, {1, 101, 201}},
        {"holes", 3, 1, 1.0, {0, N, 202}, {0, 123, 202}},
        {"corner peak", 3, 3, 1.0, {10001, 0, 0, 0, 0, 0, 0, 0, 0},
         {10001 / 1.0201, 100.01 / 1.0302, 0, 100.01 / 1.0302, 1.0001 / 1.0404, 0, 0, 0, 0}},
        {"radius below one", 3, 1, filterWidthFor(0.74, 1280), {5, N, 7}, {5, 123, 7}},
        {"a lone hole", 1, 1, 1e6, {N}, {123}},
    };
    GaussianKernel kernel;
    SmoothingBuffers buffers;
    for (const Case& c : cases) {
        for (int workers : {1, 3}) {
            WorkerPool pool(workers);
            std::vector<double> field = c.field;
            smoothHeightField(pool, field, c.width, c.height, c.s, kernel, buffers, 123.0);
            for (std::size_t i = 0; i < field.size(); ++i)
                EXPECT_NEAR(field[i], c.expected[i], 1e-6) << c.name << ", cell " << i << ", " << workers << " workers";
        }
    }
}

// M = 100, Mx = 50: g is clamped to [M, M + Mx], then g - M, its log (of g + 1 - M), square root (of g - M + 1)
// or both (sqrt(log(g + 2 - M))); the soft cap bends that towards Mx instead of cutting at it.
TEST(HeightField, TransformsClampAndCap) {
    for (const auto& [logIter, sqrtIter, g, expected] :
         {std::tuple{false, false, 130.0, 30.0}, {false, false, 90.0, 0.0}, {false, false, 400.0, 50.0},
          {true, false, 130.0, std::log(31.0)}, {false, true, 130.0, std::sqrt(31.0)},
          {true, true, 130.0, std::sqrt(std::log(32.0))}, {true, true, 1e9, std::sqrt(std::log(52.0))}}) {
        HeightTransform transform{100, 50, sqrtIter, logIter, false};
        EXPECT_DOUBLE_EQ(transform.height(g), expected) << logIter << sqrtIter << " " << g;
        EXPECT_DOUBLE_EQ(transform.maxHeight(), transform.height(150)) << logIter << sqrtIter;
        transform.asymptotic = true;
        EXPECT_NEAR(transform.height(g), std::atan(expected / 50) * 0.63661977 * 50, 1e-12);
        EXPECT_LT(transform.height(g), 50.0);
    }
}

// Four 64 x 32 levels whose cells hold their level number plus one, seen whole (t = 1) by a 64 x 32 frame: the
// centre comes from level 3, the corners from level 0, the ring between from 1 and 2. A level 3 block of the
// centre pixel spans 8 x 8 cells from the mapped cell: its smallest non-zero value wins, zeros are skipped, and a
// block of zeros has no data.
TEST(HeightField, DeepestCoveringLevelAndItsBlockMinimum) {
    WorkerPool pool(2);
    std::array<std::vector<double>, 4> maps;
    HeightFieldSource source;
    for (int level = 0; level < 4; ++level) {
        maps[level].assign(64 * 32, level + 1.0);
        source.levels[level] = maps[level].data();
    }
    source.width = source.frameWidth = 64;
    source.height = source.frameHeight = 32;
    const HeightTransform identity{0, 1e9, false, false, false};
    std::vector<double> field;
    buildHeightField(pool, source, identity, field);
    EXPECT_TRUE(field[16 * 64 + 32] == 4 && field[0] == 1 && field[31 * 64 + 63] == 1);
    EXPECT_EQ(field[16 * 64 + 20], 2);  // 12 columns left of the centre: inside level 1, not 2
    EXPECT_EQ(field[16 * 64 + 26], 3);  // 6 left: inside level 2, not 3
    std::vector<double>& deepest = maps[3];
    deepest[(16 + 3) * 64 + 32 + 7] = 0.5;
    deepest[16 * 64 + 32] = 0;
    deepest[(16 + 8) * 64 + 32] = 0.25;  // the next block
    buildHeightField(pool, source, identity, field);
    EXPECT_EQ(field[16 * 64 + 32], 0.5);
    std::fill(deepest.begin(), deepest.end(), 0.0);
    buildHeightField(pool, source, identity, field);
    EXPECT_TRUE(field[16 * 64 + 32] == kNoData && field[0] == 1);
}

// Rays walked by hand: a cell of height h casts |h * scale| steps towards the light, trunc(i cos a) rows and
// trunc(i sin a) columns at step i, and darkens each cell it meets at or under its ray (1 - i / (h * scale)) h, or
// at or over it when h * scale < 0; a cell is counted once per ray, and counts stop mattering at eight.
TEST(Shadows, HandWalkedRays) {
    const std::vector<double> row = {0, 0.5, 2, 0, 3}, reversed = {3, 0, 2, 0.5, 0};
    const std::vector<double> odd = {0, kNaN, 0, kInf, 1e-300, -3};  // -3: a ray that counts what stands over it
    // Ten cells of 30 in flat ground: cell x < 44 meets the rays of the sources at 44 to min(53, x + 30). The
    // ground next to the plateau fills up and can be passed whole, but not the cells further on that still count.
    std::vector<double> plateau(64, 0.0);
    std::fill(plateau.begin() + 44, plateau.begin() + 54, 30.0);
    std::vector<std::int32_t> beside(64, 0);
    for (int x = 14; x < 44; ++x) beside[x] = std::min(x - 13, kShadowSaturation);
    struct Case {
        const char* name;
        int width, height;
        double azimuth, scale;
        std::vector<double> field;
        std::vector<std::int32_t> expected;
    } const cases[] = {
        {"towards lower columns", 5, 1, kPi / 2, 1, row, {1, 1, 0, 1, 0}},
        {"two turns further", 5, 1, kPi / 2 + 4 * kPi, 1, row, {1, 1, 0, 1, 0}},
        {"towards higher columns", 5, 1, -kPi / 2, 1, reversed, {0, 1, 0, 1, 1}},
        // Down a column; as the walk's visiting table has it, column 0 casts none at these azimuths.
        {"towards lower rows", 2, 5, 0, 1, {0, 0, 0.5, 0.5, 2, 2, 0, 0, 3, 3}, {0, 1, 0, 1, 0, 0, 0, 1, 0, 0}},
        {"towards higher rows, -pi as pi", 2, 5, -kPi, 1, {3, 3, 0, 0, 2, 2, 0.5, 0.5, 0, 0},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 1}},
        {"diagonal, counted once", 3, 3, kPi / 4, 1, {-1, 0, 0, 0, 0, 0, 0, 0, 4}, {1, 0, 0, 0, 1, 0, 0, 0, 0}},
        {"no number, infinite, tiny, negative", 6, 1, kPi / 2, 1, odd, {1, 0, 2, 1, 1, 0}},
        {"mirrored", 6, 1, kPi / 2, -1, odd, {0, 0, 1, 0, 0, 0}},
        {"saturated", 10, 1, kPi / 2, 1, {0, 10, 10, 10, 10, 10, 10, 10, 10, 10}, {8, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"one column across a diagonal light", 1, 3, kPi / 4, 1, {0, 0, 4}, {0, 0, 0}},
        {"one cell", 1, 1, 0, 1, {5}, {0}},
        {"a plateau beside ground still counting", 64, 1, kPi / 2, 1, plateau, beside},
    };
    std::vector<std::int32_t> counts;
    ShadowBuffers scratch;
    for (const Case& c : cases) {
        for (int workers : {1, 3}) {
            WorkerPool pool(workers);
            castShadows(pool, c.field, c.width, c.height, c.azimuth, c.scale, counts, scratch);
            for (std::int32_t& n : counts) n = std::min(n, kShadowSaturation);
            EXPECT_EQ(counts, c.expected) << c.name << ", " << workers << " workers";
        }
    }
}

/// A 2D frame whose pixel (row j, column k) is (j, k, 200), projected onto an image of `imageHeight` rows that
/// held 9s before.
struct Projected {
    Raster image;
    VisibleRows rows;
    Projected(const std::vector<double>& field, int width, int imageHeight, ProjectionView view = {1, 1, 0},
              const std::vector<std::int32_t>* counts = nullptr, double coefficient = 1, int workers = 2)
        : image(width, imageHeight) {
        Raster frame(width, static_cast<int>(field.size()) / width);
        for (int i = 0; i < static_cast<int>(field.size()); ++i) {
            std::uint8_t* p = frame.storedRow(i / width) + 3 * (i % width);
            p[0] = static_cast<std::uint8_t>(i / width), p[1] = static_cast<std::uint8_t>(i % width), p[2] = 200;
        }
        image.fill(9, 9, 9);
        WorkerPool pool(workers);
        std::vector<std::int32_t> horizon;
        rows = projectOntoImage(pool, frame, field, counts, shadowFactors(coefficient), view, horizon, image);
    }
    int at(int y, int k, int channel = 0) const { return image.storedRow(y)[3 * k + channel]; }
};

TEST(Projection, HillsHideWhatLiesBehindThemAndShadowsDarken) {
    const std::vector<double> field = {0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0};  // a hill in row 3 of column 0
    const std::vector<std::int32_t> counts = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 30};  // rays on rows 4 and 5 of column 1
    const Projected p(field, 2, 20, {1, 1, 0}, &counts, 0.8);
    EXPECT_TRUE(p.rows.first == 1 && p.rows.last == 5);
    // base = (FH/2 - j) sin + F3H/2 - lift: with sin 1 and no lift, flat row j lands on 3 - j + 10 = 13 - j and
    // paints the one row above it; row 0 only seeds the column. In column 0 the hill's row lands on 15: rising, it
    // paints nothing; row 4 then paints from its point up to the hilltop, over what rows 1 and 2 drew, and row 5
    // the row below. The rows above and below hold black, not what the image held before.
    for (int y = 10; y <= 15; ++y) EXPECT_EQ(p.at(y, 0), 4) << y;
    EXPECT_TRUE(p.at(9, 0) == 5 && p.at(16, 0) == 0 && p.at(8, 0) == 0);
    // Column 1: one hit darkens 200 to trunc(200 * 0.8^(1/8)) = 194, thirty hits count as eight: 160.
    EXPECT_TRUE(p.at(11, 1, 2) == 200 && p.at(10, 1, 2) == 194 && p.at(9, 1, 2) == 160);
    // A coefficient of zero or below, or none, darkens to black at the first hit.
    for (double coefficient : {0.0, -0.5, kNaN})
        for (double f : shadowFactors(coefficient)) EXPECT_EQ(f, 0.0) << coefficient;
}

TEST(Projection, NothingVisibleAndHeightsWithoutARow) {
    // Everything far above the image: no row passes, the rows stay FH and 0.
    const Projected high(std::vector<double>(3 * 5, 1e6), 3, 10);
    EXPECT_TRUE(high.rows.first == 5 && high.rows.last == 0);
    // Heights beyond the int32 range and without a number draw without overflowing or reading outside.
    for (double h : {1e300, -1e300, kInf, -kInf, kNaN}) {
        std::vector<double> field(3 * 5, h);
        field[2 * 3 + 1] = 0;
        Projected(field, 3, 10);
    }
}

}  // namespace
}  // namespace zoomreel
