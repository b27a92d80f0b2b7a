#pragma once

// Curves fitted to the soundtrack's beats: a speed curve under which the movie reaches each keyframe of the
// selection on a beat, and a colour rotation that pulses with the onsets.

#include <vector>

#include "settings/curve_suggestion.h"
#include "output/beat_analysis.h"
#include "output/beat_timeline.h"
#include "settings/key_point_curve.h"

namespace zoomreel {

/// Within each keyframe the fitted speed is constant; it changes over this much of a keyframe around each one.
inline constexpr float kBeatFitRamp = 0.1f;

struct BeatFitRequest {
    WalkLimits limits;                  ///< the selection S..E the movie walks
    int fps = 30;
    KeyPointCurve speed;                ///< today's speed curve; its points outside the selection stay
    std::vector<double> beats;          ///< seconds from the movie's start; beat 0 the first at or after it
    std::vector<int> beatsPerKeyframe;  ///< one per keyframe step S -> S + 1, ..., E - 1 -> E, each at least 1
};

/// The speed curve under which keyframe S + j is reached on the frame nearest beat (beats per keyframe of the
/// steps before it, summed) - exactly where the frame rate allows it, never a frame off. `frames` is the movie's
/// length with it. Too few beats, or beats closer together than the frames allow, give a one-line message.
CurveSuggestion fitSpeedToBeats(const BeatFitRequest& request);

/// Whole numbers of beats per keyframe step, at least 1 each, in proportion to `imagesPerStep` (the images a
/// suggested speed gives each step) and `totalBeats` in all (at least one per step).
std::vector<int> beatsFollowingDetail(const std::vector<double>& imagesPerStep, int totalBeats);

/// "auto": beats per keyframe step that follow the keyframes' detail, as the suggested speed of `request` (whose
/// frames are ignored) shares images out, with as many beats in all as the movie spans today (at least one per
/// step, at most all the soundtrack has after the movie's start).
Status beatsFollowingKeyframes(const std::vector<KeyframeMeasures>& measures, SpeedRequest request,
                               const FrameCounter& countFrames, const std::vector<double>& beats, int fps,
                               std::vector<int>& beatsPerKeyframe);

/// A colour rotation of one key point per beat inside the selection (placed where the movie under `timeline`
/// reaches the beat), following the onset strength around the beat: a beat of average strength turns the colours
/// by `amount`, a beat twice as strong by twice as much. Today's points outside the selection stay.
CurveSuggestion colourPulse(const KeyPointCurve& rotation, const BeatTimeline& timeline, const BeatAnalysis& analysis,
                            double audioStart, double amount, int selectionStart, int selectionEnd);

}  // namespace zoomreel
