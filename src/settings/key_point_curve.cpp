#include "settings/key_point_curve.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/atomic_file.h"
#include "platform/file_reader.h"

namespace zoomreel {
namespace {

static_assert(sizeof(KeyPoint) == 8, "a key point is stored as two packed float32");

constexpr CurveDescription kCurves[kCurveKindCount] = {
    {"speed.qvs", Interpolation::Logarithmic},    {"colordiv.qvs", Interpolation::Logarithmic},
    {"coloradd.qvs", Interpolation::Linear},      {"colorrot.qvs", Interpolation::Linear},
    {"EvEchZ3D.qvs", Interpolation::Logarithmic}, {"EvMaxIter3D.qvs", Interpolation::Logarithmic},
    {"EvVertDec3D.qvs", Interpolation::Logarithmic},
};

float logOf(float y) { return std::log(loggable(y)); }

}  // namespace

float loggable(float y) {
    if (!(y > 0.0f)) return kLogCurveFloor;
    if (y > std::numeric_limits<float>::max()) return std::numeric_limits<float>::max();
    return y;
}

const CurveDescription& describeCurve(CurveKind kind) { return kCurves[static_cast<int>(kind)]; }

float curveDefault(CurveKind kind, const KeyframeList& list) {
    switch (kind) {
        case CurveKind::Speed: return kMovieSpeedDefault;
        case CurveKind::ColorDivisor:
            return list.loaded && !list.summaries.empty() ? static_cast<float>(list.summaries[0].colorDivisor)
                                                          : kColorDivisorFallback;
        case CurveKind::ColorAdd:
        case CurveKind::ColorRotate: return 0.0f;
        default: return 1.0f;
    }
}

KeyPointCurve& CurveSet::operator[](CurveKind kind) {
    return const_cast<KeyPointCurve&>(static_cast<const CurveSet&>(*this)[kind]);
}

const KeyPointCurve& CurveSet::operator[](CurveKind kind) const {
    switch (kind) {
        case CurveKind::Speed: return speedCurve;
        case CurveKind::ColorDivisor: return colorDivisorCurve;
        case CurveKind::ColorAdd: return colorAddCurve;
        case CurveKind::ColorRotate: return colorRotateCurve;
        case CurveKind::ZScaleEvolution: return zScaleEvolution;
        case CurveKind::MaxIterEvolution: return maxIterEvolution;
        default: return vertShiftEvolution;
    }
}

int insertPoint(KeyPointCurve& curve, float x, float y) {
    // For points strictly ascending and an x not among them this is the first position whose point lies beyond x,
    // as the editors expect; an x already taken goes after its twin, so the order never breaks.
    const auto& p = curve.points;
    int position = curve.count();
    for (int i = 0; i < curve.count(); ++i) {
        if (x < p[i].x) {
            position = i;
            break;
        }
    }
    curve.points.insert(curve.points.begin() + position, KeyPoint{x, y});
    return position;
}

void movePoint(KeyPointCurve& curve, int index, float x, float y) {
    const int n = curve.count();
    if (index < 0 || index >= n) return;
    auto& p = curve.points;
    if (index > 0 && index < n - 1) {
        if (x > p[index + 1].x) x = p[index + 1].x - 0.1f;
        if (x < p[index - 1].x) x = p[index - 1].x + 0.1f;
    }
    p[index] = {x, y};
}

void removePoint(KeyPointCurve& curve, int index) {
    if (curve.empty() || index < 0) return;
    index = std::min(index, curve.count() - 1);
    curve.points.erase(curve.points.begin() + index);
}

void clearCurve(KeyPointCurve& curve) {
    curve.points.clear();
    curve.points.shrink_to_fit();
}

int findSegment(const KeyPointCurve& curve, float x) {
    const int n = curve.count();
    if (n == 0) return 0;
    const auto& p = curve.points;
    if (x > p[n - 1].x) return n - 1;
    for (int s = 0; s + 1 < n; ++s) {
        if (p[s].x <= x && x <= p[s + 1].x) return s;
    }
    return 0;
}

float evaluateLog(const KeyPointCurve& curve, float x) {
    const int n = curve.count();
    if (n == 0) return 1.0f;
    const int s = findSegment(curve, x);
    const auto& p = curve.points;
    // A segment of no width (two points at one x, from a hand-made file) holds only its start.
    if (s == n - 1 || p[s + 1].x == p[s].x) return loggable(p[s].y);
    const float lnStart = logOf(p[s].y);
    const float lnEnd = logOf(p[s + 1].y);
    return loggable(std::exp(lnStart + (lnEnd - lnStart) * (x - p[s].x) / (p[s + 1].x - p[s].x)));
}

float evaluateLinear(const KeyPointCurve& curve, float x) {
    const int n = curve.count();
    if (n == 0) return 0.0f;
    const int s = findSegment(curve, x);
    const auto& p = curve.points;
    if (s == n - 1 || p[s + 1].x == p[s].x) return p[s].y;
    return p[s].y + (p[s + 1].y - p[s].y) * (x - p[s].x) / (p[s + 1].x - p[s].x);
}

float evaluateCurve(const KeyPointCurve& curve, Interpolation interpolation, float x) {
    return interpolation == Interpolation::Logarithmic ? evaluateLog(curve, x) : evaluateLinear(curve, x);
}

bool loadCurve(const std::filesystem::path& path, KeyPointCurve& curve) {
    FileReader file(path);
    if (!file.isOpen()) return false;
    curve.points = file.readCountedRecords<KeyPoint>();
    return true;
}

Status saveCurve(const std::filesystem::path& path, const KeyPointCurve& curve) {
    AtomicFileWriter out(path);
    out.writeValue<std::int32_t>(curve.count());
    out.write(curve.points.data(), curve.points.size() * sizeof(KeyPoint));
    return out.commit();
}

void loadCurveWithDefault(const std::filesystem::path& path, KeyPointCurve& curve, float defaultValue) {
    loadCurve(path, curve);
    if (curve.empty()) insertPoint(curve, 0.0f, defaultValue);
}

SpeedFrameCount countSpeedFrames(const KeyPointCurve& speed, int keyframeCount, int selectionStart, int selectionEnd,
                                 float limit) {
    SpeedFrameCount result;
    const int n = speed.count();
    if (n == 0) return result;
    const auto& p = speed.points;
    const float start = static_cast<float>(selectionStart);
    const float end = static_cast<float>(selectionEnd);

    long long steps = 0;
    float position = p[0].x;
    float imagesPerKeyframe = loggable(p[0].y);
    for (int j = 0; j < n; ++j) {
        const KeyPoint from = p[j];
        // The last segment runs at the last point's speed up to the last keyframe.
        const KeyPoint to = j + 1 < n ? p[j + 1] : KeyPoint{static_cast<float>(keyframeCount - 1), p[n - 1].y};
        const float lnFrom = logOf(from.y);
        const float lnTo = logOf(to.y);
        while (position < to.x) {
            if (++steps > kMaxSpeedSteps) return result;
            const float next = position + 1.0f / imagesPerKeyframe;
            if (!(next > position)) return result;
            position = next;
            // Evaluated on this segment even once the position has passed its end, as the movie does.
            imagesPerKeyframe = loggable(std::exp(lnFrom + (lnTo - lnFrom) * (position - from.x) / (to.x - from.x)));
            if (position >= end) return result;
            if (position >= start) {
                ++result.total;
                if (position <= limit) ++result.upToLimit;
            }
        }
    }
    return result;
}

}  // namespace zoomreel
