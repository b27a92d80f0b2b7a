#include <gtest/gtest.h>

#include <cstring>

#include "keyframes/keyframe_file.h"
#include "status_check.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::readBytes;
using test::TempDir;

/// W = 3, H = 2, SW = 1, SH = 1, N = 2, with recognisable values everywhere.
KeyframeData smallKeyframe() {
    std::vector<std::uint8_t> thumbnail(kThumbnailBytes);
    for (std::size_t i = 0; i < kThumbnailBytes; ++i) thumbnail[i] = static_cast<std::uint8_t>(i % 251);
    return {.layout = {3, 2, 1, 1, 2}, .minimum = 1.5, .maximum = 9.25, .average = 4.0, .zoomMantissa = 1.25f,
            .zoomExponent = 27, .thumbnail = thumbnail, .colorDivisor = 10, .colors = {1, 2, 3, 4, 5, 6},
            .previewMap = {7.5}, .fullMap = {1.5, 2.5, 3.5, 4.5, 5.5, 9.25}};
}

TEST(KeyframeFile, LayoutByteForByteAndReadBack) {
    TempDir dir;
    const KeyframeData d = smallKeyframe();
    ASSERT_TRUE(writeKeyframe(dir / "00000.qvy", d).ok);
    const auto b = readBytes(dir / "00000.qvy");
    ASSERT_EQ(b.size(), 27704u + 6 + 8 * (1 + 6));
    auto slice = [&](std::size_t from, std::size_t to) { return std::vector<std::uint8_t>(&b[from], &b[0] + to); };
    EXPECT_EQ(slice(0, 40), test::ByteWriter().i32(3).i32(2).f64(1.5).f64(9.25).f64(4.0).f32(1.25f).i32(27).bytes());
    EXPECT_EQ(slice(40, 27688), d.thumbnail);
    test::ByteWriter tail;
    tail.i32(10).i32(1).i32(1).i32(2).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).f64(7.5);
    for (double v : d.fullMap) tail.f64(v);
    EXPECT_EQ(slice(27688, b.size()), tail.bytes());

    // Read back, and so with an empty preview, which puts the full map right after the colours.
    KeyframeData noPreview = d;
    noPreview.layout.previewWidth = noPreview.layout.previewHeight = 0;
    noPreview.previewMap.clear();
    ASSERT_TRUE(writeKeyframe(dir / "00001.qvy", noPreview).ok);
    EXPECT_EQ(readBytes(dir / "00001.qvy").size(), 27704u + 6 + 8 * 6);
    for (const auto& [name, written] : {std::pair{"00000.qvy", &d}, {"00001.qvy", &noPreview}}) {
        const auto path = dir / name;
        KeyframeSummary s;
        KeyframeLayout layout;
        ASSERT_TRUE(readKeyframeSummary(path, s, layout).ok);
        EXPECT_EQ(layout, written->layout);
        EXPECT_EQ(std::make_tuple(s.minimum, s.maximum, s.average, s.zoomMantissa, s.zoomExponent, s.colorDivisor),
                  std::make_tuple(1.5, 9.25, 4.0, 1.25f, 27, 10));
        EXPECT_EQ(std::vector<std::uint8_t>(s.thumbnail.data(), s.thumbnail.data() + kThumbnailBytes), d.thumbnail);
        std::vector<std::uint8_t> colors;
        std::vector<double> preview, full;
        ASSERT_TRUE(readKeyframePalette(path, layout, colors).ok && readPreviewMap(path, layout, preview).ok &&
                    readFullMap(path, layout, full).ok);
        EXPECT_EQ(std::make_tuple(colors, preview, full),
                  std::make_tuple(written->colors, written->previewMap, written->fullMap));
    }
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
        EXPECT_TRUE(test::failsSaying(readKeyframeSummary(path, s, layout), cases[i].second, path.filename().string()));
    }

    // A complete file of another layout is refused by the map readers, and so is a missing one.
    KeyframeData other = smallKeyframe();
    other.layout.colorCount = 1;
    other.colors.resize(3);
    ASSERT_TRUE(writeKeyframe(dir / "00001.qvy", other).ok);
    std::vector<double> full;
    EXPECT_TRUE(test::failsSaying(readFullMap(dir / "00001.qvy", smallKeyframe().layout, full), "does not match"));
    EXPECT_TRUE(test::failsSaying(readFullMap(dir / "00002.qvy", smallKeyframe().layout, full), "00002.qvy"));
}

}  // namespace
}  // namespace zoomreel
