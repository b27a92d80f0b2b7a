#include "render/level_coloring.h"

#include "render/row_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zoomreel {
namespace {

#if defined(__SSE2__)
struct Sse2Lanes {
    using V = __m128d;
    static constexpr int kLanes = 2;
    static V broadcast(double x) { return _mm_set1_pd(x); }
    static V load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V sqrt(V v) { return _mm_sqrt_pd(v); }
};
#endif

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = kPi / 2;
// Beyond this k^2 q the row formula's 1 + k^2 q would lose the slope; such pixels take the general one.
constexpr double kSteepLimit = 1e300;

/// The palette as the colour rule cycles through it: u entries, and i mod u for any int32 i, into [0, u) also
/// for negative i (a plain remainder would index before the palette). The remainder is computed by a multiply
/// with a precomputed reciprocal, exact for every 32-bit dividend, because a division per pixel is slow.
__extension__ typedef unsigned __int128 Wide;

struct PaletteCycle {
    const std::uint8_t* colors;
    int u;
    std::uint64_t reciprocal;

    PaletteCycle(const std::uint8_t* palette, int length)
        : colors(palette), u(length), reciprocal(~std::uint64_t{0} / static_cast<std::uint32_t>(length) + 1) {}

    std::uint32_t remainder(std::uint32_t a) const {
        const std::uint64_t low = reciprocal * a;
        return static_cast<std::uint32_t>((static_cast<Wide>(low) * static_cast<std::uint32_t>(u)) >> 64);
    }
    int wrap(std::int32_t i) const {
        if (i >= 0) return i < u ? i : static_cast<int>(remainder(static_cast<std::uint32_t>(i)));
        const std::uint32_t r = remainder(static_cast<std::uint32_t>(-static_cast<std::int64_t>(i)));
        return r == 0 ? 0 : u - static_cast<int>(r);
    }
};

/// Truncation towards zero as the colour arithmetic asks, into 0..255 (NaN gives 0). Written so that it
/// compiles to a minimum, a maximum and one conversion, without branches.
inline std::uint8_t truncateToByte(double value) {
#if defined(__SSE2__)
    // max(value, 0) gives 0 for NaN, as the second operand wins when the comparison fails.
    const __m128d low = _mm_max_sd(_mm_set_sd(value), _mm_setzero_pd());
    return static_cast<std::uint8_t>(_mm_cvttsd_si32(_mm_min_sd(low, _mm_set_sd(255.0))));
#else
    const double low = value > 0.0 ? value : 0.0;
    const double clamped = low < 255.0 ? low : 255.0;
    return static_cast<std::uint8_t>(static_cast<int>(clamped));
#endif
}

/// Pixel = palette entries i0 and its successor blended by the fraction f, channel by channel.
inline void blendEntries(const PaletteCycle& palette, int i0, double f, std::uint8_t* pixel) {
    const int i1 = i0 + 1 == palette.u ? 0 : i0 + 1;
    const std::uint8_t* p0 = palette.colors + 3 * i0;
    const std::uint8_t* p1 = palette.colors + 3 * i1;
    for (int b = 0; b < 3; ++b) pixel[b] = truncateToByte(p1[b] * f + p0[b] * (1 - f));
}

/// Colour of palette position y (a real index): i = trunc(y), blended with the next entry by y - i.
inline void blendAt(const PaletteCycle& palette, double y, std::uint8_t* pixel) {
    if (y > -2147483649.0 && y < 2147483648.0) {
        const auto i = static_cast<std::int32_t>(y);
        blendEntries(palette, palette.wrap(i), y - i, pixel);
    } else if (std::isfinite(y)) {
        // Beyond the int32 range: the same index taken modulo u exactly, in double.
        const double whole = std::trunc(y);
        double r = std::fmod(whole, static_cast<double>(palette.u));
        if (r < 0) r += palette.u;
        blendEntries(palette, static_cast<int>(r), y - whole, pixel);
    } else {
        blendEntries(palette, 0, 0.0, pixel);
    }
}

/// sin(atan(x)) without the transcendental functions.
inline double sinOfAtan(double x) {
    if (std::fabs(x) > 1e8) return x > 0 ? 1.0 : -1.0;  // 1 - x / sqrt(1 + x^2) is below half an ulp there
    return x / std::sqrt(1 + x * x);
}

struct Highlight {
    bool on = false;
    double elevation = 0.0;
    double size = 0.0;
    double ratio = 0.0;
};

/// The relief's per-level constants.
struct ReliefStep {
    const ReliefSettings& s;
    double f;
    double v;
    int u;
    bool invert;
    double cosA;
    double sinA;
    double azimuth;
    bool sqrtOnce;
    bool sqrtTwice;
    double sqrtF;
    double sqrtSqrtF;
    Highlight highlights[2];
    // The slope angle a = atan(power * g * f) can only fire a highlight for power * g * f inside this window;
    // outside it the angle is not needed at all.
    double atanLow = std::numeric_limits<double>::infinity();
    double atanHigh = -std::numeric_limits<double>::infinity();
    // The row path of the plain lighting (no distance estimator, no square roots of the slope). With k = power *
    // f and q = dx^2 + dy^2, the blend weight B * sin a is ratio * k * n / sqrt(1 + k^2 q), n being
    // dy cos A + dx sin A (cos A |dx| when dy = 0): no square root of q and no arc tangent.
    bool rowPath = false;
    double k = 0.0;
    double kSquared = 0.0;
    double ratioK = 0.0;
    double qLow = std::numeric_limits<double>::infinity();  // q window in which a highlight may fire
    double qHigh = -std::numeric_limits<double>::infinity();
    // A highlight needs |A - d| * size < pi/2, so the slope must face the light within pi / (2 size): its facing
    // n / sqrt(q) = cos(A - d) must exceed the cosine of that angle. Checked on n^2 against q, without a root.
    double facingSquaredMin = 0.0;

