#include "output/msvideo1_encoder.h"

#include "platform/worker_pool.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

// The lane helpers below take and return whole vectors. They are inlined into each processor variant of the
// functions that use them (LANEWISE) and never called across an interface, so the vector calling convention does
// not matter.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace zoomreel {
namespace {

constexpr int kLanes = 8;  // blocks weighed at once

// Bytes a block takes beyond its error, as the cost of choosing it.
constexpr int kFillCost = 2;
constexpr int kTwoColorCost = 6;
constexpr int kEightColorCost = 18;
constexpr int kMaxSkips = 0x3FF;

using Ints = std::int32_t __attribute__((vector_size(4 * kLanes)));
using Floats = float __attribute__((vector_size(4 * kLanes)));
using Words = std::uint16_t __attribute__((vector_size(2 * kLanes)));

#define LANEWISE [[gnu::always_inline]] inline

LANEWISE Ints lower(Ints a, Ints b) { return a < b ? a : b; }
LANEWISE Ints higher(Ints a, Ints b) { return a > b ? a : b; }

/// a / b rounded down, for whole numbers 0 <= a < 2^24 and b >= 1. The float quotient is rounded once, by less
/// than a / b * 2^-24 < 1 / b, and a quotient that is not whole lies at least 1 / b below the next whole number,
/// so truncating the float gives the exact result.
LANEWISE Ints quotient(Ints a, Floats b) {
    return __builtin_convertvector(__builtin_convertvector(a, Floats) / b, Ints);
}

struct Pixels {
    Ints r[16], g[16], b[16];
};

LANEWISE Ints squaredDistance(Ints r0, Ints g0, Ints b0, Ints r1, Ints g1, Ints b1) {
    const Ints dr = r0 - r1, dg = g0 - g1, db = b0 - b1;
    return dr * dr + dg * dg + db * db;
}

LANEWISE Ints word(Ints r, Ints g, Ints b) { return (r << 10) | (g << 5) | b; }

/// Two colours for the n pixels `index[0..n)` of every lane: the pixels are split at the middle of their widest
/// channel's range, each side's rounded centroid is a colour, and with more than four pixels each pixel then
/// takes the nearer of the two (fewer rarely change sides: each keeps its side). Sets bit index[k] of `second`
/// where pixel index[k] takes the second colour and `shown[index[k]]` to its colour; returns the squared error.
template <int n>
LANEWISE Ints splitInTwo(const Pixels& p, const int* index, Ints colours[2], Ints& second, Ints* shown) {
    Ints lowR = Ints{} + 31, lowG = lowR, lowB = lowR, highR = Ints{}, highG = highR, highB = highR;
    Ints sumR{}, sumG{}, sumB{};
    for (int k = 0; k < n; ++k) {
        const int i = index[k];
        lowR = lower(lowR, p.r[i]), highR = higher(highR, p.r[i]);
        lowG = lower(lowG, p.g[i]), highG = higher(highG, p.g[i]);
        lowB = lower(lowB, p.b[i]), highB = higher(highB, p.b[i]);
        sumR += p.r[i], sumG += p.g[i], sumB += p.b[i];
    }
    const Ints rangeR = highR - lowR, rangeG = highG - lowG, rangeB = highB - lowB;
    // Red unless green is wider (or as wide as blue and wider than red), or blue is widest.
    const Ints useG = (rangeG > rangeR) & (rangeG >= rangeB);
    const Ints useB = ~useG & (rangeB > rangeR) & (rangeB > rangeG);
    const Ints middle = useG ? lowG + highG : useB ? lowB + highB : lowR + highR;
    Ints sideR{}, sideG{}, sideB{}, count{}, sides[n];
    for (int k = 0; k < n; ++k) {
        const int i = index[k];
        const Ints axis = useG ? p.g[i] : useB ? p.b[i] : p.r[i];
        sides[k] = 2 * axis > middle;  // all ones on the second side
        sideR += sides[k] & p.r[i], sideG += sides[k] & p.g[i], sideB += sides[k] & p.b[i];
        count -= sides[k];
    }
    const Ints counts[2] = {higher(n - count, Ints{} + 1), higher(count, Ints{} + 1)};
    const Ints sums[2][3] = {{sumR - sideR, sumG - sideG, sumB - sideB}, {sideR, sideG, sideB}};
    Ints centre[2][3];
    for (int side = 0; side < 2; ++side) {
        const Floats c = __builtin_convertvector(counts[side], Floats);
        for (int channel = 0; channel < 3; ++channel) {
            centre[side][channel] = quotient(sums[side][channel] + (counts[side] >> 1), c);
        }
        colours[side] = word(centre[side][0], centre[side][1], centre[side][2]);
    }
    Ints error{};
    for (int k = 0; k < n; ++k) {
        const int i = index[k];
        const Ints d0 = squaredDistance(p.r[i], p.g[i], p.b[i], centre[0][0], centre[0][1], centre[0][2]);
        const Ints d1 = squaredDistance(p.r[i], p.g[i], p.b[i], centre[1][0], centre[1][1], centre[1][2]);
        Ints takesSecond;
        if constexpr (n <= 4) {
            takesSecond = sides[k];
            error += takesSecond ? d1 : d0;
        } else {
            takesSecond = d1 < d0;
            error += lower(d0, d1);
        }
        second |= takesSecond & (1 << i);
        shown[i] = takesSecond ? colours[1] : colours[0];
    }
    return error;
}

/// What each of a group's blocks would cost in every form, what each form shows, and its colours. Costs are
/// squared errors over the divisor, rounded down, without the bytes of the form.
struct Choices {
    bool alike;  ///< every block is of one colour whose red is not 1: only `skip`, `fill` and `fillColour` are set
    std::int32_t skip[kLanes], fill[kLanes], two[kLanes], eight[kLanes];
    std::int32_t fillColour[kLanes], twoColours[2][kLanes], eightColours[8][kLanes];
    std::int32_t twoSecond[kLanes], eightSecond[kLanes];  ///< bit i: pixel i takes the second colour
    Ints twoShown[16], eightShown[16];                     ///< pixel by pixel
};

LANEWISE Ints load(const std::uint16_t* words) {
    Words w;
    std::memcpy(&w, words, sizeof w);
    return __builtin_convertvector(w, Ints);
}

LANEWISE void store(std::uint16_t* words, Ints v) {
    const Words w = __builtin_convertvector(v, Words);
    std::memcpy(words, &w, sizeof w);
}

/// Weighs the blocks of `now` against `before` (null: no skipping), pixel i = 4 y + x of the blocks at
/// now[i * stride], lane by lane.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void weigh(const std::uint16_t* now, const std::uint16_t* before, std::ptrdiff_t stride, float divisor,
           Choices& out) {
    const Floats d = Floats{} + divisor;
    Pixels p;
    Ints sumR{}, sumG{}, sumB{}, squares{}, skip{};
    const Ints first = load(now);
    Ints alike = ((first >> 10) & 31) != 1;
    for (int i = 0; i < 16; ++i) {
        const Ints c = load(now + i * stride);
        alike &= c == first;
        p.r[i] = (c >> 10) & 31, p.g[i] = (c >> 5) & 31, p.b[i] = c & 31;
        sumR += p.r[i], sumG += p.g[i], sumB += p.b[i];
        squares += p.r[i] * p.r[i] + p.g[i] * p.g[i] + p.b[i] * p.b[i];
        if (before != nullptr) {
            const Ints s = load(before + i * stride);
            skip += squaredDistance(p.r[i], p.g[i], p.b[i], (s >> 10) & 31, (s >> 5) & 31, s & 31);
        }
    }
    skip = quotient(skip, d);
    std::memcpy(out.skip, &skip, sizeof skip);
    out.alike = true;
    for (int lane = 0; lane < kLanes; ++lane) out.alike &= alike[lane] != 0;
    if (out.alike) {
        // Blocks of one colour: that colour, exactly. Nothing but an unchanged block can do better.
        const Ints zero{};
        std::memcpy(out.fill, &zero, sizeof zero);
        std::memcpy(out.fillColour, &first, sizeof first);
        return;
    }

    // One colour: the mean, its error from the sums of values and squares. A red of 1 would read as a skip
    // code, so it becomes 0.
    Ints fillR = (sumR + 8) >> 4, fillG = (sumG + 8) >> 4, fillB = (sumB + 8) >> 4;
    fillR = fillR == 1 ? 0 : fillR;
    const Ints fillError = squares - 2 * (fillR * sumR + fillG * sumG + fillB * sumB) +
                           16 * (fillR * fillR + fillG * fillG + fillB * fillB);
    const Ints fill = quotient(fillError, d), fillColour = word(fillR, fillG, fillB);
    std::memcpy(out.fill, &fill, sizeof fill);
    std::memcpy(out.fillColour, &fillColour, sizeof fillColour);

    // Two colours.
    static constexpr int kAll[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Ints colours[8], second{};
    const Ints two = quotient(splitInTwo<16>(p, kAll, colours, second, out.twoShown), d);
    std::memcpy(out.two, &two, sizeof two);
    std::memcpy(out.twoSecond, &second, sizeof second);
    for (int c = 0; c < 2; ++c) std::memcpy(out.twoColours[c], &colours[c], sizeof colours[c]);

    // Two colours in each quarter: quarter q = 2 * (y / 2) + x / 2 holds its pixels bottom row first.
    static constexpr int kQuarters[4][4] = {{0, 1, 4, 5}, {2, 3, 6, 7}, {8, 9, 12, 13}, {10, 11, 14, 15}};
    Ints error{};
    second = Ints{};
    for (int q = 0; q < 4; ++q) error += splitInTwo<4>(p, kQuarters[q], colours + 2 * q, second, out.eightShown);
    const Ints eight = quotient(error, d);
    std::memcpy(out.eight, &eight, sizeof eight);
    std::memcpy(out.eightSecond, &second, sizeof second);
    for (int c = 0; c < 8; ++c) std::memcpy(out.eightColours[c], &colours[c], sizeof colours[c]);
}

// The forms of a block.
constexpr std::int32_t kSkip = 0, kFill = 1, kTwoColours = 2, kEightColours = 3;

/// What the decoder shows from now on: each block's pixels in the form chosen for it, `forms` lane by lane.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void showChosen(const std::int32_t* forms, const Choices& choices, std::uint16_t* shown, std::ptrdiff_t stride) {
    Ints form, fill;
    std::memcpy(&form, forms, sizeof form);
    std::memcpy(&fill, choices.fillColour, sizeof fill);
    const Ints filled = form == kFill;
    if (choices.alike) {
        for (int i = 0; i < 16; ++i) store(shown + i * stride, filled ? fill : load(shown + i * stride));
        return;
    }
    const Ints two = form == kTwoColours, eight = form == kEightColours;
    for (int i = 0; i < 16; ++i) {
        const Ints before = load(shown + i * stride);
        store(shown + i * stride, filled ? fill : two ? choices.twoShown[i] : eight ? choices.eightShown[i] : before);
    }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
/// Pixels 4 c + x of a row of 24-bit pixels as 15-bit colours, into planes[x * stride + c], for the blocks
/// c = 0, 8, 16, ... whose eight blocks' pixels and the 4 bytes after them lie inside the row's pixels. Returns
/// the first block column left for the caller.
__attribute__((target("avx2"))) int convertRowAvx2(const std::uint8_t* in, int width, std::uint16_t* planes,
                                                    std::ptrdiff_t stride) {
    // Pixel k of a block's 16 loaded bytes into dword k.
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i red = _mm256_set1_epi32(0x7C00), green = _mm256_set1_epi32(0x03E0), blue = _mm256_set1_epi32(0x1F);
    int c = 0;
    for (; 12 * (c + 7) + 16 <= 3 * width; c += 8) {
        __m256i quads[4];  // blocks c + j (low half) and c + j + 4 (high half)
        for (int j = 0; j < 4; ++j) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * (c + j)));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * (c + j + 4)));
            const __m256i v = _mm256_shuffle_epi8(_mm256_set_m128i(high, low), spread);
            quads[j] = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(v, 9), red),
                                                       _mm256_and_si256(_mm256_srli_epi32(v, 6), green)),
                                       _mm256_and_si256(_mm256_srli_epi32(v, 3), blue));
        }
        // A 4 x 4 transpose in each half: block j, pixel x -> pixel x, block j.
        const __m256i t0 = _mm256_unpacklo_epi32(quads[0], quads[1]), t1 = _mm256_unpackhi_epi32(quads[0], quads[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(quads[2], quads[3]), t3 = _mm256_unpackhi_epi32(quads[2], quads[3]);
        const __m256i x0 = _mm256_unpacklo_epi64(t0, t2), x1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i x2 = _mm256_unpacklo_epi64(t1, t3), x3 = _mm256_unpackhi_epi64(t1, t3);
        // Words of pixels 0 and 1, then 2 and 3, each 8 blocks in order.
        const __m256i p01 = _mm256_permute4x64_epi64(_mm256_packus_epi32(x0, x1), 0xD8);
        const __m256i p23 = _mm256_permute4x64_epi64(_mm256_packus_epi32(x2, x3), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + c), _mm256_castsi256_si128(p01));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + stride + c), _mm256_extracti128_si256(p01, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + 2 * stride + c), _mm256_castsi256_si128(p23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + 3 * stride + c), _mm256_extracti128_si256(p23, 1));
    }
    return c;
}

