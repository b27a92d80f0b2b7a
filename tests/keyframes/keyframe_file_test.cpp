#include <gtest/gtest.h>

#include <cstring>

#include "keyframes/keyframe_file.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::readBytes;
using test::TempDir;

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

/// W = 3, H = 2, SW = 1, SH = 1, N = 2, with recognisable values everywhere.
KeyframeData smallKeyframe() {
    KeyframeData d;
    d.layout = {3, 2, 1, 1, 2};
    d.minimum = 1.5;
    d.maximum = 9.25;
    d.average = 4.0;
    d.zoomMantissa = 1.25f;
    d.zoomExponent = 27;
    d.thumbnail.assign(kThumbnailBytes, 0);
    for (std::size_t i = 0; i < kThumbnailBytes; ++i) d.thumbnail[i] = static_cast<std::uint8_t>(i % 251);
    d.colorDivisor = 10;
    d.colors = {1, 2, 3, 4, 5, 6};
    d.previewMap = {7.5};
    d.fullMap = {1.5, 2.5, 3.5, 4.5, 5.5, 9.25};
    return d;
}

TEST(KeyframeFile, LayoutByteForByte) {
    TempDir dir;
    const auto path = dir / "00000.qvy";
    ASSERT_TRUE(writeKeyframe(path, smallKeyframe()).ok);
    const auto b = readBytes(path);
    ASSERT_EQ(b.size(), 27704u + 6 + 8 * (1 + 6));
    EXPECT_EQ(at<std::int32_t>(b, 0), 3);
    EXPECT_EQ(at<std::int32_t>(b, 4), 2);
    EXPECT_EQ(at<double>(b, 8), 1.5);
    EXPECT_EQ(at<double>(b, 16), 9.25);
    EXPECT_EQ(at<double>(b, 24), 4.0);
    EXPECT_EQ(at<float>(b, 32), 1.25f);
    EXPECT_EQ(at<std::int32_t>(b, 36), 27);
    EXPECT_EQ(b[40], 0);
    EXPECT_EQ(b[40 + 27647], static_cast<std::uint8_t>(27647 % 251));
    EXPECT_EQ(at<std::int32_t>(b, 27688), 10);
    EXPECT_EQ(at<std::int32_t>(b, 27692), 1);
    EXPECT_EQ(at<std::int32_t>(b, 27696), 1);
    EXPECT_EQ(at<std::int32_t>(b, 27700), 2);
    EXPECT_EQ(b[27704], 1);
    EXPECT_EQ(b[27709], 6);
    EXPECT_EQ(at<double>(b, 27710), 7.5);
    EXPECT_EQ(at<double>(b, 27718), 1.5);
    EXPECT_EQ(at<double>(b, 27718 + 5 * 8), 9.25);
}

TEST(KeyframeFile, EmptyPreviewPutsTheFullMapRightAfterTheColors) {
    KeyframeData d = smallKeyframe();
    d.layout.previewWidth = 0;
    d.layout.previewHeight = 0;
    d.previewMap.clear();
    EXPECT_EQ(d.layout.fullMapOffset(), 27704u + 6);
    TempDir dir;
    ASSERT_TRUE(writeKeyframe(dir / "k.qvy", d).ok);
    std::vector<double> full;
    ASSERT_TRUE(readFullMap(dir / "k.qvy", d.layout, full).ok);
    EXPECT_EQ(full, d.fullMap);
}

TEST(KeyframeFile, ReadersReturnWhatWasWritten) {
    TempDir dir;
    const auto path = dir / "00001.qvy";
    const KeyframeData d = smallKeyframe();
    ASSERT_TRUE(writeKeyframe(path, d).ok);

    KeyframeSummary s;
    KeyframeLayout layout;
    ASSERT_TRUE(readKeyframeSummary(path, s, layout).ok);
    EXPECT_EQ(layout, d.layout);
    EXPECT_EQ(s.minimum, 1.5);
    EXPECT_EQ(s.maximum, 9.25);
    EXPECT_EQ(s.average, 4.0);
    EXPECT_EQ(s.zoomMantissa, 1.25f);
    EXPECT_EQ(s.zoomExponent, 27);
    EXPECT_EQ(s.colorDivisor, 10);
    ASSERT_EQ(s.thumbnail.width(), 128);
    ASSERT_EQ(s.thumbnail.height(), 72);
    EXPECT_EQ(std::vector<std::uint8_t>(s.thumbnail.data(), s.thumbnail.data() + kThumbnailBytes), d.thumbnail);

    std::vector<std::uint8_t> colors;
    std::vector<double> preview;
    std::vector<double> full;
    ASSERT_TRUE(readKeyframePalette(path, layout, colors).ok);
    ASSERT_TRUE(readPreviewMap(path, layout, preview).ok);
    ASSERT_TRUE(readFullMap(path, layout, full).ok);
    EXPECT_EQ(colors, d.colors);
    EXPECT_EQ(preview, d.previewMap);
    EXPECT_EQ(full, d.fullMap);
}

TEST(KeyframeFile, DamagedFilesAreReportedWithTheirName) {
    TempDir dir;
    const auto good = dir / "00000.qvy";
    ASSERT_TRUE(writeKeyframe(good, smallKeyframe()).ok);
    const auto bytes = readBytes(good);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* says;
    };
    auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n); };
    auto patched = [&](std::size_t offset, std::int32_t value) {
        auto b = bytes;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };
    const Case cases[] = {
        {"empty", {}, "too short"},
        {"inside header", cut(100), "too short"},
        {"inside the full map", cut(bytes.size() - 1), "too short"},
        {"negative width", patched(0, -3), "damaged"},
        {"huge height", patched(4, 1 << 30), "damaged"},
        {"no colors", patched(27700, 0), "damaged"},
        {"huge colour count", patched(27700, 1 << 30), "damaged"},
        {"preview wider than the map", patched(27692, 4), "damaged"},
    };
    for (const Case& c : cases) {
        const auto path = dir / (std::string(c.name) + ".qvy");
        test::writeBytes(path, c.bytes);
        KeyframeSummary s;
        KeyframeLayout layout;
        const Status status = readKeyframeSummary(path, s, layout);
        EXPECT_FALSE(status.ok) << c.name;
        EXPECT_NE(status.message.find(c.says), std::string::npos) << c.name << ": " << status.message;
        EXPECT_NE(status.message.find(path.filename().string()), std::string::npos) << status.message;
    }
}

TEST(KeyframeFile, MapReadsCheckTheFileAgainstTheFirstKeyframe) {
    TempDir dir;
    KeyframeData other = smallKeyframe();
    other.layout.colorCount = 1;
    other.colors.resize(3);
    ASSERT_TRUE(writeKeyframe(dir / "00001.qvy", other).ok);
    std::vector<double> full;
    const Status status = readFullMap(dir / "00001.qvy", smallKeyframe().layout, full);
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.message.find("does not match the first keyframe"), std::string::npos) << status.message;

    const Status missing = readFullMap(dir / "00002.qvy", smallKeyframe().layout, full);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.message.find("00002.qvy"), std::string::npos) << missing.message;
}

}  // namespace
}  // namespace zoomreel
