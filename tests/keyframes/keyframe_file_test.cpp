#include <gtest/gtest.h>

#include <cstring>

#include "keyframes/keyframe_file.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::readBytes;
using test::TempDir;

/// W = 3, H = 2, SW = 1, SH = 1, N = 2, with recognisable values everywhere.
KeyframeData smallKeyframe() {
    KeyframeData d;
    d.layout = {3, 2, 1, 1, 2};
    d.minimum = 1.5;
    d.maximum = 9.25;
    d.average = 4.0;
    d.zoomMantissa = 1.25f;
    d.zoomExponent = 27;
    for (std::size_t i = 0; i < kThumbnailBytes; ++i) d.thumbnail.push_back(static_cast<std::uint8_t>(i % 251));
    d.colorDivisor = 10;
    d.colors = {1, 2, 3, 4, 5, 6};
    d.previewMap = {7.5};
    d.fullMap = {1.5, 2.5, 3.5, 4.5, 5.5, 9.25};
    return d;
}

TEST(KeyframeFile, LayoutByteForByteAndReadBack) {
    TempDir dir;
    const auto path = dir / "00000.qvy";
    const KeyframeData d = smallKeyframe();
    ASSERT_TRUE(writeKeyframe(path, d).ok);
    const auto b = readBytes(path);
    ASSERT_EQ(b.size(), 27704u + 6 + 8 * (1 + 6));
    auto slice = [&](std::size_t from, std::size_t to) { return std::vector<std::uint8_t>(&b[from], &b[0] + to); };
    EXPECT_EQ(slice(0, 40), test::ByteWriter().i32(3).i32(2).f64(1.5).f64(9.25).f64(4.0).f32(1.25f).i32(27).bytes());
    EXPECT_EQ(slice(40, 27688), d.thumbnail);
    test::ByteWriter tail;
    tail.i32(10).i32(1).i32(1).i32(2).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).f64(7.5);
    for (double v : d.fullMap) tail.f64(v);
    EXPECT_EQ(slice(27688, b.size()), tail.bytes());

    KeyframeSummary s;
    KeyframeLayout layout;
    ASSERT_TRUE(readKeyframeSummary(path, s, layout).ok);
    EXPECT_EQ(layout, d.layout);
    EXPECT_EQ(std::make_tuple(s.minimum, s.maximum, s.average, s.zoomMantissa, s.zoomExponent, s.colorDivisor),
              std::make_tuple(1.5, 9.25, 4.0, 1.25f, 27, 10));
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

TEST(KeyframeFile, EmptyPreviewPutsTheFullMapRightAfterTheColors) {
    KeyframeData d = smallKeyframe();
    d.layout.previewWidth = d.layout.previewHeight = 0;
    d.previewMap.clear();
    EXPECT_EQ(d.layout.fullMapOffset(), 27704u + 6);
    TempDir dir;
    ASSERT_TRUE(writeKeyframe(dir / "k.qvy", d).ok);
    std::vector<double> full;
    ASSERT_TRUE(readFullMap(dir / "k.qvy", d.layout, full).ok);
    EXPECT_EQ(full, d.fullMap);
}

TEST(KeyframeFile, DamagedOrForeignFilesAreReportedWithTheirName) {
    TempDir dir;
    ASSERT_TRUE(writeKeyframe(dir / "good.qvy", smallKeyframe()).ok);
    const auto bytes = readBytes(dir / "good.qvy");
    auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n); };
    auto patched = [&](std::size_t offset, std::int32_t value) {
        auto b = bytes;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };
    const std::pair<std::vector<std::uint8_t>, const char*> cases[] = {
        {cut(100), "too short"},          {cut(bytes.size() - 1), "too short"}, {patched(0, -3), "damaged"},
        {patched(4, 1 << 30), "damaged"}, {patched(27700, 0), "damaged"},       {patched(27692, 4), "damaged"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto path = dir / ("bad" + std::to_string(i) + ".qvy");
        test::writeBytes(path, cases[i].first);
        KeyframeSummary s;
        KeyframeLayout layout;
        const Status status = readKeyframeSummary(path, s, layout);
        EXPECT_NE(status.message.find(cases[i].second), std::string::npos) << i << ": " << status.message;
        EXPECT_NE(status.message.find(path.filename().string()), std::string::npos) << status.message;
    }

    // A complete file of another layout is refused by the map readers, and so is a missing one.
    KeyframeData other = smallKeyframe();
    other.layout.colorCount = 1;
    other.colors.resize(3);
    ASSERT_TRUE(writeKeyframe(dir / "00001.qvy", other).ok);
    std::vector<double> full;
    EXPECT_NE(readFullMap(dir / "00001.qvy", smallKeyframe().layout, full).message.find("does not match"),
              std::string::npos);
    EXPECT_NE(readFullMap(dir / "00002.qvy", smallKeyframe().layout, full).message.find("00002.qvy"),
              std::string::npos);
}

}  // namespace
}  // namespace zoomreel
