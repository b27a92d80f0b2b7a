#include "output/beat_fit.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

namespace zoomreel {
namespace {

/// The walk's images per keyframe are single precision: far beyond any movie, and still a step that moves h.
constexpr double kFewestImages = 0.05;
constexpr double kMostImages = 1e6;
constexpr int kFitRounds = 60;

/// Constant `images[j]` across step j, changing over the ramp around each keyframe in between: the log
/// interpolation between two key points then couples a step only with the edges of its neighbours.
KeyPointCurve stepCurve(const KeyPointCurve& today, int start, int end, const std::vector<double>& images) {
    const float half = kBeatFitRamp / 2;
    std::vector<KeyPoint> points;
    for (int j = 0; j < end - start; ++j) {
        const auto y = static_cast<float>(images[static_cast<std::size_t>(j)]);
        points.push_back({j == 0 ? float(start) : float(start + j) + half, y});
        points.push_back({j + 1 == end - start ? float(end) : float(start + j + 1) - half, y});
    }
    return replacePointsInside(today, float(start), float(end), points);
}

}  // namespace

CurveSuggestion fitSpeedToBeats(const BeatFitRequest& request) {
    CurveSuggestion fit;
    const int start = request.limits.selectionStart;
    const int end = request.limits.selectionEnd;
    const int steps = end - start;
    if (steps < 1 || static_cast<int>(request.beatsPerKeyframe.size()) != steps) {
        fit.status = Status::failure("Fitting keyframes to beats needs a selection of at least two keyframes.");
        return fit;
    }
    // The frame each keyframe is to be reached on.
    std::vector<int> target(static_cast<std::size_t>(steps) + 1, 0);
    std::size_t beat = 0;
    for (int j = 1; j <= steps; ++j) {
        beat += static_cast<std::size_t>(std::max(1, request.beatsPerKeyframe[static_cast<std::size_t>(j - 1)]));
        if (beat >= request.beats.size()) {
            fit.status = Status::failure("The soundtrack has " + std::to_string(request.beats.size()) +
                                         " beats after the movie's start; keyframes " + std::to_string(start) +
                                         " to " + std::to_string(end) + " need " + std::to_string(beat + 1) + ".");
            return fit;
        }
        target[static_cast<std::size_t>(j)] = static_cast<int>(std::llround(request.beats[beat] * request.fps));
        if (target[static_cast<std::size_t>(j)] <= target[static_cast<std::size_t>(j - 1)]) {
            fit.status = Status::failure("The beats come too fast for " + std::to_string(request.fps) +
                                         " frames per second: keyframe " + std::to_string(start + j) +
                                         " would get no frame of its own.");
            return fit;
        }
    }
    std::vector<double> images(static_cast<std::size_t>(steps));
    for (int j = 0; j < steps; ++j) {
        images[static_cast<std::size_t>(j)] = target[static_cast<std::size_t>(j) + 1] - target[static_cast<std::size_t>(j)];
    }
    // The walk's rounding and the ramps move each arrival a little: correct every step's speed by how much longer
    // or shorter it took than from one target to the next (each keyframe to be passed halfway into the frame
    // before its target, so that the target is the first frame at or beyond it), round after round, against the
    // real walk.
    for (int round = 0; round < kFitRounds; ++round) {
        fit.curve = stepCurve(request.speed, start, end, images);
        const BeatTimeline timeline(fit.curve, request.limits, request.fps);
        fit.frames = timeline.frames();
        bool exact = true;
        double passed = timeline.crossing(float(start));
        for (int j = 1; j <= steps; ++j) {
            const int wanted = target[static_cast<std::size_t>(j)];
            exact = exact && timeline.arrivalFrame(float(start + j)) == wanted;
            const double crossing = timeline.crossing(float(start + j));
            const double span = crossing - passed;
            // Against where the keyframe before is to be passed, not where it is now: that one's own step
            // corrects it, and every later step correcting it too would overshoot.
            const double goal = wanted - 0.5 - (j == 1 ? passed : target[static_cast<std::size_t>(j - 1)] - 0.5);
            if (span > 0 && goal > 0) {
                images[static_cast<std::size_t>(j - 1)] =
                    std::clamp(images[static_cast<std::size_t>(j - 1)] * goal / span, kFewestImages, kMostImages);
            }
            passed = crossing;
        }
        if (exact) return fit;
    }
    // Not exact: acceptable only within a frame everywhere.
    const BeatTimeline timeline(fit.curve, request.limits, request.fps);
    for (int j = 1; j <= steps; ++j) {
        if (std::abs(timeline.arrivalFrame(float(start + j)) - target[static_cast<std::size_t>(j)]) > 1) {
            fit.status = Status::failure("No speed curve reaches keyframe " + std::to_string(start + j) +
                                         " on its beat at " + std::to_string(request.fps) + " frames per second.");
            return fit;
        }
    }
    return fit;
}

std::vector<int> beatsFollowingDetail(const std::vector<double>& imagesPerStep, int totalBeats) {
    const auto steps = static_cast<int>(imagesPerStep.size());
    std::vector<int> beats(imagesPerStep.size(), 1);
    const double sum = std::accumulate(imagesPerStep.begin(), imagesPerStep.end(), 0.0);
    if (steps == 0 || !(sum > 0)) return beats;
    // One beat each, the rest shared out by the cumulative sums so that the roundings do not add up.
    const int spare = std::max(0, totalBeats - steps);
    double cumulative = 0;
    long long given = 0;
    for (int k = 0; k < steps; ++k) {
        cumulative += imagesPerStep[static_cast<std::size_t>(k)] / sum * spare;
        const long long upTo = std::llround(cumulative);
        beats[static_cast<std::size_t>(k)] += static_cast<int>(upTo - given);
        given = upTo;
    }
    return beats;
}

Status beatsFollowingKeyframes(const std::vector<KeyframeMeasures>& measures, SpeedRequest request,
                               const FrameCounter& countFrames, const std::vector<double>& beats, int fps,
                               std::vector<int>& beatsPerKeyframe) {
    const int steps = request.selectionEnd - request.selectionStart;
    request.frames = countFrames(request.speed);
    const double seconds = double(request.frames) / std::max(fps, 1);
    const auto spanned = static_cast<int>(std::lower_bound(beats.begin(), beats.end(), seconds) - beats.begin());
    const int total = std::clamp(spanned, steps, std::max(steps, static_cast<int>(beats.size()) - 1));
    const CurveSuggestion speed = suggestSpeed(measures, request, countFrames);
    if (!speed.status) return speed.status;
    std::vector<double> images;
    for (int k = 0; k < steps; ++k) images.push_back(evaluateLog(speed.curve, float(request.selectionStart + k) + 0.5f));
    beatsPerKeyframe = beatsFollowingDetail(images, total);
    return {};
}

CurveSuggestion colourPulse(const KeyPointCurve& rotation, const BeatTimeline& timeline, const BeatAnalysis& analysis,
                            double audioStart, double amount, int selectionStart, int selectionEnd) {
    CurveSuggestion pulse;
    const std::vector<double> beats = beatsFrom(analysis, audioStart);
    const std::vector<double> positions = beatPositions(timeline, beats);
    // The onset strength at each beat, smoothed over three hops and taken at its height within two hops of the
    // beat, so that neither one hop's flutter nor where the hops fall on the attack decides.
    // By hop numbers: times a hop apart can fall into one hop's value twice.
    auto hop = [&](long long i) {
        return i >= 0 && i < static_cast<long long>(analysis.onsetStrength.size())
                   ? double(analysis.onsetStrength[static_cast<std::size_t>(i)]) : 0.0;
    };
    std::vector<double> strength;
    for (std::size_t b = 0; b < positions.size(); ++b) {
        const auto centre = analysis.onsetStep > 0 ? std::llround((beats[b] + audioStart) / analysis.onsetStep) : 0;
        double height = 0;
        for (long long i = centre - 2; i <= centre + 2; ++i) height = std::max(height, (hop(i - 1) + hop(i) + hop(i + 1)) / 3);
        strength.push_back(height);
    }
    const double mean = strength.empty() ? 0 : std::accumulate(strength.begin(), strength.end(), 0.0) / double(strength.size());
    std::vector<KeyPoint> points;
    for (std::size_t b = 0; b < positions.size(); ++b) {
        const double x = positions[b];
        if (x < selectionStart || x > selectionEnd) continue;
        // The rotation per keyframe that turns the colours by the beat's share over the keyframes up to the next.
        const double span = b + 1 < positions.size() ? positions[b + 1] - x : b > 0 ? x - positions[b - 1] : 1.0;
        if (!(span > 0)) continue;
        const double relative = mean > 0 ? strength[b] / mean : 1.0;
        const auto px = static_cast<float>(x);
        if (!points.empty() && !(px > points.back().x)) continue;
        points.push_back({px, static_cast<float>(amount * relative / span)});
    }
    if (points.empty()) {
        pulse.status = Status::failure("No beat of the soundtrack falls inside keyframes " +
                                       std::to_string(selectionStart) + " to " + std::to_string(selectionEnd) + ".");
        return pulse;
    }
    pulse.curve = replacePointsInside(rotation, float(selectionStart), float(selectionEnd), points);
    pulse.frames = timeline.frames();
    return pulse;
}

}  // namespace zoomreel
