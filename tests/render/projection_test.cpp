#include "render/projection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "render/frame_renderer.h"

namespace zoomreel {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

/// The smoothing as a plain double sum over the square kernel.
std::vector<double> directSmoothing(const std::vector<double>& field, int width, int height, double s, double top) {
    const int r = static_cast<int>(std::trunc(s + 0.5));
    const double q = -std::log(0.01) / (s * s);
    std::vector<double> out = field;
    for (int j = 0; j < height; ++j) {
        for (int k = 0; k < width; ++k) {
            if (field[j * width + k] == kNoData) continue;
            double sum = 0, total = 0;
            // Only the neighbours inside the field: the same sum, without walking a huge kernel's empty rim.
            for (int dy = std::max(-r, -j); dy <= std::min(r, height - 1 - j); ++dy) {
                for (int dx = std::max(-r, -k); dx <= std::min(r, width - 1 - k); ++dx) {
                    const int y = j + dy, x = k + dx;
                    if (field[y * width + x] == kNoData) continue;
                    const double weight = std::exp(-(dy * dy + dx * dx) * q);
                    sum += weight * field[y * width + x];
                    total += weight;
                }
            }
            if (total != 0) out[j * width + k] = sum / total;
        }
    }
    for (double& h : out) {
        if (h == kNoData) h = top;
    }
    return out;
}

/// Counts as the walk reports them: exact up to the saturation, which darkens no further.
std::vector<std::int32_t> capped(std::vector<std::int32_t> counts) {
    for (std::int32_t& c : counts) c = std::min(c, kShadowSaturation);
    return counts;
}

/// The shadow walk written out quadrant by quadrant, straight from the visiting table, capped at the saturation.
std::vector<std::int32_t> directShadows(const std::vector<double>& field, int width, int height, double a, double u) {
    std::vector<std::int32_t> counts(field.size(), 0);
    const double ca = std::abs(std::cos(a)), sa = std::abs(std::sin(a));
    const int rowSign = (a >= 0 && a < kPi / 2) || (a > -kPi / 2 && a < 0) ? -1 : 1;
    const int columnSign = a >= 0 ? -1 : 1;
    auto visit = [&](int j, int k) {
        const int source = j * width + k;
        if (counts[source] >= 8) return;
        const double h = field[source];
        const double v = h * u;
        if (!(v >= 1 || v <= -1)) return;
        int last = source;
        for (int i = 1; i <= std::abs(v); ++i) {
            const int y = j + rowSign * static_cast<int>(i * ca);
            const int x = k + columnSign * static_cast<int>(i * sa);
            if (y < 0 || y >= height || x < 0 || x >= width) break;
            const int cell = y * width + x;
            if (cell == last) continue;
            const double ray = (1 - i / v) * h;
            if (v > 0 ? field[cell] <= ray : field[cell] >= ray) {
                ++counts[cell];
                last = cell;
            }
        }
    };
    const int rowFirst = rowSign < 0 ? height - 1 : 0, rowEnd = rowSign < 0 ? 0 : height;
    const int columnFirst = columnSign < 0 ? width - 1 : 0, columnEnd = columnSign < 0 ? 0 : width;
    for (int j = rowFirst; j != rowEnd; j += rowSign < 0 ? -1 : 1) {
        for (int k = columnFirst; k != columnEnd; k += columnSign < 0 ? -1 : 1) visit(j, k);
    }
    return capped(counts);
}

std::vector<double> randomField(int width, int height, unsigned seed, double holes) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(0.0, 40.0), chance(0.0, 1.0);
    std::vector<double> field(static_cast<std::size_t>(width) * height);
    for (double& h : field) h = chance(random) < holes ? kNoData : value(random);
    return field;
}

TEST(Smoothing, KernelRadiusFollowsTheFrameWidth) {
    struct Case {
        double setting;
        int frameWidth;
        int radius;
    };
    for (const Case& c : {Case{8, 1280, 5}, Case{8, 1920, 8}, Case{0.74, 1280, 0}, Case{0.75, 1280, 1},
                          Case{0, 1280, 0}, Case{-3, 1280, 0}, Case{kNaN, 1280, 0}, Case{1e300, 1280, kMaxFrameSide}}) {
        EXPECT_EQ(filterRadius(filterWidthFor(c.setting, c.frameWidth)), c.radius) << c.setting << " " << c.frameWidth;
    }
    EXPECT_NEAR(filterWidthFor(8, 1280), 5.333333, 1e-6);
}

