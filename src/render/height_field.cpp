#include "render/projection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "render/frame_renderer.h"
#include "render/work_share.h"

namespace zoomreel {
namespace {

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

/// One tap of the smoothing: sum += w * values and total += w * marks over n cells. The lanes are independent
/// sums, so every processor variant gives the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void addWeighted(double* __restrict sum, double* __restrict total, const double* __restrict values,
                 const double* __restrict marks, double w, int n) {
    for (int k = 0; k < n; ++k) {
        sum[k] += w * values[k];
        total[k] += w * marks[k];
    }
}

/// minimum[c - c0] = the smallest non-zero value of column c over rows [r0, r1) of the map, +infinity where
/// there is none. Only a smaller value replaces the best, so not-a-number never wins.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void columnMinimumOf(const double* map, int width, int r0, int r1, int c0, int c1, double* __restrict minimum) {
    const int n = c1 - c0;
    for (int c = 0; c < n; ++c) minimum[c] = std::numeric_limits<double>::infinity();
    for (int r = r0; r < r1; ++r) {
        const double* __restrict row = map + static_cast<std::size_t>(r) * width + c0;
        for (int c = 0; c < n; ++c) {
            const double value = row[c];
            minimum[c] = value != 0 && value < minimum[c] ? value : minimum[c];
        }
    }
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
    std::array<Share, 4> covered{};
    const double cellsPerPixel = width * t / frameWidth;
    for (int level = 0; level <= deepest; ++level) {
        columns[level].resize(frameWidth);
        for (int k = 0; k < frameWidth; ++k) {
            columns[level][k] = mapPosition(k, frameWidth / 2, width, level, frameWidth / t, width / 2);
        }
        side[level] = blockSide(cellsPerPixel * (1 << level), std::max(width, height));
        // Map columns grow with the frame column, so those inside the map form one run of frame columns.
        const std::vector<std::int64_t>& c = columns[level];
        const auto inside = std::lower_bound(c.begin(), c.end(), std::int64_t{0});
        covered[level].begin = static_cast<int>(inside - c.begin());
        covered[level].end = static_cast<int>(std::lower_bound(inside, c.end(), std::int64_t{width}) - c.begin());
    }

    pool.run([&](int worker, int workers) {
        const Share rows = shareOf(frameHeight, worker, workers);
        // Blocks of one level along a frame row share their map rows, and a block's columns abut its neighbour's:
        // the smallest value of each map column over the block's rows comes first, in one contiguous pass that
        // vectorises, and each pixel then takes the smallest of its block's columns. The smallest non-zero value
        // of a set does not depend on the order it is read in, so the heights are those of a cell-by-cell search.
        std::vector<double> columnMinimum(static_cast<std::size_t>(width));
        std::vector<signed char> levelOf(static_cast<std::size_t>(frameWidth));
        for (int j = rows.begin; j < rows.end; ++j) {
            std::array<std::int64_t, 4> rowOf{};
            for (int level = 0; level <= deepest; ++level) {
                rowOf[level] = mapPosition(j, frameHeight / 2, height, level, frameHeight / t, height / 2);
            }
            // Each pixel takes the deepest level that covers it: the deeper levels' columns are written last.
            std::fill(levelOf.begin(), levelOf.end(), static_cast<signed char>(-1));
            for (int level = 0; level <= deepest; ++level) {
                if (rowOf[level] < 0 || rowOf[level] >= height) continue;
                std::fill(levelOf.begin() + covered[level].begin, levelOf.begin() + covered[level].end,
                          static_cast<signed char>(level));
            }
            double* out = field.data() + static_cast<std::size_t>(j) * frameWidth;
            for (int first = 0; first < frameWidth;) {
                const int level = levelOf[first];
                int end = first + 1;
                while (end < frameWidth && levelOf[end] == level) ++end;
                if (level >= 0) {
                    // The run's blocks start at their mapped cells and reach one frame pixel's worth of cells.
                    const std::int64_t* column = columns[level].data();
                    const int s = side[level];
                    const int r0 = static_cast<int>(rowOf[level]);
                    const int r1 = std::min(height, r0 + s);
                    const int c0 = static_cast<int>(column[first]);
                    const int c1 = static_cast<int>(std::min<std::int64_t>(width, column[end - 1] + s));
                    columnMinimumOf(source.levels[level], width, r0, r1, c0, c1, columnMinimum.data());
                    for (int k = first; k < end; ++k) {
                        const int b0 = static_cast<int>(column[k]);
                        const int b1 = std::min(width, b0 + s);
                        // Only a smaller value replaces the best: a column without a number never wins.
                        double g = std::numeric_limits<double>::infinity();
                        for (int c = b0; c < b1; ++c) {
                            const double value = columnMinimum[c - c0];
                            if (value < g) g = value;
                        }
                        if (g < std::numeric_limits<double>::infinity()) out[k] = transform.height(g);
                    }
                }
                first = end;
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
        kernel.weights.resize(2 * static_cast<std::size_t>(r) + 1);
        const double q = -std::log(0.01) / (filterWidth * filterWidth);
        for (int a = 0; a <= 2 * r; ++a) {
            const double d = a - r;
            kernel.weights[a] = std::exp(-(d * d) * q);
        }
    }
    // Taps further out than the field is long reach no cell: the row pass leaves them out.
    const int reach = std::min(r, std::max(frameWidth, frameHeight) - 1);
    const double* weight = kernel.weights.data();
    const std::size_t cells = static_cast<std::size_t>(frameWidth) * frameHeight;
    buffers.values.resize(cells);
    buffers.weights.resize(cells);
    // Each worker's rows: the padded row of values and of data marks, then the column sums.
    const std::size_t padded = frameWidth + 2 * static_cast<std::size_t>(reach);
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
                value[k + reach] = data ? in[k] : 0.0;
                mask[k + reach] = data ? 1.0 : 0.0;
            }
            double* sum = buffers.values.data() + static_cast<std::size_t>(j) * frameWidth;
            double* total = buffers.weights.data() + static_cast<std::size_t>(j) * frameWidth;
            std::fill(sum, sum + frameWidth, 0.0);
            std::fill(total, total + frameWidth, 0.0);
            for (int a = 0; a <= 2 * reach; ++a) {
                addWeighted(sum, total, value + a, mask + a, weight[r - reach + a], frameWidth);
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
                const std::size_t from = static_cast<std::size_t>(j + a - r) * frameWidth;
                addWeighted(sum, total, buffers.values.data() + from, buffers.weights.data() + from, weight[a],
                            frameWidth);
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

}  // namespace zoomreel