    ReliefStep(const RenderJob& job)
        : s(*job.relief), f(job.levelScale), v(job.colorStep), u(job.paletteLength), invert(job.invertRelief),
          cosA(job.angles.cosAzimuth), sinA(job.angles.sinAzimuth), azimuth(job.angles.lightAzimuth),
          sqrtOnce(s.deSqrt != 0 || s.deSqrtSqrt != 0), sqrtTwice(s.deSqrtSqrt != 0), sqrtF(std::sqrt(f)),
          sqrtSqrtF(std::sqrt(std::sqrt(f))) {
        highlights[0] = {s.phong != 0, job.angles.lightElevation1, s.phongSize, s.phongRatio};
        highlights[1] = {s.phong2 != 0, job.angles.lightElevation2, s.phong2Size, s.phong2Ratio};
        for (const Highlight& h : highlights) {
            if (!h.on) continue;
            // |(2a - pi + E) * size| < pi/2  <=>  a within (pi - E)/2 -+ pi / (4 |size|).
            double low = -kHalfPi;
            double high = kHalfPi;
            if (h.size != 0 && std::isfinite(h.size)) {
                const double centre = (kPi - h.elevation) / 2;
                const double half = kPi / (4 * std::fabs(h.size));
                low = std::max(low, centre - half);
                high = std::min(high, centre + half);
            }
            if (!(low < high)) continue;
            atanLow = std::min(atanLow, tanBound(low, -1));
            atanHigh = std::max(atanHigh, tanBound(high, +1));
        }
        double widest = 0.0;
        for (const Highlight& h : highlights) {
            if (h.on) widest = std::max(widest, h.size == 0 ? kPi : kHalfPi / std::fabs(h.size));
        }
        if (widest < kHalfPi) {
            const double c = std::cos(widest);
            facingSquaredMin = c * c * (1 - 1e-9);
        }
        rowPath = s.distanceEstimator == 0 && !sqrtOnce;
        k = s.power * f;
        kSquared = k * k;
        ratioK = s.ratio * k;
        if (atanLow <= atanHigh) {
            // steepness = k sqrt(q) within [atanLow, atanHigh], as a window on q.
            if (k == 0 || !std::isfinite(k)) {
                qLow = 0;
                qHigh = std::numeric_limits<double>::infinity();
            } else {
                const double a = k > 0 ? atanLow / k : atanHigh / k;   // bounds on sqrt(q)
                const double b = k > 0 ? atanHigh / k : atanLow / k;
                if (b >= 0) {
                    const double lowRoot = std::max(a, 0.0);
                    qLow = lowRoot * lowRoot * (1 - 1e-9);
                    qHigh = b * b * (1 + 1e-9);
                }
            }
        }
    }

