#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "settings/key_point_curve.h"
#include "settings/settings_file.h"
#include "test_util.h"
#include "status_check.h"

namespace zoomreel {
namespace {

using test::ByteWriter;
using test::TempDir;

KeyPointCurve curveOf(std::initializer_list<KeyPoint> points) { return KeyPointCurve{points}; }

std::vector<float> xs(const KeyPointCurve& c) {
    std::vector<float> out;
    for (const KeyPoint& p : c.points) out.push_back(p.x);
    return out;
}

TEST(KeyPointCurve, EditingKeepsPositionsAscending) {
    KeyPointCurve c;
    EXPECT_EQ(insertPoint(c, 2.0f, 1.0f), 0);
    EXPECT_EQ(insertPoint(c, 1.0f, 1.0f), 0);   // below the first: first
    EXPECT_EQ(insertPoint(c, 5.0f, 1.0f), 2);   // beyond the last: last
    EXPECT_EQ(insertPoint(c, 3.0f, 1.0f), 2);   // between
    EXPECT_EQ(insertPoint(c, 3.0f, 9.0f), 3);   // a taken x goes after its twin, never out of order
    EXPECT_EQ(xs(c), (std::vector<float>{1, 2, 3, 3, 5}));
    removePoint(c, 3);

    // Points 1, 2, 3, 5: interior points stay 0.1 inside their neighbours, ends move freely.
    movePoint(c, 1, 4.0f, 7.0f);
    EXPECT_EQ(c.points[1].x, 3.0f - 0.1f);
    EXPECT_EQ(c.points[1].y, 7.0f);
    movePoint(c, 1, 0.0f, 7.0f);
    EXPECT_EQ(c.points[1].x, 1.0f + 0.1f);
    movePoint(c, 1, 3.0f, 7.0f);  // equal to the neighbour: strict comparisons leave it
    EXPECT_EQ(c.points[1].x, 3.0f);
    movePoint(c, 0, 10.0f, 7.0f);
    EXPECT_EQ(c.points[0].x, 10.0f);

    KeyPointCurve narrow = curveOf({{0, 1}, {0.02f, 1}, {0.05f, 1}});
    movePoint(narrow, 1, 2.0f, 1.0f);  // 0.1 left of the right neighbour is left of the left one: the lower wins
    EXPECT_EQ(narrow.points[1].x, 0.0f + 0.1f);

    removePoint(c, 99);  // beyond the count: the last one goes
    EXPECT_EQ(c.count(), 3);
    EXPECT_EQ(c.points.back().x, 3.0f);
    KeyPointCurve single = curveOf({{0, 5}});
    removePoint(single, 0);
    EXPECT_TRUE(single.empty());
    removePoint(single, 0);
    EXPECT_TRUE(single.empty());
}

TEST(KeyPointCurve, EvaluationOnAndBetweenAndBeyondThePoints) {
    const KeyPointCurve one = curveOf({{0, 4}});
    for (float x : {-3.0f, 0.0f, 7.5f}) {
        EXPECT_EQ(evaluateLog(one, x), 4.0f);
        EXPECT_EQ(evaluateLinear(one, x), 4.0f);
    }

    const KeyPointCurve c = curveOf({{1, 10}, {3, 1000}, {4, 20}});
    EXPECT_EQ(findSegment(c, 3.0f), 0);  // at a key point the lower segment wins
    EXPECT_EQ(findSegment(c, 0.0f), 0);
    EXPECT_EQ(findSegment(c, 9.0f), 2);
    EXPECT_FLOAT_EQ(evaluateLog(c, 3.0f), 1000.0f);
    EXPECT_FLOAT_EQ(evaluateLinear(c, 3.0f), 1000.0f);
    EXPECT_FLOAT_EQ(evaluateLog(c, 2.0f), 100.0f);  // geometric: halfway between 10 and 1000
    EXPECT_FLOAT_EQ(evaluateLinear(c, 2.0f), 505.0f);
    EXPECT_EQ(evaluateLog(c, 8.0f), 20.0f);
    EXPECT_EQ(evaluateLinear(c, 8.0f), 20.0f);
    // Before the first point the first segment extends.
    EXPECT_FLOAT_EQ(evaluateLog(c, 0.0f), 1.0f);
    EXPECT_FLOAT_EQ(evaluateLinear(c, 0.0f), 10.0f - 495.0f);
}

TEST(KeyPointCurve, BadValuesNeverTurnIntoNaN) {
    const float nan = std::nanf("");
    for (const KeyPointCurve& c : {curveOf({{0, 0}, {2, 100}}), curveOf({{0, -5}, {2, 100}}),
                                   curveOf({{0, nan}, {2, 100}}), curveOf({{0, INFINITY}, {2, 1}}),
                                   curveOf({{0, -5}}), curveOf({{0, 1}, {1, 2}, {1, 3}, {2, 4}})}) {
        for (float x : {-1.0f, 0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f}) {
            const float v = evaluateLog(c, x);
            EXPECT_TRUE(std::isfinite(v) && v > 0.0f) << "x " << x << " gives " << v;
        }
        const SpeedFrameCount n = countSpeedFrames(c, 5, 0, 4);
        EXPECT_GE(n.total, 0);
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
    const int tail = countSpeedFrames(speed, 11, 4, 10).total;
    EXPECT_EQ(head + tail, 102);
    EXPECT_EQ(countSpeedFrames(speed, 11, 0, 10, 4.0f).upToLimit, head);
    // An accelerating curve spends more frames where it is fast.
    const KeyPointCurve ramp = curveOf({{0, 5}, {10, 50}});
    EXPECT_LT(countSpeedFrames(ramp, 11, 0, 5).total, countSpeedFrames(ramp, 11, 5, 10).total);
}

TEST(KeyPointCurve, FileRoundTripAndDamagedFiles) {
    TempDir dir;
    const KeyPointCurve c = curveOf({{0, 25}, {1.3f, 0.1f}, {7.75f, 3e-7f}});
    ASSERT_TRUE(saveCurve(dir / "speed.qvs", c).ok);
    EXPECT_EQ(test::readBytes(dir / "speed.qvs"),
              ByteWriter().i32(3).f32(0).f32(25).f32(1.3f).f32(0.1f).f32(7.75f).f32(3e-7f).bytes());
    KeyPointCurve back = curveOf({{9, 9}});
    ASSERT_TRUE(loadCurve(dir / "speed.qvs", back));
    ASSERT_EQ(back.count(), 3);
    EXPECT_EQ(std::memcmp(back.points.data(), c.points.data(), 3 * sizeof(KeyPoint)), 0);

    // A missing file leaves the curve alone; the caller's default fills an empty one.
    EXPECT_FALSE(loadCurve(dir / "none.qvs", back));
    EXPECT_EQ(back.count(), 3);
    KeyPointCurve empty;
    loadCurveWithDefault(dir / "none.qvs", empty, kMovieSpeedDefault);
    ASSERT_EQ(empty.count(), 1);
    EXPECT_EQ(empty.points[0].x, 0.0f);
    EXPECT_EQ(empty.points[0].y, 20.0f);

    struct Damaged {
        std::vector<std::uint8_t> bytes;
        int points;
    };
    const std::vector<Damaged> damaged = {
        {ByteWriter().i32(-4).f32(1).f32(2).bytes(), 0},
        {ByteWriter().i32(1 << 30).f32(1).f32(2).f32(3).f32(4).bytes(), 2},
        {ByteWriter().i32(2).f32(1).f32(2).f32(3).bytes(), 1},
        {ByteWriter().u8(1).u8(0).bytes(), 0},
    };
    for (const Damaged& d : damaged) {
        test::writeBytes(dir / "colordiv.qvs", d.bytes);
        KeyPointCurve read = curveOf({{5, 5}});
        EXPECT_TRUE(loadCurve(dir / "colordiv.qvs", read));
        EXPECT_EQ(read.count(), d.points);
    }

    const Status failed = saveCurve(dir / "missing-folder" / "speed.qvs", c);
    EXPECT_TRUE(test::failsSaying(failed, "speed.qvs"));
}

// The colour divisor starts from keyframe 0's once the keyframes are loaded.
TEST(KeyPointCurve, ColorDivisorStartsFromTheFirstKeyframe) {
    KeyframeList list;
    EXPECT_EQ(curveDefault(CurveKind::ColorDivisor, list), 10.0f);
    list.loaded = true;
    list.summaries.resize(2);
    list.summaries[0].colorDivisor = 37;
    EXPECT_EQ(curveDefault(CurveKind::ColorDivisor, list), 37.0f);
}

}  // namespace
}  // namespace zoomreel
