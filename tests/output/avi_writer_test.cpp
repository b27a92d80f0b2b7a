#include "output/avi_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "output/movie_probe.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::decodeMovie;
using test::TempDir;

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

/// The frame as a decoder gives it: rows from the top, no padding.
std::vector<std::uint8_t> upright(const Raster& r) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < r.height(); ++y) bytes.insert(bytes.end(), r.rowFromTop(y), r.rowFromTop(y) + 3 * r.width());
    return bytes;
}

double meanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

bool lossless(const FourCC& code) {
    return code == kUncompressed || code == makeFourCC("FFV1") || code == makeFourCC("HFYU") ||
           code == makeFourCC("ULRG");
}

TEST(AviWriter, EveryCompressorWritesAPlayableMovieOfTheFirstFramesSizeAndRate) {
    ASSERT_EQ(availableCompressors().front().code, kDefaultCompressor);
    ASSERT_EQ(availableCompressors()[1].code, kUncompressed);
    for (const CompressorInfo& info : availableCompressors()) {
        SCOPED_TRACE(fourCCText(info.code));
        TempDir dir;
        const std::filesystem::path file = dir / "film(0-3)001.avi";
        // Full frames are written as stored, so a width whose rows need padding tests the layout; the encoders
        // get sides that each of them takes.
        const int width = info.code == kUncompressed ? 67 : 64;
        const int height = info.code == kUncompressed ? 13 : 48;
        constexpr int kFrames = 4;
        {
            AviWriter writer(file, info.code, 25);
            for (int i = 0; i < kFrames; ++i) {
                ASSERT_EQ(writer.AppendFrame(patternFrame(width, height, i)), kAviOk) << writer.lastError;
            }
            EXPECT_EQ(writer.sampleIndex, kFrames);
            ASSERT_EQ(writer.Release(), kAviOk) << writer.lastError;
        }
        const auto movie = decodeMovie(file);
        ASSERT_TRUE(movie.opened);
        EXPECT_EQ(movie.fourCC, info.code == kUncompressed ? "" : fourCCText(info.code));
        EXPECT_EQ(movie.width, width);
        EXPECT_EQ(movie.height, height);
        EXPECT_EQ(movie.rateNumerator, 25);
        EXPECT_EQ(movie.rateDenominator, 1);
        ASSERT_EQ(static_cast<int>(movie.frames.size()), kFrames);
        for (int i = 0; i < kFrames; ++i) {
            const auto expected = upright(patternFrame(width, height, i));
            if (lossless(info.code)) {
                EXPECT_EQ(movie.frames[i], expected) << "frame " << i;
            } else {
                EXPECT_LT(meanDifference(movie.frames[i], expected), 10.0) << "frame " << i;
            }
        }
    }
}

TEST(AviWriter, KeyFramesFollowTheChosenInterval) {
    TempDir dir;
    const std::filesystem::path file = dir / "keys.avi";
    {
        AviWriter writer(file, kDefaultCompressor, 30);
        writer.keyFrameEvery = 3;
        for (int i = 0; i < 7; ++i) {
            // Only a corner changes: a frame whose every block changed is a key frame whatever the interval.
            Raster frame = patternFrame(32, 32, 0);
            frame.rowFromTop(0)[0] = static_cast<std::uint8_t>(50 * i);
            ASSERT_EQ(writer.AppendFrame(frame), kAviOk);
        }
    }  // destruction releases: the file is finished
    const auto movie = decodeMovie(file);
    EXPECT_EQ(movie.keyPackets, (std::vector<bool>{true, false, false, true, false, false, true}));
}

TEST(AviWriter, SetUpFailuresGiveTheirTextCreateNothingAndRefuseEveryLaterFrame) {
    struct Case {
        const char* name;
        std::string folder;  // below the temporary folder; a missing one cannot hold the file
        FourCC compressor;
        int frameRate;
        int width;
        const char* text;
    };
    const Case cases[] = {
        {"missing folder", "missing/", kDefaultCompressor, 30, 64, "Unable to Create the Movie File"},
        {"no frame rate", "", kDefaultCompressor, 0, 64, "Unable to Create Stream"},
        {"unknown compressor", "", makeFourCC("QQQQ"), 30, 64, "A suitable compressor cannot be found."},
        {"size the codec refuses", "", makeFourCC("H264"), 30, 65,  // 4:2:0 needs even sides
         "Compression is not supported for this type of data."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.width == 65 && !findCompressor("H264")) continue;
        TempDir dir;
        const std::filesystem::path file = dir / (c.folder + "film(0-1)001.avi");
        AviWriter writer(file, c.compressor, c.frameRate);
        EXPECT_EQ(writer.AppendFrame(patternFrame(c.width, 48, 0)), kAviFail);
        EXPECT_EQ(writer.lastError, c.text);
        EXPECT_EQ(writer.appendMode, 0);
        EXPECT_FALSE(std::filesystem::exists(file));
        writer.lastError.clear();
        EXPECT_EQ(writer.AppendFrame(patternFrame(64, 48, 1)), kAviFail);
        EXPECT_EQ(writer.lastError, "");  // refused at once, without trying again
        EXPECT_FALSE(std::filesystem::exists(file));
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
    const int cancelled = writer.ChooseCompressor(
        [&](const CompressorRequest& request) -> std::optional<CompressorChoice> {
            seen = request;
            return std::nullopt;
        },
        1280, 720);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(seen.initial.compressor, kDefaultCompressor);
    EXPECT_EQ(seen.initial.keyFrameEvery, 1);
    EXPECT_EQ(seen.initial.quality, 8500);
    EXPECT_EQ(seen.width, 1280);
    EXPECT_EQ(seen.height, 720);
    EXPECT_EQ(seen.frameRate, 24);
    EXPECT_EQ(seen.compressors.size(), availableCompressors().size());
    EXPECT_EQ(writer.compressor, kDefaultCompressor);
    EXPECT_EQ(writer.keyFrameEvery, 1);
    EXPECT_EQ(writer.quality, 100);
    EXPECT_EQ(writer.ChooseCompressor(nullptr, 1280, 720), 0);

    for (const auto& [dialogQuality, quality] : {std::pair{10000, 100}, {8500, 85}, {50, 0}}) {
        const CompressorChoice choice{kUncompressed, 12, dialogQuality};
        const int chosen = writer.ChooseCompressor(
            [choice](const CompressorRequest&) { return std::optional<CompressorChoice>(choice); },
            64, 64);
        EXPECT_EQ(chosen, 1);
        EXPECT_EQ(writer.compressor, kUncompressed);
        EXPECT_EQ(writer.keyFrameEvery, 12);
        EXPECT_EQ(writer.quality, quality);
    }
}

TEST(AviWriter, CompressorNamesAndErrorTexts) {
    EXPECT_EQ(findCompressor("msvc"), kDefaultCompressor);
    EXPECT_EQ(findCompressor("raw"), kUncompressed);
    EXPECT_EQ(findCompressor("MSVC1"), std::nullopt);
    EXPECT_EQ(findCompressor("QQQQ"), std::nullopt);

    std::string text = "unchanged";
    DescribeAviError(static_cast<AviStatus>(0x80044071u), text);
    EXPECT_EQ(text, "AVIERR_NOCOMPRESSOR");
    DescribeAviError(static_cast<AviStatus>(0x800440C7u), text);
    EXPECT_EQ(text, "AVIERR_ERROR");
    DescribeAviError(-28, text);  // no space left on the device
    EXPECT_NE(text.find("space"), std::string::npos);
}

}  // namespace
}  // namespace zoomreel
