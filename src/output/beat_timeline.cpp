#include "output/beat_timeline.h"

#include <algorithm>
#include <cmath>

namespace zoomreel {

BeatTimeline::BeatTimeline(const KeyPointCurve& speed, const WalkLimits& limits, int fps, std::size_t maxFrames)
    : fps_(std::max(fps, 1)) {
    if (speed.empty()) return;
    walkMovie(speed, limits, nullptr, [&](float h, float) {
        positions_.push_back(h);
        return positions_.size() < maxFrames;
    });
}

double BeatTimeline::positionAt(double seconds) const {
    const double frame = seconds * fps_;
    if (positions_.empty() || frame < 0 || frame > double(positions_.size() - 1)) return -1;
    const auto below = static_cast<std::size_t>(frame);
    if (below + 1 >= positions_.size()) return positions_.back();
    const double part = frame - double(below);
    return positions_[below] + part * (double(positions_[below + 1]) - positions_[below]);
}

int BeatTimeline::arrivalFrame(float x) const {
    return static_cast<int>(std::lower_bound(positions_.begin(), positions_.end(), x) - positions_.begin());
}

double BeatTimeline::crossing(float x) const {
    const int n = frames();
    if (n < 2) return n;
    // Before the first frame and after the last, the step of the frames beside them carries on.
    const int at = std::clamp(arrivalFrame(x), 1, n - 1);
    const double before = positions_[static_cast<std::size_t>(at - 1)];
    const double after = positions_[static_cast<std::size_t>(at)];
    return after > before ? at - 1 + (x - before) / (after - before) : at;
}

std::vector<double> beatPositions(const BeatTimeline& timeline, const std::vector<double>& beats) {
    std::vector<double> positions;
    for (const double t : beats) {
        const double x = timeline.positionAt(t);
        if (x >= 0) positions.push_back(x);
    }
    return positions;
}

}  // namespace zoomreel
