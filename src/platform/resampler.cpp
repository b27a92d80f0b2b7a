#include "platform/resampler.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zoomreel {
namespace {

// Weights are 14-bit fixed point and sum to exactly kWeightOne per destination pixel, so a uniform source stays
// uniform. 14 bits keep a weight below 2^15 for the signed 16-bit multiply-add, and leave room for the sums to
// stay within 32 bits.
constexpr int kWeightBits = 14;
constexpr std::int64_t kWeightOne = std::int64_t{1} << kWeightBits;
// The vertical pass keeps 7 fractional bits, so that its results (at most 255 << 7) are positive signed 16-bit
// values the horizontal multiply-add can take. Whole-number ratios still come out exact.
constexpr int kMidFractionBits = 7;
constexpr int kVerticalShift = kWeightBits - kMidFractionBits;
constexpr int kHorizontalShift = kWeightBits + kMidFractionBits;
// Words after the intermediate row that the horizontal pass may read (with zero weight).
constexpr int kMidPaddingWords = 8;
// Above this many taps a destination pixel keeps its own tap count instead of a padded, uniform one.
constexpr int kMaxPaddedTaps = 8;

// Everything that decides one axis's weight table. Frame after frame the same geometry comes back, so the table
// is rebuilt only when the key changes.
struct AxisKey {
    std::int64_t srcOrigin = 0;
    std::int64_t srcLength = 0;
    std::int64_t srcLimit = 0;  // the raster's extent: source indices are clamped to [0, srcLimit)
    std::int64_t dstLength = 0;
    std::int64_t firstOut = 0;  // the first destination pixel (relative to the rectangle) that is computed
    std::int64_t outCount = 0;
    bool padded = false;
    bool operator==(const AxisKey&) const = default;
};

// Two taps' weights, repeated for the lanes one 16-byte multiply-add handles.
struct alignas(16) WeightPair {
    std::int16_t w[8];
};

// For each computed destination pixel: the run of source pixels it reads (start, count) and their weights
// (at offset). A padded table gives every pixel the same count, some weights being zero, so the hot loop has a
// fixed trip count.
struct AxisTable {
    AxisKey key;
    bool valid = false;
    int uniformTaps = 0;  // 0 when counts differ
    int lowest = 0;       // union of all runs: [lowest, highest)
    int highest = 0;
    std::vector<int> start;
    std::vector<int> count;
    std::vector<int> offset;
    std::vector<std::int16_t> weight;
    // Padded tables only: per destination pixel, taps (2q, 2q+1) as {w, w', w, w', w, w', 0, 0}.
    std::vector<WeightPair> pairWeights;
};

struct Scratch {
    AxisTable columns;
    AxisTable rows;
    std::vector<std::uint16_t> mid;
    std::vector<const std::uint8_t*> rowPointers;
    std::vector<WeightPair> weightPairs;  // the current destination row's, for the vertical pass
};

// Destination pixel i covers source units [i*s, (i+1)*s), a unit being 1/d of a source pixel; source pixel j
// covers [j*d, (j+1)*d). Weights use cumulative rounding: each is the difference of two rounded running sums, so
// they add up to exactly kWeightOne and each stays within one step of its exact value. Pixels beyond the raster
// are read as its edge pixels; their coverage is taken in one piece, so a huge rectangle costs no more than a
// small one.
void buildAxis(const AxisKey& key, AxisTable& table) {
    table.key = key;
    table.valid = true;
    const std::int64_t s = key.srcLength;
    const std::int64_t d = key.dstLength;
    const auto n = static_cast<std::size_t>(key.outCount);
    table.start.resize(n);
    table.count.resize(n);
    table.offset.resize(n);
    table.weight.clear();

    // Unit boundaries of the clamped regions, kept within [0, s*d] so that nothing overflows.
    const std::int64_t lowEnd = std::clamp<std::int64_t>(-key.srcOrigin, 0, s) * d;
    const std::int64_t highBegin = std::clamp<std::int64_t>(key.srcLimit - key.srcOrigin, 0, s) * d;

    int maxTaps = 0;
    bool uniform = true;
    for (std::size_t o = 0; o < n; ++o) {
        const std::int64_t a = (key.firstOut + static_cast<std::int64_t>(o)) * s;
        const std::int64_t b = a + s;
        std::int64_t covered = 0;
        std::int64_t roundedSoFar = 0;
        std::int64_t lastIndex = -1;
        const auto first = table.weight.size();
        auto take = [&](std::int64_t index, std::int64_t overlap) {
            covered += overlap;
            const std::int64_t rounded = (covered * kWeightOne + s / 2) / s;
            const auto w = static_cast<std::int16_t>(rounded - roundedSoFar);
            roundedSoFar = rounded;
            if (index == lastIndex) {
                table.weight.back() = static_cast<std::int16_t>(table.weight.back() + w);
            } else {
                if (lastIndex < 0) table.start[o] = static_cast<int>(index);
                table.weight.push_back(w);
                lastIndex = index;
            }
        };
        if (a < lowEnd) take(0, std::min(b, lowEnd) - a);
        const std::int64_t lo = std::max(a, lowEnd);
        const std::int64_t hi = std::min(b, highBegin);
        for (std::int64_t j = lo / d; lo < hi && j * d < hi; ++j) {
            take(key.srcOrigin + j, std::min(hi, (j + 1) * d) - std::max(lo, j * d));
        }
        if (b > highBegin) take(key.srcLimit - 1, b - std::max(a, highBegin));

        const int taps = static_cast<int>(table.weight.size() - first);
        table.count[o] = taps;
        table.offset[o] = static_cast<int>(first);
        if (o > 0 && taps != maxTaps) uniform = false;
        maxTaps = std::max(maxTaps, taps);
    }

    if (key.padded && !uniform && maxTaps <= kMaxPaddedTaps) {
        // Widen every run to maxTaps pixels, shifting it left where it would pass the raster's edge. A run never
        // holds more distinct pixels than the raster has, so the shifted start stays at 0 or above.
        std::vector<std::int16_t> padded(n * maxTaps, 0);
        const int limit = static_cast<int>(key.srcLimit);
        for (std::size_t o = 0; o < n; ++o) {
            const int start = std::min(table.start[o], limit - maxTaps);
            std::copy_n(table.weight.begin() + table.offset[o], table.count[o],
                        padded.begin() + static_cast<std::ptrdiff_t>(o * maxTaps + (table.start[o] - start)));
            table.start[o] = start;
            table.count[o] = maxTaps;
            table.offset[o] = static_cast<int>(o * maxTaps);
        }
        table.weight.swap(padded);
        uniform = true;
    }
    table.uniformTaps = uniform ? maxTaps : 0;

    table.pairWeights.clear();
    if (key.padded && uniform && maxTaps <= kMaxPaddedTaps) {
        const int pairs = (maxTaps + 1) / 2;
        table.pairWeights.resize(n * pairs);
        for (std::size_t o = 0; o < n; ++o) {
            for (int q = 0; q < pairs; ++q) {
                WeightPair& pair = table.pairWeights[o * pairs + q];
                const std::int16_t* w = table.weight.data() + table.offset[o] + 2 * q;
                for (int lane = 0; lane < 3; ++lane) {
                    pair.w[2 * lane] = w[0];
                    pair.w[2 * lane + 1] = 2 * q + 1 < maxTaps ? w[1] : std::int16_t{0};
                }
                pair.w[6] = pair.w[7] = 0;
            }
        }
    }

    table.lowest = table.start.front();
    table.highest = 0;
    for (std::size_t o = 0; o < n; ++o) table.highest = std::max(table.highest, table.start[o] + table.count[o]);
}

const AxisTable& axisFor(const AxisKey& key, AxisTable& table) {
    if (!table.valid || !(table.key == key)) buildAxis(key, table);
    return table;
}

// One intermediate row: out[x] = sum_k weights[k] * rows[k][x], kMidFractionBits below the point, rounded.
void blendRows(const std::uint8_t* const* rows, const std::int16_t* weights, int count, int bytes,
               std::uint16_t* out, Scratch& scratch) {
    int x = 0;
#if defined(__SSE2__)
    // Rows go in pairs, interleaved byte by byte, so that one multiply-add weighs two rows at once. An odd last
    // row is paired with itself at weight zero.
    const int pairs = (count + 1) / 2;
    scratch.weightPairs.resize(static_cast<std::size_t>(pairs));
    for (int p = 0; p < pairs; ++p) {
        const std::int16_t w1 = 2 * p + 1 < count ? weights[2 * p + 1] : std::int16_t{0};
        for (int k = 0; k < 8; k += 2) {
            scratch.weightPairs[p].w[k] = weights[2 * p];
            scratch.weightPairs[p].w[k + 1] = w1;
        }
    }
    const auto* wp = reinterpret_cast<const __m128i*>(scratch.weightPairs.data());
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi32(1 << (kVerticalShift - 1));
    for (; x + 16 <= bytes; x += 16) {
        __m128i acc0 = bias, acc1 = bias, acc2 = bias, acc3 = bias;
        for (int p = 0; p < pairs; ++p) {
            const std::uint8_t* r0 = rows[2 * p];
            const std::uint8_t* r1 = 2 * p + 1 < count ? rows[2 * p + 1] : r0;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + x));
            const __m128i lo = _mm_unpacklo_epi8(a, b);
            const __m128i hi = _mm_unpackhi_epi8(a, b);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), wp[p]));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), wp[p]));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), wp[p]));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), wp[p]));
        }
        const __m128i v0 = _mm_packs_epi32(_mm_srai_epi32(acc0, kVerticalShift), _mm_srai_epi32(acc1, kVerticalShift));
        const __m128i v1 = _mm_packs_epi32(_mm_srai_epi32(acc2, kVerticalShift), _mm_srai_epi32(acc3, kVerticalShift));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), v0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), v1);
    }