    // tan of a window edge, widened a little outwards so that rounding can only let more pixels through to the
    // exact test, never fewer.
    static double tanBound(double angle, int direction) {
        if (angle <= -kHalfPi + 1e-9) return -std::numeric_limits<double>::infinity();
        if (angle >= kHalfPi - 1e-9) return std::numeric_limits<double>::infinity();
        const double t = std::tan(angle);
        return t + direction * (std::fabs(t) * 1e-9 + 1e-12);
    }

    void apply(const double* row, const double* above, const double* below, int width, int c, std::uint8_t* pixel,
               const PaletteCycle* palette) const {
        const double x = row[c];
        double dx;
        double dy;
        slopeAt(row, above, below, width, c, dx, dy);
        const double length = std::sqrt(dx * dx + dy * dy);
        double g = length;
        if (sqrtOnce) g = std::sqrt(g);
        if (sqrtTwice) g = std::sqrt(g);

        if (s.distanceEstimator != 0 && x != 0) {
            double index = s.power * g * f / v;
            if (sqrtOnce) index = index / sqrtF;
            if (sqrtTwice) index = index / sqrtSqrtF;
            if (index >= u - 1) index = s.deWrapToZero != 0 ? 0.0 : u - 1;
            if (!(index >= 0)) index = 0.0;  // negative power, or NaN
            const auto i = static_cast<std::int32_t>(index);
            blendEntries(*palette, palette->wrap(i), index - i, pixel);
            return;
        }

        const double steepness = s.power * g * f;
        const double sinSlope = sinOfAtan(steepness);
        // The slope direction d is atan(dx / dy), plus pi when dy < 0, and 0 when dy = 0; its cosine and sine are
        // then dy / length and dx / length, taken here on differences scaled to at most 1 so that neither an
        // overflow nor an underflow of dx^2 + dy^2 can lose the direction.
        double facing = cosA;
        if (dy != 0) {
            const double largest = std::max(std::fabs(dx), std::fabs(dy));
            const double sx = dx / largest;
            const double sy = dy / largest;
            facing = (sy * cosA + sx * sinA) / std::sqrt(sx * sx + sy * sy);
        }
        const double light = facing * s.ratio;
        if (light > 0) {
            double weight = light * sinSlope;
            if (steepness >= atanLow && steepness <= atanHigh) weight = withHighlights(dx, dy, steepness, weight);
            for (int b = 0; b < 3; ++b) pixel[b] = truncateToByte(pixel[b] * (1 - weight) + 255 * weight);
        } else {
            const double factor = 1 + sinSlope * light;
            for (int b = 0; b < 3; ++b) pixel[b] = truncateToByte(pixel[b] * factor);
        }
    }

