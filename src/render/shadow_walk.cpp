#include "render/projection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "render/work_share.h"

namespace zoomreel {
namespace {

constexpr double kPi = 3.14159265358979323846;

/// Workers of the shadow walk beyond one each need a count array of the field's size.
constexpr int kMaxShadowWalkers = 4;

// Visits the lines of `share` against every position in 32 x 32 tiles, so that a copy between the frame's layout
// and the walk's transposed one touches each cache line once.
template <typename Visit>
void forEachTransposed(Share share, int positions, Visit&& visit) {
    constexpr int kTile = 32;
    for (int K0 = share.begin; K0 < share.end; K0 += kTile) {
        for (int J0 = 0; J0 < positions; J0 += kTile) {
            for (int J = J0; J < std::min(positions, J0 + kTile); ++J) {
                for (int K = K0; K < std::min(share.end, K0 + kTile); ++K) visit(J, K);
            }
        }
    }
}

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

/// Sources walk in groups of this many neighbours along a line of the walk, one vector lane each.
constexpr int kLanes = 4;

/// Fine tiles, coarse tiles, and ahead of each coarse tile (towards lower J and K, where walks go) the bounds of
/// squares of 2, 4, 8, ... coarse tiles with the tile in their far corner, so that a walk can pass a stretch of
/// ground that its ray cannot meet in one step, however long it is. Each fine tile also holds the kLanes - 1 cells
/// before it along the lines (lower K), so that one test passes the steps of a whole group of sources, whose
/// cells at any step lie in a run of kLanes ending at the leading source's cell.
struct ShadowGround {
    static constexpr int kFineShift = 2;
    static constexpr int kCoarseShift = 4;
    static constexpr int kLevels = 8;  ///< squares of 1, 2, 4, ... 128 coarse tiles
    /// Fine tiles before a tile that the cells of a group may reach into.
    static constexpr int kTilesBefore = (kLanes - 1 + (1 << kFineShift) - 1) >> kFineShift;
    TileBounds fine;
    std::array<TileBounds, kLevels> ahead;  ///< [0] is the coarse tiles themselves
};

/// `cellAt` maps walk coordinates (J, K) to the index in `heights`.
template <typename CellAt>
void measureGround(WorkerPool& pool, const double* heights, int width, int height, const CellAt& cellAt,
                   ShadowGround& ground) {
    TileBounds& fine = ground.fine;
    fine.reset(ShadowGround::kFineShift, width, height);
    pool.run([&](int worker, int workers) {
        const Share tileRows = shareOf(fine.rows, worker, workers);
        constexpr double kInfinity = std::numeric_limits<double>::infinity();
        for (int J = tileRows.begin << fine.shift; J < std::min(height, tileRows.end << fine.shift); ++J) {
            for (int x = 0; x < fine.columns; ++x) {
                // The tile's cells of this line in registers first; `h < low ? h : low` lets NaN pass unseen.
                double low = kInfinity;
                double high = -kInfinity;
                bool unbounded = false;
                for (int K = x << fine.shift; K < std::min(width, (x + 1) << fine.shift); ++K) {
                    const double h = heights[cellAt(J, K)];
                    unbounded |= h != h;
                    low = h < low ? h : low;
                    high = h > high ? h : high;
                }
                if (unbounded) {
                    low = -kInfinity;
                    high = kInfinity;
                }
                fine.widen(fine.tile(J >> fine.shift, x), low, high);
            }
        }
        // Each tile takes in those before it, walked from the high end so that it reads their own bounds.
        for (int y = tileRows.begin; y < tileRows.end; ++y) {
            for (int x = fine.columns - 1; x > 0; --x) {
                for (int b = std::max(0, x - ShadowGround::kTilesBefore); b < x; ++b) {
                    fine.widen(fine.tile(y, x), fine.lowest[fine.tile(y, b)], fine.highest[fine.tile(y, b)]);
                }
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

/// Bounds of the heights of the cells of each tile of side 1 << shift, with the kLanes - 1 cells before it, whose
/// counts have not reached the saturation in one worker's array. Cells only ever leave the set these bound, so
/// bounds taken before the latest fills still hold. They are taken again only when a walk cannot pass the tile
/// with them and they may have narrowed enough: when the lowest or highest cell has filled since, or, after a
/// walk that could not pass fresh bounds, once every cell that stopped it has filled.
struct LiveBounds {
    int shift = 0;
    int columns = 0;
    std::vector<double> lowest;
    std::vector<double> highest;
    std::vector<std::uint8_t> stale;
    std::vector<int> blockers;  ///< cells not full at or below blockLow or at or above blockHigh
    std::vector<double> blockLow;
    std::vector<double> blockHigh;

    // The ground's bounds hold before any cell fills, but take in more cells before each tile than a group
    // reaches: the first walk that would pass with exact ones takes them.
    void reset(const TileBounds& ground) {
        shift = ground.shift;
        columns = ground.columns;
        lowest = ground.lowest;
        highest = ground.highest;
        stale.assign(lowest.size(), 1);
        blockers.assign(lowest.size(), 0);
        blockLow.resize(lowest.size());
        blockHigh.resize(lowest.size());
    }
    std::size_t tile(int y, int x) const { return static_cast<std::size_t>(y) * columns + x; }
    /// The cell at line L, position p, of `height`, has filled.
    void filled(int L, int p, double height) {
        const std::size_t t = tile(L >> shift, p >> shift);
        narrowed(t, height);
        const int side = 1 << shift;
        if ((p & (side - 1)) >= side - (kLanes - 1) && (p >> shift) + 1 < columns) narrowed(t + 1, height);
    }
    void narrowed(std::size_t t, double height) {
        if (blockers[t] > 0) {
            if (!(height > blockLow[t] && height < blockHigh[t]) && --blockers[t] == 0) stale[t] = 1;
        } else if (!(height > lowest[t] && height < highest[t])) {
            stale[t] = 1;
        }
    }
};

/// The tiles of the field where every cell already holds kShadowSaturation rays in one worker's counts: more rays
/// there change nothing, so that worker's walks pass them without a test. Ground where the rays may still count
/// is often all full but for cells above the rays (the plateaus of the landscape), so the tiles also keep the
/// bounds of their cells that are not full.
struct FullTiles {
    int lines = 0;
    int positions = 0;
    std::ptrdiff_t lineLength = 0;  ///< cells from one line to the next in memory
    bool linesDown = true;          ///< memory rows run with L (else against it)
    bool positionsDown = true;
    int fineColumns = 0;
    int coarseColumns = 0;
    std::vector<std::uint8_t> fine;    ///< cells that reached the saturation, per fine tile
    std::vector<std::uint8_t> coarse;  ///< full fine tiles, per coarse tile
    std::vector<std::uint8_t> fineDone;    ///< 1 where the fine tile is full
    std::vector<std::uint8_t> coarseDone;  ///< 1 where the coarse tile is full
    LiveBounds live;  ///< per coarse tile (per fine tile they cost more to keep than they save)

    void reset(int lineCount, int positionCount, std::ptrdiff_t length, bool down, bool across,
               const ShadowGround& ground) {
        lines = lineCount;
        positions = positionCount;
        lineLength = length;
        linesDown = down;
        positionsDown = across;
        fineColumns = ((positions - 1) >> ShadowGround::kFineShift) + 1;
        coarseColumns = ((positions - 1) >> ShadowGround::kCoarseShift) + 1;
        fine.assign(static_cast<std::size_t>(fineColumns) * (((lines - 1) >> ShadowGround::kFineShift) + 1), 0);
        coarse.assign(static_cast<std::size_t>(coarseColumns) * (((lines - 1) >> ShadowGround::kCoarseShift) + 1), 0);
        fineDone.assign(fine.size(), 0);
        coarseDone.assign(coarse.size(), 0);
        live.reset(ground.ahead[0]);
    }
    /// Cells (or fine tiles) in the tile at index y, x of side 1 << shift over a field of rows x columns.
    static int tileSize(int y, int x, int shift, int rows, int columns) {
        const int side = 1 << shift;
        return std::min(side, rows - (y << shift)) * std::min(side, columns - (x << shift));
    }
    /// The cell at memory index `cell`, of `height`, has just reached the saturation.
    void filled(std::ptrdiff_t cell, double height) {
        const auto row = static_cast<int>(cell / lineLength);
        const auto column = static_cast<int>(cell % lineLength);
        const int L = linesDown ? row : lines - 1 - row;
        const int p = positionsDown ? column : positions - 1 - column;
        constexpr int kRatio = ShadowGround::kCoarseShift - ShadowGround::kFineShift;
        const int fy = L >> ShadowGround::kFineShift;
        const int fx = p >> ShadowGround::kFineShift;
        const std::size_t f = static_cast<std::size_t>(fy) * fineColumns + fx;
        live.filled(L, p, height);
        if (++fine[f] < tileSize(fy, fx, ShadowGround::kFineShift, lines, positions)) return;
        fineDone[f] = 1;
        const int cy = fy >> kRatio;
        const int cx = fx >> kRatio;
        const std::size_t c = static_cast<std::size_t>(cy) * coarseColumns + cx;
        const int fineRows = ((lines - 1) >> ShadowGround::kFineShift) + 1;
        if (++coarse[c] == tileSize(cy, cx, kRatio, fineRows, fineColumns)) coarseDone[c] = 1;
    }
    // A group's cells reach into the tile before the leading source's, so both must be full.
    bool fineFull(int y, int x) const {
        const std::size_t f = static_cast<std::size_t>(y) * fineColumns + x;
        return fineDone[f] != 0 && (x == 0 || fineDone[f - 1] != 0);
    }
    bool coarseFull(int y, int x) const {
        const std::size_t c = static_cast<std::size_t>(y) * coarseColumns + x;
        return coarseDone[c] != 0 && (x == 0 || coarseDone[c - 1] != 0);
    }
};

using LaneDoubles = double __attribute__((vector_size(8 * kLanes)));
using LaneWords = std::int64_t __attribute__((vector_size(8 * kLanes)));
using LaneCounts = std::int32_t __attribute__((vector_size(4 * kLanes)));

/// The bounds of the heights of the cells whose counts have not reached the saturation, in `rows` runs of
/// `count` cells, `stride` cells apart in memory; unbounded both ways when one of those heights is not a number.
/// `blockers` is the number of those cells not strictly between blockLow and blockHigh.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void boundOpenCells(const double* heights, const std::int32_t* counts, int rows, std::ptrdiff_t stride, int count,
                    double blockLow, double blockHigh, double& low, double& high, int& blockers) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    LaneDoubles lows = LaneDoubles{} + kInfinity;
    LaneDoubles highs = LaneDoubles{} - kInfinity;
    LaneWords nan{};
    LaneWords blocking{};
    bool unbounded = false;
    blockers = 0;
    low = kInfinity;
    high = -kInfinity;
    for (int row = 0; row < rows; ++row, heights += stride, counts += stride) {
        int k = 0;
        for (; k + kLanes <= count; k += kLanes) {
            LaneDoubles h;
            LaneCounts c;
            std::memcpy(&h, heights + k, sizeof h);
            std::memcpy(&c, counts + k, sizeof c);
            const LaneWords open = __builtin_convertvector(c < kShadowSaturation, LaneWords);
            nan |= open & (h != h);
            lows = (open & (h < lows)) ? h : lows;
            highs = (open & (h > highs)) ? h : highs;
            blocking -= open & ~((h > blockLow) & (h < blockHigh));
        }
        for (; k < count; ++k) {
            if (counts[k] >= kShadowSaturation) continue;
            blockers += heights[k] > blockLow && heights[k] < blockHigh ? 0 : 1;
            unbounded |= std::isnan(heights[k]);
            low = std::min(low, heights[k]);
            high = std::max(high, heights[k]);
        }
    }
    for (int g = 0; g < kLanes; ++g) {
        unbounded |= nan[g] != 0;
        blockers += static_cast<int>(blocking[g]);
        low = std::min(low, lows[g]);
        high = std::max(high, highs[g]);
    }
    if (unbounded) {
        low = -kInfinity;
        high = kInfinity;
    }
}

/// The sources of one group: lane g is the source at memory index base + g.
struct LaneState {
    LaneDoubles h;
    LaneDoubles length;
    LaneWords steps;     ///< n of each lane; 0 for a lane that does not walk
    LaneWords below;     ///< all ones where the ray counts cells not above it
    LaneWords counted;   ///< the step offset of the cell the lane counted last; 0: none yet
    /// No lane's ray comes closer to the ground it would count on from one step to the next: every source stands
    /// at or above zero, so (1 - i / V) h only moves away from the cells it counts, rounding included.
    bool receding;
};

/// Steps i to last of every lane at once: the cell of lane g at step i is base + g - offset[i]. Each lane computes
/// exactly what one walk computes alone (the same operations, no fused multiply-add), so the counts do not depend
/// on the processor.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void walkLanes(const double* heights, std::int32_t* mine, std::ptrdiff_t base, const std::ptrdiff_t* offset,
               const int* next, int i, int last, LaneState& lanes, FullTiles& full) {
    const LaneDoubles h = lanes.h;
    const LaneDoubles length = lanes.length;
    const LaneWords steps = lanes.steps;
    const LaneWords below = lanes.below;
    LaneWords counted = lanes.counted;
    // A step onto the cell of the step before, just tested here, counts nothing when the rays recede: a lane that
    // counted the cell has it marked, and one that did not met ground its ray now passes further from.
    for (; i <= last; i = lanes.receding ? next[i] : i + 1) {
        const std::ptrdiff_t off = offset[i];
        const std::ptrdiff_t cell = base - off;
        const LaneDoubles step = LaneDoubles{} + static_cast<double>(i);
        const LaneDoubles ray = (1 - step / length) * h;
        LaneDoubles ground;
        std::memcpy(&ground, heights + cell, sizeof ground);
        const LaneWords here = LaneWords{} + off;
        const LaneWords hit = ((below & (ground <= ray)) | (~below & (ground >= ray))) &
                              ((LaneWords{} + i) <= steps) & (counted != here);
        LaneCounts count;
        std::memcpy(&count, mine + cell, sizeof count);
        const LaneCounts added = __builtin_convertvector(hit, LaneCounts);
        count -= added;
        std::memcpy(mine + cell, &count, sizeof count);
        const LaneCounts reached = added & (count == kShadowSaturation);
        bool any = false;
        for (int g = 0; g < kLanes; ++g) any |= reached[g] != 0;
        if (any) {
            for (int g = 0; g < kLanes; ++g) {
                if (reached[g] != 0) full.filled(cell + g, heights[cell + g]);
            }
        }
        counted = (hit & here) | (~hit & counted);
    }
    lanes.counted = counted;
}

}  // namespace

/// The walk's tables and tile bounds, kept from frame to frame so that a frame allocates none of them.
struct ShadowWalk {
    std::vector<std::ptrdiff_t> offset;
    std::vector<int> next;  ///< the first step after step i onto another cell
    std::vector<int> lineMove;
    std::vector<int> positionMove;
    std::vector<int> leaveLine;
    std::vector<int> leavePosition;
    ShadowGround ground;
    std::array<FullTiles, kMaxShadowWalkers> full;
};

void castShadows(WorkerPool& pool, const std::vector<double>& field, int frameWidth, int frameHeight, double azimuth,
                 double shadowScale, std::vector<std::int32_t>& counts, ShadowBuffers& buffers) {
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

    // Step i moves trunc(i ca) rows and trunc(i sa) columns, whatever the source. While one move is 0 so is the
    // other, the smaller: a ray never reaches another cell of its own row when sa <= ca, nor of its own column
    // otherwise. The walk therefore runs line by line, rows or columns, with every source of a line independent
    // of the others. In line coordinates (L, p) a line is a row (L = J, p = K) or a column (L = K, p = J).
    const bool alongRows = sa <= ca;
    const int lines = alongRows ? frameHeight : frameWidth;
    const int positions = alongRows ? frameWidth : frameHeight;
    const int lastLine = (alongRows ? rowsDown : columnsDown) ? 1 : 0;  // lines visited downwards stop at 1,
    const int lastPosition = (alongRows ? columnsDown : rowsDown) ? 1 : 0;  // so line 0 casts no shadow
    const double lineCos = alongRows ? ca : sa;
    const double positionCos = alongRows ? sa : ca;

    // Along columns the walk reads a copy of the field with each column stored as a row, so that the sources of a
    // line sit side by side in memory; along rows it reads the field itself.
    const int walkers = std::clamp(pool.workerCount(), 1, kMaxShadowWalkers);
    const double* heights = field.data();
    std::ptrdiff_t walkOrigin = origin;
    std::ptrdiff_t lineStep = rowStep;
    std::ptrdiff_t positionStep = columnStep;
    std::array<std::int32_t*, kMaxShadowWalkers> walkerCounts{};
    if (alongRows) {
        buffers.counts.assign(cells * (walkers - 1), 0);
        walkerCounts[0] = counts.data();
        for (int t = 1; t < walkers; ++t) walkerCounts[t] = buffers.counts.data() + cells * (t - 1);
    } else {
        buffers.heights.resize(cells);
        buffers.counts.assign(cells * walkers, 0);
        for (int t = 0; t < walkers; ++t) walkerCounts[t] = buffers.counts.data() + cells * t;
        double* copy = buffers.heights.data();
        pool.run([&](int worker, int workers) {
            forEachTransposed(shareOf(lines, worker, workers), positions, [&](int J, int K) {
                copy[static_cast<std::size_t>(K) * positions + J] = field[cellAt(J, K)];
            });
        });
        heights = copy;
        walkOrigin = 0;
        lineStep = positions;
        positionStep = 1;
    }
    const auto walkCell = [&](int L, int p) { return walkOrigin + L * lineStep + p * positionStep; };

    // Every walk has left the field once either move exceeds the field.
    if (!buffers.walk) buffers.walk = std::make_shared<ShadowWalk>();
    ShadowWalk& walk = *buffers.walk;
    std::vector<std::ptrdiff_t>& offset = walk.offset;
    std::vector<int>& lineMove = walk.lineMove;
    std::vector<int>& positionMove = walk.positionMove;
    std::vector<int>& leaveLine = walk.leaveLine;          // first step whose line move exceeds the index
    std::vector<int>& leavePosition = walk.leavePosition;  // first step whose position move exceeds the index
    offset.assign(1, 0);
    lineMove.assign(1, 0);
    positionMove.assign(1, 0);
    leaveLine.resize(lines);
    leavePosition.resize(positions);
    int nextLine = 0;
    int nextPosition = 0;
    for (int i = 1; nextLine < lines && nextPosition < positions; ++i) {
        const auto lineMoves = static_cast<int>(i * lineCos);
        const auto positionMoves = static_cast<int>(i * positionCos);
        offset.push_back(lineMoves * lineStep + positionMoves * positionStep);
        lineMove.push_back(lineMoves);
        positionMove.push_back(positionMoves);
        for (; nextLine < lines && lineMoves > nextLine; ++nextLine) leaveLine[nextLine] = i;
        for (; nextPosition < positions && positionMoves > nextPosition; ++nextPosition) leavePosition[nextPosition] = i;
    }
    const int steps = static_cast<int>(offset.size());
    walk.next.resize(steps);
    for (int i = steps - 1, after = steps; i >= 0; --i) {
        walk.next[i] = after;
        if (i > 0 && offset[i] != offset[i - 1]) after = i;
    }
    for (; nextLine < lines; ++nextLine) leaveLine[nextLine] = steps;
    for (; nextPosition < positions; ++nextPosition) leavePosition[nextPosition] = steps;
    // The first step that leaves the part of the field at or above line `top` and at or right of position
    // `left`, for a walk from (L, p).
    const auto exitStep = [&](int L, int p, int top, int left) {
        const int rows = L - top;
        const int columns = p - left;
        return std::min(rows < lines ? leaveLine[rows] : steps, columns < positions ? leavePosition[columns] : steps);
    };

    // Most steps of a long walk cross ground higher than the ray (or, mirrored, lower).
    ShadowGround& ground = walk.ground;
    measureGround(pool, heights, positions, lines, walkCell, ground);

    // The bounds of the cells of a coarse tile (and the kLanes - 1 before it) that are not full in `mine`; a
    // height without a number makes them unbounded both ways, as in the ground's tiles.
    const auto boundLive = [&](LiveBounds& live, const std::int32_t* mine, int tileY, int tileX, double blockLow,
                               double blockHigh) {
        const int side = 1 << live.shift;
        const int first = std::max(0, tileX * side - (kLanes - 1));
        const int end = std::min(positions, (tileX + 1) * side);
        const int top = tileY * side;
        const int bottom = std::min(lines, top + side) - 1;
        // The positions of a line lie side by side in memory, one way or the other.
        const std::ptrdiff_t start = std::min(walkCell(top, first), walkCell(top, end - 1));
        const std::size_t t = live.tile(tileY, tileX);
        live.blockLow[t] = blockLow;
        live.blockHigh[t] = blockHigh;
        boundOpenCells(heights + start, mine + start, bottom - top + 1, lineStep, end - first, blockLow, blockHigh,
                       live.lowest[t], live.highest[t], live.blockers[t]);
        live.stale[t] = 0;
    };

    // Group of `count` sources at positions p0 .. p0 + count - 1 of line L, kLanes or 1, walked together: the
    // leading source (highest p) finds the stretches that no ray of the group can meet, and the steps left are
    // taken by all lanes at once. `hint` carries the level of square that the last search ended on.
    const double stepDrop = 1 / shadowScale;  // how much a ray falls per step, whatever its height
    const auto walkGroup = [&](int L, int p0, int count, std::int32_t* mine, int& hint, FullTiles& full) {
        // Lanes in memory order: position p0 + g, or p0 + count - 1 - g when positions run down the memory.
        const bool reversed = positionStep < 0;
        const std::ptrdiff_t base = walkCell(L, reversed ? p0 + count - 1 : p0);
        double sourceHeight[kLanes]{};
        double sourceLength[kLanes]{};
        int sourceSteps[kLanes]{};
        int n = 0;
        bool passable = true;  // every walking lane finite and on the same side of its ray
        int side = 0;
        double highest = -std::numeric_limits<double>::infinity();
        double lowest = std::numeric_limits<double>::infinity();
        double largest = 0;
        for (int g = 0; g < count; ++g) {
            const int p = reversed ? p0 + count - 1 - g : p0 + g;
            const std::ptrdiff_t source = base + g;
            std::int32_t hits = 0;
            for (int t = 0; t < walkers; ++t) hits += walkerCounts[t][source];
            if (p < lastPosition || hits >= kShadowSaturation) continue;
            const double h = heights[source];
            const double length = h * shadowScale;  // V, in pixels; negative for a mirrored landscape
            if (!(length >= 1 || length <= -1)) continue;
            const int inside = std::min(leaveLine[L], leavePosition[p]) - 1;  // steps that stay in the field
            const double reach = std::abs(length);
            const int laneSteps = reach >= inside ? inside : static_cast<int>(reach);
            if (laneSteps < 1) continue;
            sourceHeight[g] = h;
            sourceLength[g] = length;
            sourceSteps[g] = laneSteps;
            n = std::max(n, laneSteps);
            const int laneSide = length > 0 ? 1 : -1;
            if (side != 0 && side != laneSide) passable = false;
            side = laneSide;
            if (!std::isfinite(h) || !std::isfinite(length) || !std::isfinite(stepDrop)) passable = false;
            highest = std::max(highest, h);
            lowest = std::min(lowest, h);
            largest = std::max(largest, std::abs(h));
        }
        if (n == 0) return;
        const bool below = side > 0;  // the rays count cells not above them; mirrored, not below them
        // The ray of a lane at step i is (1 - i / V) h, which is h - i / shadowScale but for rounding. A stretch
        // of steps is passed only when that line for the highest (lowest) lane at both ends of the stretch,
        // widened well beyond rounding, cannot meet the heights the group crosses.
        const double margin = 1e-9 * largest;
        // The rays pass ground strictly above the first level (below the second, mirrored).
        const auto passLevels = [&](int i0, int i1) {
            constexpr double kInfinity = std::numeric_limits<double>::infinity();
            const double drop0 = i0 * stepDrop;
            const double drop1 = i1 * stepDrop;
            return below ? std::pair{highest - std::min(drop0, drop1) + margin, kInfinity}
                         : std::pair{-kInfinity, lowest - std::max(drop0, drop1) - margin};
        };
        const auto clearOf = [&](double groundLowest, double groundHighest, int i0, int i1) {
            if (!passable) return false;
            const auto [low, high] = passLevels(i0, i1);
            return below ? groundLowest > low : groundHighest < high;
        };
        const auto clear = [&](const TileBounds& t, std::size_t tile, int i0, int i1) {
            return clearOf(t.lowest[tile], t.highest[tile], i0, i1);
        };
        // Whether no ray meets the cells of a tile that are not full yet, in steps i0 to i1.
        const auto clearsLive = [&](LiveBounds& live, int tileY, int tileX, int i0, int i1) {
            if (!passable) return false;
            const std::size_t t = live.tile(tileY, tileX);
            if (clearOf(live.lowest[t], live.highest[t], i0, i1)) return true;
            if (live.stale[t] == 0) return false;
            const auto [low, high] = passLevels(i0, i1);
            boundLive(live, mine, tileY, tileX, low, high);
            return live.blockers[t] == 0;
        };
        LaneState lanes{};
        lanes.receding = true;
        for (int g = 0; g < kLanes; ++g) {
            if (!(sourceHeight[g] >= 0)) lanes.receding = false;
            lanes.h[g] = sourceHeight[g];
            lanes.length[g] = sourceLength[g] != 0 ? sourceLength[g] : 1.0;
            lanes.steps[g] = sourceSteps[g];
            lanes.below[g] = sourceLength[g] > 0 ? -1 : 0;
        }
        // Every lane stays inside the field up to this step, so that the lanes may be read side by side.
        const int together = count == kLanes ? std::min(leaveLine[L], leavePosition[p0]) - 1 : 0;
        const int J = L;
        const int K = p0 + count - 1;
        int i = 1;
        while (i <= n) {
            // The widest square of coarse tiles ahead that no ray can meet, or ground already darkened all the way.
            const int tileY = (J - lineMove[i]) >> ShadowGround::kCoarseShift;
            const int tileX = (K - positionMove[i]) >> ShadowGround::kCoarseShift;
            const int coarseExit = exitStep(J, K, tileY << ShadowGround::kCoarseShift,
                                            tileX << ShadowGround::kCoarseShift);
            if (full.coarseFull(tileY, tileX)) {
                i = coarseExit;
                continue;
            }
            // Squares grow with the level, so whether the rays clear one falls from true to false once
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
            const int coarseLast = std::min(coarseExit - 1, n);
            if (clearsLive(full.live, tileY, tileX, i, coarseLast)) {
                i = coarseExit;
                continue;
            }
            // Through the coarse tile by fine tiles, and cell by cell where a ray may meet the ground.
            while (i <= coarseLast) {
                const int y = J - lineMove[i];
                const int x = K - positionMove[i];
                const TileBounds& fine = ground.fine;
                const int fineExit = exitStep(J, K, (y >> fine.shift) << fine.shift, (x >> fine.shift) << fine.shift);
                const int fineLast = std::min(fineExit - 1, coarseLast);
                if (full.fineFull(y >> fine.shift, x >> fine.shift) ||
                    clear(fine, fine.tile(y >> fine.shift, x >> fine.shift), i, fineLast)) {
                    i = fineLast + 1;
                    continue;
                }
                const int sideBySide = std::min(fineLast, together);
                if (i <= sideBySide) {
                    walkLanes(heights, mine, base, offset.data(), walk.next.data(), i, sideBySide, lanes, full);
                    i = sideBySide + 1;
                }
                // Near the field's edge each lane alone, while it is inside.
                for (; i <= fineLast; ++i) {
                    const std::ptrdiff_t off = offset[i];
                    for (int g = 0; g < count; ++g) {
                        if (i > sourceSteps[g] || lanes.counted[g] == off) continue;
                        const std::ptrdiff_t cell = base + g - off;
                        const double ray = (1 - i / sourceLength[g]) * sourceHeight[g];
                        if (lanes.below[g] != 0 ? heights[cell] <= ray : heights[cell] >= ray) {
                            if (++mine[cell] == kShadowSaturation) full.filled(cell, heights[cell]);
                            lanes.counted[g] = off;
                        }
                    }
                }
            }
        }
    };

    // A source's rays reach only lower lines and lower or equal positions, so the sources of line L at or above
    // position p have their final counts once every line above L has walked its sources from p up. The lines go
    // out in blocks of kBlockLines, block b to worker b % walkers, and a block walks its lines stretch by stretch
    // of kStretch positions from the highest down, all lines of a stretch before the next. A stretch of a block
    // may start once the block above has walked the same stretch: its worker publishes how far it has come. The
    // blocks in flight then count on disjoint cells (each below the stretch of the block above it), each worker
    // into its own array, and every worker meets sources of every part of the field, so that the work is shared
    // out evenly however long the shadows fall.
    constexpr int kBlockLines = 8;
    constexpr int kStretch = 16 * kLanes;
    const int walkedLines = lines - lastLine;
    const int blocks = walkedLines > 0 ? (walkedLines + kBlockLines - 1) / kBlockLines : 0;
    // Progress of a worker: (blocks done) * (positions + 1) + positions done in the block it is on. A follower
    // that must sleep says so, so that publishing otherwise needs no system call.
    std::array<std::atomic<int>, kMaxShadowWalkers> progress{};
    std::array<std::atomic<int>, kMaxShadowWalkers> sleepers{};
    const auto mark = [&](int block, int from) { return block * (positions + 1) + (positions - from); };
    for (auto& f : progress) f.store(0, std::memory_order_relaxed);
    for (auto& f : sleepers) f.store(0, std::memory_order_relaxed);
    std::array<FullTiles, kMaxShadowWalkers>& fullTiles = walk.full;
    for (int t = 0; t < walkers; ++t) fullTiles[t].reset(lines, positions, positions, lineStep > 0, positionStep > 0, ground);
    pool.run([&](int worker, int) {
        if (worker >= walkers) return;
        std::int32_t* const mine = walkerCounts[worker];
        FullTiles& full = fullTiles[worker];
        const auto publish = [&](int value) {
            progress[worker].store(value, std::memory_order_seq_cst);
            if (sleepers[worker].load(std::memory_order_seq_cst) != 0) progress[worker].notify_all();
        };
        const auto follow = [&](int block, int from) {
            if (block == 0 || walkers == 1) return;
            std::atomic<int>& leader = progress[(block - 1) % walkers];
            const int needed = mark(block - 1, from);
            int seen = leader.load(std::memory_order_acquire);
            for (int spin = 0; spin < 2048 && seen < needed; ++spin) {
#if defined(__x86_64__)
                __builtin_ia32_pause();
#endif
                seen = leader.load(std::memory_order_acquire);
            }
            while (seen < needed) {
                std::atomic<int>& sleeping = sleepers[(block - 1) % walkers];
                sleeping.fetch_add(1, std::memory_order_seq_cst);
                seen = leader.load(std::memory_order_seq_cst);
                if (seen < needed) leader.wait(seen, std::memory_order_acquire);
                sleeping.fetch_sub(1, std::memory_order_relaxed);
                seen = leader.load(std::memory_order_acquire);
            }
        };
        int hint = 0;
        for (int block = worker; block < blocks; block += walkers) {
            const int top = lines - 1 - block * kBlockLines;
            const int bottom = std::max(lastLine, top - kBlockLines + 1);
            for (int high = positions; high > 0;) {
                const int low = std::max(0, high - kStretch);
                follow(block, low);
                for (int L = top; L >= bottom; --L) {
                    int p = high;
                    for (; p - kLanes >= low; p -= kLanes) walkGroup(L, p - kLanes, kLanes, mine, hint, full);
                    for (; p > low; --p) walkGroup(L, p - 1, 1, mine, hint, full);
                }
                publish(mark(block, low));
                high = low;
            }
            publish(mark(block + 1, positions));
        }
    });
    // The counts are the sums of the workers' arrays.
    if (alongRows) {
        if (walkers == 1) return;
        pool.run([&](int worker, int workers) {
            const Share share = shareOf(frameHeight, worker, workers);
            for (std::size_t c = static_cast<std::size_t>(share.begin) * frameWidth;
                 c < static_cast<std::size_t>(share.end) * frameWidth; ++c) {
                for (int t = 1; t < walkers; ++t) counts[c] += walkerCounts[t][c];
            }
        });
        return;
    }
    pool.run([&](int worker, int workers) {
        forEachTransposed(shareOf(lines, worker, workers), positions, [&](int J, int K) {
            const std::size_t from = static_cast<std::size_t>(K) * positions + J;
            std::int32_t sum = 0;
            for (int t = 0; t < walkers; ++t) sum += walkerCounts[t][from];
            counts[cellAt(J, K)] = sum;
        });
    });
}

std::array<double, kShadowSaturation> shadowFactors(double shadowCoef) {
    std::array<double, kShadowSaturation> factors{};
    if (!(shadowCoef > 0)) return factors;
    for (int i = 0; i < kShadowSaturation; ++i) factors[i] = std::exp((i + 1) * std::log(shadowCoef) * 0.125);
    return factors;
}

}  // namespace zoomreel
