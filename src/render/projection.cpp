#include "render/projection.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "render/frame_renderer.h"
#include "render/work_share.h"

namespace zoomreel {
namespace {

/// A screen row as an integer. Rows beyond the int32 range are held at its ends; not-a-number has no row.
bool screenRow(double y, std::int32_t& row) {
    if (std::isnan(y)) return false;
    constexpr double kLow = std::numeric_limits<std::int32_t>::min();
    constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
    row = static_cast<std::int32_t>(std::clamp(std::trunc(y), kLow, kHigh));
    return true;
}

}  // namespace

VisibleRows projectOntoImage(WorkerPool& pool, const Raster& frame, const std::vector<double>& field,
                             const std::vector<std::int32_t>* counts,
                             const std::array<double, kShadowSaturation>& factors, const ProjectionView& view,
                             std::vector<std::int32_t>& horizonRow, Raster& image) {
    const int frameWidth = frame.width();
    const int frameHeight = frame.height();
    const int imageHeight = image.height();
    // Row 0 seeds every column; a column whose first height has no screen row then draws nothing until one has.
    horizonRow.assign(frameWidth, -1);
    std::vector<VisibleRows> visible(pool.workerCount(), VisibleRows{frameHeight, 0});
    std::array<std::array<std::uint8_t, 256>, kShadowSaturation> darken{};
    for (int n = 0; counts != nullptr && n < kShadowSaturation; ++n) {
        for (int b = 0; b < 256; ++b) {
            const double scaled = b * factors[n];
            darken[n][b] = scaled >= 0 ? static_cast<std::uint8_t>(std::min(scaled, 255.0)) : 0;  // NaN: black
        }
    }
    const std::size_t imageStride = image.strideBytes();
    std::uint8_t* const imageBottom = image.data();

    // Columns are independent of one another: each worker blacks out and then draws its own (the image is as wide
    // as the frame).
    pool.run([&](int worker, int workers) {
        const Share columns = shareOf(frameWidth, worker, workers);
        VisibleRows& seen = visible[worker];
        if (columns.end > columns.begin) {
            // The last columns' share takes the row's padding too.
            const std::size_t from = 3 * static_cast<std::size_t>(columns.begin);
            const std::size_t to = columns.end == frameWidth ? imageStride : 3 * static_cast<std::size_t>(columns.end);
            for (int row = 0; row < imageHeight; ++row) {
                std::fill(imageBottom + row * imageStride + from, imageBottom + row * imageStride + to, std::uint8_t{0});
            }
        }
        for (int j = 0; j < frameHeight; ++j) {
            const double base = (frameHeight / 2 - j) * view.sinAngle + imageHeight / 2 - view.lift;
            const double* heights = field.data() + static_cast<std::size_t>(j) * frameWidth;
            const std::int32_t* hits =
                counts != nullptr ? counts->data() + static_cast<std::size_t>(j) * frameWidth : nullptr;
            const std::uint8_t* pixels = frame.storedRow(j);
            for (int k = columns.begin; k < columns.end; ++k) {
                std::int32_t y;
                if (!screenRow(view.verticalScale * heights[k] + base, y)) continue;  // no row: see-through
                const std::int32_t previous = horizonRow[k];
                horizonRow[k] = y;
                if (j == 0 || previous < 0) continue;
                const std::int64_t low = std::max<std::int64_t>(std::int64_t{y} + 1, 0);
                if (low > imageHeight - 1) continue;
                const std::int64_t high = std::min<std::int64_t>(previous, imageHeight - 1);
                seen.first = std::min(seen.first, j);
                seen.last = std::max(seen.last, j);
                if (low > high) continue;
                std::uint8_t blue = pixels[3 * k];
                std::uint8_t green = pixels[3 * k + 1];
                std::uint8_t red = pixels[3 * k + 2];
                if (hits != nullptr && hits[k] > 0) {
                    const auto& scale = darken[std::min(hits[k], kShadowSaturation) - 1];
                    blue = scale[blue];
                    green = scale[green];
                    red = scale[red];
                }
                std::uint8_t* out = imageBottom + static_cast<std::size_t>(low) * imageStride + 3 * k;
                for (std::int64_t row = low; row <= high; ++row, out += imageStride) {
                    out[0] = blue;
                    out[1] = green;
                    out[2] = red;
                }
            }
        }
    });
    VisibleRows rows{frameHeight, 0};
    for (const VisibleRows& seen : visible) {
        rows.first = std::min(rows.first, seen.first);
        rows.last = std::max(rows.last, seen.last);
    }
    return rows;
}

void ProjectFrame(FrameRenderer& renderer, const RenderSettings& settings, MovieFrameContext& context, double t) {
    const Projection3DSettings& p = settings.projection;
    const FrameInputs& inputs = renderer.inputs;
    const int frameWidth = settings.finalWidth;
    const int frameHeight = settings.finalHeight;
    const KeyframeCache& cache = renderer.cache;
    WorkerPool& pool = *renderer.pool;
    ProjectionState& state = renderer.projection;
    PhaseClock& clock = renderer.clock;

    HeightTransform transform;
    transform.minimum = renderer.runningMinimum3D;
    transform.cap = p.maxIter * inputs.maxIterFactor;
    transform.sqrtIter = p.sqrtIter != 0;
    transform.logIter = p.logIter != 0;
    transform.asymptotic = p.asymptotic != 0;
    const double verticalScale = p.zScale * p.cosAngle * inputs.zScaleFactor * frameWidth / 1920;

    HeightFieldSource source;
    for (int level = 0; level < 4; ++level) source.levels[level] = cache.levels[level].data();
    source.width = cache.layout.width;
    source.height = cache.layout.height;
    source.t = t;
    source.frameWidth = frameWidth;
    source.frameHeight = frameHeight;
    source.levelZeroOnly = settings.keyframeByKeyframe;
    buildHeightField(pool, source, transform, state.heightField);
    clock.t[2] = PhaseClock::now();

    smoothHeightField(pool, state.heightField, frameWidth, frameHeight, filterWidthFor(p.gaussianFilter, frameWidth),
                      state.kernel, state.smoothing, transform.maxHeight());
    clock.t[3] = PhaseClock::now();

    // Counts are only ever used for the frame they were cast in.
    const bool shadows = p.shadowCoef < 1;
    if (shadows) {
        const double shadowScale = std::abs(std::tan(renderer.angles.shadowZenith)) * verticalScale;
        castShadows(pool, state.heightField, frameWidth, frameHeight, renderer.angles.lightAzimuth, shadowScale,
                    state.shadowCounts, state.shadow);
    }
    clock.t[4] = PhaseClock::now();

    ProjectionView view;
    view.verticalScale = verticalScale;
    view.sinAngle = p.sinAngle;
    view.lift = p.vertShift * inputs.vertShiftFactor * frameWidth / 1920;
    const VisibleRows rows = projectOntoImage(pool, context.frame, state.heightField,
                                              shadows ? &state.shadowCounts : nullptr, shadowFactors(p.shadowCoef),
                                              view, state.horizonRow, context.frame3D);
    renderer.visibleRowFirst = rows.first;
    renderer.visibleRowLast = rows.last;
    clock.t[5] = PhaseClock::now();
}

void ProjectionState::freeRunBuffers() {
    std::vector<double>().swap(heightField);
    std::vector<std::int32_t>().swap(shadowCounts);
    std::vector<double>().swap(shadow.heights);
    std::vector<std::int32_t>().swap(shadow.counts);
    shadow.walk.reset();
    std::vector<std::int32_t>().swap(horizonRow);
    std::vector<double>().swap(smoothing.scratch);
}

}  // namespace zoomreel