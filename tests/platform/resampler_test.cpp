#include "platform/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

namespace zoomreel {
namespace {

// Fills every byte, row padding included, so that a resampler reading padding as pixels gets garbage.
Raster randomRaster(int width, int height, unsigned seed) {
    Raster r(width, height);
    std::mt19937 rng(seed);
    std::generate_n(r.data(), r.sizeBytes(), [&] { return static_cast<std::uint8_t>(rng() & 0xff); });
    return r;
}

// Double-precision reference: destination pixel i covers source [i*s/d, (i+1)*s/d), indices clamped to the raster.
std::vector<std::pair<int, double>> taps(int origin, int length, int limit, int i, int outLength) {
    std::vector<std::pair<int, double>> result;
    const double lo = double(i) * length / outLength, hi = double(i + 1) * length / outLength;
    for (int j = static_cast<int>(std::floor(lo)); j < hi; ++j)
        result.push_back({std::clamp(origin + j, 0, limit - 1),
                          (std::min(hi, j + 1.0) - std::max(lo, double(j))) / (hi - lo)});
    return result;
}

void referenceStretch(const Raster& src, const PixelRect& from, Raster& dst, const PixelRect& to) {
    if (from.width <= 0 || from.height <= 0 || to.width <= 0 || to.height <= 0) return;
    for (int y = std::max(to.y, 0); y < std::min(to.y + to.height, dst.height()); ++y)
        for (int x = std::max(to.x, 0); x < std::min(to.x + to.width, dst.width()); ++x) {
            const auto rows = taps(from.y, from.height, src.height(), y - to.y, to.height);
            const auto columns = taps(from.x, from.width, src.width(), x - to.x, to.width);
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (const auto& [row, rw] : rows)
                    for (const auto& [column, cw] : columns) sum += rw * cw * src.rowFromTop(row)[3 * column + c];
                dst.rowFromTop(y)[3 * x + c] = static_cast<std::uint8_t>(std::lround(sum));
            }
        }
}

// Whole buffers, padding included: bytes outside the destination's footprint must stay as they were.
int maxByteDifference(const Raster& a, const Raster& b) {
    return std::transform_reduce(
        a.data(), a.data() + a.sizeBytes(), b.data(), 0, [](int p, int q) { return std::max(p, q); },
        [](int p, int q) { return std::abs(p - q); });
}

double mean(const Raster& r) {  // over all three channels
    double sum = 0;
    for (int y = 0; y < r.height(); ++y) sum += std::accumulate(r.rowFromTop(y), r.rowFromTop(y) + 3 * r.width(), 0.0);
    return sum / (3.0 * r.width() * r.height());
}

TEST(Resampler, UniformStaysUniformAndRandomMatchesReferenceKeepingTheMean) {
    // From width and height, to width and height, tolerance: 0 on integer ratios, where every weight is exact.
    const int cases[][5] = {{640, 360, 320, 180, 0}, {107, 61, 321, 183, 0}, {1920, 1080, 128, 72, 1},
                            {1200, 675, 1280, 720, 1}, {7, 5, 3, 2, 1}, {5, 3, 13, 7, 1}, {1000, 10, 10, 300, 1},
                            {331, 217, 1, 1, 1}};
    for (const auto& [fromW, fromH, toW, toH, tolerance] : cases) {
        SCOPED_TRACE(testing::Message() << fromW << "x" << fromH << " -> " << toW << "x" << toH);
        Raster uniform(fromW, fromH), out(toW, toH), expected(toW, toH);
        uniform.fill(201, 7, 128);
        expected.fill(201, 7, 128);
        stretchAreaAverage(uniform, out);
        EXPECT_EQ(maxByteDifference(out, expected), 0);

        const Raster src = randomRaster(fromW, fromH, 11);
        stretchAreaAverage(src, out);
        referenceStretch(src, {0, 0, fromW, fromH}, expected, {0, 0, toW, toH});
        EXPECT_LE(maxByteDifference(out, expected), tolerance);
        // Halves round up, lifting a halved picture's mean by 1/8; truncating would drop it by nearly 1/2.
        EXPECT_NEAR(mean(out), mean(src), 0.15 + 0.6 / std::sqrt(double(toW) * toH));
    }
}

// Partly or wholly outside either raster. The destination starts as noise, so a stray write shows up.
TEST(Resampler, RectanglesMatchReferenceAndLeaveTheRestAlone) {
    const Raster src = randomRaster(61, 43, 3);
    const PixelRect cases[][2] = {{{40, 5, 9, 6}, {11, 13, 31, 17}},   {{0, 0, 61, 43}, {-9, -5, 70, 41}},
                                  {{-10, -7, 80, 60}, {2, 2, 40, 25}}, {{100, -50, 10, 10}, {0, 0, 5, 5}},
                                  {{0, 0, 0, 43}, {0, 0, 50, 30}}};  // from, to
    for (const auto& [from, to] : cases) {
        Raster out = randomRaster(50, 30, 4), expected = out;
        stretchAreaAverage(src, from, out, to);
        referenceStretch(src, from, expected, to);
        EXPECT_LE(maxByteDifference(out, expected), 1) << from.x << "," << from.y << " -> " << to.x << "," << to.y;
    }
}

// The renderer stretches in bands on several threads: the bands must give exactly the whole stretch.
TEST(Resampler, ClippedBandsGiveTheWholeStretchExactly) {
    const Raster src = randomRaster(97, 55, 5);
    const PixelRect cases[][2] = {{{3, 2, 90, 50}, {0, 0, 64, 36}}, {{0, 0, 97, 55}, {10, 7, 23, 13}},
                                  {{20, 10, 30, 20}, {-4, 0, 70, 40}}};
    for (const auto& [from, to] : cases) {
        Raster whole(64, 36), banded(64, 36);
        stretchAreaAverage(src, from, whole, to);
        for (int top = 0; top < 36; top += 5) stretchAreaAverage(src, from, banded, to, {0, top, 64, 5});
        EXPECT_EQ(std::vector<std::uint8_t>(whole.data(), whole.data() + whole.sizeBytes()),
                  std::vector<std::uint8_t>(banded.data(), banded.data() + banded.sizeBytes()));
    }
}

// Independent of the reference: y counts from the top, while rows are stored bottom-up.
TEST(Resampler, UsesPictureCoordinates) {
    Raster src(4, 3), dst(6, 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) src.rowFromTop(y)[3 * x] = static_cast<std::uint8_t>(10 * y + x);
    stretchAreaAverage(src, {1, 0, 2, 1}, dst, {3, 1, 2, 1});  // top row, x 1..2, unscaled, to picture row 1
    EXPECT_TRUE(dst.storedRow(2)[9] == 1 && dst.storedRow(2)[12] == 2);  // picture row 1 is stored row 2
    stretchAreaAverage(src, {0, 1, 4, 2}, dst, {0, 3, 2, 1});  // bottom two rows, 2x2 -> 1
    EXPECT_TRUE(dst.storedRow(0)[0] == 16 && dst.storedRow(0)[3] == 18);  // 62 / 4 = 15.5 rounds up, 70 / 4
}

}  // namespace
}  // namespace zoomreel