bool haveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2") != 0;
    return have;
}
#endif

/// A row of 24-bit pixels as 15-bit colours, the form the decoder shows, pixel 4 c + x into planes[x * stride +
/// c] for every block column c < stride; past the row's right end, its last pixel repeated.
void convertRow(const std::uint8_t* in, int width, std::uint16_t* planes, std::ptrdiff_t stride) {
    int c = 0;
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    if (haveAvx2()) c = convertRowAvx2(in, width, planes, stride);
#endif
    for (; c < stride; ++c) {
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t* bgr = in + 3 * std::min(4 * c + x, width - 1);
            planes[x * stride + c] =
                static_cast<std::uint16_t>(((bgr[2] >> 3) << 10) | ((bgr[1] >> 3) << 5) | (bgr[0] >> 3));
        }
    }
}

#undef LANEWISE

}  // namespace

MsVideo1Encoder::MsVideo1Encoder(int width, int height, int quality)
    : width_(width),
      height_(height),
      codedWidth_(codedSide(width)),
      codedHeight_(codedSide(height)),
      divisor_(24 * 100 / std::clamp(quality, 1, 100)),
      groups_((codedWidth_ / 4 + kLanes - 1) / kLanes),
      previous_(static_cast<std::size_t>(groups_) * kLanes * 4 * codedHeight_),
      bands_(1) {}