// Below a kernel radius of one, only the cells without data change: they take the top height. One kernel serves
// every case, so a kernel not rebuilt for a new width shows too.
TEST(Smoothing, SeparablePassesEqualTheDirectSumWithHoles) {
    GaussianKernel kernel;
    SmoothingBuffers buffers;
    struct Case {
        int width, height;
        double s;
        double holes;
        int workers;
    };
    for (const Case& c : {Case{37, 23, 5.33, 0.1, 2}, Case{64, 40, 8.0, 0.3, 3}, Case{9, 6, 20.0, 0.2, 1},
                          Case{50, 1, 3.0, 0.05, 2}, Case{1, 30, 2.6, 0.0, 2}, Case{12, 12, 2.0, 0.95, 2},
                          Case{7, 5, 1e6, 0.2, 2}, Case{20, 10, filterWidthFor(0.74, 1280), 0.25, 2}}) {
        WorkerPool pool(c.workers);
        std::vector<double> field = randomField(c.width, c.height, 7u * c.width + c.height, c.holes);
        const double top = 123.0;
        const std::vector<double> expected = directSmoothing(field, c.width, c.height, c.s, top);
        smoothHeightField(pool, field, c.width, c.height, c.s, kernel, buffers, top);
        for (std::size_t i = 0; i < field.size(); ++i) {
            ASSERT_NEAR(field[i], expected[i], 1e-11 * std::max(1.0, std::abs(expected[i])))
                << c.width << "x" << c.height << " s " << c.s << " cell " << i;
        }
    }
}

TEST(HeightField, TransformsClampAndCap) {
    struct Case {
        bool logIter, sqrtIter;
        double g;
        double expected;
    };
    // M = 100, Mx = 50.
    for (const Case& c : {Case{false, false, 130, 30}, Case{false, false, 90, 0}, Case{false, false, 400, 50},
                          Case{true, false, 130, std::log(31.0)}, Case{false, true, 130, std::sqrt(31.0)},
                          Case{true, true, 130, std::sqrt(std::log(32.0))},
                          Case{true, true, 1e9, std::sqrt(std::log(52.0))}}) {
        HeightTransform transform{100, 50, c.sqrtIter, c.logIter, false};
        EXPECT_DOUBLE_EQ(transform.height(c.g), c.expected) << c.logIter << c.sqrtIter << " " << c.g;
        EXPECT_DOUBLE_EQ(transform.maxHeight(), transform.height(150)) << c.logIter << c.sqrtIter;
        HeightTransform soft = transform;
        soft.asymptotic = true;
        EXPECT_NEAR(soft.height(c.g), std::atan(c.expected / 50) * 0.63661977 * 50, 1e-12);
        EXPECT_LT(soft.height(c.g), 50.0);
    }
}

/// Levels whose cells hold their level number plus one, so the chosen level shows in the height.
struct Levels {
    int width, height;
    std::array<std::vector<double>, 4> maps;
    Levels(int w, int h) : width(w), height(h) {
        for (int level = 0; level < 4; ++level) maps[level].assign(static_cast<std::size_t>(w) * h, level + 1.0);
    }
    HeightFieldSource source(int frameWidth, int frameHeight, double t) const {
        HeightFieldSource s;
        for (int level = 0; level < 4; ++level) s.levels[level] = maps[level].data();
        s.width = width;
        s.height = height;
        s.t = t;
        s.frameWidth = frameWidth;
        s.frameHeight = frameHeight;
        return s;
    }
};

