#include "settings/curve_suggestion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace zoomreel {
namespace {

// A step with next to no colour detail (flat colours, or mostly the set's black) still moves: it gets at least
// this share of the selection's median detail, so that the movie does not rush through it in two images.
constexpr double kLeastDetailShare = 0.25;
// The search for the scale that gives the frames asked for: a few proportional guesses, then halving the
// bracket, which ends once the scales differ by less than single precision can tell in a key point.
constexpr int kProportionalGuesses = 6;
constexpr int kMaxCounts = 60;
constexpr double kFinestScaleRatio = 1.0 + 1e-7;
// A movie at 2000 images per keyframe makes about 2000 frames per keyframe step, never far fewer.
constexpr double kNearMost = 0.9;
// Divisors a key point may hold: every one positive, as a logarithmic curve needs.
constexpr double kSmallestDivisor = 1e-6;
constexpr double kLargestDivisor = 1e30;

std::string range(int start, int end) { return std::to_string(start) + " to " + std::to_string(end); }

/// The images the zoom from keyframe S + j to S + j + 1 should get, up to a common factor: its colour detail on
/// the screen (the set's black shows no detail), at least a share of the median, smoothed over its neighbours.
std::vector<double> speedShape(const std::vector<KeyframeMeasures>& measures, const SpeedRequest& request) {
    const int steps = request.selectionEnd - request.selectionStart;
    std::vector<double> detail(static_cast<std::size_t>(steps));
    for (int j = 0; j < steps; ++j) {
        const float middle = static_cast<float>(request.selectionStart + j) + 0.5f;
        const double divisor = evaluateLog(request.colorDivisor, middle) * request.colorSensitivity;
        const KeyframeMeasures& m = measures[j];
        detail[j] = m.hasValues() && divisor > 0.0 ? m.valueShare * colourDetail(m, divisor) : 0.0;
    }
    std::vector<double> sorted = detail;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::vector<double> logs(detail.size());
    for (int j = 0; j < steps; ++j) {
        // Without any detail (a selection inside the set) every step is alike.
        logs[j] = median > 0.0 ? std::log(std::max(detail[j], kLeastDetailShare * median)) : 0.0;
    }
    // 1, 2, 1 over neighbouring steps, the ends taken as their own neighbours: no step far from the next.
    std::vector<double> shape(detail.size());
    for (int j = 0; j < steps; ++j) {
        const double before = logs[std::max(j - 1, 0)];
        const double after = logs[std::min(j + 1, steps - 1)];
        shape[j] = 0.25 * before + 0.5 * logs[j] + 0.25 * after;
    }
    return shape;  // logarithms
}

/// Key points at keyframes S to E from the steps' logarithmic shape: between two steps, their geometric mean, so
/// that the curve, geometric between points, spends on each step about what the step should get.
std::vector<double> pointValues(const std::vector<double>& shape) {
    const std::size_t steps = shape.size();
    std::vector<double> values(steps + 1);
    values[0] = std::exp(shape[0]);
    values[steps] = std::exp(shape[steps - 1]);
    for (std::size_t k = 1; k < steps; ++k) values[k] = std::exp(0.5 * (shape[k - 1] + shape[k]));
    return values;
}

/// Today's curve with the selection's points at `scale` times `values`, kept to 2 .. 2000 images and thinned.
KeyPointCurve scaledSpeed(const std::vector<double>& values, double scale, const SpeedRequest& request) {
    std::vector<KeyPoint> points(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        const double images = std::clamp(scale * values[k], static_cast<double>(kFewestImagesPerKeyframe),
                                         static_cast<double>(kMostImagesPerKeyframe));
        points[k] = {static_cast<float>(request.selectionStart + static_cast<int>(k)), static_cast<float>(images)};
    }
    return replacePointsInside(request.speed, static_cast<float>(request.selectionStart),
                               static_cast<float>(request.selectionEnd),
                               thinPoints(points, Interpolation::Logarithmic));
}

/// The frames a geometric segment from a to b over one keyframe makes, about: its mean images per keyframe.
double segmentImages(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * a ? a : (b - a) / std::log(b / a);
}

}  // namespace

Status checkSuggestionSelection(int selectionStart, int selectionEnd) {
    if (selectionEnd - selectionStart >= 1) return Status::success();
    return Status::failure("A suggestion needs a selection of at least two keyframes, not keyframe " +
                           std::to_string(selectionStart) + " alone.");
}

