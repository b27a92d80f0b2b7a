#include "output/msvideo1_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "output/avi_writer.h"
#include "output/movie_probe.h"
#include "platform/worker_pool.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::upright;

/// A byte that survives 5 bits exactly, as a decoder widens them: (v << 3) | (v >> 2).
std::uint8_t exact(int fiveBits) { return static_cast<std::uint8_t>((fiveBits << 3) | (fiveBits >> 2)); }

/// Writes the frames with Microsoft Video 1 and decodes them with FFmpeg's own decoder.
test::DecodedMovie roundTrip(const std::vector<Raster>& frames, int keyFrameEvery) {
    test::TempDir dir;
    {
        AviWriter writer(dir / "msvc.avi", kDefaultCompressor, 25);
        writer.keyFrameEvery = keyFrameEvery;
        for (const Raster& frame : frames) EXPECT_EQ(writer.AppendFrame(frame), kAviOk) << writer.lastError;
        EXPECT_EQ(writer.Release(), kAviOk);
    }
    return test::decodeMovie(dir / "msvc.avi");
}

// Blocks of one or two colours (of 5-bit values) come back exactly, wherever they are, whichever colour their
// last pixel has; a red of 1 (whose one-colour code would read as a skip) comes back with the red changed to 0
// at worst.
TEST(MsVideo1Encoder, BlocksOfOneAndTwoColoursComeBackExactly) {
    constexpr int kWidth = 64, kHeight = 32;
    std::mt19937 random(7);
    Raster frame(kWidth, kHeight);
    for (int by = 0; by < kHeight; by += 4) {
        for (int bx = 0; bx < kWidth; bx += 4) {
            const int colours = 1 + static_cast<int>(random() % 2);
            // The second colour lies far from the first, so that one colour never costs less than two.
            int five[2][3];
            for (int& v : five[0]) v = static_cast<int>(random() % 32);
            for (int c = 0; c < 3; ++c) five[1][c] = c == by / 4 % 3 ? (five[0][c] + 16) % 32 : five[0][c];
            if (bx == 0) five[0][0] = five[1][0] = 1;  // red 1: the first column of blocks
            const auto pattern = static_cast<unsigned>(random());
            for (int y = 0; y < 4; ++y) {
                for (int x = 0; x < 4; ++x) {
                    const int which = colours == 2 && ((pattern >> (4 * y + x)) & 1) ? 1 : 0;
                    std::uint8_t* p = frame.storedRow(by + y) + 3 * (bx + x);
                    p[0] = exact(five[which][2]), p[1] = exact(five[which][1]), p[2] = exact(five[which][0]);
                }
            }
        }
    }
    const auto movie = roundTrip({frame}, 1);
    ASSERT_EQ(movie.frames.size(), 1u);
    const std::vector<std::uint8_t> source = upright(frame);
    int redChanged = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (movie.frames[0][i] == source[i]) continue;
        // Only the red of a one-colour block whose red is 1.
        ASSERT_EQ(i % 3, 2u) << i;
        ASSERT_EQ(source[i], exact(1)) << i;
        ASSERT_EQ(movie.frames[0][i], 0) << i;
        ++redChanged;
    }
    EXPECT_LE(redChanged, 16 * kHeight / 4);
}

// Noise needs the most colours a block can hold; frames that repeat are sent as skipped blocks, in runs longer
// than one skip code can count, and decode to the same picture; key frames come at the chosen interval.
TEST(MsVideo1Encoder, NoiseAndRepeatedFramesDecodeToWhatWasWritten) {
    constexpr int kWidth = 256, kHeight = 128;  // 2048 blocks: beyond the 1023 one skip code counts
    std::mt19937 random(11);
    Raster noise(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < 3 * kWidth; ++x) noise.storedRow(y)[x] = static_cast<std::uint8_t>(random());
    Raster changed = noise;
    for (int y = kHeight - 4; y < kHeight; ++y) std::fill(changed.storedRow(y), changed.storedRow(y) + 12, 255);

    const auto movie = roundTrip({noise, noise, changed, noise, noise}, 4);
    ASSERT_EQ(movie.frames.size(), 5u);
    EXPECT_EQ(movie.keyPackets, (std::vector<bool>{true, false, false, false, true}));
    const std::vector<std::uint8_t> source = upright(noise);
    double error = 0;
    for (std::size_t i = 0; i < source.size(); ++i) error += std::abs(movie.frames[0][i] - source[i]);
    EXPECT_LT(error / static_cast<double>(source.size()), 40.0);  // noise is the hardest case for four colours a quarter
    EXPECT_EQ(movie.frames[1], movie.frames[0]);
    EXPECT_EQ(movie.frames[3], movie.frames[0]);  // the changed block, changed back
    EXPECT_EQ(movie.frames[4], movie.frames[0]);
    EXPECT_EQ(movie.frames[2][0], 255);           // the top left block, now white
    const std::size_t belowTopBlocks = 4 * 3 * kWidth;  // the picture's top four rows hold the changed block
    EXPECT_TRUE(std::equal(movie.frames[2].begin() + belowTopBlocks, movie.frames[2].end(),
                           movie.frames[0].begin() + belowTopBlocks));

    // Workers coding a band of block rows each give the same bytes, the skip runs across their seams included.
    WorkerPool pool(3);
    MsVideo1Encoder alone(kWidth, kHeight, 85), banded(kWidth, kHeight, 85);
    std::vector<std::uint8_t> one, many;
    for (const Raster* frame : {&noise, &noise, &changed, &noise}) {
        EXPECT_EQ(alone.encode(frame->data(), false, one), banded.encode(frame->data(), false, many, &pool));
        EXPECT_EQ(one, many);
    }
}

// Any frame size gets a movie: sides that are not multiples of 4 are coded on the next multiple up, which the
// stream declares, so a decoder shows the whole frame in place, with the top row and the right column repeated
// into the extra pixels.
TEST(MsVideo1Encoder, FramesOfAnySizeDecodeWholeWithTheirEdgesRepeated) {
    for (const auto& [width, height] : {std::pair{66, 30}, std::pair{5, 3}, std::pair{160, 90}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        // One 5-bit colour per 4 x 4 block counted from the bottom left, which coding keeps exactly.
        Raster frame(width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::mt19937 block(static_cast<unsigned>(1000 * (y / 4) + x / 4));
                std::uint8_t* p = frame.storedRow(y) + 3 * x;
                for (int b = 0; b < 3; ++b) p[b] = exact(static_cast<int>(block() % 30) + 2);
            }
        }
        const auto movie = roundTrip({frame, frame}, 1);
        const int codedWidth = (width + 3) / 4 * 4, codedHeight = (height + 3) / 4 * 4;
        ASSERT_EQ(std::tuple(movie.width, movie.height, movie.frames.size()), std::tuple(codedWidth, codedHeight, 2u));
        for (int y = 0; y < codedHeight; ++y) {  // y from the top of the coded picture
            const int stored = std::min(codedHeight - 1 - y, height - 1);
            for (int x = 0; x < codedWidth; ++x) {
                const std::uint8_t* want = frame.storedRow(stored) + 3 * std::min(x, width - 1);
                const std::uint8_t* got = movie.frames[1].data() + 3 * (static_cast<std::size_t>(y) * codedWidth + x);
                ASSERT_TRUE(std::equal(want, want + 3, got)) << x << ", " << y;
            }
        }
    }
}

}  // namespace
}  // namespace zoomreel
