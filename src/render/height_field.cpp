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

/// sum[i] = w[0] * values[0][i] + w[1] * values[1][i] + ... over `taps` taps, and total[i] the same of marks, for
/// i < n. Each lane adds its terms in tap order starting from zero, as a tap-by-tap pass over the whole row would,
/// so every processor variant and every blocking gives the same bits. Sixteen lanes at a time keep their sums in
/// registers, with enough independent additions in flight to hide their latency.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void weightedSums(const double* const* values, const double* const* marks, const double* __restrict w, int taps,
                  double* __restrict sum, double* __restrict total, int n) {
    // Four vectors of four lanes each for the sums and for the totals, written out so that they stay in registers.
    typedef double Lanes __attribute__((vector_size(32), aligned(8)));
    constexpr int kLanes = 16;
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        Lanes s0{}, s1{}, s2{}, s3{}, m0{}, m1{}, m2{}, m3{};
        for (int a = 0; a < taps; ++a) {
            const double* v = values[a] + i;
            const double* q = marks[a] + i;
            const double wa = w[a];
            s0 += wa * *reinterpret_cast<const Lanes*>(v);
            s1 += wa * *reinterpret_cast<const Lanes*>(v + 4);
            s2 += wa * *reinterpret_cast<const Lanes*>(v + 8);
            s3 += wa * *reinterpret_cast<const Lanes*>(v + 12);
            m0 += wa * *reinterpret_cast<const Lanes*>(q);
            m1 += wa * *reinterpret_cast<const Lanes*>(q + 4);
            m2 += wa * *reinterpret_cast<const Lanes*>(q + 8);
            m3 += wa * *reinterpret_cast<const Lanes*>(q + 12);
        }
        __builtin_memcpy(sum + i, &s0, sizeof s0);
        __builtin_memcpy(sum + i + 4, &s1, sizeof s1);
        __builtin_memcpy(sum + i + 8, &s2, sizeof s2);
        __builtin_memcpy(sum + i + 12, &s3, sizeof s3);
        __builtin_memcpy(total + i, &m0, sizeof m0);
        __builtin_memcpy(total + i + 4, &m1, sizeof m1);
        __builtin_memcpy(total + i + 8, &m2, sizeof m2);
        __builtin_memcpy(total + i + 12, &m3, sizeof m3);
    }
    for (; i < n; ++i) {
        double s = 0;
        double m = 0;
        for (int a = 0; a < taps; ++a) {
            s += w[a] * values[a][i];
            m += w[a] * marks[a][i];
        }
        sum[i] = s;
        total[i] = m;
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
    const int taps = 2 * r + 1;
    // Rows of row sums that one output row reads: they are kept in a ring, and the row sums of rows that another
    // worker's output overwrites are made before any output is written.
    const int ringRows = std::min(taps, frameHeight);
    const int haloRows = std::min(2 * r, frameHeight);
    const std::size_t width = frameWidth;
    const std::size_t padded = width + 2 * static_cast<std::size_t>(reach);
    const std::size_t perWorker = 2 * padded + 2 * width + 2 * width * (ringRows + haloRows);
    buffers.scratch.resize(perWorker * pool.workerCount());
    for (int worker = 0; worker < pool.workerCount(); ++worker) {
        // The padding of the rows: neighbours outside the field add nothing.
        for (double* row : {buffers.scratch.data() + perWorker * worker, buffers.scratch.data() + perWorker * worker +
                                                                             padded}) {
            std::fill(row, row + reach, 0.0);
            std::fill(row + reach + width, row + padded, 0.0);
        }
    }
    struct Rows {
        double* value;
        double* mask;
        double* sum;
        double* total;
        double* ring;  // ringRows sums, then ringRows totals
        double* halo;  // haloRows sums, then haloRows totals
    };
    const auto rowsOf = [&](int worker) {
        double* base = buffers.scratch.data() + perWorker * worker;
        Rows rows{base, base + padded, base + 2 * padded, base + 2 * padded + width, base + 2 * padded + 2 * width,
                  nullptr};
        rows.halo = rows.ring + 2 * width * ringRows;
        return rows;
    };
    // Both the weighted sum and the sum of weights of the cells with data are separable: first along the rows,
    // then along the columns of those row sums. A neighbour outside the field or without data adds nothing.
    std::vector<const double*> rowTaps(2 * (2 * static_cast<std::size_t>(reach) + 1) * pool.workerCount());
    const auto rowSums = [&](int worker, const Rows& rows, int j, double* sum, double* total) {
        const double* in = field.data() + static_cast<std::size_t>(j) * width;
        for (int k = 0; k < frameWidth; ++k) {
            const bool data = in[k] != kNoData;
            rows.value[k + reach] = data ? in[k] : 0.0;
            rows.mask[k + reach] = data ? 1.0 : 0.0;
        }
        const int n = 2 * reach + 1;
        const double** values = rowTaps.data() + 2 * static_cast<std::size_t>(n) * worker;
        const double** marks = values + n;
        for (int a = 0; a < n; ++a) {
            values[a] = rows.value + a;
            marks[a] = rows.mask + a;
        }
        weightedSums(values, marks, weight + (r - reach), n, sum, total, frameWidth);
    };
    // Where the row sums of row q live for a worker with rows `own`: its own rows in the ring, the rows other
    // workers' outputs overwrite (within r of its rows, above and below) in the halo.
    struct RowSums {
        double* sum;
        double* total;
    };
    const auto sumsOf = [&](const Rows& rows, const Share& own, int q) {
        if (q >= own.begin && q < own.end) {
            const std::size_t slot = q % ringRows;
            return RowSums{rows.ring + slot * width, rows.ring + (ringRows + slot) * width};
        }
        const int above = own.begin - std::max(0, own.begin - r);
        const std::size_t slot = q < own.begin ? q - (own.begin - above) : above + (q - own.end);
        return RowSums{rows.halo + slot * width, rows.halo + (haloRows + slot) * width};
    };
    pool.run([&](int worker, int workers) {
        const Share own = shareOf(frameHeight, worker, workers);
        if (own.begin >= own.end) return;
        const Rows rows = rowsOf(worker);
        const auto make = [&](int q) {
            const RowSums to = sumsOf(rows, own, q);
            rowSums(worker, rows, q, to.sum, to.total);
        };
        for (int q = std::max(0, own.begin - r); q < own.begin; ++q) make(q);
        for (int q = own.end; q < std::min(frameHeight, own.end + r); ++q) make(q);
    });
    std::vector<const double*> columnTaps(2 * static_cast<std::size_t>(taps) * pool.workerCount());
    pool.run([&](int worker, int workers) {
        const Share own = shareOf(frameHeight, worker, workers);
        if (own.begin >= own.end) return;
        const Rows rows = rowsOf(worker);
        const double** values = columnTaps.data() + 2 * static_cast<std::size_t>(taps) * worker;
        const double** marks = values + taps;
        int made = own.begin;  // the next row of this worker's own to take its row sums of
        for (int j = own.begin; j < own.end; ++j) {
            const int q0 = std::max(0, j - r);
            const int q1 = std::min(frameHeight - 1, j + r);
            for (; made <= std::min(q1, own.end - 1); ++made) {
                const RowSums to = sumsOf(rows, own, made);
                rowSums(worker, rows, made, to.sum, to.total);
            }
            for (int q = q0; q <= q1; ++q) {
                const RowSums from = sumsOf(rows, own, q);
                values[q - q0] = from.sum;
                marks[q - q0] = from.total;
            }
            weightedSums(values, marks, weight + (q0 - (j - r)), q1 - q0 + 1, rows.sum, rows.total, frameWidth);
            // Written without branches so that the divisions run four at a time; a quotient by zero is computed
            // but never kept.
            double* out = field.data() + static_cast<std::size_t>(j) * width;
            for (int k = 0; k < frameWidth; ++k) {
                const double mean = rows.sum[k] / rows.total[k];
                const double kept = rows.total[k] != 0 ? mean : out[k];
                out[k] = out[k] == kNoData ? maxHeight : kept;
            }
        }
    });
}

}  // namespace zoomreel
