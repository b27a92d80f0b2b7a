#include <gtest/gtest.h>

#include <map>

#include "keyframes/iteration_map.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using enum MapReadOutcome;
using test::TempDir;

/// A 3 x 2 map written field by field: count (x, y) = 10x + y + 1, fraction (x, y) = 0.5 + x / 8.
struct QvbParts {
    std::string magic = "QVB";
    std::int32_t width = 3;
    std::int32_t height = 2;
    std::int32_t colorCount = 3;
    std::vector<std::uint8_t> colors{0, 0, 0, 0, 0, 1, 10, 20, 30};
    std::size_t cutAt = std::string::npos;  ///< keep only this many bytes
    bool absent = false;                    ///< write no file at all

    std::vector<std::uint8_t> bytes() const {
        test::ByteWriter w;
        w.raw(magic).i32(width).i32(height);
        for (int i = 0; i < 6; ++i) w.i32(10 * (i / 2) + i % 2 + 1);
        w.i32(0).i32(colorCount);  // divisor 0 stands for 1
        for (auto c : colors) w.u8(c);
        w.i32(500);
        for (int i = 0; i < 6; ++i) w.f32(0.5f + static_cast<float>(i / 2) / 8.0f);
        auto b = w.bytes();
        if (cutAt < b.size()) b.resize(cutAt);
        return b;
    }
};

constexpr std::size_t kCountsEnd = 11 + 4 * 6;
constexpr std::size_t kFractionsStart = kCountsEnd + 8 + 9 + 4;

TEST(ReadIterationMap, ReadsEveryFieldInColumnOrder) {
    TempDir dir;
    test::writeBytes(dir / "m.qvb", QvbParts{}.bytes());
    IterationMap map;
    const MapReadResult r = readIterationMap(dir / "m.qvb", true, map);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(std::make_pair(map.width, map.height), std::make_pair(3, 2));
    EXPECT_EQ(std::make_pair(map.count(2, 1), map.count(1, 0)), std::make_pair(22, 11));
    EXPECT_FLOAT_EQ(map.fraction(2, 0), 0.75f);
    EXPECT_EQ(std::make_pair(map.divisor, map.iterationLimit), std::make_pair(1, 500));
    // All-black entries become (60, 60, 60); an entry with any non-zero byte stays as it is.
    EXPECT_EQ(map.colors, (std::vector<std::uint8_t>{60, 60, 60, 0, 0, 1, 10, 20, 30}));
}

// Each damage, and the outcome it gives; a map read as the second one must match the first's size and colours.
TEST(ReadIterationMap, FailuresGiveTheOutcomeAndItsMessage) {
    static const std::map<MapReadOutcome, const char*> messages = {
        {InvalidMagic, "Invalid QVB file!"}, {SizeMismatch, "All QVB files have not same size!"},
        {CountsIncomplete, "Error reading QVB file (int table)!"}, {CannotOpen, "map.qvb"},
        {ColorCountMismatch, "All QVB files have not same number of colors!"},
        {FractionsIncomplete, "Error reading QVB file  (float table)!"}, {NoColors, "map.qvb\" has no colors"}};
    const struct {
        const char* name;
        void (*change)(QvbParts&);
        bool asSecondMap;
        MapReadOutcome expected;
    } cases[] = {
        {"magic", [](QvbParts& p) { p.magic = "QVC"; }, false, InvalidMagic},
        // The size check comes before any count is read, even when the counts are missing.
        {"wider", [](QvbParts& p) { p.width = 4; p.cutAt = 11; }, true, SizeMismatch},
        {"counts_cut", [](QvbParts& p) { p.cutAt = kCountsEnd - 2; }, false, CountsIncomplete},
        {"absurd_size", [](QvbParts& p) { p.width = p.height = 1 << 30; }, false, CountsIncomplete},
        {"negative_size", [](QvbParts& p) { p.width = -3; }, false, CountsIncomplete},
        {"color_count", [](QvbParts& p) { p.colorCount = 2; p.colors.resize(6); }, true, ColorCountMismatch},
        {"fractions_cut", [](QvbParts& p) { p.cutAt = kFractionsStart + 5; }, false, FractionsIncomplete},
        {"cut_in_divisor", [](QvbParts& p) { p.cutAt = kCountsEnd + 2; }, false, FractionsIncomplete},
        {"absurd_colors", [](QvbParts& p) { p.colorCount = 1 << 30; }, false, FractionsIncomplete},
        {"no_colors", [](QvbParts& p) { p.colorCount = -5; p.colors.clear(); }, false, NoColors},
        {"missing", [](QvbParts& p) { p.absent = true; }, false, CannotOpen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        IterationMap map;
        if (c.asSecondMap) {
            test::writeBytes(dir / "first.qvb", QvbParts{}.bytes());
            ASSERT_TRUE(readIterationMap(dir / "first.qvb", true, map).ok());
        }
        QvbParts parts;
        c.change(parts);
        if (!parts.absent) test::writeBytes(dir / "map.qvb", parts.bytes());
        const MapReadResult r = readIterationMap(dir / "map.qvb", !c.asSecondMap, map);
        EXPECT_EQ(r.outcome, c.expected);
        EXPECT_NE(r.message.find(messages.at(c.expected)), std::string::npos) << r.message;
    }
}

TEST(MapNames, NumberZoomFieldAndHalving) {
    EXPECT_EQ(parseMapNumber("00012_1e2.qvb"), 12);
    EXPECT_EQ(parseMapNumber("123456.qvb"), 12345);
    EXPECT_EQ(parseMapNumber("map.qvb"), 0);

    using Pair = std::pair<float, int>;
    const std::pair<const char*, std::optional<Pair>> names[] = {
        {"00001_1.25e27.qvb", Pair{1.25f, 27}}, {"00001_3e-2.qvb", Pair{3.f, -2}}, {"00001_1.25.qvb", {}},
        {"00001_1.25e27", {}}, {"00001_xe4.qvb", {}}, {"00001", {}}};
    for (const auto& [name, expected] : names) {
        const std::optional<Zoom> zoom = parseZoomField(name);
        EXPECT_EQ(zoom ? std::optional<Pair>(Pair{zoom->mantissa, zoom->exponent}) : std::nullopt, expected) << name;
    }
    // Halving keeps the mantissa at 1 or above: 2e5 / 2 is 1e5, not 10e4.
    const std::pair<Pair, Pair> halved[] = {{{1.25f, 27}, {6.25f, 26}}, {{5.0f, 3}, {2.5f, 3}}, {{2.0f, 5}, {1.0f, 5}}};
    for (const auto& [zoom, expected] : halved) {
        const Zoom z = halveZoom({zoom.first, zoom.second});
        EXPECT_EQ(Pair(z.mantissa, z.exponent), expected) << zoom.first << "e" << zoom.second;
    }
}

}  // namespace
}  // namespace zoomreel
