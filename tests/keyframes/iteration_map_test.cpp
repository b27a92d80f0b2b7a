#include <gtest/gtest.h>

#include "keyframes/iteration_map.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::ByteWriter;
using test::TempDir;

/// A 3 x 2 map written field by field: count (x, y) = 10x + y + 1, fraction (x, y) = 0.5 + x / 8.
struct QvbParts {
    std::string magic = "QVB";
    std::int32_t width = 3;
    std::int32_t height = 2;
    std::int32_t colorCount = 3;
    std::vector<std::uint8_t> colors{0, 0, 0, 0, 0, 1, 10, 20, 30};
    std::size_t cutAt = std::string::npos;  ///< keep only this many bytes

    std::vector<std::uint8_t> bytes() const {
        ByteWriter w;
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
    EXPECT_EQ(map.count(2, 1), 22);
    EXPECT_EQ(map.count(1, 0), 11);
    EXPECT_FLOAT_EQ(map.fraction(2, 0), 0.75f);
    EXPECT_EQ(map.divisor, 1);
    EXPECT_EQ(map.iterationLimit, 500);
    // All-black entries become (60, 60, 60); an entry with any non-zero byte stays as it is.
    EXPECT_EQ(map.colors, (std::vector<std::uint8_t>{60, 60, 60, 0, 0, 1, 10, 20, 30}));
}

struct FailureCase {
    const char* name;
    QvbParts parts;
    bool asSecondMap;
    MapReadOutcome expected;
    const char* message;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class ReadIterationMapFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ReadIterationMapFailure, GivesTheOutcomeAndItsMessage) {
    const FailureCase& c = GetParam();
    TempDir dir;
    IterationMap map;
    if (c.asSecondMap) {
        test::writeBytes(dir / "first.qvb", QvbParts{}.bytes());
        ASSERT_TRUE(readIterationMap(dir / "first.qvb", true, map).ok());
    }
    test::writeBytes(dir / "map.qvb", c.parts.bytes());
    const MapReadResult r = readIterationMap(dir / "map.qvb", !c.asSecondMap, map);
    EXPECT_EQ(r.outcome, c.expected);
    EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
}

QvbParts with(void (*change)(QvbParts&)) {
    QvbParts p;
    change(p);
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ReadIterationMapFailure,
    ::testing::Values(
        FailureCase{"magic", with([](QvbParts& p) { p.magic = "QVC"; }), false, MapReadOutcome::InvalidMagic,
                    "Invalid QVB file!"},
        // The size check comes before any count is read, even when the counts are missing.
        FailureCase{"wider", with([](QvbParts& p) { p.width = 4; p.cutAt = 11; }), true,
                    MapReadOutcome::SizeMismatch, "All QVB files have not same size!"},
        FailureCase{"counts_cut", with([](QvbParts& p) { p.cutAt = kCountsEnd - 2; }), false,
                    MapReadOutcome::CountsIncomplete, "Error reading QVB file (int table)!"},
        FailureCase{"absurd_size", with([](QvbParts& p) { p.width = 1 << 30; p.height = 1 << 30; }), false,
                    MapReadOutcome::CountsIncomplete, "Error reading QVB file (int table)!"},
        FailureCase{"negative_size", with([](QvbParts& p) { p.width = -3; }), false,
                    MapReadOutcome::CountsIncomplete, "Error reading QVB file (int table)!"},
        FailureCase{"color_count", with([](QvbParts& p) { p.colorCount = 2; p.colors.resize(6); }), true,
                    MapReadOutcome::ColorCountMismatch, "All QVB files have not same number of colors!"},
        FailureCase{"fractions_cut", with([](QvbParts& p) { p.cutAt = kFractionsStart + 5; }), false,
                    MapReadOutcome::FractionsIncomplete, "Error reading QVB file  (float table)!"},
        FailureCase{"cut_in_divisor", with([](QvbParts& p) { p.cutAt = kCountsEnd + 2; }), false,
                    MapReadOutcome::FractionsIncomplete, "Error reading QVB file  (float table)!"},
        FailureCase{"absurd_colors", with([](QvbParts& p) { p.colorCount = 1 << 30; }), false,
                    MapReadOutcome::FractionsIncomplete, "Error reading QVB file  (float table)!"},
        FailureCase{"no_colors", with([](QvbParts& p) { p.colorCount = -5; p.colors.clear(); }), false,
                    MapReadOutcome::NoColors, "map.qvb\" has no colors"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ReadIterationMap, MissingFileNamesTheFile) {
    TempDir dir;
    IterationMap map;
    const MapReadResult r = readIterationMap(dir / "00003_2e5.qvb", true, map);
    EXPECT_EQ(r.outcome, MapReadOutcome::CannotOpen);
    EXPECT_NE(r.message.find("00003_2e5.qvb"), std::string::npos) << r.message;
}

TEST(MapNames, NumberZoomFieldAndHalving) {
    EXPECT_EQ(parseMapNumber("00012_1e2.qvb"), 12);
    EXPECT_EQ(parseMapNumber("123456.qvb"), 12345);
    EXPECT_EQ(parseMapNumber("map.qvb"), 0);

    struct Case {
        const char* name;
        std::optional<std::pair<float, int>> zoom;
    };
    for (const Case& c : {Case{"00001_1.25e27.qvb", {{1.25f, 27}}}, Case{"00001_3e-2.qvb", {{3.f, -2}}},
                          Case{"00001_1.25.qvb", {}}, Case{"00001_1.25e27", {}}, Case{"00001_xe4.qvb", {}},
                          Case{"00001", {}}}) {
        const std::optional<Zoom> zoom = parseZoomField(c.name);
        ASSERT_EQ(zoom.has_value(), c.zoom.has_value()) << c.name;
        if (zoom) {
            EXPECT_EQ(std::make_pair(zoom->mantissa, zoom->exponent), *c.zoom) << c.name;
        }
    }

    const Zoom a = halveZoom({1.25f, 27});
    EXPECT_EQ(std::make_pair(a.mantissa, a.exponent), std::make_pair(6.25f, 26));
    const Zoom b = halveZoom({5.0f, 3});
    EXPECT_EQ(std::make_pair(b.mantissa, b.exponent), std::make_pair(2.5f, 3));
}

}  // namespace
}  // namespace zoomreel
