#pragma once

// The movie's time line over a selection: which keyframe position the movie shows at which time, as its walk
// along the speed curve makes the frames (frame f at f / fps seconds), so that beats of the soundtrack can be put
// at the keyframe positions where the movie reaches them.

#include <cstddef>
#include <limits>
#include <vector>

#include "output/movie_driver.h"
#include "settings/key_point_curve.h"

namespace zoomreel {

class BeatTimeline {
public:
    /// The walk of `speed` over the selection, its first `maxFrames` frames at most (beat marks need no frame
    /// past the soundtrack's last beat, and a damaged speed file can ask for billions).
    BeatTimeline(const KeyPointCurve& speed, const WalkLimits& limits, int fps,
                 std::size_t maxFrames = std::numeric_limits<std::size_t>::max());

    int frames() const { return static_cast<int>(positions_.size()); }
    int fps() const { return fps_; }
    /// The keyframe position of frame f (0 .. frames() - 1).
    float positionOf(int frame) const { return positions_[static_cast<std::size_t>(frame)]; }
    /// The keyframe position shown at `seconds` from the movie's start, between the frames around it; none
    /// (a negative value) outside the movie.
    double positionAt(double seconds) const;
    /// The frame on which the movie reaches keyframe position `x`: the first at or beyond it, frames() when the
    /// movie ends before it (the frame that would come next).
    int arrivalFrame(float x) const;
    /// Where between frames the walk passes `x`, in frames: arrivalFrame(x) - 1 < crossing <= arrivalFrame(x).
    double crossing(float x) const;

private:
    std::vector<float> positions_;
    int fps_;
};

/// The keyframe positions of the beats (seconds from the movie's start) that fall inside the movie.
std::vector<double> beatPositions(const BeatTimeline& timeline, const std::vector<double>& beats);

}  // namespace zoomreel