#else
    (void)scratch;
#endif
    for (; x < bytes; ++x) {
        std::uint32_t acc = 1u << (kVerticalShift - 1);
        for (int k = 0; k < count; ++k) acc += static_cast<std::uint32_t>(weights[k]) * rows[k][x];
        out[x] = static_cast<std::uint16_t>(acc >> kVerticalShift);
    }
}

constexpr std::uint32_t kHorizontalRound = 1u << (kHorizontalShift - 1);

template <int Taps>
void blendColumnsFixed(const std::uint16_t* mid, int origin, const AxisTable& table, std::uint8_t* out) {
    const int n = static_cast<int>(table.start.size());
    const int* start = table.start.data();
    int i = 0;
#if defined(__SSE2__)
    // One destination pixel per multiply-add: the eight words at its first tap, b g r b' g' r' . ., interleave
    // with themselves shifted by a pixel into (b,b') (g,g') (r,r') pairs. Reads run up to 5 words past the last
    // tap, into the padding of `mid`.
    constexpr int kPairs = (Taps + 1) / 2;
    const auto* pairWeights = reinterpret_cast<const __m128i*>(table.pairWeights.data());
    const __m128i round = _mm_set1_epi32(static_cast<int>(kHorizontalRound));
    const __m128i lowPixel = _mm_set1_epi64x(0xFFFFFF);
    const __m128i highPixel = _mm_set1_epi64x(0xFFFFFF000000);
    auto pixel = [&](int k) {
        const std::uint16_t* p = mid + 3 * (start[k] - origin);
        __m128i acc = round;
        for (int q = 0; q < kPairs; ++q) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 6 * q));
            const __m128i pairs = _mm_unpacklo_epi16(v, _mm_srli_si128(v, 6));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(pairs, pairWeights[k * kPairs + q]));
        }
        return _mm_srai_epi32(acc, kHorizontalShift);
    };
    for (; i + 4 <= n; i += 4, out += 12) {
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(pixel(i), pixel(i + 1)),
                                                _mm_packs_epi32(pixel(i + 2), pixel(i + 3)));
        // Four b g r 0 pixels to twelve bytes: close the gap inside each 64-bit half, then join the halves.
        const __m128i halves = _mm_or_si128(_mm_and_si128(packed, lowPixel),
                                            _mm_and_si128(_mm_srli_epi64(packed, 8), highPixel));
        const __m128i joined = _mm_or_si128(_mm_move_epi64(halves),
                                            _mm_slli_si128(_mm_unpackhi_epi64(halves, halves), 6));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), joined);
        const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(joined, 8)));
        std::memcpy(out + 8, &last, 4);
    }
