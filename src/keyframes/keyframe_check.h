#pragma once

// The check of a folder's keyframes across levels, before a long render. Keyframe k + 1 shows the central half of
// keyframe k at twice the resolution, so where they overlap the two must hold the same picture: keyframe k + 1
// reduced by 2 against the central half of keyframe k. A map out of order, from another zoom, mirrored, holding
// a glitch or cut short by too low an iteration limit shows as a disagreement there, seconds after the
// conversion instead of hours into a render.

#include <functional>
#include <string>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "platform/status.h"

namespace zoomreel {

/// Where a disagreement between two consecutive keyframes lies.
enum class CheckPattern {
    None,       ///< the values agree (a finding may still be `limitTooLow`)
    WholeArea,  ///< spread over the whole shared area: another zoom or order, a mirrored or shifted map
    Regions,    ///< in a few bounded regions of it: glitches
};

/// What makes a disagreement over the whole area go away, when something does.
enum class CheckHint {
    None,                ///< nothing tried: another zoom, or a map shifted or from elsewhere
    Swapped,             ///< the pair agrees in the other order
    MirroredLeftRight,   ///< the pair agrees once one of them is mirrored left to right
    MirroredTopBottom,   ///< ... mirrored top to bottom
    TurnedHalfTurn,      ///< ... turned by half a turn
};

/// A rectangle of keyframe k + 1's pixels, x from the left, y from the top, both ends included.
struct CheckRegion {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

/// How keyframes k and k + 1 compare.
struct PairCheck {
    int first = 0;                     ///< k
    CheckPattern pattern = CheckPattern::None;
    CheckHint hint = CheckHint::None;  ///< for `WholeArea`
    std::vector<CheckRegion> regions;  ///< for `Regions`
    double disagreeingShare = 0.0;     ///< of the shared area whose values disagree, 0 to 1
    bool limitTooLow = false;          ///< k + 1 reached its iteration limit where k went on
    double limitShare = 0.0;           ///< of the shared area where it did, 0 to 1

    bool disagrees() const { return pattern != CheckPattern::None || limitTooLow; }
};

/// The full maps of two consecutive keyframes (H rows of W values, bottom row first), compared where they
/// overlap. `widerMaximum` is the largest value of `wider`; `deeperMaximum`, when given, receives that of
/// `deeper`, for the pair that follows.
PairCheck compareKeyframes(const std::vector<double>& wider, double widerMaximum, const std::vector<double>& deeper,
                           int width, int height, double* deeperMaximum = nullptr);

/// The largest value of a full map, 0 when it has none but zeros.
double mapMaximum(const std::vector<double>& map);

struct CheckCallbacks {
    /// Before pair `pair` (from 0) of `pairCount` is compared.
    std::function<void(int pair, int pairCount)> progress;
    /// Asked before each pair: true ends the check there.
    std::function<bool()> stopRequested;
    /// Every band of rows as it is read, on the checking thread: rows `firstRow` to `firstRow + rows - 1` of
    /// keyframe `keyframe`, W values each, bottom row first, valid during the call. A pass that needs the values
    /// as well (the keyframe measures) takes them here instead of reading the files again.
    std::function<void(int keyframe, int firstRow, int rows, const double* values)> band;
};

struct KeyframeCheck {
    Status status;                     ///< a failure names the keyframe file that could not be read
    int keyframeCount = 0;
    int pairsChecked = 0;
    bool stopped = false;
    std::vector<PairCheck> disagreeing;  ///< the pairs that disagree, in order

    bool allAgree() const { return status.ok && !stopped && disagreeing.empty(); }
};

/// Compares every keyframe of the loaded `list` with the next one. Each full map is read once, in bands of rows
/// on a thread of its own while the bands read before are compared; of each keyframe only the part the next
/// one covers is kept. A pair that disagrees all over is read again whole, to try it swapped and mirrored.
KeyframeCheck checkKeyframes(const KeyframeList& list, const CheckCallbacks& callbacks = {});

/// The line that tells a disagreeing pair, beginning "Keyframes K and K+1:".
std::string describePair(const PairCheck& pair);

/// The line that sums the check up.
std::string describeCheck(const KeyframeCheck& check);

}  // namespace zoomreel
