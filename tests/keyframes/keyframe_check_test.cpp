#include "keyframes/keyframe_check.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// Clean sample zooms, from coarse maps with a low limit to fine ones with a high limit, odd sizes included:
// fine detail near the set's boundary, where values change fast, must not look like damage.
struct CleanCase {
    int width, height, maxIterations, maps;
};

class CleanZoom : public testing::TestWithParam<CleanCase> {};

TEST_P(CleanZoom, HasNoFinding) {
    const CleanCase& c = GetParam();
    TempDir dir;
    const SampleZoom zoom(dir / "maps", {c.maps, c.width, c.height, c.maxIterations});
    KeyframeList list;
    ASSERT_TRUE(zoom.written && zoom.convert(list));
    const KeyframeCheck check = checkKeyframes(list);
    EXPECT_TRUE(check.allAgree()) << findings(check);
    EXPECT_EQ(check.pairsChecked, c.maps - 1);
}

INSTANTIATE_TEST_SUITE_P(KeyframeCheck, CleanZoom,
                         testing::Values(CleanCase{64, 36, 100, 8}, CleanCase{101, 57, 2000, 16},
                                         CleanCase{200, 120, 300, 12}, CleanCase{333, 187, 5000, 10},
                                         CleanCase{640, 360, 2000, 16}));

// A zoom of 10 maps of 256 x 144 with one kind of damage each, and the pairs that must be told.
constexpr int kW = 256;
constexpr int kH = 144;
const SampleOptions kZoom{10, kW, kH, 1000};

struct Expected {
    int first;
    CheckPattern pattern;
    CheckHint hint = CheckHint::None;
    bool limitTooLow = false;
};

struct DamageCase {
    const char* name;
    std::function<bool(const SampleZoom&, const TempDir&)> damage;
    std::vector<Expected> expected;
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

SampleOptions elsewhere() {
    SampleOptions other = kZoom;
    other.centreReal = -0.10109636384562;  // a spiral on the upper bulb's edge
    other.centreImag = 0.95628651080914;
    return other;
}

class DamagedZoom : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedZoom, IsFoundAndClassified) {
    const DamageCase& c = GetParam();
    TempDir dir;
    const SampleZoom zoom(dir / "maps", kZoom);
    KeyframeList list;
    ASSERT_TRUE(zoom.written && c.damage(zoom, dir) && zoom.convert(list));
    const KeyframeCheck check = checkKeyframes(list);
    ASSERT_TRUE(check.status.ok) << check.status.message;
    ASSERT_EQ(check.disagreeing.size(), c.expected.size()) << findings(check);
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
        const PairCheck& found = check.disagreeing[i];
        const Expected& wanted = c.expected[i];
        EXPECT_EQ(found.first, wanted.first) << findings(check);
        EXPECT_EQ(found.pattern, wanted.pattern) << describePair(found);
        EXPECT_EQ(found.hint, wanted.hint) << describePair(found);
        EXPECT_EQ(found.limitTooLow, wanted.limitTooLow) << describePair(found);
        EXPECT_TRUE(describePair(found).starts_with("Keyframes " + std::to_string(wanted.first) + " and " +
                                                    std::to_string(wanted.first + 1) + ": "));
    }
    // The check reads the keyframes in bands and keeps only a part of each; the whole maps compared at once
    // must say the same of every pair.
    std::vector<double> wider, deeper;
    ASSERT_TRUE(readFullMap(keyframeFilePath(list, 0), list.layout, wider).ok);
    double widerMaximum = mapMaximum(wider);
    for (int k = 0; k + 1 < list.keyframeCount(); ++k) {
        ASSERT_TRUE(readFullMap(keyframeFilePath(list, k + 1), list.layout, deeper).ok);
        PairCheck whole = compareKeyframes(wider, widerMaximum, deeper, kW, kH, &widerMaximum);
        whole.first = k;
        const auto found = std::find_if(check.disagreeing.begin(), check.disagreeing.end(),
                                        [k](const PairCheck& p) { return p.first == k; });
        const std::string told = found == check.disagreeing.end() ? std::string("agrees") : describePair(*found);
        EXPECT_EQ(whole.disagrees() ? describePair(whole) : std::string("agrees"), told);
        wider.swap(deeper);
    }
}

INSTANTIATE_TEST_SUITE_P(
    KeyframeCheck, DamagedZoom,
    testing::Values(
        DamageCase{"swapped_pair", [](const SampleZoom& z, const TempDir&) { return z.swap(5, 6); },
                   {{4, CheckPattern::WholeArea}, {5, CheckPattern::WholeArea, CheckHint::Swapped},
                    {6, CheckPattern::WholeArea}}},
        DamageCase{"mirrored_map", [](const SampleZoom& z, const TempDir&) { return z.edit(5, test::mirrorLeftRight); },
                   {{4, CheckPattern::WholeArea, CheckHint::MirroredLeftRight},
                    {5, CheckPattern::WholeArea, CheckHint::MirroredLeftRight}}},
        DamageCase{"map_from_elsewhere",
                   [](const SampleZoom& z, const TempDir& dir) { return z.replace(5, elsewhere(), dir / "elsewhere"); },
                   {{4, CheckPattern::WholeArea}, {5, CheckPattern::WholeArea}}},
        DamageCase{"glitch", [](const SampleZoom& z, const TempDir&) { return z.edit(5, test::glitchDisc(102, 79, 8, 40)); },
                   {{4, CheckPattern::Regions}, {5, CheckPattern::Regions}}},
        DamageCase{"iteration_limit_too_low",
                   [](const SampleZoom& z, const TempDir& dir) {
                       SampleOptions low = kZoom;
                       low.maxIterations = 250;
                       return z.replace(6, low, dir / "low");
                   },
                   {{5, CheckPattern::None, CheckHint::None, true}}}),
    [](const testing::TestParamInfo<DamageCase>& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace zoomreel