#endif
    const std::int16_t* weights = table.weight.data() + static_cast<std::ptrdiff_t>(i) * Taps;
    for (; i < n; ++i, weights += Taps, out += 3) {
        const std::uint16_t* p = mid + 3 * (start[i] - origin);
        std::uint32_t b = kHorizontalRound, g = kHorizontalRound, r = kHorizontalRound;
        for (int t = 0; t < Taps; ++t) {
            const auto w = static_cast<std::uint32_t>(weights[t]);
            b += w * p[3 * t];
            g += w * p[3 * t + 1];
            r += w * p[3 * t + 2];
        }
        out[0] = static_cast<std::uint8_t>(b >> kHorizontalShift);
        out[1] = static_cast<std::uint8_t>(g >> kHorizontalShift);
        out[2] = static_cast<std::uint8_t>(r >> kHorizontalShift);
    }
}

void blendColumnsAny(const std::uint16_t* mid, int origin, const AxisTable& table, std::uint8_t* out) {
    const int n = static_cast<int>(table.start.size());
    for (int i = 0; i < n; ++i, out += 3) {
        const std::uint16_t* p = mid + 3 * (table.start[i] - origin);
        const std::int16_t* weights = table.weight.data() + table.offset[i];
        std::uint32_t b = kHorizontalRound, g = kHorizontalRound, r = kHorizontalRound;
        for (int t = 0; t < table.count[i]; ++t, p += 3) {
            const auto w = static_cast<std::uint32_t>(weights[t]);
            b += w * p[0];
            g += w * p[1];
            r += w * p[2];
        }
        out[0] = static_cast<std::uint8_t>(b >> kHorizontalShift);
        out[1] = static_cast<std::uint8_t>(g >> kHorizontalShift);
        out[2] = static_cast<std::uint8_t>(r >> kHorizontalShift);
    }
}

