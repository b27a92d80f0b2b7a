#include "output/avi_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "output/movie_probe.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::decodeMovie;
using test::TempDir;
using test::upright;

/// A frame whose colours change along x, along y from the top and from frame to frame, so that a flipped,
/// mirrored, shifted or repeated frame cannot pass for the right one.
Raster patternFrame(int width, int height, int index) {
    Raster r(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = r.rowFromTop(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 255 / width);
            row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / height);
            row[3 * x + 2] = static_cast<std::uint8_t>(40 * index + 20);
        }
    }
    return r;
}

double meanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

/// The mean of one channel (0 blue, 1 green, 2 red) of a decoded frame.
double channelMean(const std::vector<std::uint8_t>& pixels, int channel) {
    double sum = 0;
    for (std::size_t i = channel; i < pixels.size(); i += 3) sum += pixels[i];
    return sum / static_cast<double>(pixels.size() / 3);
}

// Every codec in every container that holds it plays back with its size, rate, frames (flat 4:2:0 colours within
// 2 levels) and tags; a container that does not hold it writes nothing. (The sound each container carries is the
// movie driver's test.)
TEST(MovieFormats, EveryCodecInTheContainersThatHoldItWithItsColours) {
    TempDir dir;
    constexpr int kWidth = 64, kHeight = 48, kFrames = 4, kFps = 25;
    Raster flat(kWidth, kHeight);
    flat.fill(40, 150, 220);
    for (const MovieContainer container : kAllContainers) {
        for (const CompressorInfo& info : availableCompressors()) {
            SCOPED_TRACE(std::string(containerName(container)) + " " + fourCCText(info.code));
            const std::filesystem::path file = dir / (fourCCText(info.code) + "." + containerName(container));
            const bool holds = std::count(info.containers.begin(), info.containers.end(), container) == 1;
            if (!holds) {
                AviWriter refused(file, info.code, kFps, container);
                EXPECT_EQ(refused.AppendFrame(flat), kAviFail);
                EXPECT_FALSE(std::filesystem::exists(file));
                continue;
            }
            {
                AviWriter writer(file, info.code, kFps, container);
                for (int i = 0; i < kFrames; ++i) {
                    ASSERT_EQ(writer.AppendFrame(i % 2 == 0 ? patternFrame(kWidth, kHeight, i) : flat), kAviOk)
                        << writer.failureMessage();
                }
                ASSERT_EQ(writer.Release(), kAviOk) << writer.failureMessage();
            }
            const auto movie = decodeMovie(file);
            EXPECT_EQ(std::tuple(movie.width, movie.height, movie.rateNumerator, movie.rateDenominator),
                      std::tuple(kWidth, kHeight, kFps, 1));
            ASSERT_EQ(static_cast<int>(movie.frames.size()), kFrames);
            if (container == MovieContainer::Avi) {
                EXPECT_EQ(movie.fourCC, info.code == kUncompressed ? "" : fourCCText(info.code));
            }
            EXPECT_EQ(movie.fourCC == "hvc1", container == MovieContainer::Mp4 && info.code == makeFourCC("HEVC"));

            const bool lossless = info.code == kUncompressed || info.code == makeFourCC("FFV1") ||
                                  info.code == makeFourCC("HFYU") || info.code == makeFourCC("ULRG");
            const bool fourTwoZero = !lossless && info.code != kDefaultCompressor;
            for (int i = 0; i < kFrames; ++i) {
                const auto expected = upright(i % 2 == 0 ? patternFrame(kWidth, kHeight, i) : flat);
                EXPECT_LT(meanDifference(movie.frames[i], expected), lossless ? 1e-9 : 10.0) << "frame " << i;
            }
            if (fourTwoZero) {
                for (int channel = 0; channel < 3; ++channel) {
                    EXPECT_NEAR(channelMean(movie.frames[1], channel), channelMean(upright(flat), channel), 2.0)
                        << "channel " << channel;
                }
                // AVI has no place for the tags; of its codecs only H.264 carries them in its own stream.
                const bool jpeg = info.code == makeFourCC("MJPG");
                if (container != MovieContainer::Avi || info.code == makeFourCC("H264")) {
                    EXPECT_EQ(movie.colorRange, jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG);
                    EXPECT_EQ(movie.colorSpace, jpeg ? AVCOL_SPC_BT470BG : AVCOL_SPC_BT709);
                    EXPECT_TRUE(jpeg ||
                                (movie.colorPrimaries == AVCOL_PRI_BT709 && movie.colorTransfer == AVCOL_TRC_BT709));
                }
            }
            if (container == MovieContainer::Mp4) {  // the index before the media, so that a player starts at once
                const std::string text = test::fileText(file);
                EXPECT_LT(text.find("moov"), text.find("mdat"));
            }
        }
    }
}

