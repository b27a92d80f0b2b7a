#include "keyframes/sample_maps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "keyframes/iteration_map.h"
#include "platform/atomic_file.h"
#include "platform/worker_pool.h"

namespace zoomreel {

namespace {

// Around the default centre (SampleOptions), spirals and filaments fill every level at the default limit of 2000
// iterations; a few levels below 2^-18 the zoom passes by a small copy of the set, and past about 40 levels
// double precision runs out.
//
// Width of the widest view (zoom 1) in the complex plane: around the default centre it takes in the main
// cardioid, the bulbs on it and the antenna out to -2.
constexpr double kWidestViewWidth = 3.0;

// A large escape radius keeps the smooth value c - f continuous across count bands to float precision: the
// first |z| past R lies in (R, R^2 + |c|], and with |c| < 3 in every view f = log2(ln|z| / ln R) rounds into
// [0, 1]. The count is at least 2 (z_1 = c never escapes), so c - f stays above 0.
constexpr double kEscapeRadius = 65536.0;
constexpr double kEscapeRadiusSquared = kEscapeRadius * kEscapeRadius;

constexpr int kMaxMapCount = 99999;
constexpr int kMaxSide = 16384;

// The converter colours with (1024 * divisor) / N iterations per table entry: 4 here, so one pass through the
// 256 entries spans 1024 iterations and each of the table's four cycles 256, about the spread of smooth values
// in the background of the deep views, which keeps their bands wide while the filaments cycle quickly.
constexpr int kColorCount = 256;
constexpr int kColorCycles = 4;
constexpr int kDivisor = 1;

// Longest zoom field the converter accepts: mantissa, "e", exponent and ".qvb".
constexpr std::size_t kMaxZoomFieldLength = 15;
constexpr int kMaxMantissaDigits = 6;

struct Escape {
    std::int32_t count;
    float fraction;
};

// Points of the main cardioid and of the period-2 bulb never escape; these two closed forms spare them the
// full iteration limit, which dominates the cost of the widest maps.
bool inCardioidOrPeriod2Bulb(double cr, double ci) {
    const double x = cr - 0.25;
    const double ci2 = ci * ci;
    const double q = x * x + ci2;
    if (q * (q + x) <= 0.25 * ci2) return true;
    const double b = cr + 1.0;
    return b * b + ci2 <= 0.0625;
}

// Escape time of z -> z^2 + c from z = 0: the count is the first n with |z_n| > R, or `limit` when that does not
// happen for n < limit. The fraction f = log2(ln|z_n| / ln R) makes count - f the continuous potential.
//
// The orbit is compared with a saved point whose index doubles each time (Brent): an exact repeat means the
// floating-point orbit is periodic and can never escape, so the early exit changes no result, while attracting
// cycles, common in the deep views, settle into such a repeat long before the limit.
Escape escapeTime(double cr, double ci, int limit) {
    const Escape interior{limit, 0.0f};
    if (inCardioidOrPeriod2Bulb(cr, ci)) return interior;
    double zr = 0.0;
    double zi = 0.0;
    double zr2 = 0.0;
    double zi2 = 0.0;
    double savedR = 0.0;
    double savedI = 0.0;
    std::int64_t nextSave = 1;  // wider than the count: it would overflow for limits past 2^30
    for (int n = 1; n < limit; ++n) {
        zi = 2.0 * zr * zi + ci;
        zr = zr2 - zi2 + cr;
        zr2 = zr * zr;
        zi2 = zi * zi;
        const double magnitude2 = zr2 + zi2;
        if (magnitude2 > kEscapeRadiusSquared) {
            const double ratio = 0.5 * std::log(magnitude2) / std::log(kEscapeRadius);
            return {n, static_cast<float>(std::log2(ratio))};
        }
        if (zr == savedR && zi == savedI) return interior;
        if (n == nextSave) {
            savedR = zr;
            savedI = zi;
            nextSave *= 2;
        }
    }
    return interior;
}

// Control points of one colour cycle (position in [0, 1), red, green, blue), interpolated smoothly and wrapping
// back to the first. None is pure black, which the converter would turn into grey.
struct ColorStop {
    double position;
    std::array<double, 3> rgb;
};
constexpr std::array<ColorStop, 5> kCycle{{
    {0.0, {0.0, 7.0, 100.0}},
    {0.16, {32.0, 107.0, 203.0}},
    {0.42, {237.0, 255.0, 255.0}},
    {0.6425, {255.0, 170.0, 0.0}},
    {0.8575, {10.0, 2.0, 20.0}},
}};

std::vector<std::uint8_t> makeColorTable() {
    std::vector<std::uint8_t> colors;
    colors.reserve(3 * kColorCount);
    const int entriesPerCycle = kColorCount / kColorCycles;
    for (int i = 0; i < kColorCount; ++i) {
        const double t = static_cast<double>(i % entriesPerCycle) / entriesPerCycle;
        std::size_t k = 0;
        while (k + 1 < kCycle.size() && kCycle[k + 1].position <= t) ++k;
        const ColorStop& from = kCycle[k];
        const ColorStop& to = kCycle[(k + 1) % kCycle.size()];
        const double end = k + 1 < kCycle.size() ? to.position : 1.0;
        const double u = (t - from.position) / (end - from.position);
        const double ease = u * u * (3.0 - 2.0 * u);  // zero slope at the stops: no visible kinks in the bands
        for (int c = 0; c < 3; ++c) {
            const double value = from.rgb[c] + (to.rgb[c] - from.rgb[c]) * ease;
            colors.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0))));
        }
    }
    return colors;
}