// `mid` holds source pixels from `origin` on.
using ColumnBlender = void (*)(const std::uint16_t* mid, int origin, const AxisTable&, std::uint8_t*);

ColumnBlender columnBlenderFor(const AxisTable& table) {
    switch (table.uniformTaps) {
    case 1: return blendColumnsFixed<1>;
    case 2: return blendColumnsFixed<2>;
    case 3: return blendColumnsFixed<3>;
    case 4: return blendColumnsFixed<4>;
    case 5: return blendColumnsFixed<5>;
    case 6: return blendColumnsFixed<6>;
    case 7: return blendColumnsFixed<7>;
    case 8: return blendColumnsFixed<8>;
    default: return blendColumnsAny;
    }
}

}  // namespace

void stretchAreaAverage(const Raster& src, const PixelRect& srcRect, Raster& dst, const PixelRect& dstRect) {
    stretchAreaAverage(src, srcRect, dst, dstRect, PixelRect{0, 0, dst.width(), dst.height()});
}

void stretchAreaAverage(const Raster& src, const PixelRect& srcRect, Raster& dst, const PixelRect& dstRect,
                        const PixelRect& clip) {
    if (src.empty() || dst.empty() || srcRect.width <= 0 || srcRect.height <= 0 || dstRect.width <= 0 ||
        dstRect.height <= 0) {
        return;
    }
    const std::int64_t x0 = std::max<std::int64_t>({0, dstRect.x, clip.x});
    const std::int64_t x1 = std::min<std::int64_t>({dst.width(), std::int64_t{dstRect.x} + dstRect.width,
                                                     std::int64_t{clip.x} + clip.width});
    const std::int64_t y0 = std::max<std::int64_t>({0, dstRect.y, clip.y});
    const std::int64_t y1 = std::min<std::int64_t>({dst.height(), std::int64_t{dstRect.y} + dstRect.height,
                                                     std::int64_t{clip.y} + clip.height});
    if (x0 >= x1 || y0 >= y1) return;

    thread_local Scratch scratch;
    const AxisTable& columns = axisFor(
        {srcRect.x, srcRect.width, src.width(), dstRect.width, x0 - dstRect.x, x1 - x0, true}, scratch.columns);
    const AxisTable& rows = axisFor(
        {srcRect.y, srcRect.height, src.height(), dstRect.height, y0 - dstRect.y, y1 - y0, false}, scratch.rows);

    // The vertical pass covers only the source columns the horizontal pass reads.
    const int midPixels = columns.highest - columns.lowest;
    const int midBytes = 3 * midPixels;
    scratch.mid.resize(static_cast<std::size_t>(midBytes) + kMidPaddingWords);
    std::uint16_t* mid = scratch.mid.data();
    const ColumnBlender blendColumns = columnBlenderFor(columns);
    const std::size_t outBytes = static_cast<std::size_t>(x1 - x0) * 3;

    const std::uint8_t* previousOut = nullptr;
    for (std::size_t o = 0; o < rows.start.size(); ++o) {
        std::uint8_t* out = dst.rowFromTop(static_cast<int>(y0 + static_cast<std::int64_t>(o))) + 3 * x0;
        const int first = rows.start[o];
        const int count = rows.count[o];
        const std::int16_t* weights = rows.weight.data() + rows.offset[o];
        // Enlarging repeats rows: a row whose taps equal the previous row's gives the same pixels.
        if (previousOut != nullptr && first == rows.start[o - 1] && count == rows.count[o - 1] &&
            std::memcmp(weights, rows.weight.data() + rows.offset[o - 1], sizeof(std::int16_t) * count) == 0) {
            std::memcpy(out, previousOut, outBytes);
            previousOut = out;
            continue;
        }
        scratch.rowPointers.resize(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) scratch.rowPointers[k] = src.rowFromTop(first + k) + 3 * columns.lowest;
        blendRows(scratch.rowPointers.data(), weights, count, midBytes, mid, scratch);
        blendColumns(mid, columns.lowest, columns, out);
        previousOut = out;
    }
}

void stretchAreaAverage(const Raster& src, Raster& dst) {
    stretchAreaAverage(src, PixelRect{0, 0, src.width(), src.height()}, dst,
                       PixelRect{0, 0, dst.width(), dst.height()});
}

}  // namespace zoomreel
