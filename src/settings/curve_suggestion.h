#pragma once

// Curves suggested from what the keyframes hold (their measures), for the user to edit further: a speed curve
// that spends more images where there is more detail to follow, and a colour divisor curve that keeps the colour
// density on the screen what it is at the first keyframe of the selection. Plain functions of the measures and
// today's curves: the command line and the editors call the same ones, and they run anywhere.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keyframes/keyframe_measures.h"
#include "platform/status.h"
#include "settings/key_point_curve.h"

namespace zoomreel {

/// Images per keyframe a suggested speed keeps to.
inline constexpr float kFewestImagesPerKeyframe = 2.0f;
inline constexpr float kMostImagesPerKeyframe = 2000.0f;
/// A suggested point is left out where the curve through the points kept already gives its value within this.
inline constexpr float kThinningTolerance = 0.05f;

/// The number of frames a movie over the selection makes with the speed curve `speed` (the movie's own walk).
using FrameCounter = std::function<int(const KeyPointCurve& speed)>;

struct CurveSuggestion {
    Status status;       ///< a one-line message when nothing can be suggested
    KeyPointCurve curve; ///< today's curve with its points inside the selection replaced
    int frames = 0;      ///< for a speed: the frames the movie over the selection makes with it
};

/// Refuses a selection of fewer than two keyframes.
Status checkSuggestionSelection(int selectionStart, int selectionEnd);

struct SpeedRequest {
    int selectionStart = 0;
    int selectionEnd = 0;
    int frames = 0;                 ///< how many frames the selection is to last
    KeyPointCurve speed;            ///< today's speed curve (at least one point); its points outside stay
    KeyPointCurve colorDivisor;     ///< the colour divisor curve the movie colours with (at least one point)
    double colorSensitivity = 1.0;  ///< which the renderer multiplies the divisor by
};

/// Refuses what no speed of 2 to 2000 images per keyframe over the selection gives: a selection of fewer than two
/// keyframes, no frames, more frames than 2000 images per keyframe make, fewer than 2 make. Needs no measures.
Status checkSpeedFrames(const SpeedRequest& request, const FrameCounter& countFrames);

/// A speed of one key point per keyframe of the selection, from the measures of keyframes S to E: the images
/// of the zoom from keyframe k to k + 1 in proportion to the colour detail it shows (so that the colours move by
/// about as much from one image to the next all along), smoothed from keyframe to keyframe, scaled so that the
/// selection lasts `frames` frames as `countFrames` counts them, 2 to 2000 images per keyframe, and thinned.
CurveSuggestion suggestSpeed(const std::vector<KeyframeMeasures>& measures, const SpeedRequest& request,
                             const FrameCounter& countFrames);

/// A colour divisor of one key point per keyframe of the selection that follows the iteration gradient of the
/// keyframes S to E from today's value at S, which stays: the colour index then changes from pixel to pixel by as
/// much as it does at S. Thinned; today's points outside the selection stay.
CurveSuggestion suggestColorDivisor(const std::vector<KeyframeMeasures>& measures, int selectionStart,
                                    int selectionEnd, const KeyPointCurve& colorDivisor);

/// The points without those that the curve through their kept neighbours gives within `tolerance` (relative to
/// their value), evaluated as the program evaluates the curve. The first and the last point stay.
std::vector<KeyPoint> thinPoints(const std::vector<KeyPoint>& points, Interpolation interpolation,
                                 float tolerance = kThinningTolerance);

/// `curve` with its points from x = `from` to `to` (both included) replaced by `points`, which lie there.
KeyPointCurve replacePointsInside(const KeyPointCurve& curve, float from, float to, const std::vector<KeyPoint>& points);

/// A duration "MM:SS", with hundredths or other fractions of a second after a point ("01:30.25"): seconds, or
/// nothing when the text is not one.
std::optional<double> parseDuration(std::string_view text);

/// The frames of `seconds` at `fps` frames per second, to the nearest.
int framesOfDuration(double seconds, int fps);

}  // namespace zoomreel
