#include "platform/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace zoomreel {
namespace {

struct Size {
    int width;
    int height;
};

// Fills every byte, row padding included, so that a resampler reading padding as pixels gets garbage.
Raster randomRaster(Size size, unsigned seed) {
    Raster r(size.width, size.height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < r.sizeBytes(); ++i) r.data()[i] = static_cast<std::uint8_t>(byte(rng));
    return r;
}

std::uint8_t at(const Raster& r, int x, int y, int channel) { return r.rowFromTop(y)[3 * x + channel]; }

struct Tap {
    int index;
    double weight;
};

// Destination pixel i covers source [i*s/d, (i+1)*s/d); indices beyond the raster read its edge pixels.
std::vector<std::vector<Tap>> referenceAxis(int origin, int length, int limit, int outLength) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(outLength));
    for (int i = 0; i < outLength; ++i) {
        const double lo = double(i) * length / outLength;
        const double hi = double(i + 1) * length / outLength;
        for (int j = static_cast<int>(std::floor(lo)); j < hi; ++j) {
            const double overlap = std::min(hi, j + 1.0) - std::max(lo, double(j));
            if (overlap > 0) taps[i].push_back({std::clamp(origin + j, 0, limit - 1), overlap / (hi - lo)});
        }
    }
    return taps;
}

void referenceStretch(const Raster& src, const PixelRect& from, Raster& dst, const PixelRect& to) {
    if (from.width <= 0 || from.height <= 0 || to.width <= 0 || to.height <= 0) return;
    const auto columns = referenceAxis(from.x, from.width, src.width(), to.width);
    const auto rows = referenceAxis(from.y, from.height, src.height(), to.height);
    for (int i = 0; i < to.height; ++i) {
        const int y = to.y + i;
        if (y < 0 || y >= dst.height()) continue;
        for (int j = 0; j < to.width; ++j) {
            const int x = to.x + j;
            if (x < 0 || x >= dst.width()) continue;
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (const Tap& row : rows[i])
                    for (const Tap& column : columns[j])
                        sum += row.weight * column.weight * at(src, column.index, row.index, c);
                dst.rowFromTop(y)[3 * x + c] = static_cast<std::uint8_t>(std::lround(sum));
            }
        }
    }
}

// Compares whole buffers, row padding included: bytes outside the destination's footprint must stay as they were.
int maxByteDifference(const Raster& a, const Raster& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.sizeBytes(); ++i) worst = std::max(worst, std::abs(a.data()[i] - b.data()[i]));
    return worst;
}

struct UniformCase {
    Size from, to;
};
class UniformSource : public ::testing::TestWithParam<UniformCase> {};

TEST_P(UniformSource, StaysUniform) {  // catches weights that do not sum to one and edge pixels read twice or never
    const UniformCase c = GetParam();
    Raster src(c.from.width, c.from.height);
    src.fill(201, 7, 128);
    Raster dst(c.to.width, c.to.height);
    stretchAreaAverage(src, dst);
    for (int y = 0; y < dst.height(); ++y)
        for (int x = 0; x < dst.width(); ++x)
            ASSERT_TRUE(at(dst, x, y, 0) == 201 && at(dst, x, y, 1) == 7 && at(dst, x, y, 2) == 128)
                << c.from.width << "x" << c.from.height << " -> " << c.to.width << "x" << c.to.height << " at " << x
                << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Resampler, UniformSource,
                         ::testing::Values(UniformCase{{1920, 1080}, {160, 90}}, UniformCase{{641, 361}, {100, 57}},
                                           UniformCase{{7, 5}, {3, 2}}, UniformCase{{3, 2}, {7, 5}},
                                           UniformCase{{1200, 675}, {1280, 720}}, UniformCase{{1, 1}, {13, 9}},
                                           UniformCase{{97, 1}, {1, 1}}, UniformCase{{1000, 3}, {3, 1000}},
                                           UniformCase{{5, 5}, {5, 5}}));

struct ReferenceCase {
    const char* name;
    Size from, to;
    int tolerance;  // 0 where every weight is exact in fixed point
};
class MatchesReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(MatchesReference, WholeImage) {
    const ReferenceCase c = GetParam();
    const Raster src = randomRaster(c.from, 11);
    Raster ours(c.to.width, c.to.height);
    Raster expected(c.to.width, c.to.height);
    stretchAreaAverage(src, ours);
    referenceStretch(src, {0, 0, c.from.width, c.from.height}, expected, {0, 0, c.to.width, c.to.height});
    EXPECT_LE(maxByteDifference(ours, expected), c.tolerance) << c.name;