// The zoom 2^doublings as "<mantissa>e<exponent>", mantissa in [1, 10) with trailing zeros cut, short enough
// for the converter's zoom field. Six significant digits (fewer only past exponent 999) match, to a few parts in
// a million, the zooms the converter derives for the wider maps by halving the deepest map's mantissa in
// single precision.
std::string zoomField(int doublings) {
    const double decimal = doublings * std::log10(2.0);
    int exponent = static_cast<int>(std::floor(decimal));
    double mantissa = std::pow(10.0, decimal - exponent);
    const std::string exponentText = std::to_string(exponent);
    const std::size_t room = kMaxZoomFieldLength - 5 - exponentText.size();  // "e" and ".qvb"
    const int digits = std::clamp(static_cast<int>(room) - 1, 1, kMaxMantissaDigits);
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits - 1, mantissa);
    if (text[0] == '1' && text[1] == '0') {  // rounded up to 10
        ++exponent;
        mantissa /= 10.0;
        std::snprintf(text, sizeof text, "%.*f", digits - 1, mantissa);
    }
    std::string result = text;
    if (result.find('.') != std::string::npos) {
        result.erase(result.find_last_not_of('0') + 1);
        if (result.back() == '.') result.pop_back();
    }
    return result + "e" + std::to_string(exponent);
}

std::string mapFileName(int number, int mapCount) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%05d_", number);
    return prefix + zoomField(mapCount - number) + ".qvb";
}

Status checkOptions(const SampleOptions& options) {
    if (options.mapCount < 1 || options.mapCount > kMaxMapCount) {
        return Status::failure("The number of sample maps must be between 1 and " + std::to_string(kMaxMapCount) +
                               ", not " + std::to_string(options.mapCount) + ".");
    }
    if (options.width < 1 || options.width > kMaxSide || options.height < 1 || options.height > kMaxSide) {
        return Status::failure("The sample map size must be between 1x1 and " + std::to_string(kMaxSide) + "x" +
                               std::to_string(kMaxSide) + " pixels, not " + std::to_string(options.width) + "x" +
                               std::to_string(options.height) + ".");
    }
    if (options.maxIterations < 1) {
        return Status::failure("The iteration limit of the sample maps must be at least 1, not " +
                               std::to_string(options.maxIterations) + ".");
    }
    return Status::success();
}

// Fills `map` with the view of width kWidestViewWidth / 2^doublings around the centre. Pixel (x, y) samples
// the point at offsets (x - W/2, H/2 - y) pixels from the centre, y = 0 being the top row. Because the pixel
// size of the next wider view is exactly twice this one, pixel (x, y) there samples the very same point as
// pixel (2x - W/2, 2y - H/2) here, so the levels of the zoom agree where they overlap.
void computeView(int doublings, double centreReal, double centreImag, IterationMap& map, WorkerPool& pool) {
    const double pixelSize = std::ldexp(kWidestViewWidth, -doublings) / map.width;
    const double halfWidth = 0.5 * map.width;
    const double halfHeight = 0.5 * map.height;
    pool.run([&](int worker, int workerCount) {
        for (int y = worker; y < map.height; y += workerCount) {
            const double ci = centreImag + (halfHeight - y) * pixelSize;
            for (int x = 0; x < map.width; ++x) {
                const double cr = centreReal + (x - halfWidth) * pixelSize;
                const Escape escape = escapeTime(cr, ci, map.iterationLimit);
                const std::size_t index = static_cast<std::size_t>(x) * map.height + y;
                map.counts[index] = escape.count;
                map.fractions[index] = escape.fraction;
            }
        }
    });
}

}  // namespace

Status writeSampleMaps(const std::filesystem::path& folder, const SampleOptions& options, WorkerPool& pool,
                       const std::function<void(int done, int total)>& progress) {
    if (Status status = checkOptions(options); !status) return status;

    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return Status::failure("Cannot create the folder " + quotedPath(folder) + ": " + error.message());

    IterationMap map;
    map.width = options.width;
    map.height = options.height;
    const std::size_t pixels = static_cast<std::size_t>(options.width) * options.height;
    map.counts.resize(pixels);
    map.fractions.resize(pixels);
    map.divisor = kDivisor;
    map.colorCount = kColorCount;
    map.colors = makeColorTable();
    map.iterationLimit = options.maxIterations;

    for (int number = 1; number <= options.mapCount; ++number) {
        computeView(options.mapCount - number, options.centreReal, options.centreImag, map, pool);
        const std::filesystem::path path = folder / mapFileName(number, options.mapCount);
        if (Status status = writeIterationMap(path, map); !status) return status;  // its message names the file
        if (progress) progress(number, options.mapCount);
    }
    return Status::success();
}

}  // namespace zoomreel
