#include "output/msvideo1_encoder.h"

#include <algorithm>
#include <array>
#include <climits>

namespace zoomreel {
namespace {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

int distance(const Rgb& a, const Rgb& b) {
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

std::uint16_t word(const Rgb& c) { return static_cast<std::uint16_t>((c.r << 10) | (c.g << 5) | c.b); }

Rgb unpack(unsigned colour) {
    return {static_cast<int>((colour >> 10) & 31), static_cast<int>((colour >> 5) & 31), static_cast<int>(colour & 31)};
}

/// Two colours for the n pixels of (r, g, b): the pixels are split at the middle of their widest channel's range,
/// each side's rounded centroid is a colour, and each pixel then takes the nearer of the two (`which[i]`, 0 or
/// 1). Returns the squared error. The channels of a block are in separate arrays so that the loops vectorise.
template <int n>
int splitInTwo(const int* r, const int* g, const int* b, Rgb colors[2], std::uint8_t* which) {
    int lowR = 31, lowG = 31, lowB = 31, highR = 0, highG = 0, highB = 0;
    for (int i = 0; i < n; ++i) {
        lowR = std::min(lowR, r[i]), highR = std::max(highR, r[i]);
        lowG = std::min(lowG, g[i]), highG = std::max(highG, g[i]);
        lowB = std::min(lowB, b[i]), highB = std::max(highB, b[i]);
    }
    const int rangeR = highR - lowR, rangeG = highG - lowG, rangeB = highB - lowB;
    const int* axis = r;
    int middle = lowR + highR;
    if (rangeG > rangeR && rangeG >= rangeB) {
        axis = g, middle = lowG + highG;
    } else if (rangeB > rangeR && rangeB > rangeG) {
        axis = b, middle = lowB + highB;
    }
    int sum[2][3] = {}, count[2] = {};
    for (int i = 0; i < n; ++i) {
        const int side = 2 * axis[i] > middle ? 1 : 0;
        sum[side][0] += r[i], sum[side][1] += g[i], sum[side][2] += b[i], ++count[side];
    }
    for (int side = 0; side < 2; ++side) {
        const int c = std::max(count[side], 1);
        colors[side] = {(sum[side][0] + c / 2) / c, (sum[side][1] + c / 2) / c, (sum[side][2] + c / 2) / c};
    }
    if (n <= 4) {
        // So few pixels rarely change sides: each keeps its side, and the error follows from the sums.
        int error = 0;
        for (int i = 0; i < n; ++i) {
            const int side = 2 * axis[i] > middle ? 1 : 0;
            which[i] = static_cast<std::uint8_t>(side);
            error += distance(Rgb{r[i], g[i], b[i]}, colors[side]);
        }
        return error;
    }
    int error = 0;
    for (int i = 0; i < n; ++i) {
        const Rgb p{r[i], g[i], b[i]};
        const int d0 = distance(p, colors[0]);
        const int d1 = distance(p, colors[1]);
        which[i] = d1 < d0 ? 1 : 0;
        error += std::min(d0, d1);
    }
    return error;
}

// Bytes a block takes beyond its error, as the cost of choosing it.
constexpr int kFillCost = 2;
constexpr int kTwoColorCost = 6;
constexpr int kEightColorCost = 18;
constexpr int kMaxSkips = 0x3FF;

}  // namespace

MsVideo1Encoder::MsVideo1Encoder(int width, int height, int quality)
    : width_(width),
      height_(height),
      codedWidth_(codedSide(width)),
      codedHeight_(codedSide(height)),
      divisor_(24 * 100 / std::clamp(quality, 1, 100)),
      previous_(static_cast<std::size_t>(codedWidth_) * codedHeight_),
      rows_(static_cast<std::size_t>(codedWidth_) * 4) {}

bool MsVideo1Encoder::encode(const std::uint8_t* pixels, bool key, std::vector<std::uint8_t>& out) {
    const bool skipping = !key && havePrevious_;
    const std::size_t stride = static_cast<std::size_t>((width_ * 24 + 31) / 32) * 4;
    // At most 18 bytes a block, and the end code.
    out.resize(static_cast<std::size_t>(codedWidth_ / 4) * (codedHeight_ / 4) * 18 + 2);
    std::uint8_t* o = out.data();
    auto put = [&o](unsigned value) {
        o[0] = static_cast<std::uint8_t>(value & 0xFF);
        o[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
        o += 2;
    };
    int skips = 0;
    bool skippedAny = false;
    auto flushSkips = [&] {
        if (skips > 0) put(0x8400u | static_cast<unsigned>(skips));
        skips = 0;
    };

    // Pixel (x, y) of the block at 4y + x, y = 0 the bottom row, as a 15-bit colour and as channels; and the
    // channels again quarter by quarter.
    std::uint16_t colour[16];
    int r[16], g[16], b[16];
    int quarterR[16], quarterG[16], quarterB[16];
    for (int by = 0; by < codedHeight_; by += 4) {
        // The block row's four picture rows as 15-bit colours, the form the decoder shows; past the frame's top
        // row and right column, those repeated.
        for (int y = 0; y < 4; ++y) {
            const std::uint8_t* in = pixels + static_cast<std::size_t>(std::min(by + y, height_ - 1)) * stride;
            std::uint16_t* row = rows_.data() + static_cast<std::size_t>(y) * codedWidth_;
            for (int x = 0; x < width_; ++x) {
                row[x] = static_cast<std::uint16_t>(((in[3 * x + 2] >> 3) << 10) | ((in[3 * x + 1] >> 3) << 5) |
                                                    (in[3 * x] >> 3));
            }
            std::fill(row + width_, row + codedWidth_, row[width_ - 1]);
        }
        for (int bx = 0; bx < codedWidth_; bx += 4) {
            std::uint16_t* shownRows[4];
            unsigned differs = 0;
            for (int y = 0; y < 4; ++y) {
                const std::uint16_t* row = rows_.data() + static_cast<std::size_t>(y) * codedWidth_ + bx;
                shownRows[y] = previous_.data() + static_cast<std::size_t>(by + y) * codedWidth_ + bx;
                for (int x = 0; x < 4; ++x) {
                    colour[4 * y + x] = row[x];
                    differs |= static_cast<unsigned>(row[x] ^ colour[0]);
                }
            }

            enum { Skip, Fill, TwoColors, EightColors } mode = Skip;
            int best = INT_MAX;
            if (skipping) {
                int error = 0;
                for (int y = 0; y < 4; ++y) {
                    for (int x = 0; x < 4; ++x) {
                        const unsigned now = colour[4 * y + x], before = shownRows[y][x];
                        if (now != before) error += distance(unpack(now), unpack(before));
                    }
                }
                best = error / divisor_;
            }
            Rgb fill;
            Rgb two[2];
            std::array<std::uint8_t, 16> twoWhich{};
            Rgb eight[8];
            std::array<std::uint8_t, 16> eightWhich{};
            if (differs == 0 && (colour[0] >> 10) != 1) {
                // One colour throughout: nothing but an unchanged block can do better.
                fill = unpack(colour[0]);
                if (kFillCost < best) mode = Fill;
            } else if (best > 0) {
                // One colour: the mean, its error from the sums of values and squares. A red of 1 would read
                // as a skip code, so it becomes 0.
                int sumR = 0, sumG = 0, sumB = 0, squares = 0;
                for (int i = 0; i < 16; ++i) {
                    const Rgb c = unpack(colour[i]);
                    r[i] = c.r, g[i] = c.g, b[i] = c.b;
                    sumR += c.r, sumG += c.g, sumB += c.b;
                    squares += c.r * c.r + c.g * c.g + c.b * c.b;
                }
                fill = {(sumR + 8) / 16, (sumG + 8) / 16, (sumB + 8) / 16};
                if (fill.r == 1) fill.r = 0;
                const int fillError = squares - 2 * (fill.r * sumR + fill.g * sumG + fill.b * sumB) +
                                      16 * (fill.r * fill.r + fill.g * fill.g + fill.b * fill.b);
                if (fillError / divisor_ + kFillCost < best) {
                    best = fillError / divisor_ + kFillCost;
                    mode = Fill;
                }
                // Two colours.
                if (best > kTwoColorCost) {
                    const int error = splitInTwo<16>(r, g, b, two, twoWhich.data());
                    if (error / divisor_ + kTwoColorCost < best) {
                        best = error / divisor_ + kTwoColorCost;
                        mode = TwoColors;
                    }
                }
                // Two colours in each quarter: quarter q holds (x, y) with q = 2 * (y / 2) + x / 2.
                if (best > kEightColorCost) {
                    for (int i = 0; i < 16; ++i) {
                        const int x = i % 4, y = i / 4;
                        const int q = 4 * (2 * (y / 2) + x / 2) + 2 * (y % 2) + x % 2;
                        quarterR[q] = r[i], quarterG[q] = g[i], quarterB[q] = b[i];
                    }
                    int error = 0;
                    for (int q = 0; q < 4; ++q) {
                        const int x0 = 2 * (q % 2), y0 = 2 * (q / 2);
                        std::uint8_t which[4];
                        error += splitInTwo<4>(quarterR + 4 * q, quarterG + 4 * q, quarterB + 4 * q, eight + 2 * q,
                                               which);
                        eightWhich[4 * y0 + x0] = which[0];
                        eightWhich[4 * y0 + x0 + 1] = which[1];
                        eightWhich[4 * (y0 + 1) + x0] = which[2];
                        eightWhich[4 * (y0 + 1) + x0 + 1] = which[3];
                    }
                    if (error / divisor_ + kEightColorCost < best) mode = EightColors;
                }
            }

            if (mode == Skip) {
                skippedAny = true;
                if (++skips == kMaxSkips) flushSkips();
                continue;
            }
            flushSkips();
            // What the decoder shows from now on, pixel by pixel.
            std::uint16_t shown[16];
            if (mode == Fill) {
                put(0x8000u | word(fill));
                std::fill(shown, shown + 16, word(fill));
            } else if (mode == TwoColors) {
                // The last pixel must take the second colour: its flag bit is the block's sign bit.
                if (twoWhich[15] != 1) {
                    std::swap(two[0], two[1]);
                    for (auto& w : twoWhich) w ^= 1;
                }
                unsigned flags = 0;
                for (int i = 0; i < 16; ++i) {
                    if (twoWhich[i] == 0) flags |= 1u << i;  // a set bit shows the first colour
                    shown[i] = word(two[twoWhich[i]]);
                }
                put(flags);
                put(word(two[0]));
                put(word(two[1]));
            } else {
                if (eightWhich[15] != 1) {  // the top right quarter: colours 6 and 7
                    std::swap(eight[6], eight[7]);
                    for (int i : {10, 11, 14, 15}) eightWhich[i] ^= 1;
                }
                unsigned flags = 0;
                for (int i = 0; i < 16; ++i) {
                    const int q = 2 * ((i / 4) / 2) + (i % 4) / 2;
                    if (eightWhich[i] == 0) flags |= 1u << i;
                    shown[i] = word(eight[2 * q + eightWhich[i]]);
                }
                put(flags);
                put(0x8000u | word(eight[0]));  // the sign bit marks the eight-colour form
                for (int c = 1; c < 8; ++c) put(word(eight[c]));
            }
            for (int y = 0; y < 4; ++y) std::copy(shown + 4 * y, shown + 4 * y + 4, shownRows[y]);
        }
    }
    flushSkips();
    put(0);  // end of the frame
    out.resize(static_cast<std::size_t>(o - out.data()));
    havePrevious_ = true;
    return !skippedAny;
}

}  // namespace zoomreel