Status checkSpeedFrames(const SpeedRequest& request, const FrameCounter& countFrames) {
    const int start = request.selectionStart;
    const int end = request.selectionEnd;
    if (Status selection = checkSuggestionSelection(start, end); !selection) return selection;
    if (request.frames <= 0) {
        return Status::failure("A duration of zero leaves no frame for keyframes " + range(start, end) + ".");
    }
    if (request.speed.empty()) return Status::failure("There is no speed curve to start from.");
    // At either end of the range every point is alike, whatever the keyframes hold. The walk at 2000 images per
    // keyframe is long: it is counted only when the frames asked for come near what it makes, about 2000 per
    // keyframe step.
    auto constant = [&](float images) {
        return countFrames(replacePointsInside(request.speed, static_cast<float>(start), static_cast<float>(end),
                                               {{static_cast<float>(start), images}, {static_cast<float>(end), images}}));
    };
    if (request.frames >= kNearMost * kMostImagesPerKeyframe * (end - start)) {
        const int most = constant(kMostImagesPerKeyframe);
        if (request.frames > most) {
            return Status::failure(std::to_string(request.frames) + " frames for keyframes " + range(start, end) +
                                   " would need more than 2000 images per keyframe; they can have at most " +
                                   std::to_string(most) + ".");
        }
    }
    const int fewest = constant(kFewestImagesPerKeyframe);
    if (request.frames < fewest) {
        return Status::failure(std::to_string(request.frames) + " frames for keyframes " + range(start, end) +
                               " would need fewer than 2 images per keyframe; they need at least " +
                               std::to_string(fewest) + ".");
    }
    return Status::success();
}

CurveSuggestion suggestSpeed(const std::vector<KeyframeMeasures>& measures, const SpeedRequest& request,
                             const FrameCounter& countFrames) {
    CurveSuggestion result;
    const int start = request.selectionStart;
    const int end = request.selectionEnd;
    if (Status frames = checkSpeedFrames(request, countFrames); !frames) {
        result.status = frames;
        return result;
    }
    if (static_cast<int>(measures.size()) < end - start || request.colorDivisor.empty()) {
        result.status = Status::failure("The measures of keyframes " + range(start, end) + " are missing.");
        return result;
    }
    const std::vector<double> values = pointValues(speedShape(measures, request));
    const auto [smallest, largest] = std::minmax_element(values.begin(), values.end());
    // Below this scale every point is at 2 images, above that one at 2000.
    double low = kFewestImagesPerKeyframe / *largest;
    double high = kMostImagesPerKeyframe / *smallest;

    // Frames grow with the scale. The first guess sums the segments' images; the count is then corrected in
    // proportion, within a bracket that only narrows.
    double images = 0.0;
    for (std::size_t k = 0; k + 1 < values.size(); ++k) images += segmentImages(values[k], values[k + 1]);
    double scale = std::clamp(request.frames / images, low, high);
    int bestMiss = std::numeric_limits<int>::max();
    for (int count = 0; count < kMaxCounts; ++count) {
        KeyPointCurve curve = scaledSpeed(values, scale, request);
        const int frames = countFrames(curve);
        const int miss = std::abs(frames - request.frames);
        if (miss < bestMiss) {
            bestMiss = miss;
            result.curve = std::move(curve);
            result.frames = frames;
        }
        if (miss == 0) break;
        (frames < request.frames ? low : high) = scale;
        if (high / low < kFinestScaleRatio) break;
        double next = count < kProportionalGuesses && frames > 0 ? scale * request.frames / frames : 0.0;
        if (!(next > low && next < high)) next = std::sqrt(low * high);
        scale = next;
    }
    return result;
}

