#include "settings/curve_suggestion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "render/keyframe_folder.h"

namespace zoomreel {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 32;

/// The measures of a map whose values climb by `step` from each pixel to its neighbours (a smooth level for a
/// small step, a dense one for a large step), a glitch of huge values in one corner.
KeyframeMeasures rampMeasures(double step) {
    std::vector<double> map;
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c) map.push_back(r < 3 && c < 3 ? 1e9 : 100 + step * (r + c));
    return measureMap(map, kWidth, kHeight);
}

std::vector<KeyframeMeasures> levels(const std::vector<double>& steps) {
    std::vector<KeyframeMeasures> measures;
    for (const double s : steps) measures.push_back(rampMeasures(s));
    return measures;
}

/// The frames of the selection under a speed, as the editors count them (20 keyframes).
int frames(const KeyPointCurve& speed, int start, int end) { return countSpeedFrames(speed, 20, start, end).total; }

SpeedRequest request(int start, int end, int frameCount) {
    return {start, end, frameCount, KeyPointCurve{{{0.0f, 25.0f}}}, KeyPointCurve{{{0.0f, 1.0f}}}};
}

TEST(CurveSuggestion, GradientIsTheStepWhateverTheGlitch) {
    for (const double step : {0.5, 3.0, 40.0}) EXPECT_NEAR(iterationGradient(rampMeasures(step)), step, 0.05 * step);
}

// A gradient that doubles from level to level: the divisor doubles with it from today's value at S, which stays;
// geometric all along, so the thinning leaves only the ends, and the points outside the selection stay.
TEST(CurveSuggestion, DivisorFollowsTheGradientAndKeepsTheFirstValue) {
    const KeyPointCurve today{{{0.0f, 7.0f}, {3.0f, 3.0f}, {9.0f, 5.0f}}};
    const CurveSuggestion s = suggestColorDivisor(levels({2, 4, 8, 16, 32}), 3, 7, today);
    ASSERT_TRUE(s.status) << s.status.message;
    EXPECT_EQ(s.curve.points, (std::vector<KeyPoint>{{0, 7}, {3, 3}, {7, s.curve.points[2].y}, {9, 5}}));
    EXPECT_NEAR(s.curve.points[2].y, 3.0 * 16, 0.05 * 48);
    for (const float j : {1.0f, 2.0f, 3.0f})
        EXPECT_NEAR(evaluateLog(s.curve, 3.0f + j), 3.0 * std::exp2(j), 0.18 * std::exp2(j)) << j;
}

// Smooth and dense levels in turn: the dense steps get more images, and the selection lasts the frames asked for.
TEST(CurveSuggestion, SpeedFollowsTheDetailAndMakesTheFrames) {
    const FrameCounter count = [](const KeyPointCurve& speed) { return frames(speed, 2, 8); };
    for (const int asked : {60, 400, 3000}) {
        const CurveSuggestion s = suggestSpeed(levels({1, 1, 1, 300, 300, 300, 1}), request(2, 8, asked), count);
        ASSERT_TRUE(s.status) << s.status.message;
        EXPECT_EQ(std::make_pair(s.frames, frames(s.curve, 2, 8)), std::make_pair(asked, asked));
        EXPECT_GT(evaluateLog(s.curve, 5.5f), 2.0f * evaluateLog(s.curve, 2.5f));  // a flat step: a quarter at least
        EXPECT_EQ(s.curve.points.front(), (KeyPoint{0, 25}));
    }
}

TEST(CurveSuggestion, ThinningLeavesOutWhatItsNeighboursGiveWithinFivePercent) {
    const struct {
        std::vector<KeyPoint> points;
        std::size_t kept;
    } cases[] = {{{{0, 1}, {1, 1.04f}, {2, 1}}, 2}, {{{0, 1}, {1, 1.2f}, {2, 1}}, 3},
                 {{{0, 1}, {1, 2}, {2, 4}, {3, 8}, {4, 9}}, 3}, {{{0, 10}, {1, 10.4f}, {2, 10.2f}, {3, 9.9f}}, 2}};
    for (const auto& c : cases) {
        const KeyPointCurve curve{thinPoints(c.points, Interpolation::Logarithmic)};
        EXPECT_EQ(curve.points.size(), c.kept);
        for (const KeyPoint& p : c.points) EXPECT_NEAR(evaluateLog(curve, p.x), p.y, 0.05 * p.y);
    }
}

// Each refusal is one line and gives no curve.
TEST(CurveSuggestion, BadInputsGiveOneLineAndNoCurve) {
    const FrameCounter count = [](const KeyPointCurve& speed) { return frames(speed, 2, 8); };
    const auto measures = levels({1, 2, 3, 4, 5, 6, 7});
    // One keyframe, no frames, more than 2000 images per keyframe, fewer than 2.
    for (const SpeedRequest& r : {request(4, 4, 100), request(2, 8, 0), request(2, 8, 12500), request(2, 8, 5)}) {
        const CurveSuggestion s = suggestSpeed(measures, r, count);
        EXPECT_TRUE(!s.status && s.status.message.find('\n') == std::string::npos && s.curve.empty())
            << s.status.message;
    }
    EXPECT_FALSE(suggestColorDivisor(measures, 5, 5, KeyPointCurve{{{0.0f, 1.0f}}}).status);
    EXPECT_FALSE(suggestColorDivisor(std::vector<KeyframeMeasures>(3), 0, 2, KeyPointCurve{{{0.0f, 1.0f}}}).status);
}

// Measured once and kept; a keyframe whose file changed is measured again.
TEST(CurveSuggestion, MeasuresAreKeptUntilAKeyframeChanges) {
    test::KeyframeFolder folder(4);
    const KeyframeList& list = folder.list;
    EXPECT_EQ(keyframeMeasures(list, 0, 3).measured, 4);
    const MeasuresOutcome kept = keyframeMeasures(list, 0, 3);
    EXPECT_EQ(kept.measured, 0);
    ASSERT_TRUE(test::writeTestKeyframes(folder.dir.path() / "other", 4, test::kKeyframeWidth, test::kKeyframeHeight));
    std::filesystem::copy_file(folder.dir.path() / "other" / "00000.qvy", keyframeFilePath(list, 2),
                               std::filesystem::copy_options::overwrite_existing);
    const MeasuresOutcome again = keyframeMeasures(list, 0, 3);
    EXPECT_EQ(again.measured, 1);
    EXPECT_TRUE(again.measures[1] == kept.measures[1] && again.measures[2] != kept.measures[2]);
}

}  // namespace
}  // namespace zoomreel
