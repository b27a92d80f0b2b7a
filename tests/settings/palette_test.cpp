#include <gtest/gtest.h>

#include "settings/palette.h"

namespace zoomreel {
namespace {

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
    // Cosine-eased transitions, entry and blue value worked out by hand.
    for (const auto& [entry, blue] : {std::pair{64, 37}, {128, 128}, {384, 125}, {0, 0}, {255, 255}})
        EXPECT_EQ(rounded.entries[entry].blue, blue) << entry;
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
    EXPECT_EQ(std::make_pair(p.points[1].position, int{p.points[1].blue}), std::make_pair(100, 100));
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

}  // namespace
}  // namespace zoomreel