    /// Columns [first, end) of one row through the plain lighting. Every pixel byte p becomes p * scale + lift:
    /// towards white (scale 1 - G, lift 255 G) on slopes facing the light, darker (scale 1 + B sin a, lift 0)
    /// elsewhere. Pixels that may carry a highlight, or too steep for the formula, are marked and done alone.
    void shadeRow(const double* row, const double* above, const double* below, int width, int first, int end,
                  std::uint8_t* out, double* scales, double* lifts, std::uint8_t* alone) const {
        int c = first;
        if (c == 0) {
            lightingAt(row, above, below, width, 0, scales, lifts, alone);
            c = 1;
        }
        const double* vertical = above != nullptr ? above : below;
        if (vertical != nullptr) {
            const double sign = invert ? -1.0 : 1.0;
            LightingConstants constants{sign, above != nullptr ? sign : -sign, cosA, sinA, kSquared, ratioK, s.ratio,
                                        kSteepLimit, qLow, qHigh, facingSquaredMin};
            if (haveAvx2Kernels()) c = lightingRowAvx2(constants, row, vertical, c, end, scales, lifts, alone);
#if defined(__SSE2__)
            c = lightingRowLanes<Sse2Lanes>(constants, row, vertical, c, end, scales, lifts, alone);
#endif
        }
        for (; c < end; ++c) lightingAt(row, above, below, width, c, scales, lifts, alone);

        c = first;
#if defined(__SSE2__)
        // Two pixels (six bytes) at a time, as three pairs of doubles: (b0 g0) (r0 b1) (g1 r1).
        const __m128d zero = _mm_setzero_pd();
        const __m128d top = _mm_set1_pd(255.0);
        const __m128i none = _mm_setzero_si128();
        auto scaled = [&](__m128i bytes, __m128d scale, __m128d lift) {
            const __m128d value = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(bytes), scale), lift);
            return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(value, zero), top));
        };
        for (; c + 2 <= end; c += 2) {
            std::uint8_t* pixel = out + 3 * c;
            std::uint32_t head;
            std::uint16_t tail;
            std::memcpy(&head, pixel, 4);
            std::memcpy(&tail, pixel + 4, 2);
            const __m128i bytes = _mm_unpacklo_epi16(
                _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(head)), none), none);  // b0 g0 r0 b1
            const __m128i rest = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(tail), none), none);  // g1 r1
            const __m128d s0 = _mm_set1_pd(scales[c]);
            const __m128d s1 = _mm_set1_pd(scales[c + 1]);
            const __m128d l0 = _mm_set1_pd(lifts[c]);
            const __m128d l1 = _mm_set1_pd(lifts[c + 1]);
            const __m128i a = scaled(bytes, s0, l0);
            const __m128i b = scaled(_mm_srli_si128(bytes, 8), _mm_move_sd(s1, s0), _mm_move_sd(l1, l0));
            const __m128i d = scaled(rest, s1, l1);
            // Each result holds two int32 in its low half: gather the six into bytes.
            const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi64(a, b), d);
            const __m128i packed = _mm_packus_epi16(words, none);
            head = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
            tail = static_cast<std::uint16_t>(_mm_extract_epi16(packed, 2));
            if (alone[c] == 0) {
                pixel[0] = static_cast<std::uint8_t>(head);
                pixel[1] = static_cast<std::uint8_t>(head >> 8);
                pixel[2] = static_cast<std::uint8_t>(head >> 16);
            } else {
                shadePixel(row, above, below, width, c, pixel);
            }
            if (alone[c + 1] == 0) {
                pixel[3] = static_cast<std::uint8_t>(head >> 24);
                std::memcpy(pixel + 4, &tail, 2);
            } else {
                shadePixel(row, above, below, width, c + 1, pixel + 3);
            }
        }
