#pragma once

// The 3D landscape of a movie frame: the iteration values behind each frame pixel become a height, the heights are
// smoothed and cast shadows, and the 2D frame is drawn onto the 3D image column by column, nearer rows in front.
// height_field.cpp builds and smooths the field, shadow_walk.cpp casts the shadows, projection.cpp draws.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/raster.h"
#include "platform/worker_pool.h"

namespace zoomreel {

/// A height field cell that no map sample covers (outside every level, or inside the set).
inline constexpr double kNoData = 1e100;

/// Casting more shadow rays onto a cell than this darkens it no further, and such a cell casts none of its own.
inline constexpr int kShadowSaturation = 8;

/// Iteration value to height: the clamp to [minimum, minimum + cap], one of four transforms, and optionally the
/// soft cap that approaches `cap` instead of cutting at it.
struct HeightTransform {
    double minimum = 0.0;  ///< M, the running minimum of the frame's iterations
    double cap = 0.0;      ///< Mx
    bool sqrtIter = false;
    bool logIter = false;
    bool asymptotic = false;

    double height(double g) const;
    /// The height of a cell standing at the cap; cells without data stand there too.
    double maxHeight() const;
};

/// The four cached levels and where the frame sits in them.
struct HeightFieldSource {
    std::array<const double*, 4> levels{};  ///< height rows of width values each, deepest last
    int width = 0;
    int height = 0;
    double t = 1.0;                 ///< 2^-fraction of the frame position
    int frameWidth = 0;
    int frameHeight = 0;
    bool levelZeroOnly = false;     ///< keyframe by keyframe: the deeper levels are not shown, so not used
};

/// Fills `field` (frameHeight rows of frameWidth) with the heights of the frame's pixels: for each, the smallest
/// non-zero value in the pixel's block of the deepest level that covers it, transformed; kNoData where there is
/// none. Rows are shared out over the pool.
void buildHeightField(WorkerPool& pool, const HeightFieldSource& source, const HeightTransform& transform,
                      std::vector<double>& field);

/// The smoothing kernel, kept between frames and rebuilt only when the filter width changes. The square kernel
/// exp(-(dy^2 + dx^2) q) is the product of two copies of `weights`, which is what lets the filter run as two
/// one-dimensional passes.
struct GaussianKernel {
    double filterWidth = 0.0;      ///< s it was built for; 0: none yet
    std::vector<double> weights;   ///< 2r + 1 values exp(-(a - r)^2 q), q = -ln(0.01) / s^2, r = filterRadius(s)
};

/// s = gaussianFilter * frameWidth / 1920, the filter width in pixels at this frame width.
double filterWidthFor(double gaussianFilter, int frameWidth);
/// The kernel radius for a filter width: trunc(s + 0.5); 0 (no smoothing) for widths below 0.5 or not a number.
/// Capped where a wider kernel could not reach further in a frame of kMaxFrameSide pixels.
int filterRadius(double filterWidth);

/// Scratch of the smoothing passes, kept for the run.
struct SmoothingBuffers {
    std::vector<double> scratch;  ///< rows of each worker: its padded row, column sums and rows of row sums
};

/// Replaces each cell with data by the kernel-weighted mean of the cells with data around it, then gives every
/// kNoData cell `maxHeight`. With a radius of 0 only the second step runs.
void smoothHeightField(WorkerPool& pool, std::vector<double>& field, int frameWidth, int frameHeight,
                       double filterWidth, GaussianKernel& kernel, SmoothingBuffers& buffers, double maxHeight);

struct ShadowWalk;

/// Scratch of the shadow walk, kept for the run: the field with its columns stored as rows when the walk runs
/// along columns, the counts of the workers that do not count into the result directly, and the walk's tables.
struct ShadowBuffers {
    std::vector<double> heights;
    std::vector<std::int32_t> counts;
    std::shared_ptr<ShadowWalk> walk;
};

/// Counts, for each cell, the shadow rays of the cells around it that pass above it, up to kShadowSaturation: a
/// cell that many rays reach holds kShadowSaturation or more, no exact number, since more darken it no further.
/// The light comes from `azimuth` (radians, any value); `shadowScale` turns a height into a shadow length in
/// pixels, negative for a mirrored landscape. `counts` is resized and cleared. Up to the saturation the counts do
/// not depend on the worker count.
void castShadows(WorkerPool& pool, const std::vector<double>& field, int frameWidth, int frameHeight, double azimuth,
                 double shadowScale, std::vector<std::int32_t>& counts, ShadowBuffers& buffers);

/// The darkening of a cell hit by 1 to 8 rays: shadowCoef^(n / 8). Coefficients of 0 or below, which have no
/// root, give black.
std::array<double, kShadowSaturation> shadowFactors(double shadowCoef);

/// How the landscape stands on the screen.
struct ProjectionView {
    double verticalScale = 0.0;  ///< Y: screen rows per unit of height
    double sinAngle = 0.0;       ///< of the viewing angle
    double lift = 0.0;           ///< vertShift * vertShiftFactor * frameWidth / 1920, in screen rows
};

/// The frame rows that drew a span in some column; first > last when none did.
struct VisibleRows {
    std::int32_t first = 0;
    std::int32_t last = 0;
};

/// Draws `frame` onto `image` (cleared first): in each column, frame row j paints from its projected point down to
/// the previous row's point when it lies below it; later rows paint over earlier ones. `counts`, when given,
/// darkens each colour by `factors`. `horizonRow` is per-column scratch.
VisibleRows projectOntoImage(WorkerPool& pool, const Raster& frame, const std::vector<double>& field,
                             const std::vector<std::int32_t>* counts,
                             const std::array<double, kShadowSaturation>& factors, const ProjectionView& view,
                             std::vector<std::int32_t>& horizonRow, Raster& image);

/// Everything the 3D stage keeps: per-run buffers, freed at the end of a run, and the kernel, kept for good.
struct ProjectionState {
    std::vector<double> heightField;
    std::vector<std::int32_t> shadowCounts;
    ShadowBuffers shadow;
    std::vector<std::int32_t> horizonRow;
    SmoothingBuffers smoothing;
    GaussianKernel kernel;

    void freeRunBuffers();
};

}  // namespace zoomreel