TEST(HeightField, DeepestCoveringLevelAndItsBlockMinimum) {
    WorkerPool pool(2);
    const HeightTransform identity{0, 1e9, false, false, false};
    std::vector<double> field;

    // One map cell per frame pixel at level 0: level 0 alone gives the map itself.
    Levels levels(16, 8);
    for (int i = 0; i < 16 * 8; ++i) levels.maps[0][i] = 1 + i;
    HeightFieldSource source = levels.source(16, 8, 1.0);
    source.levelZeroOnly = true;
    buildHeightField(pool, source, identity, field);
    for (int i = 0; i < 16 * 8; ++i) EXPECT_EQ(field[i], 1 + i);

    // All four levels: the centre comes from level 3, the corners from level 0, the ring between from 1 and 2.
    Levels nested(64, 32);
    buildHeightField(pool, nested.source(64, 32, 1.0), identity, field);
    EXPECT_EQ(field[16 * 64 + 32], 4);
    EXPECT_EQ(field[0], 1);
    EXPECT_EQ(field[31 * 64 + 63], 1);
    EXPECT_EQ(field[16 * 64 + 20], 2);  // 12 columns left of the centre: inside level 1, not 2
    EXPECT_EQ(field[16 * 64 + 26], 3);  // 6 left: inside level 2, not 3

    // A level 3 block of the centre pixel spans 8 x 8 cells from the mapped cell: its smallest non-zero value
    // wins, zeros are skipped, and a block of zeros has no data.
    Levels block(64, 32);
    std::vector<double>& deepest = block.maps[3];
    deepest[(16 + 3) * 64 + 32 + 7] = 0.5;
    deepest[16 * 64 + 32] = 0;
    deepest[(16 + 8) * 64 + 32] = 0.25;  // the next block
    buildHeightField(pool, block.source(64, 32, 1.0), identity, field);
    EXPECT_EQ(field[16 * 64 + 32], 0.5);
    std::fill(deepest.begin(), deepest.end(), 0.0);
    buildHeightField(pool, block.source(64, 32, 1.0), identity, field);
    EXPECT_EQ(field[16 * 64 + 32], kNoData);
    EXPECT_EQ(field[0], 1);
}

/// Rolling ground with a flat plateau at `top` (like the inside of the set) and a few holes in it.
std::vector<double> landscape(int width, int height, double top) {
    std::vector<double> field(static_cast<std::size_t>(width) * height);
    for (int j = 0; j < height; ++j) {
        for (int k = 0; k < width; ++k) {
            const double ground = 2 + std::sin(0.07 * k) * std::cos(0.11 * j) + 0.5 * std::sin(0.9 * k + 0.4 * j);
            const bool plateau = (k - width / 2) * (k - width / 2) + 4 * (j - height / 3) * (j - height / 3) <
                                 width * width / 9 && (j * 7 + k * 3) % 41 != 0;
            field[j * width + k] = plateau ? top : ground;
        }
    }
    return field;
}