#endif
        for (; c < end; ++c) {
            std::uint8_t* pixel = out + 3 * c;
            if (alone[c] != 0) {
                shadePixel(row, above, below, width, c, pixel);
                continue;
            }
            const double scale = scales[c];
            const double lift = lifts[c];
            for (int b = 0; b < 3; ++b) pixel[b] = truncateToByte(pixel[b] * scale + lift);
        }
    }

    /// The scalar twin of the row loop above, for the first column, the row ends and rows without neighbours.
    void lightingAt(const double* row, const double* above, const double* below, int width, int c, double* scales,
                    double* lifts, std::uint8_t* alone) const {
        double dx;
        double dy;
        slopeAt(row, above, below, width, c, dx, dy);
        const double q = dx * dx + dy * dy;
        const double n = dy == 0 ? cosA * std::fabs(dx) : dy * cosA + dx * sinA;
        const double weight = ratioK * n / std::sqrt(1 + kSquared * q);
        const double light = q == 0 ? s.ratio * cosA : s.ratio * n;
        const bool bright = light > 0;
        scales[c] = bright ? 1 - weight : 1 + weight;
        lifts[c] = bright ? 255 * weight : 0.0;
        const bool candidate = bright && q >= qLow && q <= qHigh && n * n >= facingSquaredMin * q;
        alone[c] = candidate || !(kSquared * q < kSteepLimit) ? 1 : 0;
    }

    /// One pixel of the row path done alone: with its highlights, or by the general formulas when too steep.
    void shadePixel(const double* row, const double* above, const double* below, int width, int c,
                    std::uint8_t* pixel) const {
        double dx;
        double dy;
        slopeAt(row, above, below, width, c, dx, dy);
        const double q = dx * dx + dy * dy;
        if (!(kSquared * q < kSteepLimit)) {
            apply(row, above, below, width, c, pixel, nullptr);
            return;
        }
        const double n = dy == 0 ? cosA * std::fabs(dx) : dy * cosA + dx * sinA;
        const double weight = withHighlights(dx, dy, k * std::sqrt(q), ratioK * n / std::sqrt(1 + kSquared * q));
        for (int b = 0; b < 3; ++b) pixel[b] = truncateToByte(pixel[b] * (1 - weight) + 255 * weight);
    }

    /// Backward differences; the first row and column use the next one, keeping the sign convention (value at the
    /// lower index minus value at the higher).
    void slopeAt(const double* row, const double* above, const double* below, int width, int c, double& dx,
                 double& dy) const {
        const double x = row[c];
        dy = 0.0;
        if (above != nullptr) dy = above[c] - x;
        else if (below != nullptr) dy = x - below[c];
        dx = 0.0;
        if (c > 0) dx = row[c - 1] - x;
        else if (width > 1) dx = x - row[1];
        if (invert) {
            dx = -dx;
            dy = -dy;
        }
    }

    void lightingAt(const double* row, const double* above, const double* below, int width, int c, double* weights,
                    double* lights, double* slopes) const {
        double dx;
        double dy;
        slopeAt(row, above, below, width, c, dx, dy);
        const double q = dx * dx + dy * dy;
        const double n = dy == 0 ? cosA * std::fabs(dx) : dy * cosA + dx * sinA;
        weights[c] = ratioK * n / std::sqrt(1 + kSquared * q);
        lights[c] = dx == 0 && dy == 0 ? s.ratio * cosA : s.ratio * n;
        slopes[c] = q;
    }

    /// The blend weight after the highlights that fire at this slope (steepness = tan of the slope angle).
    double withHighlights(double dx, double dy, double steepness, double weight) const {
        const double slope = std::atan(steepness);
        for (const Highlight& h : highlights) {
            if (!h.on) continue;
            const double e = (2 * slope - kPi + h.elevation) * h.size;
            if (!(std::fabs(e) < kHalfPi)) continue;
            const double d = dy == 0 ? 0.0 : std::atan(dx / dy) + (dy < 0 ? kPi : 0.0);
            const double delta = (azimuth - d) * h.size;
            if (std::fabs(delta) < kHalfPi) {
                weight = weight + std::cos(delta) * std::cos(e) * h.ratio;
                if (weight > 1) weight = 1;
            }
        }
        return weight;
    }
};

}  // namespace

ColorScale colorScaleFor(bool usePalette, int keyframeColorCount, float colourDivisor, float colourOffset) {
    ColorScale scale;
    scale.paletteLength = usePalette ? kColorTableSize : keyframeColorCount;
    const float stepSingle = colourDivisor * 1024.0f / static_cast<float>(scale.paletteLength);
    scale.colorStep = stepSingle;
    scale.colorShift = static_cast<double>(colourOffset) * scale.paletteLength;
    return scale;
}

double wrapColorShift(double w, int u) {
    if (w < 0 || w >= u) w = w - std::floor(w / u) * u;
    // NaN, an offset too large to keep its fraction, or a w just below 0 rounded to u.
    return w >= 0 && w < u ? w : 0;
}

void userPaletteBytes(const ColorTable& table, UserPaletteBytes& bytes) {
    for (int i = 0; i < kColorTableSize; ++i) {
        const TableColor& c = table.entries[i];
        bytes[3 * i] = c.blue;
        bytes[3 * i + 1] = c.green;
        bytes[3 * i + 2] = c.red;
    }
}

