#include "render/projection.h"

#include <algorithm>
#include <condition_variable>
#include <cmath>
#include <limits>
#include <mutex>

#include "render/frame_renderer.h"

namespace zoomreel {
namespace {

constexpr double kPi = 3.14159265358979323846;

/// Workers of the shadow walk beyond one each need a count array of the field's size.
constexpr int kMaxShadowWalkers = 4;

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
                // Only a smaller value replaces the best, so a cell without a number never wins.
                double g = std::numeric_limits<double>::infinity();
                for (int r = r0; r < r1; ++r) {
                    const double* row = source.levels[level] + static_cast<std::size_t>(r) * width;
                    for (int c = c0; c < c1; ++c) {
                        const double value = row[c];
                        if (value != 0 && value < g) g = value;
                    }
                }
                if (g < std::numeric_limits<double>::infinity()) out[k] = transform.height(g);
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

namespace {

/// The lowest and highest height of each square tile of the field, in walk coordinates. A height without a number
/// makes its tile unbounded both ways, so that it is never passed.
struct TileBounds {
    int shift = 0;
    int columns = 0;
    int rows = 0;
    std::vector<double> lowest;
    std::vector<double> highest;

    void reset(int tileShift, int width, int height) {
        shift = tileShift;
        columns = ((width - 1) >> shift) + 1;
        rows = ((height - 1) >> shift) + 1;
        lowest.assign(static_cast<std::size_t>(columns) * rows, std::numeric_limits<double>::infinity());
        highest.assign(lowest.size(), -std::numeric_limits<double>::infinity());
    }
    std::size_t tile(int tileY, int tileX) const { return static_cast<std::size_t>(tileY) * columns + tileX; }
    void widen(std::size_t index, double low, double high) {
        constexpr double kInfinity = std::numeric_limits<double>::infinity();
        if (!(low >= lowest[index])) lowest[index] = std::isnan(low) ? -kInfinity : low;
        if (!(high <= highest[index])) highest[index] = std::isnan(high) ? kInfinity : high;
    }
};

/// Fine tiles, coarse tiles, and ahead of each coarse tile (towards lower J and K, where walks go) the bounds of
/// squares of 2, 4, 8, ... coarse tiles with the tile in their far corner, so that a walk can pass a stretch of
/// ground that its ray cannot meet in one step, however long it is.
struct ShadowGround {
    static constexpr int kFineShift = 2;
    static constexpr int kCoarseShift = 4;
    static constexpr int kLevels = 8;  ///< squares of 1, 2, 4, ... 128 coarse tiles
    TileBounds fine;
    std::array<TileBounds, kLevels> ahead;  ///< [0] is the coarse tiles themselves
};

/// `cellAt` maps walk coordinates (J, K) to the field's index.
template <typename CellAt>
void measureGround(WorkerPool& pool, const double* heights, int width, int height, const CellAt& cellAt,
                   ShadowGround& ground) {
    TileBounds& fine = ground.fine;
    fine.reset(ShadowGround::kFineShift, width, height);
    pool.run([&](int worker, int workers) {
        const Share tileRows = shareOf(fine.rows, worker, workers);
        for (int J = tileRows.begin << fine.shift; J < std::min(height, tileRows.end << fine.shift); ++J) {
            for (int K = 0; K < width; ++K) {
                const double h = heights[cellAt(J, K)];
                fine.widen(fine.tile(J >> fine.shift, K >> fine.shift), h, h);
            }
        }
    });
    TileBounds& coarse = ground.ahead[0];
    coarse.reset(ShadowGround::kCoarseShift, width, height);
    const int ratio = ShadowGround::kCoarseShift - ShadowGround::kFineShift;
    for (int y = 0; y < fine.rows; ++y) {
        for (int x = 0; x < fine.columns; ++x) {
            const std::size_t f = fine.tile(y, x);
            coarse.widen(coarse.tile(y >> ratio, x >> ratio), fine.lowest[f], fine.highest[f]);
        }
    }
    // A square of side 2s is made of four squares of side s, s apart; squares reaching past the field's edge
    // hold what lies inside it.
    for (int level = 1; level < ShadowGround::kLevels; ++level) {
        const TileBounds& half = ground.ahead[level - 1];
        TileBounds& square = ground.ahead[level];
        square.reset(ShadowGround::kCoarseShift, width, height);
        const int side = 1 << (level - 1);
        for (int y = 0; y < square.rows; ++y) {
            for (int x = 0; x < square.columns; ++x) {
                const std::size_t o = square.tile(y, x);
                for (const auto& [dy, dx] :
                     {std::pair{0, 0}, std::pair{side, 0}, std::pair{0, side}, std::pair{side, side}}) {
                    if (y - dy < 0 || x - dx < 0) continue;
                    const std::size_t n = half.tile(y - dy, x - dx);
                    square.widen(o, half.lowest[n], half.highest[n]);
                }
            }
        }
    }
}

}  // namespace

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
    const auto cellAt = [&](int J, int K) { return origin + J * rowStep + K * columnStep; };
    // Rows and columns visited downwards stop at 1: row 0 or column 0 then casts no shadow.
    const int lastRow = rowsDown ? 1 : 0;
    const int lastColumn = columnsDown ? 1 : 0;

