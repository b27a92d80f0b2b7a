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
    std::int32_t divisor = 0;
    std::int32_t colorCount = 3;
    std::vector<std::uint8_t> colors = {0, 0, 0, 0, 0, 1, 10, 20, 30};
    std::int32_t limit = 500;
    std::size_t cutAt = std::string::npos;  ///< keep only this many bytes

    std::vector<std::uint8_t> bytes() const {
        ByteWriter w;
        w.raw(magic).i32(width).i32(height);
        for (int x = 0; x < 3; ++x)
            for (int y = 0; y < 2; ++y) w.i32(10 * x + y + 1);
        w.i32(divisor).i32(colorCount);
        for (auto c : colors) w.u8(c);
        w.i32(limit);
        for (int x = 0; x < 3; ++x)
            for (int y = 0; y < 2; ++y) w.f32(0.5f + static_cast<float>(x) / 8.0f);
        auto b = w.bytes();
        if (cutAt < b.size()) b.resize(cutAt);
        return b;
    }
};

constexpr std::size_t kCountsEnd = 11 + 4 * 6;
constexpr std::size_t kFractionsStart = kCountsEnd + 8 + 9 + 4;

TEST(ReadIterationMap, ReadsEveryFieldInColumnOrder) {
    TempDir dir;
    test::writeBytes(dir / "00001_1e2.qvb", QvbParts{}.bytes());
    IterationMap map;
    const MapReadResult r = readIterationMap(dir / "00001_1e2.qvb", true, map);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(map.width, 3);
    EXPECT_EQ(map.height, 2);
    EXPECT_EQ(map.count(2, 1), 22);
    EXPECT_EQ(map.count(1, 0), 11);
    EXPECT_FLOAT_EQ(map.fraction(2, 0), 0.75f);
    EXPECT_EQ(map.divisor, 1) << "a divisor of 0 stands for 1";
    EXPECT_EQ(map.iterationLimit, 500);
    // All-black entries become (60, 60, 60); an entry with any non-zero byte stays as it is.
    EXPECT_EQ(map.colors, (std::vector<std::uint8_t>{60, 60, 60, 0, 0, 1, 10, 20, 30}));
}