CurveSuggestion suggestColorDivisor(const std::vector<KeyframeMeasures>& measures, int selectionStart,
                                    int selectionEnd, const KeyPointCurve& colorDivisor) {
    CurveSuggestion result;
    if (Status selection = checkSuggestionSelection(selectionStart, selectionEnd); !selection) {
        result.status = selection;
        return result;
    }
    const int count = selectionEnd - selectionStart + 1;
    if (static_cast<int>(measures.size()) < count || colorDivisor.empty()) {
        result.status =
            Status::failure("The measures of keyframes " + range(selectionStart, selectionEnd) + " are missing.");
        return result;
    }
    // A keyframe without values to go by (all in the set, or flat) keeps the gradient of the one before it; the
    // ones before the first with values take that one's.
    std::vector<double> gradients(static_cast<std::size_t>(count), 0.0);
    double last = 0.0;
    for (int j = 0; j < count; ++j) {
        const double g = measures[j].hasValues() ? iterationGradient(measures[j]) : 0.0;
        if (g > 0.0 && std::isfinite(g)) last = g;
        gradients[j] = last;
    }
    const auto first = std::find_if(gradients.begin(), gradients.end(), [](double g) { return g > 0.0; });
    if (first == gradients.end()) {
        result.status = Status::failure("Keyframes " + range(selectionStart, selectionEnd) +
                                        " hold no values whose colours a divisor could follow.");
        return result;
    }
    std::fill(gradients.begin(), first, *first);

    const float startValue = evaluateLog(colorDivisor, static_cast<float>(selectionStart));
    std::vector<KeyPoint> points(static_cast<std::size_t>(count));
    points[0] = {static_cast<float>(selectionStart), startValue};
    for (int j = 1; j < count; ++j) {
        const double divisor = std::clamp(startValue * gradients[j] / gradients[0], kSmallestDivisor, kLargestDivisor);
        points[j] = {static_cast<float>(selectionStart + j), static_cast<float>(divisor)};
    }
    result.curve = replacePointsInside(colorDivisor, static_cast<float>(selectionStart),
                                       static_cast<float>(selectionEnd), thinPoints(points, Interpolation::Logarithmic));
    return result;
}

std::vector<KeyPoint> thinPoints(const std::vector<KeyPoint>& points, Interpolation interpolation, float tolerance) {
    const std::size_t n = points.size();
    if (n <= 2) return points;
    // From each kept point, the segment reaches as far as every point it passes over stays within the tolerance;
    // the point before the first that does not is kept next.
    auto within = [&](std::size_t from, std::size_t to) {
        const KeyPointCurve segment{{points[from], points[to]}};
        for (std::size_t i = from + 1; i < to; ++i) {
            const float value = evaluateCurve(segment, interpolation, points[i].x);
            if (!(std::fabs(value - points[i].y) <= tolerance * std::fabs(points[i].y))) return false;
        }
        return true;
    };
    std::vector<KeyPoint> kept{points[0]};
    std::size_t from = 0;
    for (std::size_t to = 2; to < n; ++to) {
        if (within(from, to)) continue;
        from = to - 1;
        kept.push_back(points[from]);
    }
    kept.push_back(points[n - 1]);
    return kept;
}

KeyPointCurve replacePointsInside(const KeyPointCurve& curve, float from, float to, const std::vector<KeyPoint>& points) {
    KeyPointCurve result;
    for (const KeyPoint& p : curve.points) {
        if (p.x < from) result.points.push_back(p);
    }
    result.points.insert(result.points.end(), points.begin(), points.end());
    for (const KeyPoint& p : curve.points) {
        if (p.x > to) result.points.push_back(p);
    }
    return result;
}

std::optional<double> parseDuration(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    auto digitsOnly = [](std::string_view t) {
        return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::string_view minutesText = text.substr(0, colon);
    const std::string_view secondsText = text.substr(colon + 1);
    const std::size_t point = secondsText.find('.');
    const std::string_view wholeSeconds = secondsText.substr(0, point);
    if (!digitsOnly(minutesText) || wholeSeconds.size() != 2 || !digitsOnly(wholeSeconds)) return std::nullopt;
    if (point != std::string_view::npos && !digitsOnly(secondsText.substr(point + 1))) return std::nullopt;
    long long minutes = 0;
    if (std::from_chars(minutesText.data(), minutesText.data() + minutesText.size(), minutes).ec != std::errc() ||
        minutes > 100000) {
        return std::nullopt;
    }
    double seconds = 0.0;
    if (std::from_chars(secondsText.data(), secondsText.data() + secondsText.size(), seconds).ec != std::errc() ||
        !(seconds < 60.0)) {
        return std::nullopt;
    }
    return 60.0 * static_cast<double>(minutes) + seconds;
}

int framesOfDuration(double seconds, int fps) {
    const double frames = std::round(seconds * fps);
    return frames >= static_cast<double>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                          : static_cast<int>(frames);
}

}  // namespace zoomreel