    // Step i moves trunc(i ca) rows and trunc(i sa) columns, whatever the source: one table for all walks. Every
    // walk has left the field once either move exceeds the field.
    std::vector<std::ptrdiff_t> offset{0};
    std::vector<int> rowMove{0};
    std::vector<int> columnMove{0};
    std::vector<int> leaveRow(frameHeight);     // first step whose row move exceeds the index
    std::vector<int> leaveColumn(frameWidth);   // first step whose column move exceeds the index
    int nextRow = 0;
    int nextColumn = 0;
    for (int i = 1; nextRow < frameHeight && nextColumn < frameWidth; ++i) {
        const auto rows = static_cast<int>(i * ca);
        const auto columns = static_cast<int>(i * sa);
        offset.push_back(rows * rowStep + columns * columnStep);
        rowMove.push_back(rows);
        columnMove.push_back(columns);
        for (; nextRow < frameHeight && rows > nextRow; ++nextRow) leaveRow[nextRow] = i;
        for (; nextColumn < frameWidth && columns > nextColumn; ++nextColumn) leaveColumn[nextColumn] = i;
    }
    const int steps = static_cast<int>(offset.size());
    for (; nextRow < frameHeight; ++nextRow) leaveRow[nextRow] = steps;
    for (; nextColumn < frameWidth; ++nextColumn) leaveColumn[nextColumn] = steps;
    // The first step that leaves the part of the field at or above row `top` and at or right of column `left`,
    // for a walk from (J, K).
    const auto exitStep = [&](int J, int K, int top, int left) {
        const int rows = J - top;
        const int columns = K - left;
        return std::min(rows < frameHeight ? leaveRow[rows] : steps,
                        columns < frameWidth ? leaveColumn[columns] : steps);
    };

    // Most steps of a long walk cross ground higher than the ray (or, mirrored, lower).
    ShadowGround ground;
    measureGround(pool, field.data(), frameWidth, frameHeight, cellAt, ground);

    // The field is cut into blocks, walked on the workers as soon as the blocks above and to the right of them
    // (higher J and K, whose rays reach into them) are done. Each worker counts into its own array; a cell's
    // count is the sum of the arrays, final once its block may start.
    const int walkers = std::clamp(pool.workerCount(), 1, kMaxShadowWalkers);
    scratch.assign(cells * (walkers - 1), 0);
    std::array<std::int32_t*, kMaxShadowWalkers> walkerCounts{};
    walkerCounts[0] = counts.data();
    for (int t = 1; t < walkers; ++t) walkerCounts[t] = scratch.data() + cells * (t - 1);
    const double* heights = field.data();