namespace {

void put(std::uint8_t*& o, unsigned value) {
    o[0] = static_cast<std::uint8_t>(value & 0xFF);
    o[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    o += 2;
}

/// The codes of a run of `skips` skipped blocks: as many runs of the longest a code holds as fit, then the rest.
void putSkips(std::uint8_t*& o, int skips) {
    for (; skips >= kMaxSkips; skips -= kMaxSkips) put(o, 0x8400u | kMaxSkips);
    if (skips > 0) put(o, 0x8400u | static_cast<unsigned>(skips));
}

}  // namespace

void MsVideo1Encoder::encodeBand(const std::uint8_t* pixels, bool skipping, int firstRow, int endRow, Band& band) {
    const std::size_t stride = static_cast<std::size_t>((width_ * 24 + 31) / 32) * 4;
    const std::ptrdiff_t planeStride = static_cast<std::ptrdiff_t>(groups_) * kLanes;
    const int blockColumns = codedWidth_ / 4;
    // At most 18 bytes a block: a skipped block leaves room for the code of its run.
    band.bytes.resize(static_cast<std::size_t>(blockColumns) * (endRow - firstRow) * 18);
    band.rows.resize(static_cast<std::size_t>(planeStride) * 16);
    band.leadingSkips = band.trailingSkips = 0;
    band.coded = band.skipped = false;
    std::uint8_t* o = band.bytes.data();
    int skips = 0;

    Choices choices;
    std::int32_t forms[kLanes];
    for (int by = 4 * firstRow; by < 4 * endRow; by += 4) {
        // The block row's four picture rows; past the frame's top row, its top row repeated.
        for (int y = 0; y < 4; ++y) {
            convertRow(pixels + static_cast<std::size_t>(std::min(by + y, height_ - 1)) * stride, width_,
                       band.rows.data() + 4 * y * planeStride, planeStride);
        }
        std::uint16_t* shownRows = previous_.data() + static_cast<std::size_t>(by) * 4 * planeStride;
        for (int group = 0; group < groups_; ++group) {
            const int first = group * kLanes;
            weigh(band.rows.data() + first, skipping ? shownRows + first : nullptr, planeStride,
                  static_cast<float>(divisor_), choices);
            for (int lane = 0; lane < kLanes; ++lane) {
                std::int32_t& form = forms[lane];
                form = kSkip;
                if (first + lane >= blockColumns) continue;  // past the picture: nothing to code or show
                int best = skipping ? choices.skip[lane] : INT_MAX;
                if (best > 0) {
                    if (choices.fill[lane] + kFillCost < best) {
                        best = choices.fill[lane] + kFillCost;
                        form = kFill;
                    }
                    if (best > kTwoColorCost && choices.two[lane] + kTwoColorCost < best) {
                        best = choices.two[lane] + kTwoColorCost;
                        form = kTwoColours;
                    }
                    if (best > kEightColorCost && choices.eight[lane] + kEightColorCost < best) {
                        form = kEightColours;
                    }
                }
                if (form == kSkip) {
                    band.skipped = true;
                    ++skips;
                    continue;
                }
                // The skips before the band's first coded block may continue a run of the band before.
                if (band.coded) {
                    putSkips(o, skips);
                } else {
                    band.leadingSkips = skips;
                    band.coded = true;
                }
                skips = 0;
                if (form == kFill) {
                    put(o, 0x8000u | static_cast<unsigned>(choices.fillColour[lane]));
                } else if (form == kTwoColours) {
                    unsigned second = static_cast<unsigned>(choices.twoSecond[lane]);
                    unsigned colours[2] = {static_cast<unsigned>(choices.twoColours[0][lane]),
                                           static_cast<unsigned>(choices.twoColours[1][lane])};
                    // The last pixel must take the second colour: its flag bit is the block's sign bit.
                    if ((second & 0x8000u) == 0) {
                        std::swap(colours[0], colours[1]);
                        second ^= 0xFFFFu;
                    }
                    put(o, ~second & 0xFFFFu);  // a set bit shows the first colour
                    put(o, colours[0]);
                    put(o, colours[1]);
                } else {
                    unsigned second = static_cast<unsigned>(choices.eightSecond[lane]);
                    unsigned colours[8];
                    for (int c = 0; c < 8; ++c) colours[c] = static_cast<unsigned>(choices.eightColours[c][lane]);
                    if ((second & 0x8000u) == 0) {  // the top right quarter: colours 6 and 7
                        std::swap(colours[6], colours[7]);
                        second ^= 0xCC00u;  // its pixels 10, 11, 14 and 15
                    }
                    put(o, ~second & 0xFFFFu);
                    put(o, 0x8000u | colours[0]);  // the sign bit marks the eight-colour form
                    for (int c = 1; c < 8; ++c) put(o, colours[c]);
                }
            }
            showChosen(forms, choices, shownRows + first, planeStride);
        }
    }
    if (band.coded) {
        band.trailingSkips = skips;
    } else {
        band.leadingSkips = skips;
    }
    band.bytes.resize(static_cast<std::size_t>(o - band.bytes.data()));
}

bool MsVideo1Encoder::encode(const std::uint8_t* pixels, bool key, std::vector<std::uint8_t>& out, WorkerPool* pool) {
    const bool skipping = !key && havePrevious_;
    const int blockRows = codedHeight_ / 4;
    const int count = std::clamp(pool != nullptr ? pool->workerCount() : 1, 1, blockRows);
    if (bands_.size() < static_cast<std::size_t>(count)) bands_.resize(count);
    // Bands of whole block rows, one per worker, each coded as if alone; joined, they read as one frame coded in
    // one pass, the skips at their seams counted as one run.
    auto code = [&](int band) {
        encodeBand(pixels, skipping, blockRows * band / count, blockRows * (band + 1) / count, bands_[band]);
    };
    if (count == 1) {
        code(0);
    } else {
        pool->run([&](int worker, int) {
            if (worker < count) code(worker);
        });
    }

    // The bands' codes, the skips at the seams (a code per band and per longest run), and the end code.
    std::size_t size = 2 * (static_cast<std::size_t>(blockRows) * (codedWidth_ / 4) / kMaxSkips + count + 2);
    for (int band = 0; band < count; ++band) size += bands_[band].bytes.size();
    out.resize(size);
    std::uint8_t* o = out.data();
    int skips = 0;
    bool skippedAny = false;
    for (int band = 0; band < count; ++band) {
        const Band& b = bands_[band];
        skippedAny |= b.skipped;
        skips += b.leadingSkips;
        if (!b.coded) continue;
        putSkips(o, skips);
        std::memcpy(o, b.bytes.data(), b.bytes.size());
        o += b.bytes.size();
        skips = b.trailingSkips;
    }
    putSkips(o, skips);
    put(o, 0);  // end of the frame
    out.resize(static_cast<std::size_t>(o - out.data()));
    havePrevious_ = true;
    return !skippedAny;
}

}  // namespace zoomreel