TEST(AviWriter, SetUpFailuresGiveTheirTextCreateNothingAndRefuseEveryLaterFrame) {
    const struct {
        const char* name;
        std::string folder;  // below the temporary folder; a missing one cannot hold the file
        FourCC compressor;
        int frameRate, width;
        const char* text;
    } cases[] = {
        {"missing folder", "missing/", kDefaultCompressor, 30, 64, "Unable to Create the Movie File"},
        {"no frame rate", "", kDefaultCompressor, 0, 64, "Unable to Create Stream"},
        {"unknown compressor", "", makeFourCC("QQQQ"), 30, 64, "A suitable compressor cannot be found."},
        {"size the codec refuses", "", makeFourCC("H264"), 30, 65,  // 4:2:0 needs even sides
         "The codec H264 keeps colour at half the resolution and takes only frames of even width and height, not 65 "
         "x 48: choose an even size or another codec."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.width == 65 && !findCompressor("H264")) continue;
        TempDir dir;
        const std::filesystem::path file = dir / (c.folder + "film(0-1)001.avi");
        AviWriter writer(file, c.compressor, c.frameRate);
        EXPECT_EQ(writer.AppendFrame(patternFrame(c.width, 48, 0)), kAviFail);
        EXPECT_EQ(std::tuple(writer.lastError, writer.appendMode), std::tuple(std::string(c.text), 0));
        writer.lastError.clear();
        EXPECT_EQ(writer.AppendFrame(patternFrame(64, 48, 1)), kAviFail);
        EXPECT_EQ(writer.lastError, "");  // refused at once, without trying again
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
}

TEST(AviWriter, LifecycleReleaseTwiceDestroyedFreshAndAFrameOfAnotherSize) {
    TempDir dir;
    {
        AviWriter fresh(dir / "never.avi", kDefaultCompressor, 30);
        EXPECT_EQ(fresh.Release(), kAviOk);
        EXPECT_EQ(fresh.Release(), kAviOk);
        EXPECT_EQ(fresh.AppendFrame(patternFrame(32, 32, 0)), kAviFail);
    }
    { AviWriter untouched(dir / "never2.avi", kDefaultCompressor, 30); }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    const std::filesystem::path file = dir / "sizes.avi";
    AviWriter writer(file, kUncompressed, 30);
    ASSERT_EQ(writer.AppendFrame(patternFrame(32, 16, 0)), kAviOk);
    EXPECT_EQ(writer.AppendFrame(patternFrame(36, 16, 1)), kAviFail);
    EXPECT_NE(writer.lastError.find("36 x 16"), std::string::npos);
    EXPECT_EQ(writer.appendMode, 2);  // that frame only: the movie goes on
    ASSERT_EQ(writer.AppendFrame(patternFrame(32, 16, 2)), kAviOk);
    EXPECT_EQ(writer.Release(), kAviOk);
    EXPECT_EQ(writer.Release(), kAviOk);
    EXPECT_EQ(writer.AppendFrame(patternFrame(32, 16, 3)), kAviFail);
    const auto movie = decodeMovie(file);
    ASSERT_EQ(movie.frames.size(), 2u);
    EXPECT_EQ(movie.frames[1], upright(patternFrame(32, 16, 2)));

    // A relative folder whose name holds a colon is a folder, not a protocol.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::filesystem::create_directory("zoom:1");
    {
        AviWriter relative("zoom:1/film(0-1)001.avi", kUncompressed, 30);
        EXPECT_EQ(relative.AppendFrame(patternFrame(32, 16, 0)), kAviOk) << relative.lastError;
    }
    std::filesystem::current_path(before);
    EXPECT_EQ(decodeMovie(dir / "zoom:1/film(0-1)001.avi").frames.size(), 1u);
}

TEST(AviWriter, ChooseCompressorAsksWithTheDialogsStartValuesAndKeepsTheWriterOnCancel) {
    AviWriter writer("unused.avi", kDefaultCompressor, 24);
    CompressorRequest seen;
    const auto cancel = [&](const CompressorRequest& request) -> std::optional<CompressorChoice> {
        seen = request;
        return std::nullopt;
    };
    EXPECT_EQ(writer.ChooseCompressor(cancel, 1280, 720), 0);
    EXPECT_EQ(std::tuple(seen.initial.compressor, seen.initial.keyFrameEvery, seen.initial.quality, seen.width,
                         seen.height, seen.frameRate, seen.compressors.size()),
              std::tuple(kDefaultCompressor, 1, 8500, 1280, 720, 24, compressorsFor(MovieContainer::Avi).size()));
    EXPECT_EQ(std::tuple(writer.compressor, writer.keyFrameEvery, writer.quality), std::tuple(kDefaultCompressor, 1, 100));
    EXPECT_EQ(writer.ChooseCompressor(nullptr, 1280, 720), 0);

    for (const auto& [dialogQuality, quality] : {std::pair{10000, 100}, {8500, 85}, {50, 0}}) {
        const CompressorChoice choice{kUncompressed, 12, dialogQuality};
        const int chosen = writer.ChooseCompressor(
            [choice](const CompressorRequest&) { return std::optional<CompressorChoice>(choice); }, 64, 64);
        EXPECT_EQ(std::tuple(chosen, writer.compressor, writer.keyFrameEvery, writer.quality),
                  std::tuple(1, kUncompressed, 12, quality));
    }
}

TEST(AviWriter, CompressorNamesAndTheSystemsReason) {
    EXPECT_EQ(findCompressor("msvc"), kDefaultCompressor);  // "raw" and unknown names: the command line's tests
    EXPECT_EQ(findCompressor("MSVC1"), std::nullopt);

    std::string text;
    DescribeAviError(-28, text);  // no space left on the device
    EXPECT_NE(text.find("space"), std::string::npos);
}

}  // namespace
}  // namespace zoomreel