TEST(Shadows, WalkMatchesTheVisitingTableInEveryQuadrant) {
    std::vector<std::int32_t> counts, inside;
    ShadowBuffers scratch;
    // Heights up to 5 (walks of up to 15 steps at scale 3) in every quadrant and on its edges; then heights without
    // a number, infinite, negative or tiny, and fields one cell wide or high.
    const double kSpecial[] = {kNaN, kInf, -kInf, -3.0, 1e-300, 0.0};
    struct Field {
        int width, height, workers;
        bool odd;
        std::vector<double> azimuths, scales;
    };
    const Field fields[] = {
        {31, 19, 2, false, {0.0, 0.3, kPi / 4, kPi / 2 - 1e-9, kPi / 2, 2.0, kPi, -0.3, -kPi / 2, -kPi / 2 + 1e-9, -2.5},
         {3.0, -3.0, 40.0}},
        {40, 30, 2, true, {-kPi / 4, 2.0, -2.5}, {0.5, -2.0}}, {1, 37, 2, true, {-kPi / 4, 2.0, -2.5}, {0.5, -2.0}},
        {37, 1, 2, true, {-kPi / 4, 2.0, -2.5}, {0.5, -2.0}}, {130, 3, 5, true, {-kPi / 4, 2.0, -2.5}, {0.5, -2.0}}};
    for (const Field& f : fields) {
        WorkerPool pool(f.workers);
        std::vector<double> field = randomField(f.width, f.height, f.odd ? 5u + f.width : 11, 0.0);
        for (std::size_t c = 0; c < field.size(); ++c) {
            if (!f.odd) field[c] /= 8;
            else if (c % 7 == 0) field[c] = kSpecial[(c / 7) % 6];
        }
        for (double a : f.azimuths) {
            for (double scale : f.scales) {
                castShadows(pool, field, f.width, f.height, a, scale, counts, scratch);
                ASSERT_EQ(capped(counts), directShadows(field, f.width, f.height, a, scale))
                    << f.width << "x" << f.height << " azimuth " << a << " scale " << scale;
            }
        }
        if (f.odd) continue;
        // Azimuths outside (-pi, pi] walk as their equivalent inside.
        castShadows(pool, field, f.width, f.height, 0.3 + 4 * kPi, 3.0, counts, scratch);
        castShadows(pool, field, f.width, f.height, 0.3, 3.0, inside, scratch);
        EXPECT_EQ(counts, inside);
        castShadows(pool, field, f.width, f.height, -kPi, 3.0, counts, scratch);
        castShadows(pool, field, f.width, f.height, kPi, 3.0, inside, scratch);
        EXPECT_EQ(counts, inside);
    }
    // Long walks over a plateau, passed tile by tile, on one worker and on bands of columns over several.
    const int width = 300, height = 150;
    const std::vector<double> field = landscape(width, height, 9.0);
    for (double a : {-kPi / 4, 0.4, 2.2, -1.9, kPi / 2}) {
        for (double scale : {30.0, -30.0}) {
            const std::vector<std::int32_t> expected = directShadows(field, width, height, a, scale);
            const auto saturated = std::count_if(expected.begin(), expected.end(), [](int c) { return c >= 8; });
            const auto partial = std::count_if(expected.begin(), expected.end(), [](int c) { return c > 0 && c < 8; });
            ASSERT_GT(saturated, 100) << a;  // the walks do reach and saturate cells
            ASSERT_GT(partial, 100) << a;
            for (int workers : {1, 3}) {
                WorkerPool pool(workers);
                castShadows(pool, field, width, height, a, scale, counts, scratch);
                ASSERT_EQ(capped(counts), expected) << "azimuth " << a << " scale " << scale << " workers " << workers;
            }
        }
    }
}

/// A 2D frame whose pixel (row j, column k) is (j, k, 200).
Raster numberedFrame(int width, int height) {
    Raster frame(width, height);
    for (int j = 0; j < height; ++j) {
        for (int k = 0; k < width; ++k) {
            std::uint8_t* p = frame.storedRow(j) + 3 * k;
            p[0] = static_cast<std::uint8_t>(j);
            p[1] = static_cast<std::uint8_t>(k);
            p[2] = 200;
        }
    }
    return frame;
}

TEST(Projection, FlatGroundDrawsEachRowOnePixelBelowThePrevious) {
    // base = (FH/2 - j) sin + F3H/2 - lift: with sin 1 and no lift, row j of a flat field lands on screen row
    // 4 - j + 4 and paints the one row above it, 9 - j. Rows 0 (the seed) and 1 (painting row 8, above the
    // 8-row image) show nothing.
    const int width = 5, height = 8;
    const Raster frame = numberedFrame(width, height);
    std::vector<double> field(width * height, 0.0);
    ProjectionView view{1.0, 1.0, 0.0};
    for (int workers : {1, 3}) {
        WorkerPool pool(workers);
        Raster image(width, 8);
        image.fill(9, 9, 9);  // earlier content never shows through
        std::vector<std::int32_t> horizon;
        const VisibleRows rows = projectOntoImage(pool, frame, field, nullptr, shadowFactors(1), view, horizon, image);
        EXPECT_EQ(rows.first, 2);
        EXPECT_EQ(rows.last, 7);
        for (int y = 0; y < 8; ++y) {
            for (int k = 0; k < width; ++k) {
                const std::uint8_t* p = image.storedRow(y) + 3 * k;
                const int j = 9 - y;
                if (j <= 7) {
                    EXPECT_EQ(p[0], j);
                    EXPECT_EQ(p[1], k);
                    EXPECT_EQ(p[2], 200);
                } else {
                    EXPECT_EQ(p[0] + p[1] + p[2], 0) << "row " << y;
                }
            }
        }
    }
}