    // Area averaging moves no light: the mean stays put, up to rounding. Halves round up, which lifts a halved
    // picture's mean by 1/8; truncating instead would drop it by nearly 1/2.
    for (int channel = 0; channel < 3; ++channel) {
        auto mean = [channel](const Raster& r) {
            double sum = 0;
            for (int y = 0; y < r.height(); ++y)
                for (int x = 0; x < r.width(); ++x) sum += at(r, x, y, channel);
            return sum / (double(r.width()) * r.height());
        };
        EXPECT_NEAR(mean(ours), mean(src), 0.15 + 0.6 / std::sqrt(double(c.to.width) * c.to.height)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Resampler, MatchesReference,
    ::testing::Values(ReferenceCase{"halve", {640, 360}, {320, 180}, 0},
                      ReferenceCase{"quarter", {644, 364}, {161, 91}, 0},
                      ReferenceCase{"double", {161, 91}, {322, 182}, 0},
                      ReferenceCase{"triple", {107, 61}, {321, 183}, 0},
                      ReferenceCase{"thumbnail", {1920, 1080}, {128, 72}, 1},
                      ReferenceCase{"slight enlarge", {1200, 675}, {1280, 720}, 1},
                      ReferenceCase{"odd shrink", {7, 5}, {3, 2}, 1}, ReferenceCase{"odd enlarge", {3, 2}, {7, 5}, 1},
                      ReferenceCase{"padded rows", {5, 4}, {3, 2}, 1},
                      ReferenceCase{"padded enlarge", {5, 3}, {13, 7}, 1},
                      ReferenceCase{"squash", {1000, 10}, {10, 300}, 1},
                      ReferenceCase{"to one pixel", {331, 217}, {1, 1}, 1}));

struct RectCase {
    const char* name;
    PixelRect from;
    PixelRect to;
};
class Rectangles : public ::testing::TestWithParam<RectCase> {};

// The destination starts with noise, so a write outside the destination's footprint shows up as a difference.
TEST_P(Rectangles, MatchReferenceAndLeaveTheRestAlone) {
    const RectCase c = GetParam();
    const Raster src = randomRaster({61, 43}, 3);
    Raster ours = randomRaster({50, 30}, 4);
    Raster expected = ours;
    stretchAreaAverage(src, c.from, ours, c.to);
    referenceStretch(src, c.from, expected, c.to);
    EXPECT_LE(maxByteDifference(ours, expected), 1) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Resampler, Rectangles,
    ::testing::Values(RectCase{"offset source", {10, 20, 30, 15}, {0, 0, 50, 30}},
                      RectCase{"offset destination", {0, 0, 61, 43}, {7, 4, 20, 11}},
                      RectCase{"both offset, enlarge", {40, 5, 9, 6}, {11, 13, 31, 17}},
                      RectCase{"destination past every edge", {0, 0, 61, 43}, {-9, -5, 70, 41}},
                      RectCase{"destination past bottom right", {3, 3, 20, 20}, {35, 20, 40, 40}},
                      RectCase{"source past every edge", {-10, -7, 80, 60}, {2, 2, 40, 25}},
                      RectCase{"source far outside", {100, -50, 10, 10}, {0, 0, 5, 5}},
                      RectCase{"destination outside", {0, 0, 61, 43}, {50, 0, 10, 10}},
                      RectCase{"empty source", {0, 0, 0, 43}, {0, 0, 50, 30}},
                      RectCase{"negative destination", {0, 0, 61, 43}, {10, 10, -5, 5}}));

// Independent of the reference: y counts from the top, while rows are stored bottom-up.
TEST(Resampler, UsesPictureCoordinates) {
    Raster src(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) src.rowFromTop(y)[3 * x] = static_cast<std::uint8_t>(10 * y + x);
    Raster dst(6, 4);
    dst.fill(99, 99, 99);

    stretchAreaAverage(src, {1, 0, 2, 1}, dst, {3, 1, 2, 1});  // top row, x 1..2, copied unscaled
    EXPECT_EQ(dst.storedRow(2)[9], 1);                          // picture row 1 is stored row 4 - 1 - 1
    EXPECT_EQ(dst.storedRow(2)[12], 2);
    EXPECT_EQ(dst.storedRow(2)[6], 99);
    EXPECT_EQ(dst.storedRow(3)[9], 99);

    stretchAreaAverage(src, {0, 1, 4, 2}, dst, {0, 3, 2, 1});  // bottom two rows halved across, merged down
    EXPECT_EQ(dst.storedRow(0)[0], 16);                         // (10 + 11 + 20 + 21) / 4 = 15.5, rounded up
    EXPECT_EQ(dst.storedRow(0)[3], 18);                         // (12 + 13 + 22 + 23) / 4 = 17.5
}

// Coordinates near the limits of int must neither overflow nor take forever: edge pixels are read, once weighted.
TEST(Resampler, ExtremeRectanglesStayInBounds) {
    Raster src(9, 7);
    src.fill(40, 50, 60);
    for (const PixelRect from : {PixelRect{INT_MIN / 2, -5, INT_MAX, 20}, PixelRect{INT_MAX - 3, INT_MAX - 3, 3, 3},
                                 PixelRect{-3, 2, 9, INT_MAX}}) {
        Raster dst(8, 8);
        stretchAreaAverage(src, from, dst, {-INT_MAX / 2, 0, INT_MAX, 8});
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) ASSERT_EQ(at(dst, x, y, 2), 60) << from.x << "," << from.y << " at " << x;
    }
}

}  // namespace
}  // namespace zoomreel