    // The walk of the source at (J, K), counting into `mine`. `hint` carries the level of square that the last
    // search ended on from walk to walk.
    const auto walkFrom = [&](int J, int K, std::int32_t* mine, int& hint) {
        const std::ptrdiff_t source = cellAt(J, K);
        std::int32_t hits = 0;
        for (int t = 0; t < walkers; ++t) hits += walkerCounts[t][source];
        if (hits >= kShadowSaturation) return;
        const double h = heights[source];
        const double length = h * shadowScale;  // V, in pixels; negative for a mirrored landscape
        if (!(length >= 1 || length <= -1)) return;
        const int inside = std::min(leaveRow[J], leaveColumn[K]) - 1;  // steps that stay in the field
        const double reach = std::abs(length);
        const int n = reach >= inside ? inside : static_cast<int>(reach);
        const bool below = length > 0;  // the ray counts cells not above it; mirrored, not below it
        // The ray at step i is (1 - i / V) h, monotonic in i. A stretch of steps is passed only when the
        // ray at both its ends, widened well beyond rounding, cannot meet the heights it crosses.
        const double inverse = 1 / length;
        const double margin = 1e-9 * std::abs(h);
        const auto clear = [&](const TileBounds& t, std::size_t tile, int i0, int i1) {
            const double r0 = (1 - i0 * inverse) * h;
            const double r1 = (1 - i1 * inverse) * h;
            return below ? t.lowest[tile] > std::max(r0, r1) + margin
                         : t.highest[tile] < std::min(r0, r1) - margin;
        };
        std::ptrdiff_t last = source;
        int i = 1;
        while (i <= n) {
            // The widest square of coarse tiles ahead that the ray cannot meet.
            const int tileY = (J - rowMove[i]) >> ShadowGround::kCoarseShift;
            const int tileX = (K - columnMove[i]) >> ShadowGround::kCoarseShift;
            const int coarseExit = exitStep(J, K, tileY << ShadowGround::kCoarseShift,
                                            tileX << ShadowGround::kCoarseShift);
            // Squares grow with the level, so whether the ray clears one falls from true to false once
            // as the level rises: the search starts where the last one ended, since neighbouring walks
            // cross the same ground.
            const auto exitAt = [&](int level) {
                const int tiles = (1 << level) - 1;
                return level == 0 ? coarseExit
                                  : exitStep(J, K, (tileY - tiles) << ShadowGround::kCoarseShift,
                                             (tileX - tiles) << ShadowGround::kCoarseShift);
            };
            const auto clears = [&](int level, int exit) {
                const TileBounds& square = ground.ahead[level];
                return clear(square, square.tile(tileY, tileX), i, std::min(exit - 1, n));
            };
            int passTo = 0;
            int level = hint;
            int exit = exitAt(level);
            if (clears(level, exit)) {
                passTo = exit;
                while (exit <= n && level + 1 < ShadowGround::kLevels) {
                    exit = exitAt(level + 1);
                    if (!clears(level + 1, exit)) break;
                    passTo = exit;
                    ++level;
                }
            } else {
                while (level > 0) {
                    --level;
                    exit = exitAt(level);
                    if (clears(level, exit)) {
                        passTo = exit;
                        break;
                    }
                }
            }
            hint = level;
            if (passTo != 0) {
                i = passTo;
                continue;
            }
            // Through the coarse tile by fine tiles, and cell by cell where the ray may meet the ground.
            const int coarseLast = std::min(coarseExit - 1, n);
            while (i <= coarseLast) {
                const int y = J - rowMove[i];
                const int x = K - columnMove[i];
                const TileBounds& fine = ground.fine;
                const int fineExit = exitStep(J, K, (y >> fine.shift) << fine.shift, (x >> fine.shift) << fine.shift);
                const int fineLast = std::min(fineExit - 1, coarseLast);
                if (clear(fine, fine.tile(y >> fine.shift, x >> fine.shift), i, fineLast)) {
                    i = fineLast + 1;
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
    };

    constexpr int kBlockRows = 16;
    constexpr int kBlockColumns = 64;
    const int blockRows = (frameHeight - 1) / kBlockRows + 1;
    const int blockColumns = (frameWidth - 1) / kBlockColumns + 1;
    // Blocks still waiting for the block above and the one to the right: 2, 1 or 0 of them.
    std::vector<std::uint8_t> waiting(static_cast<std::size_t>(blockRows) * blockColumns);
    for (int y = 0; y < blockRows; ++y) {
        for (int x = 0; x < blockColumns; ++x) {
            waiting[static_cast<std::size_t>(y) * blockColumns + x] =
                static_cast<std::uint8_t>((y + 1 < blockRows) + (x + 1 < blockColumns));
        }
    }
    std::vector<int> ready{(blockRows - 1) * blockColumns + blockColumns - 1};
    int unfinished = blockRows * blockColumns;
    std::mutex mutex;
    std::condition_variable wake;
    pool.run([&](int worker, int) {
        if (worker >= walkers) return;
        std::int32_t* const mine = walkerCounts[worker];
        int hint = 0;
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            wake.wait(lock, [&] { return !ready.empty() || unfinished == 0; });
            if (ready.empty()) return;
            // The block nearest the start first, which keeps the front of ready blocks wide.
            const auto next = std::max_element(ready.begin(), ready.end());
            const int block = *next;
            ready.erase(next);
            lock.unlock();
            const int y = block / blockColumns;
            const int x = block % blockColumns;
            for (int J = std::min(frameHeight, (y + 1) * kBlockRows) - 1; J >= std::max(lastRow, y * kBlockRows); --J) {
                for (int K = std::min(frameWidth, (x + 1) * kBlockColumns) - 1;
                     K >= std::max(lastColumn, x * kBlockColumns); --K) {
                    walkFrom(J, K, mine, hint);
                }
            }
            lock.lock();
            --unfinished;
            for (const int below : {x > 0 ? block - 1 : -1, y > 0 ? block - blockColumns : -1}) {
                if (below >= 0 && --waiting[below] == 0) ready.push_back(below);
            }
            wake.notify_all();
        }
    });
    for (int t = 1; t < walkers; ++t) {
        const std::int32_t* theirs = walkerCounts[t];
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
    for (int n = 0; counts != nullptr && n < kShadowSaturation; ++n) {
        for (int b = 0; b < 256; ++b) {
            const double scaled = b * factors[n];
            darken[n][b] = scaled >= 0 ? static_cast<std::uint8_t>(std::min(scaled, 255.0)) : 0;  // NaN: black
        }
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
