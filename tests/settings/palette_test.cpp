#include <gtest/gtest.h>

#include "settings/palette.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::ByteWriter;
using test::TempDir;

ColorTable expanded(const Palette& palette) {
    ColorTable table;
    expandPalette(palette, table);
    return table;
}

Palette paletteOf(std::vector<ColorPoint> points, int rounded = 0) {
    Palette p;
    p.roundedInterpolation = rounded;
    p.points = std::move(points);
    return p;
}

TEST(Palette, DefaultPaletteExpansion) {
    const ColorTable linear = expanded(paletteOf(defaultPalettePoints()));
    for (int k = 0; k <= 255; ++k) EXPECT_EQ(linear.entries[k].blue, k);
    for (int k = 0; k <= 256; ++k) EXPECT_EQ(linear.entries[255 + k].blue, 255 + (-255 * k) / 256) << k;
    for (const TableColor& c : linear.entries) EXPECT_EQ(c.green + c.red, 0);

    const ColorTable rounded = expanded(paletteOf(defaultPalettePoints(), 1));
    EXPECT_EQ(rounded.entries[64].blue, 37);
    EXPECT_EQ(rounded.entries[128].blue, 128);
    EXPECT_EQ(rounded.entries[384].blue, 125);
    EXPECT_EQ(rounded.entries[0].blue, 0);
    EXPECT_EQ(rounded.entries[255].blue, 255);
}

TEST(Palette, EditingKeepsTheLookAndItsBounds) {
    Palette p = paletteOf(defaultPalettePoints());
    ColorTable table = expanded(p);
    const ColorTable before = table;
    // On a point, before the first, after the last, outside the axis: nothing changes.
    for (int position : {255, 0, 511, -3, 600}) EXPECT_FALSE(insertColorPoint(p, table, position));
    EXPECT_EQ(p.count(), 3);
    ASSERT_TRUE(insertColorPoint(p, table, 100));
    ASSERT_EQ(p.count(), 4);
    EXPECT_EQ(p.points[1].position, 100);
    EXPECT_EQ(p.points[1].blue, 100);
    expandPalette(p, table);
    for (int k = 0; k < kColorTableSize; ++k) EXPECT_EQ(table.entries[k].blue, before.entries[k].blue) << k;

    // Removing the end point leaves the entries beyond the new last point as they were.
    removeColorPoint(p, 99);
    ASSERT_EQ(p.points.back().position, 255);
    p.points.back().blue = 10;
    expandPalette(p, table);
    EXPECT_EQ(table.entries[255].blue, 10);
    for (int k = 256; k < kColorTableSize; ++k) EXPECT_EQ(table.entries[k].blue, before.entries[k].blue);

    Palette shortPalette = paletteOf({{40, 1, 2, 3, 0}});
    EXPECT_TRUE(useDefaultPaletteIfTooShort(shortPalette));
    EXPECT_EQ(shortPalette.count(), 3);
    EXPECT_FALSE(useDefaultPaletteIfTooShort(shortPalette));
}

TEST(Palette, HandMadePositionsStayInsideTheTable) {
    // Out-of-axis and coincident positions can come from a file; they must neither write past the table nor divide
    // by zero.
    const ColorTable t = expanded(paletteOf({{-100, 0, 0, 0, 0}, {-100, 9, 9, 9, 0}, {5000, 200, 200, 200, 0},
                                             {300, 1, 1, 1, 0}, {2147483647, 5, 5, 5, 0}}));
    EXPECT_EQ(t.entries[0].blue, 9 + (100 * (200 - 9)) / 5100);
    EXPECT_EQ(t.entries[299].blue, 9 + (399 * (200 - 9)) / 5100);
    EXPECT_EQ(t.entries[511].blue, 1);  // the last pair, which starts at 300, writes over the rest
    const ColorTable r = expanded(paletteOf({{-2147483647 - 1, 0, 0, 0, 0}, {2147483647, 255, 255, 255, 0}}, 1));
    EXPECT_NEAR(r.entries[256].blue, 127, 1);
}

TEST(Palette, FileRoundTripMissingAndDamagedFiles) {
    TempDir dir;
    Palette p = paletteOf({{0, 1, 2, 3, 0xAB}, {300, 4, 5, 6, 0}, {511, 7, 8, 9, 0xCD}}, 1);
    p.usePalette = 1;
    p.colorSensitivity = 1.7;
    ASSERT_TRUE(savePalette(dir / kPaletteFileName, p).ok);
    const auto bytes = test::readBytes(dir / kPaletteFileName);
    ASSERT_EQ(bytes.size(), 20u + 8 * 3);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 28),
              ByteWriter().i32(1).i32(1).f64(1.7).i32(3).i32(0).u8(1).u8(2).u8(3).u8(0xAB).bytes());

    Palette back;
    back.colorSensitivity = 5;
    ASSERT_TRUE(loadPalette(dir / kPaletteFileName, back));
    EXPECT_EQ(back.usePalette, 1);
    EXPECT_EQ(back.roundedInterpolation, 1);
    EXPECT_EQ(back.colorSensitivity, 1.7);
    ASSERT_EQ(back.count(), 3);
    EXPECT_EQ(back.points[2].red, 9);
    EXPECT_EQ(back.points[2].reserved, 0xCD);

    // No file: the user palette is off, linear and empty; the sensitivity stays.
    EXPECT_FALSE(loadPalette(dir / "none.qvs", back));
    EXPECT_EQ(back.usePalette + back.roundedInterpolation + back.count(), 0);
    EXPECT_EQ(back.colorSensitivity, 1.7);

    struct Damaged {
        std::vector<std::uint8_t> bytes;
        int points;
        double sensitivity;
    };
    const std::vector<Damaged> damaged = {
        {ByteWriter().i32(1).i32(0).f64(2.5).i32(-1).i32(0).i32(0).bytes(), 0, 2.5},
        {ByteWriter().i32(1).i32(0).f64(2.5).i32(1 << 29).i32(0).i32(0).i32(5).bytes(), 1, 2.5},
        {ByteWriter().i32(1).i32(0).u8(0).u8(0).bytes(), 0, 1.7},  // the sensitivity is cut short: kept
    };
    for (const Damaged& d : damaged) {
        test::writeBytes(dir / kPaletteFileName, d.bytes);
        Palette read = p;
        read.colorSensitivity = 1.7;
        EXPECT_TRUE(loadPalette(dir / kPaletteFileName, read));
        EXPECT_EQ(read.usePalette, 1);
        EXPECT_EQ(read.count(), d.points);
        EXPECT_EQ(read.colorSensitivity, d.sensitivity);
    }
    EXPECT_FALSE(savePalette(dir / "no-such-folder" / kPaletteFileName, p).ok);
}

}  // namespace
}  // namespace zoomreel
