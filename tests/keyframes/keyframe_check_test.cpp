#include "keyframes/keyframe_check.h"

#include <gtest/gtest.h>

#include <tuple>

#include "keyframes/sample_zoom.h"

namespace zoomreel {
namespace {

using test::SampleZoom;
using test::TempDir;

std::string findings(const KeyframeCheck& check) {
    std::string text = describeCheck(check);
    for (const PairCheck& pair : check.disagreeing) text += "\n" + describePair(pair);
    return text;
}

constexpr int kW = 256;
constexpr int kH = 144;
const SampleOptions kZoom{10, kW, kH, 1000};  // the zoom that is damaged

/// A pair that must be told: its first keyframe, the pattern, the hint, and whether the limit was too low.
using Expected = std::tuple<int, CheckPattern, CheckHint, bool>;
using P = CheckPattern;
using H = CheckHint;

/// A sample zoom, damaged in one way or not at all, and the pairs the check must tell.
struct ZoomCase {
    const char* name;
    SampleOptions options;
    std::function<bool(const SampleZoom&, const TempDir&)> damage;  ///< empty for a clean zoom
    std::vector<Expected> expected;
};

void PrintTo(const ZoomCase& c, std::ostream* out) { *out << c.name; }

SampleOptions elsewhere() {
    SampleOptions other = kZoom;
    other.centreReal = -0.10109636384562;  // a spiral on the upper bulb's edge
    other.centreImag = 0.95628651080914;
    return other;
}

class CheckedZoom : public testing::TestWithParam<ZoomCase> {};

TEST_P(CheckedZoom, TellsThePairsThatDisagree) {
    const ZoomCase& c = GetParam();
    TempDir dir;
    const SampleZoom zoom(dir / "maps", c.options);
    KeyframeList list;
    ASSERT_TRUE(zoom.written && (!c.damage || c.damage(zoom, dir)) && zoom.convert(list));
    const KeyframeCheck check = checkKeyframes(list);
    ASSERT_TRUE(check.status.ok) << check.status.message;
    EXPECT_EQ(check.pairsChecked, c.options.mapCount - 1);
    EXPECT_EQ(check.allAgree(), c.expected.empty()) << findings(check);
    std::vector<Expected> found;
    for (const PairCheck& pair : check.disagreeing) {
        found.emplace_back(pair.first, pair.pattern, pair.hint, pair.limitTooLow);
        EXPECT_TRUE(describePair(pair).starts_with("Keyframes " + std::to_string(pair.first) + " and " +
                                                   std::to_string(pair.first + 1) + ": "));
    }
    EXPECT_EQ(found, c.expected) << findings(check);
}

INSTANTIATE_TEST_SUITE_P(
    KeyframeCheck, CheckedZoom,
    testing::Values(
        // Clean zooms, from coarse maps with a low limit to fine ones with a high limit, odd sizes included: fine
        // detail near the set's boundary, where values change fast, must not look like damage.
        ZoomCase{"clean_64x36", {8, 64, 36, 100}, {}, {}}, ZoomCase{"clean_101x57", {16, 101, 57, 2000}, {}, {}},
        ZoomCase{"clean_200x120", {12, 200, 120, 300}, {}, {}}, ZoomCase{"clean_333x187", {10, 333, 187, 5000}, {}, {}},
        ZoomCase{"clean_640x360", {16, 640, 360, 2000}, {}, {}},
        ZoomCase{"swapped_pair", kZoom, [](const SampleZoom& z, const TempDir&) { return z.swap(5, 6); },
                 {{4, P::WholeArea, H::None, false}, {5, P::WholeArea, H::Swapped, false},
                  {6, P::WholeArea, H::None, false}}},
        ZoomCase{"mirrored_map", kZoom,
                 [](const SampleZoom& z, const TempDir&) { return z.edit(5, test::mirrorLeftRight); },
                 {{4, P::WholeArea, H::MirroredLeftRight, false}, {5, P::WholeArea, H::MirroredLeftRight, false}}},
        ZoomCase{"map_from_elsewhere", kZoom,
                 [](const SampleZoom& z, const TempDir& dir) { return z.replace(5, elsewhere(), dir / "elsewhere"); },
                 {{4, P::WholeArea, H::None, false}, {5, P::WholeArea, H::None, false}}},
        ZoomCase{"glitch", kZoom,
                 [](const SampleZoom& z, const TempDir&) { return z.edit(5, test::glitchDisc(102, 79, 8, 40)); },
                 {{4, P::Regions, H::None, false}, {5, P::Regions, H::None, false}}},
        ZoomCase{"iteration_limit_too_low", kZoom,
                 [](const SampleZoom& z, const TempDir& dir) {
                     SampleOptions low = kZoom;
                     low.maxIterations = 250;
                     return z.replace(6, low, dir / "low");
                 },
                 {{5, P::None, H::None, true}}}),
    [](const testing::TestParamInfo<ZoomCase>& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace zoomreel