TEST(Projection, HillsHideWhatLiesBehindThemAndShadowsDarken) {
    const int width = 2, height = 6;
    const Raster frame = numberedFrame(width, height);
    std::vector<double> field(width * height, 0.0);
    field[3 * width + 0] = 5;  // a hill in row 3 of column 0
    std::vector<std::int32_t> counts(width * height, 0);
    counts[4 * width + 1] = 1;
    counts[5 * width + 1] = 30;
    WorkerPool pool(2);
    Raster image(width, 20);
    std::vector<std::int32_t> horizon;
    const VisibleRows rows =
        projectOntoImage(pool, frame, field, &counts, shadowFactors(0.8), ProjectionView{1, 1, 0}, horizon, image);
    EXPECT_EQ(rows.first, 1);
    EXPECT_EQ(rows.last, 5);
    // Flat rows land on 13 - j. In column 0 the hill's row lands on 15: rising, it paints nothing; row 4 then
    // paints from its point up to the hilltop, over what rows 1 and 2 drew, and row 5 the row below.
    auto blue = [&](int y, int k) { return image.storedRow(y)[3 * k]; };
    for (int y = 10; y <= 15; ++y) EXPECT_EQ(blue(y, 0), 4) << y;
    EXPECT_EQ(blue(9, 0), 5);
    EXPECT_EQ(blue(16, 0), 0);
    EXPECT_EQ(blue(8, 0), 0);
    // Column 1: one hit darkens 200 to trunc(200 * 0.8^(1/8)) = 194, thirty hits count as eight: 160.
    EXPECT_EQ(image.storedRow(11)[3 * 1 + 2], 200);
    EXPECT_EQ(image.storedRow(10)[3 * 1 + 2], 194);
    EXPECT_EQ(image.storedRow(9)[3 * 1 + 2], 160);
    // A coefficient of zero or below, or none, darkens to black at the first hit.
    for (double coefficient : {0.0, -0.5, kNaN})
        for (double f : shadowFactors(coefficient)) EXPECT_EQ(f, 0.0) << coefficient;
}

TEST(Projection, NothingVisibleAndExtremeHeights) {
    const int width = 3, height = 5;
    const Raster frame = numberedFrame(width, height);
    WorkerPool pool(2);
    Raster image(width, 10);
    std::vector<std::int32_t> horizon;
    // Everything far above the image: no row passes, the rows stay FH and 0.
    std::vector<double> field(width * height, 1e6);
    const ProjectionView view{1, 1, 0};
    VisibleRows rows = projectOntoImage(pool, frame, field, nullptr, shadowFactors(1), view, horizon, image);
    EXPECT_EQ(rows.first, height);
    EXPECT_EQ(rows.last, 0);
    // Heights beyond the int32 range and without a number draw without overflowing or reading outside.
    for (double h : {1e300, -1e300, kInf, -kInf, kNaN}) {
        std::fill(field.begin(), field.end(), h);
        field[2 * width + 1] = 0;
        projectOntoImage(pool, frame, field, nullptr, shadowFactors(1), ProjectionView{1, 1, 0}, horizon, image);
    }
    // A negative scale turns the landscape upside down: a bump goes down instead of up.
    std::fill(field.begin(), field.end(), 0.0);
    field[4 * width + 1] = 3;
    projectOntoImage(pool, frame, field, nullptr, shadowFactors(1), ProjectionView{-1, 1, 0}, horizon, image);
    // Row 4 lands on 2 - 4 + 5 - 3 = 0 in column 1 (painting 1 up to row 3's point 4), on 3 elsewhere.
    EXPECT_EQ(image.storedRow(1)[3 * 1], 4);
    EXPECT_EQ(image.storedRow(3)[3 * 0], 0);
    EXPECT_EQ(image.storedRow(4)[3 * 0], 4);
}

}  // namespace
}  // namespace zoomreel