void deriveLevelFrameAngles(double frameLightAngleDegrees, const ReliefSettings& relief,
                            const Projection3DSettings& projection, LevelFrameAngles& angles) {
    if (projection.active != 0) angles.shadowZenith = (90 - projection.shadowAngle) * kPi / 180;
    if (relief.active != 0) {
        angles.lightElevation1 = relief.lightElevation * kPi / 180;
        angles.lightElevation2 = relief.light2Elevation * kPi / 180;
    }
    angles.lightAzimuth = frameLightAngleDegrees * kPi / 180;
    angles.sinAzimuth = std::sin(angles.lightAzimuth);
    angles.cosAzimuth = std::cos(angles.lightAzimuth);
}

void colorLevelRows(const RenderJob& job, int worker, int workerCount) {
    const int width = job.width;
    const int height = job.height;
    const int endRow = job.endRow < 0 ? height : std::min(job.endRow, height);
    const int firstColumn = std::max(job.firstColumn, 0);
    const int endColumn = job.endColumn < 0 ? width : std::min(job.endColumn, width);
    const int u = job.paletteLength;
    if (u <= 0 || job.palette == nullptr || job.destination == nullptr || workerCount < 1) return;
    const double v = job.colorStep;
    const double w = job.colorShift;
    const PaletteCycle palette(job.palette, u);
    const bool relief = job.relief != nullptr && job.relief->active != 0;
    // The distance estimator replaces the colour rule only where the relief step follows to colour the pixel.
    const bool estimator = relief && job.relief->distanceEstimator != 0;
    const ReliefStep* step = nullptr;
    std::optional<ReliefStep> reliefStep;
    if (relief) step = &reliefStep.emplace(job);

    thread_local std::vector<double> scratch;
    thread_local std::vector<std::uint8_t> alone;
    scratch.resize(2 * static_cast<std::size_t>(width));
    alone.resize(static_cast<std::size_t>(width));
    double* positions = scratch.data();
    // Columns [first, end) of stored row r.
    auto colorSpan = [&](int r, int first, int end) {
        const double* row = job.rows + static_cast<std::size_t>(r) * width;
        std::uint8_t* out = job.destination->storedRow(r);
        if (!estimator) {
            // The palette positions first, in a loop the vector unit takes; the divisions stay divisions.
            int c = first;
            if (haveAvx2Kernels()) c = positionsRowAvx2(row, c, end, v, w, positions);
#if defined(__SSE2__)
            c = positionsRowLanes<Sse2Lanes>(row, c, end, v, w, positions);
#endif
            for (; c < end; ++c) positions[c] = row[c] / v + w;
        }
        for (int c = first; c < end; ++c) {
            std::uint8_t* pixel = out + 3 * c;
            if (row[c] == 0) {
                pixel[0] = pixel[1] = pixel[2] = 0;
            } else if (!estimator) {
                blendAt(palette, positions[c], pixel);
            }
        }
        if (step != nullptr) {
            const double* above = r > 0 ? row - width : nullptr;
            const double* below = r + 1 < height ? row + width : nullptr;
            if (step->rowPath) {
                step->shadeRow(row, above, below, width, first, end, out, positions, positions + width, alone.data());
            } else {
                for (int c = first; c < end; ++c) step->apply(row, above, below, width, c, out + 3 * c, &palette);
            }
        }
    };
    const PixelRect& hole = job.hole;
    const int holeFirst = std::clamp(hole.x, firstColumn, std::max(firstColumn, endColumn));
    const int holeEnd = std::clamp(hole.x + hole.width, holeFirst, std::max(firstColumn, endColumn));
    for (int r = std::max(job.firstRow, 0) + worker; r < endRow; r += workerCount) {
        if (hole.width > 0 && r >= hole.y && r < hole.y + hole.height) {
            colorSpan(r, firstColumn, holeFirst);
            colorSpan(r, holeEnd, endColumn);
        } else {
            colorSpan(r, firstColumn, endColumn);
        }
    }
}

void RenderLevel(WorkerPool& pool, const RenderJob& job) {
    pool.run([&job](int worker, int workerCount) { colorLevelRows(job, worker, workerCount); });
}

}  // namespace zoomreel
