#include "render/projection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "render/frame_renderer.h"

namespace zoomreel {
namespace {

constexpr double kPi = 3.14159265358979323846;

/// Contiguous share `worker` of `count` items.
struct Share {
    int begin;
    int end;
};
Share shareOf(int count, int worker, int workers) {
    return {static_cast<int>(static_cast<std::int64_t>(count) * worker / workers),
            static_cast<int>(static_cast<std::int64_t>(count) * (worker + 1) / workers)};
}

/// Map row (or column) of frame row (or column) `index` at level L: the offset from the frame centre scaled into
/// the map, starting from the map centre. The product is taken in 64 bits, where 32 would overflow for large maps.
std::int64_t mapPosition(int index, int frameHalf, int mapSide, int level, double frameOverT, int mapHalf) {
    const std::int64_t offset = static_cast<std::int64_t>(index - frameHalf) * mapSide * (std::int64_t{1} << level);
    return static_cast<std::int64_t>(static_cast<double>(offset) / frameOverT) + mapHalf;
}

/// Cells a ≥ 0 with a < extent (block sides are compared as doubles), at most `limit`.
int blockSide(double extent, int limit) {
    if (!(extent > 1)) return 1;
    if (extent >= limit) return limit;
    return static_cast<int>(std::ceil(extent));
}

/// A screen row as an integer. Rows beyond the int32 range are held at its ends; not-a-number has no row.
bool screenRow(double y, std::int32_t& row) {
    if (std::isnan(y)) return false;
    constexpr double kLow = std::numeric_limits<std::int32_t>::min();
    constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
    row = static_cast<std::int32_t>(std::clamp(std::trunc(y), kLow, kHigh));
    return true;
}

}  // namespace

double HeightTransform::height(double g) const {
    const double m = minimum;
    if (g < m) g = m;
    if (g - m > cap) g = cap + m;
    double h;
    if (logIter) {
        h = sqrtIter ? std::sqrt(std::log(g + 2 - m)) : std::log(g + 1 - m);
    } else {
        h = sqrtIter ? std::sqrt(g - m + 1) : g - m;
    }
    if (asymptotic) h = std::atan(h / cap) * 0.63661977 * cap;
    return h;
}

double HeightTransform::maxHeight() const {
    const double m = minimum;
    double h;
    if (logIter) {
        h = sqrtIter ? std::sqrt(std::log(m + 2 + cap - m)) : std::log(m + 1 + cap - m);
    } else {
        h = sqrtIter ? std::sqrt(m + 1 + cap - m) : cap;
    }
    if (asymptotic) h = std::atan(h / cap) * 0.63661977 * cap;
    return h;
}

void buildHeightField(WorkerPool& pool, const HeightFieldSource& source, const HeightTransform& transform,
                      std::vector<double>& field) {
    const int frameWidth = source.frameWidth;
    const int frameHeight = source.frameHeight;
    const int width = source.width;
    const int height = source.height;
    field.assign(static_cast<std::size_t>(frameWidth) * frameHeight, kNoData);
    if (width <= 0 || height <= 0) return;
    const int deepest = source.levelZeroOnly ? 0 : 3;
    const double t = source.t;

    // Map columns of every frame column and level; rows are found per frame row.
    std::array<std::vector<std::int64_t>, 4> columns;
    std::array<int, 4> side{};
    const double cellsPerPixel = width * t / frameWidth;
    for (int level = 0; level <= deepest; ++level) {
        columns[level].resize(frameWidth);
        for (int k = 0; k < frameWidth; ++k) {
            columns[level][k] = mapPosition(k, frameWidth / 2, width, level, frameWidth / t, width / 2);
        }
        side[level] = blockSide(cellsPerPixel * (1 << level), std::max(width, height));
    }

    pool.run([&](int worker, int workers) {
        const Share rows = shareOf(frameHeight, worker, workers);
        for (int j = rows.begin; j < rows.end; ++j) {
            std::array<std::int64_t, 4> rowOf{};
            for (int level = 0; level <= deepest; ++level) {
                rowOf[level] = mapPosition(j, frameHeight / 2, height, level, frameHeight / t, height / 2);
            }
            double* out = field.data() + static_cast<std::size_t>(j) * frameWidth;
            for (int k = 0; k < frameWidth; ++k) {
                int level = deepest;
                for (; level >= 0; --level) {
                    const std::int64_t r = rowOf[level];
                    const std::int64_t c = columns[level][k];
                    if (r >= 0 && r < height && c >= 0 && c < width) break;
                }
                if (level < 0) continue;
                // The block starts at the mapped cell and reaches one frame pixel's worth of cells.
                const int r0 = static_cast<int>(rowOf[level]);
                const int c0 = static_cast<int>(columns[level][k]);
                const int r1 = std::min(height, r0 + side[level]);
                const int c1 = std::min(width, c0 + side[level]);
                double g = kNoData;
                bool found = false;
                for (int r = r0; r < r1; ++r) {
                    const double* row = source.levels[level] + static_cast<std::size_t>(r) * width;
                    for (int c = c0; c < c1; ++c) {
                        const double value = row[c];
                        if (value != 0 && (!found || value < g)) {
                            g = value;
                            found = true;
                        }
                    }
                }
                if (found) out[k] = transform.height(g);
            }
        }
    });
}

double filterWidthFor(double gaussianFilter, int frameWidth) { return gaussianFilter * frameWidth / 1920; }

int filterRadius(double filterWidth) {
    if (!(filterWidth + 0.5 >= 1)) return 0;
    // A kernel wider than the largest frame reaches no further cell.
    return static_cast<int>(std::min(std::trunc(filterWidth + 0.5), static_cast<double>(kMaxFrameSide)));
}

void smoothHeightField(WorkerPool& pool, std::vector<double>& field, int frameWidth, int frameHeight,
                       double filterWidth, GaussianKernel& kernel, SmoothingBuffers& buffers, double maxHeight) {
    const int r = filterRadius(filterWidth);
    if (r == 0) {
        for (double& h : field) {
            if (h == kNoData) h = maxHeight;
        }
        return;
    }
    if (kernel.weights.empty() || kernel.filterWidth != filterWidth) {
        kernel.filterWidth = filterWidth;
        kernel.radius = r;
        kernel.weights.resize(2 * static_cast<std::size_t>(r) + 1);
        const double q = -std::log(0.01) / (filterWidth * filterWidth);
        for (int a = 0; a <= 2 * r; ++a) {
            const double d = a - r;
            kernel.weights[a] = std::exp(-(d * d) * q);
        }
    }
    const double* weight = kernel.weights.data();
    const std::size_t cells = static_cast<std::size_t>(frameWidth) * frameHeight;
    buffers.values.resize(cells);
    buffers.weights.resize(cells);
    // Each worker's rows: the padded row of values and of data marks, then the column sums.
    const std::size_t padded = frameWidth + 2 * static_cast<std::size_t>(r);
    const std::size_t perWorker = 2 * padded + 2 * static_cast<std::size_t>(frameWidth);
    buffers.scratch.assign(perWorker * pool.workerCount(), 0.0);

    // Both the weighted sum and the sum of weights of the cells with data are separable: first along the rows,
    // then along the columns of those row sums. A neighbour outside the field or without data adds nothing.
    pool.run([&](int worker, int workers) {
        const Share rows = shareOf(frameHeight, worker, workers);
        double* const value = buffers.scratch.data() + perWorker * worker;
        double* const mask = value + padded;
        for (int j = rows.begin; j < rows.end; ++j) {
            const double* in = field.data() + static_cast<std::size_t>(j) * frameWidth;
            for (int k = 0; k < frameWidth; ++k) {
                const bool data = in[k] != kNoData;
                value[k + r] = data ? in[k] : 0.0;
                mask[k + r] = data ? 1.0 : 0.0;
            }
            double* sum = buffers.values.data() + static_cast<std::size_t>(j) * frameWidth;
            double* total = buffers.weights.data() + static_cast<std::size_t>(j) * frameWidth;
            std::fill(sum, sum + frameWidth, 0.0);
            std::fill(total, total + frameWidth, 0.0);
            for (int a = 0; a <= 2 * r; ++a) {
                const double w = weight[a];
                const double* v = value + a;
                const double* m = mask + a;
                for (int k = 0; k < frameWidth; ++k) {
                    sum[k] += w * v[k];
                    total[k] += w * m[k];
                }
            }
        }
    });
    pool.run([&](int worker, int workers) {
        const Share rows = shareOf(frameHeight, worker, workers);
        double* const sum = buffers.scratch.data() + perWorker * worker + 2 * padded;
        double* const total = sum + frameWidth;
        for (int j = rows.begin; j < rows.end; ++j) {
            std::fill(sum, sum + frameWidth, 0.0);
            std::fill(total, total + frameWidth, 0.0);
            for (int a = std::max(0, r - j); a <= std::min(2 * r, frameHeight - 1 - j + r); ++a) {
                const double w = weight[a];
                const std::size_t from = static_cast<std::size_t>(j + a - r) * frameWidth;
                const double* v = buffers.values.data() + from;
                const double* m = buffers.weights.data() + from;
                for (int k = 0; k < frameWidth; ++k) {
                    sum[k] += w * v[k];
                    total[k] += w * m[k];
                }
            }
            double* out = field.data() + static_cast<std::size_t>(j) * frameWidth;
            for (int k = 0; k < frameWidth; ++k) {
                if (out[k] == kNoData) {
                    out[k] = maxHeight;
                } else if (total[k] != 0) {
                    out[k] = sum[k] / total[k];
                }
            }
        }
    });
}

void castShadows(WorkerPool& pool, const std::vector<double>& field, int frameWidth, int frameHeight, double azimuth,
                 double shadowScale, std::vector<std::int32_t>& counts, std::vector<std::int32_t>& scratch) {
    const std::size_t cells = static_cast<std::size_t>(frameWidth) * frameHeight;
    counts.assign(cells, 0);
    if (frameWidth <= 0 || frameHeight <= 0 || !std::isfinite(azimuth)) return;
    // Into (-pi, pi], where the quadrant test below matches the direction that relief shading lights from.
    double a = std::remainder(azimuth, 2 * kPi);
    if (a <= -kPi) a += 2 * kPi;
    const double ca = std::abs(std::cos(a));
    const double sa = std::abs(std::sin(a));

    // The walk runs towards the corner the light comes from. In walk coordinates (J, K) it always runs towards
    // lower J and K. A cell's rays can only reach cells at lower or equal J and K, so once every source above
    // and to the right of a cell has walked, its count is final, whatever the order they walked in: it then
    // decides alone whether the cell walks (a saturated cell casts no shadow).
    const bool rowsDown = a > -kPi / 2 && a < kPi / 2;
    const bool columnsDown = a >= 0;
    const std::ptrdiff_t rowStep = rowsDown ? frameWidth : -static_cast<std::ptrdiff_t>(frameWidth);
    const std::ptrdiff_t columnStep = columnsDown ? 1 : -1;
    const std::ptrdiff_t origin = (rowsDown ? 0 : static_cast<std::ptrdiff_t>(frameHeight - 1) * frameWidth) +
                                  (columnsDown ? 0 : frameWidth - 1);
    auto cellAt = [&](int J, int K) { return origin + J * rowStep + K * columnStep; };
    // Rows and columns visited downwards stop at 1: row 0 or column 0 then casts no shadow.
    const int lastRow = rowsDown ? 1 : 0;
    const int lastColumn = columnsDown ? 1 : 0;

    // Step i moves trunc(i ca) rows and trunc(i sa) columns, whatever the source: one table for all walks. Every
    // walk has left the field once either move exceeds the field.
    std::vector<std::ptrdiff_t> offset{0};
    std::vector<int> leaveRow(frameHeight);     // first step whose row move exceeds the index
    std::vector<int> leaveColumn(frameWidth);   // first step whose column move exceeds the index
    int nextRow = 0;
    int nextColumn = 0;
    for (int i = 1; nextRow < frameHeight && nextColumn < frameWidth; ++i) {
        const auto rows = static_cast<int>(i * ca);
        const auto columns = static_cast<int>(i * sa);
        offset.push_back(rows * rowStep + columns * columnStep);
        for (; nextRow < frameHeight && rows > nextRow; ++nextRow) leaveRow[nextRow] = i;
        for (; nextColumn < frameWidth && columns > nextColumn; ++nextColumn) leaveColumn[nextColumn] = i;
    }
    const int steps = static_cast<int>(offset.size());
    for (; nextRow < frameHeight; ++nextRow) leaveRow[nextRow] = steps;
    for (; nextColumn < frameWidth; ++nextColumn) leaveColumn[nextColumn] = steps;

    // Most steps of a long walk cross ground higher than the ray (or, mirrored, lower): the lowest and highest
    // height of each tile let a walk pass a whole tile at once. Two tile sizes, coarse first.
    constexpr std::array<int, 2> kTileShift{7, 4};
    struct Tiles {
        int shift;
        int columns;
        std::vector<double> lowest;
        std::vector<double> highest;
    };
    std::array<Tiles, kTileShift.size()> tiles;
    for (std::size_t level = 0; level < tiles.size(); ++level) {
        Tiles& t = tiles[level];
        t.shift = kTileShift[level];
        t.columns = ((frameWidth - 1) >> t.shift) + 1;
        const int tileRows = ((frameHeight - 1) >> t.shift) + 1;
        t.lowest.assign(static_cast<std::size_t>(t.columns) * tileRows, std::numeric_limits<double>::infinity());
        t.highest.assign(t.lowest.size(), -std::numeric_limits<double>::infinity());
        for (int J = 0; J < frameHeight; ++J) {
            const std::size_t tileRow = static_cast<std::size_t>(J >> t.shift) * t.columns;
            for (int K = 0; K < frameWidth; ++K) {
                const double h = field[cellAt(J, K)];
                double& low = t.lowest[tileRow + (K >> t.shift)];
                double& high = t.highest[tileRow + (K >> t.shift)];
                // Not a number compares neither way: a tile holding one is never passed.
                if (!(h >= low)) low = std::isnan(h) ? -std::numeric_limits<double>::infinity() : h;
                if (!(h <= high)) high = std::isnan(h) ? std::numeric_limits<double>::infinity() : h;
            }
        }
    }

    // Bands of columns walk on separate workers, each band a row behind the band to its right (higher K), whose
    // rays reach into it. Each band counts into its own array; a cell's count is the sum over its band and the
    // bands to its right.
    const int bands = std::clamp(std::min(pool.workerCount(), 4), 1, std::max(1, frameWidth / 64));
    scratch.assign(cells * (bands - 1), 0);
    std::array<std::int32_t*, 4> bandCounts{};
    bandCounts[0] = counts.data();
    for (int b = 1; b < bands; ++b) bandCounts[b] = scratch.data() + cells * (b - 1);
    std::array<std::atomic<int>, 4> rowsDone{};
    for (auto& done : rowsDone) done.store(0, std::memory_order_relaxed);
    const double* heights = field.data();

    pool.run([&](int worker, int) {
        if (worker >= bands) return;
        const int band = worker;
        const int firstK = std::max(lastColumn, static_cast<int>(static_cast<std::int64_t>(frameWidth) * band / bands));
        const int endK = static_cast<int>(static_cast<std::int64_t>(frameWidth) * (band + 1) / bands);
        std::int32_t* const mine = bandCounts[band];
        for (int J = frameHeight - 1; J >= lastRow; --J) {
            if (band + 1 < bands) {
                while (rowsDone[band + 1].load(std::memory_order_acquire) < frameHeight - J) std::this_thread::yield();
            }
            for (int K = endK - 1; K >= firstK; --K) {
                const std::ptrdiff_t source = cellAt(J, K);
                std::int32_t hits = 0;
                for (int b = band; b < bands; ++b) hits += bandCounts[b][source];
                if (hits >= kShadowSaturation) continue;
                const double h = heights[source];
                const double length = h * shadowScale;  // V, in pixels; negative for a mirrored landscape
                if (!(length >= 1 || length <= -1)) continue;
                const int inside = std::min(leaveRow[J], leaveColumn[K]) - 1;  // steps that stay in the field
                const double reach = std::abs(length);
                const int n = reach >= inside ? inside : static_cast<int>(reach);
                const bool below = length > 0;  // the ray counts cells not above it; mirrored, not below it
                // The ray at step i is (1 - i / V) h, monotonic in i; a tile is passed only when a bound on the
                // ray, widened well beyond its rounding, cannot meet the tile's heights.
                const double inverse = 1 / length;
                const double margin = 1e-9 * std::abs(h);
                // Whether the ray from step i0 to step i1 can meet a height between low and high.
                auto passes = [&](const Tiles& t, int i0, int i1) {
                    const std::size_t index = static_cast<std::size_t>((J - static_cast<int>(i0 * ca)) >> t.shift) *
                                                  t.columns + ((K - static_cast<int>(i0 * sa)) >> t.shift);
                    const double r0 = (1 - i0 * inverse) * h;
                    const double r1 = (1 - i1 * inverse) * h;
                    return below ? t.lowest[index] > std::max(r0, r1) + margin
                                 : t.highest[index] < std::min(r0, r1) - margin;
                };
                // The first step that leaves the tile holding step i.
                auto exitOf = [&](const Tiles& t, int i0) {
                    const int top = ((J - static_cast<int>(i0 * ca)) >> t.shift) << t.shift;
                    const int left = ((K - static_cast<int>(i0 * sa)) >> t.shift) << t.shift;
                    return std::min(leaveRow[J - top], leaveColumn[K - left]);
                };
                std::ptrdiff_t last = source;
                int i = 1;
                while (i <= n) {
                    const int coarseExit = exitOf(tiles[0], i);
                    const int coarseLast = std::min(coarseExit - 1, n);
                    if (passes(tiles[0], i, coarseLast)) {
                        i = coarseExit;
                        continue;
                    }
                    while (i <= coarseLast) {
                        const int fineExit = exitOf(tiles[1], i);
                        const int fineLast = std::min(fineExit - 1, coarseLast);
                        if (passes(tiles[1], i, fineLast)) {
                            i = fineExit;
                            continue;
                        }
                        for (; i <= fineLast; ++i) {
                            const std::ptrdiff_t cell = source - offset[i];
                            if (cell == last) continue;
                            const double ray = (1 - i / length) * h;
                            if (below ? heights[cell] <= ray : heights[cell] >= ray) {
                                ++mine[cell];
                                last = cell;
                            }
                        }
                    }
                }
            }
            rowsDone[band].store(frameHeight - J, std::memory_order_release);
        }
        // Rows the walk never visits still count as done for the band to the left.
        rowsDone[band].store(frameHeight, std::memory_order_release);
    });
    for (int b = 1; b < bands; ++b) {
        const std::int32_t* theirs = bandCounts[b];
        for (std::size_t c = 0; c < cells; ++c) counts[c] += theirs[c];
    }
}

std::array<double, kShadowSaturation> shadowFactors(double shadowCoef) {
    std::array<double, kShadowSaturation> factors{};
    if (!(shadowCoef > 0)) return factors;
    for (int i = 0; i < kShadowSaturation; ++i) factors[i] = std::exp((i + 1) * std::log(shadowCoef) * 0.125);
    return factors;
}

VisibleRows projectOntoImage(WorkerPool& pool, const Raster& frame, const std::vector<double>& field,
                             const std::vector<std::int32_t>* counts,
                             const std::array<double, kShadowSaturation>& factors, const ProjectionView& view,
                             std::vector<std::int32_t>& horizonRow, Raster& image) {
    const int frameWidth = frame.width();
    const int frameHeight = frame.height();
    const int imageHeight = image.height();
    image.fill(0, 0, 0);
    // Row 0 seeds every column; a column whose first height has no screen row then draws nothing until one has.
    horizonRow.assign(frameWidth, -1);
    std::vector<VisibleRows> visible(pool.workerCount(), VisibleRows{frameHeight, 0});
    std::array<std::array<std::uint8_t, 256>, kShadowSaturation> darken{};
    for (int n = 0; n < kShadowSaturation; ++n) {
        for (int b = 0; b < 256; ++b) darken[n][b] = static_cast<std::uint8_t>(std::clamp(b * factors[n], 0.0, 255.0));
    }
    const std::size_t imageStride = image.strideBytes();
    std::uint8_t* const imageBottom = image.data();

    // Columns are independent of one another: each worker draws its own.
    pool.run([&](int worker, int workers) {
        const Share columns = shareOf(frameWidth, worker, workers);
        VisibleRows& seen = visible[worker];
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
                    state.shadowCounts, state.shadowScratch);
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
    std::vector<std::int32_t>().swap(shadowScratch);
    std::vector<std::int32_t>().swap(horizonRow);
    std::vector<double>().swap(smoothing.values);
    std::vector<double>().swap(smoothing.weights);
    std::vector<double>().swap(smoothing.scratch);
}

}  // namespace zoomreel