TEST(ReadIterationMap, LaterMapsReuseTheFirstMapsTables) {
    TempDir dir;
    QvbParts first;
    QvbParts second;
    second.divisor = 7;
    test::writeBytes(dir / "a.qvb", first.bytes());
    test::writeBytes(dir / "b.qvb", second.bytes());
    IterationMap map;
    ASSERT_TRUE(readIterationMap(dir / "a.qvb", true, map).ok());
    const auto* counts = map.counts.data();
    ASSERT_TRUE(readIterationMap(dir / "b.qvb", false, map).ok());
    EXPECT_EQ(map.counts.data(), counts);
    EXPECT_EQ(map.divisor, 7);
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
        FailureCase{"empty", with([](QvbParts& p) { p.cutAt = 0; }), false, MapReadOutcome::InvalidMagic,
                    "Invalid QVB file!"},
        // The size check comes before any count is read, even when the counts are missing.
        FailureCase{"wider", with([](QvbParts& p) { p.width = 4; p.cutAt = 11; }), true,
                    MapReadOutcome::SizeMismatch, "All QVB files have not same size!"},
        FailureCase{"counts cut", with([](QvbParts& p) { p.cutAt = kCountsEnd - 2; }), false,
                    MapReadOutcome::CountsIncomplete, "Error reading QVB file (int table)!"},
        FailureCase{"absurd size", with([](QvbParts& p) { p.width = 1 << 30; p.height = 1 << 30; }), false,
                    MapReadOutcome::CountsIncomplete, "Error reading QVB file (int table)!"},
        FailureCase{"negative size", with([](QvbParts& p) { p.width = -3; }), false,
                    MapReadOutcome::CountsIncomplete, "Error reading QVB file (int table)!"},
        FailureCase{"color count", with([](QvbParts& p) { p.colorCount = 2; p.colors.resize(6); }), true,
                    MapReadOutcome::ColorCountMismatch, "All QVB files have not same number of colors!"},
        FailureCase{"fractions cut", with([](QvbParts& p) { p.cutAt = kFractionsStart + 5; }), false,
                    MapReadOutcome::FractionsIncomplete, "Error reading QVB file  (float table)!"},
        FailureCase{"cut in divisor", with([](QvbParts& p) { p.cutAt = kCountsEnd + 2; }), false,
                    MapReadOutcome::FractionsIncomplete, "Error reading QVB file  (float table)!"},
        FailureCase{"absurd colors", with([](QvbParts& p) { p.colorCount = 1 << 30; }), false,
                    MapReadOutcome::FractionsIncomplete, "Error reading QVB file  (float table)!"},
        FailureCase{"no colors", with([](QvbParts& p) { p.colorCount = 0; p.colors.clear(); }), false,
                    MapReadOutcome::NoColors, "map.qvb\" has no colors"},
        FailureCase{"negative colors", with([](QvbParts& p) { p.colorCount = -5; p.colors.clear(); }), false,
                    MapReadOutcome::NoColors, "has no colors"}),
    [](const auto& testInfo) {
        std::string n = testInfo.param.name;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

TEST(ReadIterationMap, MissingFileNamesTheFile) {
    TempDir dir;
    IterationMap map;
    const MapReadResult r = readIterationMap(dir / "00003_2e5.qvb", true, map);
    EXPECT_EQ(r.outcome, MapReadOutcome::CannotOpen);
    EXPECT_NE(r.message.find("00003_2e5.qvb"), std::string::npos) << r.message;
}

TEST(WriteIterationMap, WritesWhatTheReaderReads) {
    TempDir dir;
    IterationMap map;
    map.width = 2;
    map.height = 3;
    map.counts = {1, 2, 3, 4, 5, 6};
    map.fractions = {0.f, .1f, .2f, .3f, .4f, .5f};
    map.divisor = 4;
    map.colorCount = 1;
    map.colors = {1, 2, 3};
    map.iterationLimit = 6;
    ASSERT_TRUE(writeIterationMap(dir / "m.qvb", map).ok);
    EXPECT_EQ(std::filesystem::file_size(dir / "m.qvb"), 11u + 24 + 8 + 3 + 4 + 24);
    IterationMap back;
    ASSERT_TRUE(readIterationMap(dir / "m.qvb", true, back).ok());
    EXPECT_EQ(back.counts, map.counts);
    EXPECT_EQ(back.fractions, map.fractions);
    EXPECT_EQ(back.colors, map.colors);
    EXPECT_EQ(back.divisor, 4);
}

TEST(MapNames, NumberAndZoomField) {
    EXPECT_EQ(parseMapNumber("00012_1e2.qvb"), 12);
    EXPECT_EQ(parseMapNumber("123456.qvb"), 12345);
    EXPECT_EQ(parseMapNumber("7a.qvb"), 7);
    EXPECT_EQ(parseMapNumber("map.qvb"), 0);

    struct Case {
        const char* name;
        bool valid;
        float mantissa;
        int exponent;
    };
    for (const Case& c : {Case{"00001_1.25e27.qvb", true, 1.25f, 27}, Case{"00001_3e-2.qvb", true, 3.f, -2},
                          Case{"00016_1e0.qvb", true, 1.f, 0}, Case{"00001_1.25.qvb", false, 0, 0},
                          Case{"00001_1.25e27", false, 0, 0}, Case{"00001_xe4.qvb", false, 0, 0},
                          Case{"00001", false, 0, 0}}) {
        const std::optional<Zoom> zoom = parseZoomField(c.name);
        ASSERT_EQ(zoom.has_value(), c.valid) << c.name;
        if (!zoom) continue;
        EXPECT_EQ(zoom->mantissa, c.mantissa) << c.name;
        EXPECT_EQ(zoom->exponent, c.exponent) << c.name;
    }
}

TEST(MapNames, HalvingTheZoomKeepsTheMantissaAtOneOrMore) {
    const Zoom a = halveZoom({1.25f, 27});
    EXPECT_EQ(a.mantissa, 6.25f);
    EXPECT_EQ(a.exponent, 26);
    const Zoom b = halveZoom({5.0f, 3});
    EXPECT_EQ(b.mantissa, 2.5f);
    EXPECT_EQ(b.exponent, 3);
}

}  // namespace
}  // namespace zoomreel
