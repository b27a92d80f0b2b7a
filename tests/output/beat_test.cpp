#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <vector>

#include "output/beat_analysis.h"
#include "output/beat_fit.h"
#include "output/movie_probe.h"
#include "status_check.h"
#include "test_util.h"

namespace zoomreel {
namespace {

constexpr int kRate = 44100;

TEST(BeatAnalysis, ClickTracksAndDrumsGiveTheirTempoAndEveryBeat) {
    const struct {
        double bpm, leadIn;
        bool drums;
    } cases[] = {{90, 0, false},  {120, 0, false},  {128, 0, true},   {174, 0, true},
                 {90, 1.3, true}, {120, 2.05, true}, {128, 0.7, false}, {174, 3.1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bpm << " bpm, lead-in " << c.leadIn << (c.drums ? " drums" : " clicks"));
        std::vector<double> expected;
        const auto samples = test::beatTrack(kRate, c.bpm, 20, c.leadIn, c.drums, &expected);
        BeatAnalysis analysis;
        ASSERT_TRUE(analyseBeats(samples, kRate, analysis).ok);
        EXPECT_NEAR(analysis.tempo, c.bpm, 0.5);
        // Every beat found, none made up (the last may fall off the end of the sound).
        ASSERT_GE(analysis.beats.size() + 1, expected.size());
        ASSERT_LE(analysis.beats.size(), expected.size());
        for (std::size_t b = 0; b < analysis.beats.size(); ++b) EXPECT_NEAR(analysis.beats[b], expected[b], 0.015) << b;
    }
}

TEST(BeatAnalysis, SilenceAndNoiseHaveNoBeat) {
    std::vector<float> noise(kRate * 10);
    std::uint32_t state = 7;
    for (float& s : noise) s = static_cast<float>((state = state * 1664525u + 1013904223u) >> 8) / float(1 << 24) - 0.5f;
    for (const auto& samples : {std::vector<float>(kRate * 10, 0.0f), noise}) {
        BeatAnalysis analysis;
        EXPECT_TRUE(test::failsSaying(analyseBeats(samples, kRate, analysis), "No beat"));
    }
}

TEST(BeatFit, KeyframesArriveOnTheirBeatsInTheRealWalk) {
    const struct {
        double bpm, firstBeat;
        int fps;
        std::vector<int> perKeyframe;
    } cases[] = {{120, 0.0, 30, {4, 4, 4, 4, 4, 4, 4}}, {128, 0.31, 25, {1, 2, 3, 1, 8, 2, 1}},
                 {174, 0.05, 60, {2, 2, 2, 2, 2, 2, 2}}, {90, 1.7, 24, {1, 1, 1, 1, 1, 1, 1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bpm << " bpm at " << c.fps << " fps");
        BeatFitRequest request;
        request.limits = {2, 9, 12, false};
        request.fps = c.fps;
        request.speed.points = {{0, 20}, {5.5f, 300}, {11, 7}};  // today's, to be replaced inside 2..9
        for (int b = 0; b < 80; ++b) request.beats.push_back(c.firstBeat + b * 60.0 / c.bpm);
        request.beatsPerKeyframe = c.perKeyframe;
        const CurveSuggestion fit = fitSpeedToBeats(request);
        ASSERT_TRUE(fit.status.ok) << fit.status.message;
        const BeatTimeline timeline(fit.curve, request.limits, c.fps);
        EXPECT_EQ(fit.frames, timeline.frames());
        std::size_t beat = 0;
        for (int j = 1; j <= 7; ++j) {
            beat += static_cast<std::size_t>(c.perKeyframe[static_cast<std::size_t>(j - 1)]);
            const double wanted = request.beats[beat] * c.fps;
            EXPECT_LE(std::abs(timeline.arrivalFrame(float(2 + j)) - wanted), 1.0) << "keyframe " << 2 + j;
        }
        EXPECT_EQ(fit.curve.points.front().x, 0.0f);  // the points outside the selection stay
    }
    // Three beats cannot take seven keyframes.
    EXPECT_FALSE(fitSpeedToBeats({{2, 9, 12, false}, 30, {{{0, 20}}}, {0.0, 0.5, 1.0}, std::vector<int>(7, 1)}).status.ok);
}

// Equal clicks: every beat turns the colours by about the amount, whatever the speed between them.
TEST(BeatFit, ColourPulseOfEqualBeatsIsEven) {
    BeatAnalysis analysis;
    ASSERT_TRUE(analyseBeats(test::beatTrack(kRate, 120, 20, 0, false), kRate, analysis).ok);
    const BeatTimeline timeline({{{0, 20}, {5, 80}}}, WalkLimits{2, 9, 12, false}, 30);
    const CurveSuggestion pulse = colourPulse({{{0, 0}}}, timeline, analysis, 0.25, 0.2, 2, 9);
    ASSERT_TRUE(pulse.status.ok);
    ASSERT_EQ(pulse.curve.count(), 1 + static_cast<int>(beatPositions(timeline, beatsFrom(analysis, 0.25)).size()));
    for (int p = 1; p + 1 < pulse.curve.count(); ++p) {
        const KeyPoint& a = pulse.curve.points[static_cast<std::size_t>(p)];
        EXPECT_NEAR(a.y * (pulse.curve.points[static_cast<std::size_t>(p) + 1].x - a.x), 0.2, 0.02) << p;
    }
}

// The cache answers for a soundtrack only at the size and time it was analysed at: a file rewritten in place is
// analysed again, and an entry still matching is served without looking at the sound.
TEST(BeatCache, KeyedByTheSoundtracksSizeAndModificationTime) {
    test::TempDir dir;
    const auto track = dir / "track.wav";
    const auto write = [&](double bpm, std::filesystem::file_time_type when) {
        test::writeWav(track, kRate, 1, test::toPcm(test::beatTrack(kRate, bpm, 12, 0, false)));
        std::filesystem::last_write_time(track, when);
    };
    const auto tempo = [&] {
        BeatAnalysis analysis;
        EXPECT_TRUE(soundtrackBeats(track, dir.path(), analysis).ok);
        return analysis.tempo;
    };
    const auto first = std::filesystem::file_time_type::clock::now();
    write(120, first);
    EXPECT_NEAR(tempo(), 120, 0.5);
    ASSERT_TRUE(std::filesystem::exists(dir / kBeatCacheFileName));
    write(90, first + std::chrono::seconds(10));  // same length, so the same size
    EXPECT_NEAR(tempo(), 90, 0.5);
    write(120, first + std::chrono::seconds(10));  // the 90 BPM entry still matches: served from the cache
    EXPECT_NEAR(tempo(), 90, 0.5);
}

}  // namespace
}  // namespace zoomreel
