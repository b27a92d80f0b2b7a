#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "settings/key_point_curve.h"

namespace zoomreel {
namespace {

KeyPointCurve curveOf(std::initializer_list<KeyPoint> points) { return KeyPointCurve{points}; }

std::vector<float> xs(const KeyPointCurve& c) {
    std::vector<float> out;
    for (const KeyPoint& p : c.points) out.push_back(p.x);
    return out;
}

TEST(KeyPointCurve, EditingKeepsPositionsAscending) {
    KeyPointCurve c;
    // x, then the index the point gets: first, below the first, beyond the last, between, and at a taken x, which
    // goes after its twin, never out of order.
    for (const auto& [x, index] : {std::pair{2.0f, 0}, {1.0f, 0}, {5.0f, 2}, {3.0f, 2}, {3.0f, 3}})
        EXPECT_EQ(insertPoint(c, x, 1.0f), index) << x;
    EXPECT_EQ(xs(c), (std::vector<float>{1, 2, 3, 3, 5}));
    removePoint(c, 3);

    // Points 1, 2, 3, 5: interior points stay 0.1 inside their neighbours (at a neighbour, strict comparisons leave
    // them), ends move freely. Index, x asked, x given.
    for (const auto& [index, x, given] :
         {std::tuple{1, 4.0f, 3.0f - 0.1f}, {1, 0.0f, 1.0f + 0.1f}, {1, 3.0f, 3.0f}, {0, 10.0f, 10.0f}}) {
        movePoint(c, index, x, 7.0f);
        EXPECT_EQ(c.points[index], (KeyPoint{given, 7.0f})) << index << " to " << x;
    }
    KeyPointCurve narrow = curveOf({{0, 1}, {0.02f, 1}, {0.05f, 1}});
    movePoint(narrow, 1, 2.0f, 1.0f);  // 0.1 left of the right neighbour is left of the left one: the lower wins
    EXPECT_EQ(narrow.points[1].x, 0.0f + 0.1f);

    removePoint(c, 99);  // beyond the count: the last one goes
    EXPECT_EQ(xs(c), (std::vector<float>{10, 3, 3}));
    KeyPointCurve single = curveOf({{0, 5}});
    removePoint(single, 0);
    removePoint(single, 0);
    EXPECT_TRUE(single.empty());
}

TEST(KeyPointCurve, EvaluationOnAndBetweenAndBeyondThePoints) {
    const KeyPointCurve one = curveOf({{0, 4}});
    const KeyPointCurve c = curveOf({{1, 10}, {3, 1000}, {4, 20}});
    // Curve, x, then the logarithmic (geometric) and the linear value. Before the first point the first segment
    // extends; beyond the last the last value holds.
    const std::tuple<const KeyPointCurve*, float, float, float> cases[] = {
        {&one, -3, 4, 4}, {&one, 0, 4, 4}, {&one, 7.5f, 4, 4}, {&c, 3, 1000, 1000},
        {&c, 2, 100, 505}, {&c, 8, 20, 20}, {&c, 0, 1, 10 - 495}};
    for (const auto& [curve, x, log, linear] : cases) {
        EXPECT_FLOAT_EQ(evaluateLog(*curve, x), log) << x;
        EXPECT_FLOAT_EQ(evaluateLinear(*curve, x), linear) << x;
    }
    EXPECT_EQ(findSegment(c, 3.0f), 0);  // at a key point the lower segment wins
    EXPECT_EQ(findSegment(c, 0.0f), 0);
    EXPECT_EQ(findSegment(c, 9.0f), 2);
}

TEST(KeyPointCurve, BadValuesNeverTurnIntoNaN) {
    const float nan = std::nanf("");
    for (const KeyPointCurve& c : {curveOf({{0, 0}, {2, 100}}), curveOf({{0, -5}, {2, 100}}),
                                   curveOf({{0, nan}, {2, 100}}), curveOf({{0, INFINITY}, {2, 1}}),
                                   curveOf({{0, -5}}), curveOf({{0, 1}, {1, 2}, {1, 3}, {2, 4}})}) {
        for (float x : {-1.0f, 0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f})
            EXPECT_TRUE(std::isfinite(evaluateLog(c, x)) && evaluateLog(c, x) > 0.0f) << "x " << x;
        EXPECT_GE(countSpeedFrames(c, 5, 0, 4).total, 0);
    }
    EXPECT_EQ(evaluateLog(curveOf({{0, 0}}), 1.0f), kLogCurveFloor);
    EXPECT_EQ(evaluateLinear(curveOf({{0, 1}, {1, 2}, {1, 3}, {2, 4}}), 1.0f), 2.0f);
    // A speed so large that one step no longer moves the position must end the count, not loop forever.
    EXPECT_EQ(countSpeedFrames(curveOf({{1, 1e30f}}), 100, 0, 99).total, 0);
}

TEST(KeyPointCurve, SpeedFrameCountFollowsTheMoviesSteps) {
    const KeyPointCurve speed = curveOf({{0, 10.25f}});
    EXPECT_EQ(countSpeedFrames(speed, 11, 0, 10).total, 102);
    // Splitting the selection splits the count; the limit counts those at or before it.
    const int head = countSpeedFrames(speed, 11, 0, 4).total;
    EXPECT_EQ(head + countSpeedFrames(speed, 11, 4, 10).total, 102);
    EXPECT_EQ(countSpeedFrames(speed, 11, 0, 10, 4.0f).upToLimit, head);
    // An accelerating curve spends more frames where it is fast.
    const KeyPointCurve ramp = curveOf({{0, 5}, {10, 50}});
    EXPECT_LT(countSpeedFrames(ramp, 11, 0, 5).total, countSpeedFrames(ramp, 11, 5, 10).total);
}

// The colour divisor starts from keyframe 0's once the keyframes are loaded.
TEST(KeyPointCurve, ColorDivisorStartsFromTheFirstKeyframe) {
    KeyframeList list;
    list.loaded = true;
    list.summaries.resize(2);
    list.summaries[0].colorDivisor = 37;
    EXPECT_EQ(curveDefault(CurveKind::ColorDivisor, list), 37.0f);
}

}  // namespace
}  // namespace zoomreel
