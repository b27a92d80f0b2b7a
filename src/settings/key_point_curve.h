#pragma once

#include <filesystem>
#include <limits>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "platform/status.h"

namespace zoomreel {

/// One key point: the curve's value `y` at keyframe position `x`.
struct KeyPoint {
    float x = 0.0f;
    float y = 0.0f;
    friend bool operator==(const KeyPoint&, const KeyPoint&) = default;
};

/// A quantity that changes along the zoom, given at a few keyframe positions (x ascending) and interpolated
/// between them. All arithmetic is in single precision: frame positions and colours of a movie depend on the
/// exact order of the operations, so the formulas below are followed as written.
struct KeyPointCurve {
    std::vector<KeyPoint> points;

    int count() const { return static_cast<int>(points.size()); }
    bool empty() const { return points.empty(); }
};

enum class Interpolation { Logarithmic, Linear };

/// The seven curves of the program, each with its file in the opened folder.
enum class CurveKind { Speed, ColorDivisor, ColorAdd, ColorRotate, ZScaleEvolution, MaxIterEvolution, VertShiftEvolution };
inline constexpr int kCurveKindCount = 7;

struct CurveDescription {
    const char* fileName;
    Interpolation interpolation;
};
const CurveDescription& describeCurve(CurveKind kind);

/// A movie made without "speed.qvs" runs at 20 images per keyframe; the speed and colour editors show and save
/// 25 when they find no file. Both are in force.
inline constexpr float kMovieSpeedDefault = 20.0f;
inline constexpr float kEditorSpeedDefault = 25.0f;
/// The colour divisor when no keyframes are loaded to take it from.
inline constexpr float kColorDivisorFallback = 10.0f;

/// The value of the single point a curve gets when its file is missing or empty: for the speed, the movie's
/// default; for the colour divisor, keyframe 0's divisor when the keyframes are loaded.
float curveDefault(CurveKind kind, const KeyframeList& list);

/// The seven curves, one of each kind.
struct CurveSet {
    KeyPointCurve speedCurve;
    KeyPointCurve colorDivisorCurve;
    KeyPointCurve colorAddCurve;
    KeyPointCurve colorRotateCurve;
    KeyPointCurve zScaleEvolution;
    KeyPointCurve maxIterEvolution;
    KeyPointCurve vertShiftEvolution;

    KeyPointCurve& operator[](CurveKind kind);
    const KeyPointCurve& operator[](CurveKind kind) const;
};

/// Inserts (x, y) where it keeps x ascending; a point at an x that is already taken goes after the existing one.
/// Returns the new point's index.
int insertPoint(KeyPointCurve& curve, float x, float y);

/// Sets point `index` to (x, y). An interior point's x is kept 0.1 inside its neighbours (the lower neighbour
/// wins when they are closer than 0.2); the first and last points move freely. An index out of range does nothing.
void movePoint(KeyPointCurve& curve, int index, float x, float y);

/// Deletes point `index`; an index at or beyond the count deletes the last point.
void removePoint(KeyPointCurve& curve, int index);

void clearCurve(KeyPointCurve& curve);

/// The index of the point that starts the segment holding x: n-1 past the last point, 0 before the first, and
/// the lower segment at a key point.
int findSegment(const KeyPointCurve& curve, float x);

/// Geometric interpolation; constant after the last point, extrapolating the first segment before the first.
/// Logarithms of values at or below zero (which the editors cannot make, but a file can hold) are taken of
/// `kLogCurveFloor` instead, and an infinite value of the largest float; a result beyond float's range is held
/// to the same bounds. A bad point bends the curve but never turns a movie into NaN, zero or infinity.
/// An empty curve, which callers never evaluate since they give it its default first, is 1 here and 0 below.
float evaluateLog(const KeyPointCurve& curve, float x);
float evaluateLinear(const KeyPointCurve& curve, float x);
float evaluateCurve(const KeyPointCurve& curve, Interpolation interpolation, float x);
inline constexpr float kLogCurveFloor = 1e-6f;
/// The value a logarithmic curve works with: the point's own value whenever it has a logarithm, else
/// `kLogCurveFloor` (for values at or below 0 and NaN) or the largest float.
float loggable(float y);

/// Replaces the curve's points with the file's. Returns false, leaving the curve untouched, when the file cannot
/// be opened. A damaged file gives the points it holds whole: a negative count gives none, a count beyond the
/// file's length gives as many as the file holds.
bool loadCurve(const std::filesystem::path& path, KeyPointCurve& curve);

/// Writes the curve through a temporary file and a rename; a failure says which file and why.
Status saveCurve(const std::filesystem::path& path, const KeyPointCurve& curve);

/// The sequence every caller uses: load, and when that leaves the curve empty give it the point (0, defaultValue).
void loadCurveWithDefault(const std::filesystem::path& path, KeyPointCurve& curve, float defaultValue);

/// Ten days of movie at 60 frames per second: far beyond any real zoom, and still counted in about a second.
inline constexpr long long kMaxSpeedSteps = 10LL * 24 * 3600 * 60;

struct SpeedFrameCount {
    int total = 0;       ///< frames at positions in [selectionStart, selectionEnd)
    int upToLimit = 0;   ///< of those, frames at positions up to the limit
};

/// Counts the frames a movie over the selection would have, stepping along the speed curve as the movie does
/// (the position grows by 1/speed after each frame), at constant speed from the last point to the last
/// keyframe. Should the step become too small to move the position in single precision, or the steps exceed
/// `kMaxSpeedSteps` (absurd speeds from a damaged file), the count stops there instead of running for minutes.
SpeedFrameCount countSpeedFrames(const KeyPointCurve& speed, int keyframeCount, int selectionStart, int selectionEnd,
                                 float limit = std::numeric_limits<float>::infinity());

}  // namespace zoomreel
