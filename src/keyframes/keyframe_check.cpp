#include "keyframes/keyframe_check.h"

#include "keyframes/band_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zoomreel {

// How the two maps meet. Keyframe k + 1's pixels 2i and 2i + 1 of stored rows 2j and 2j + 1 (a block) cover
// about the area of keyframe k's pixel (W/4 + i, H/4 + j); where exactly depends on how the renderer places its
// samples (the sample generator's blocks lie a quarter of a pixel off that pixel's centre, a renderer that
// samples pixel centres hits it). So a block's mean is compared with the range of k's 3 x 3 pixels around it,
// which holds it wherever the samples sit, as long as the values change smoothly at k's scale.
//
// Where they do not, the deeper map resolves what the wider one could not: near the set's boundary, filaments
// thinner than one of k's pixels put a block outside that range. In clean sample zooms (64 x 36 to 1920 x 1080,
// limits 100 to 5000, 30 levels deep) this happens to 0.1 to 4 % of the blocks, scattered one by one or along
// filaments one or two blocks wide, and never to a block whose eight neighbours all disagree as well. A damaged
// map disagrees in solid patches: a mirrored map, one from another zoom or centre, a swapped pair or a map
// shifted by a few pixels make thousands of such core blocks over the whole area, a glitch a compact clump of
// them. So the check counts only blocks whose whole 3 x 3 neighbourhood disagrees, and how their clumps lie.
//
// Values of 0 mark pixels that reached the iteration limit: the keyframe does not keep the limit, only the
// zeros (a count at the limit is stored as 0, every other one as count - fraction, so even the highest value
// lies below the limit: a map's maximum is a lower bound of its limit). Zeros are compared apart:
// - a block and a neighbourhood that both hold zeros lie on the set's boundary and tell nothing;
// - a block of values where k has only zeros agrees when the values lie above k's maximum (k + 1, deeper, was
//   computed with a higher limit, as deep zooms are) and disagrees otherwise;
// - zeros in a block where k has values all around: when those values reach above k + 1's maximum, k + 1 gave
//   up where k went on, its limit was too low; otherwise a block of zeros disagrees.
namespace {

// Beyond k's 3 x 3 range, relative to the values: the smallest in k's range times 1 - this, the largest
// times 1 + this.
constexpr double kRelativeTolerance = 0.01;
// Fewer core blocks than this are no finding (clean zooms have none; a glitch of 8 x 8 pixels has 4).
constexpr long kMinCoreBlocks = 4;
// The clumps of core blocks are found on tiles of at least 4 x 4 blocks, 16 across the shared area's short side.
constexpr int kTilesAcrossShortSide = 16;
constexpr int kMinTileSide = 4;
// More clumps than this, or clumps over more than a quarter of the tiles or a fifth of the blocks, or one clump
// that spans more than half the shared area's width or height, make a disagreement over the whole area.
constexpr std::size_t kMaxRegions = 3;
constexpr double kWholeAreaTileShare = 0.25;
constexpr double kWholeAreaBlockShare = 0.2;
// A glitch is a solid blob: its patch fills at least half of its bounding box (a disc fills 0.6 to 0.9 of it at
// the sizes tested). A map shifted by a few pixels disagrees along the picture's edges instead, in long thin
// patches that fill 0.2 to 0.4 of theirs.
constexpr double kMinRegionFill = 0.5;
// Blocks that show a too low limit: at least 8 and one in 10000 (zero in clean zooms; a deeper map computed
// with 1800 instead of 2000 iterations gives 0.16 % of 640 x 360, one with 1000 instead of 2000 0.03 to 2.6 %).
constexpr long kMinLimitBlocks = 8;
constexpr double kMinLimitShare = 1e-4;
// Smaller maps have no central half to speak of; their pairs are taken to agree.
constexpr int kMinMapSide = 4;

enum : std::uint8_t {
    kAgrees = 0,
    kDisagrees = 1,
    kReachesLimit = 2,
    kCore = 8,        // its whole 3 x 3 neighbourhood disagrees
    kNearCore = 16,   // a disagreeing block within the 3 x 3 neighbourhood of a core block
    // While the classification runs: zeros in the block where k has values all around, whose verdict waits for
    // the fine map's maximum.
    kPendingSomeZeros = 32,
    kPendingOnlyZeros = 64,
};

struct Grid {
    int columns = 0;  // W / 2
    int rows = 0;     // H / 2
    std::vector<std::uint8_t> cells;
    std::vector<int> pendingRows;  // rows holding blocks whose verdict waits for the fine map's maximum
    long limitBlocks = 0;
    // Working rows of the passes, kept from one pair to the next.
    std::vector<double> smallest, low, high;
    std::vector<std::uint8_t> runs;

    void reset(int w, int h) {
        columns = w;
        rows = h;
        cells.assign(static_cast<std::size_t>(w) * h, kAgrees);
        pendingRows.clear();
        limitBlocks = 0;
    }
    std::uint8_t& at(int i, int j) { return cells[static_cast<std::size_t>(j) * columns + i]; }
};

/// Keyframe k's pixels around its central half: pixel (x0 - 1 + c, y0 - 1 + r) at origin[r * stride + c], for
/// c from 0 to W / 2 + 1 and r from 0 to H / 2 + 1. Either a whole map or the copy kept of that part alone.
struct CoarseView {
    const double* origin = nullptr;
    std::size_t stride = 0;
    const double* row(int r) const { return origin + static_cast<std::size_t>(r) * stride; }
};

// The two passes over each row, written once for any width of double vector: 2 lanes of SSE2 where the processor
// has them (every x86-64 one), then 1 lane for what is left and on other processors. A lane computes exactly what
// a single value does (minima, maxima, compares and sums in the same order), so the verdicts do not depend on
// the path taken.
struct ScalarLanes {
    using V = double;
    using Mask = bool;
    static constexpr int kLanes = 1;
    static V broadcast(double x) { return x; }
    static V load(const double* p) { return *p; }
    static V min(V a, V b) { return a < b ? a : b; }
    static V max(V a, V b) { return a > b ? a : b; }
    static V even(const double* p) { return p[0]; }  // p[0], p[2], ...
    static V odd(const double* p) { return p[1]; }   // p[1], p[3], ...
    static Mask equal(V a, V b) { return a == b; }
    static Mask unequal(V a, V b) { return a != b; }
    static Mask less(V a, V b) { return a < b; }
    static Mask lessOrEqual(V a, V b) { return a <= b; }
    static Mask both(Mask a, Mask b) { return a && b; }
    static Mask either(Mask a, Mask b) { return a || b; }
    static V select(Mask m, V a, V b) { return m ? a : b; }
    static void store(double* p, V v) { *p = v; }
    static int bits(Mask m) { return m ? 1 : 0; }
    static double largest(V v) { return v; }
};

#if defined(__SSE2__)
struct Sse2Lanes {
    using V = __m128d;
    using Mask = __m128d;  // all ones or all zeros per lane
    static constexpr int kLanes = 2;
    static V broadcast(double x) { return _mm_set1_pd(x); }
    static V load(const double* p) { return _mm_loadu_pd(p); }
    static V min(V a, V b) { return _mm_min_pd(a, b); }  // a < b ? a : b, lane by lane
    static V max(V a, V b) { return _mm_max_pd(a, b); }
    static V even(const double* p) { return _mm_unpacklo_pd(load(p), load(p + 2)); }
    static V odd(const double* p) { return _mm_unpackhi_pd(load(p), load(p + 2)); }
    static Mask equal(V a, V b) { return _mm_cmpeq_pd(a, b); }
    static Mask unequal(V a, V b) { return _mm_cmpneq_pd(a, b); }
    static Mask less(V a, V b) { return _mm_cmplt_pd(a, b); }
    static Mask lessOrEqual(V a, V b) { return _mm_cmple_pd(a, b); }
    static Mask both(Mask a, Mask b) { return _mm_and_pd(a, b); }
    static Mask either(Mask a, Mask b) { return _mm_or_pd(a, b); }
    static V select(Mask m, V a, V b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static void store(double* p, V v) { _mm_storeu_pd(p, v); }
    static int bits(Mask m) { return _mm_movemask_pd(m); }
    static double largest(V v) { return std::max(_mm_cvtsd_f64(v), _mm_cvtsd_f64(_mm_unpackhi_pd(v, v))); }
};
using RowLanes = Sse2Lanes;
#else
using RowLanes = ScalarLanes;
#endif

constexpr double kHuge = 1e300;  // beyond any iteration count

/// k's columns p, p + 1, ... of three rows: the smallest value, the smallest that is not 0 and the largest.
/// Map values are positive, so the smallest is 0 exactly when a zero is among them and the largest 0 when all are;
/// a zero is kept out of the second minimum by adding a huge value to it, which leaves every other value exact.
/// Returns the first column left for the caller.
template <typename Ops>
int verticalRanges(const double* r0, const double* r1, const double* r2, int p, int end, double* smallest,
                   double* low, double* high) {
    using V = typename Ops::V;
    const V zero = Ops::broadcast(0.0);
    const V huge = Ops::broadcast(kHuge);
    for (; p + Ops::kLanes <= end; p += Ops::kLanes) {
        const V a = Ops::load(r0 + p);
        const V b = Ops::load(r1 + p);
        const V c = Ops::load(r2 + p);
        Ops::store(smallest + p, Ops::min(Ops::min(a, b), c));
        Ops::store(high + p, Ops::max(Ops::max(a, b), c));
        const V la = a + Ops::select(Ops::equal(a, zero), huge, zero);
        const V lb = b + Ops::select(Ops::equal(b, zero), huge, zero);
        const V lc = c + Ops::select(Ops::equal(c, zero), huge, zero);
        Ops::store(low + p, Ops::min(Ops::min(la, lb), lc));
    }
    return p;
}

struct BlockConstants {
    double coarseMaximum;
    double below;  // 1 - tolerance
    double above;  // 1 + tolerance
};

/// A block's verdict from three facts about it: it disagrees; it waits for the fine map's maximum; it holds only
/// zeros. The first two never hold together (disagreeing needs values all over the block, waiting some zeros).
constexpr std::uint8_t kVerdicts[8] = {kAgrees,           kDisagrees, kPendingSomeZeros, kDisagrees,
                                       kAgrees,           kDisagrees, kPendingOnlyZeros, kDisagrees};

/// Blocks i, i + 1, ... of a row, whose verdicts start out as agreeing: the fine rows' 2 x 2 blocks against the ranges of k's 3 x 3 pixels around them
/// (the ranges of columns i to i + 2). A block or neighbourhood holds values all over when its smallest value is
/// not 0, only zeros when its largest is 0. Counts the steps that left a block pending in `pendingBlocks` and keeps
/// the largest fine value in `largest`. Returns the first block left.
template <typename Ops>
int classifyRow(const BlockConstants& k, const double* fine0, const double* fine1, const double* smallest,
                const double* low, const double* high, int i, int end, std::uint8_t* out, int& pendingBlocks,
                double& largest) {
    using V = typename Ops::V;
    const V zero = Ops::broadcast(0.0);
    const V quarter = Ops::broadcast(0.25);
    const V below = Ops::broadcast(k.below);
    const V above = Ops::broadcast(k.above);
    const V coarseMaximum = Ops::broadcast(k.coarseMaximum);
    V maximum = Ops::broadcast(largest);
    for (; i + Ops::kLanes <= end; i += Ops::kLanes) {
        const V f0 = Ops::even(fine0 + 2 * i);
        const V f1 = Ops::odd(fine0 + 2 * i);
        const V f2 = Ops::even(fine1 + 2 * i);
        const V f3 = Ops::odd(fine1 + 2 * i);
        const V fineSmallest = Ops::min(Ops::min(f0, f1), Ops::min(f2, f3));
        const V fineLargest = Ops::max(Ops::max(f0, f1), Ops::max(f2, f3));
        maximum = Ops::max(maximum, fineLargest);
        const V coarseSmallest =
            Ops::min(Ops::min(Ops::load(smallest + i), Ops::load(smallest + i + 1)), Ops::load(smallest + i + 2));
        const V lo = Ops::min(Ops::min(Ops::load(low + i), Ops::load(low + i + 1)), Ops::load(low + i + 2));
        const V hi = Ops::max(Ops::max(Ops::load(high + i), Ops::load(high + i + 1)), Ops::load(high + i + 2));
        const V mean = quarter * ((f0 + f1) + (f2 + f3));
        const auto allValues = Ops::unequal(fineSmallest, zero);
        const auto coarseValues = Ops::unequal(coarseSmallest, zero);
        const auto coarseOnlyZeros = Ops::equal(hi, zero);
        const auto outside = Ops::either(Ops::less(mean, lo * below), Ops::less(hi * above, mean));
        const auto belowCoarseLimit = Ops::lessOrEqual(mean, coarseMaximum);
        const int disagree = Ops::bits(Ops::both(
            allValues, Ops::either(Ops::both(coarseValues, outside), Ops::both(coarseOnlyZeros, belowCoarseLimit))));
        const int pending = Ops::bits(coarseValues) & ~Ops::bits(allValues);
        if ((disagree | pending) == 0) continue;  // the rows start out agreeing
        const int onlyZeros = Ops::bits(Ops::equal(fineLargest, zero));
        pendingBlocks += pending != 0;
        for (int lane = 0; lane < Ops::kLanes; ++lane) {
            out[i + lane] =
                kVerdicts[((disagree >> lane) & 1) | ((pending >> lane) & 1) << 1 | ((onlyZeros >> lane) & 1) << 2];
        }
    }
    largest = Ops::largest(maximum);
    return i;
}

/// The largest of `count` values, 0 when none is above 0. Four vectors side by side, so that no maximum waits for
/// the one before.
double largestValue(const double* values, std::size_t count) {
    using Ops = RowLanes;
    constexpr std::size_t kStep = 4 * Ops::kLanes;
    Ops::V a = Ops::broadcast(0.0), b = a, c = a, d = a;
    std::size_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        a = Ops::max(a, Ops::load(values + i));
        b = Ops::max(b, Ops::load(values + i + Ops::kLanes));
        c = Ops::max(c, Ops::load(values + i + 2 * Ops::kLanes));
        d = Ops::max(d, Ops::load(values + i + 3 * Ops::kLanes));
    }
    double largest = Ops::largest(Ops::max(Ops::max(a, b), Ops::max(c, d)));
    for (; i < count; ++i) largest = std::max(largest, values[i]);
    return largest;
}

/// Classifies the blocks of rows j = first to end - 1: `fine` holds the fine map's stored rows from 2 * first on,
/// `stride` apart. Returns the largest of the fine values in those blocks.
double classifyBlockRows(const CoarseView& coarse, double coarseMaximum, const double* fine, std::size_t stride,
                         int first, int end, Grid& grid) {
    double largest = 0.0;
    const int n = grid.columns;
    const BlockConstants constants{coarseMaximum, 1.0 - kRelativeTolerance, 1.0 + kRelativeTolerance};
    std::vector<double>& smallest = grid.smallest;
    std::vector<double>& low = grid.low;
    std::vector<double>& high = grid.high;
    smallest.resize(n + 2);
    low.resize(n + 2);
    high.resize(n + 2);
    for (int j = first; j < end; ++j) {
        const double* r0 = coarse.row(j);
        const double* r1 = coarse.row(j + 1);
        const double* r2 = coarse.row(j + 2);
        const int p = verticalRanges<RowLanes>(r0, r1, r2, 0, n + 2, smallest.data(), low.data(), high.data());
        verticalRanges<ScalarLanes>(r0, r1, r2, p, n + 2, smallest.data(), low.data(), high.data());
        const double* fine0 = fine + static_cast<std::size_t>(2 * (j - first)) * stride;
        const double* fine1 = fine0 + stride;
        std::uint8_t* out = &grid.at(0, j);
        int pending = 0;
        const int i = classifyRow<RowLanes>(constants, fine0, fine1, smallest.data(), low.data(), high.data(), 0, n,
                                            out, pending, largest);
        classifyRow<ScalarLanes>(constants, fine0, fine1, smallest.data(), low.data(), high.data(), i, n, out, pending,
                                 largest);
        if (pending > 0) grid.pendingRows.push_back(j);
    }
    return largest;
}

/// Settles the blocks that waited for the fine map's maximum, only found along the set's boundary. When k's values
/// around reach above it, the fine map gave up where k went on: its limit was too low.
void settlePending(const CoarseView& coarse, double fineMaximum, Grid& grid) {
    for (int j : grid.pendingRows) {
        std::uint8_t* out = &grid.at(0, j);
        for (int i = 0; i < grid.columns; ++i) {
            if (out[i] < kPendingSomeZeros) continue;
            double hi = 0.0;
            for (int r = j; r < j + 3; ++r) hi = std::max({hi, coarse.row(r)[i], coarse.row(r)[i + 1], coarse.row(r)[i + 2]});
            if (hi > fineMaximum) {
                out[i] = kReachesLimit;
                ++grid.limitBlocks;
            } else {
                out[i] = out[i] == kPendingOnlyZeros ? kDisagrees : kAgrees;
            }
        }
    }
    grid.pendingRows.clear();
}

/// Marks the core blocks (their whole 3 x 3 neighbourhood disagrees) and returns how many there are. Plain
/// loops over bytes: first the runs of three in each row, then three such runs above one another.
long markCores(Grid& grid) {
    const int w = grid.columns;
    const int h = grid.rows;
    if (w < 3 || h < 3) return 0;
    std::vector<std::uint8_t>& runs = grid.runs;
    runs.assign(grid.cells.size(), 0);
    for (int j = 0; j < h; ++j) {
        const std::uint8_t* row = &grid.at(0, j);
        std::uint8_t* run = runs.data() + static_cast<std::size_t>(j) * w;
        for (int i = 1; i + 1 < w; ++i) run[i] = row[i - 1] & row[i] & row[i + 1] & kDisagrees;
    }
    long cores = 0;
    for (int j = 1; j + 1 < h; ++j) {
        const std::uint8_t* below = runs.data() + static_cast<std::size_t>(j - 1) * w;
        const std::uint8_t* middle = below + w;
        const std::uint8_t* above = middle + w;
        std::uint8_t* row = &grid.at(0, j);
        for (int i = 0; i < w; ++i) {
            const std::uint8_t core = below[i] & middle[i] & above[i];
            row[i] |= static_cast<std::uint8_t>(core * kCore);
            cores += core;
        }
    }
    return cores;
}

struct Box {
    int left = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::max();
    int right = -1;
    int top = -1;
    void add(int i, int j) {
        left = std::min(left, i);
        right = std::max(right, i);
        bottom = std::min(bottom, j);
        top = std::max(top, j);
    }
    void add(const Box& other) {
        if (other.right < 0) return;
        add(other.left, other.bottom);
        add(other.right, other.top);
    }
};

struct Clumps {
    long nearCoreBlocks = 0;  // the disagreeing blocks around the core blocks: the solid patches' area
    double tileShare = 0.0;
    std::vector<Box> boxes;   // in blocks
};

/// The solid patches of disagreement, grouped into clumps of touching tiles.
Clumps findClumps(Grid& grid) {
    Clumps clumps;
    const int side = std::max(kMinTileSide, std::min(grid.columns, grid.rows) / kTilesAcrossShortSide);
    const int tilesX = (grid.columns + side - 1) / side;
    const int tilesY = (grid.rows + side - 1) / side;
    std::vector<Box> tiles(static_cast<std::size_t>(tilesX) * tilesY);
    for (int j = 1; j + 1 < grid.rows; ++j) {
        for (int i = 1; i + 1 < grid.columns; ++i) {
            if (!(grid.at(i, j) & kCore)) continue;
            Box& tile = tiles[static_cast<std::size_t>(j / side) * tilesX + i / side];
            for (int dj = -1; dj <= 1; ++dj) {
                for (int di = -1; di <= 1; ++di) {
                    std::uint8_t& cell = grid.at(i + di, j + dj);
                    clumps.nearCoreBlocks += !(cell & kNearCore);
                    cell |= kNearCore;
                    tile.add(i + di, j + dj);
                }
            }
        }
    }
    // Clumps: tiles with core blocks that touch, corners included.
    std::vector<char> seen(tiles.size(), 0);
    std::vector<int> stack;
    long marked = 0;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        if (tiles[t].right < 0 || seen[t]) continue;
        Box clump;
        stack.assign(1, static_cast<int>(t));
        seen[t] = 1;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            ++marked;
            clump.add(tiles[at]);
            const int tx = at % tilesX;
            const int ty = at / tilesX;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = tx + dx;
                    const int ny = ty + dy;
                    if (nx < 0 || ny < 0 || nx >= tilesX || ny >= tilesY) continue;
                    const int n = ny * tilesX + nx;
                    if (tiles[n].right < 0 || seen[n]) continue;
                    seen[n] = 1;
                    stack.push_back(n);
                }
            }
        }
        clumps.boxes.push_back(clump);
    }
    clumps.tileShare = static_cast<double>(marked) / static_cast<double>(tiles.size());
    return clumps;
}

/// What the classified grid of a pair says; a disagreement over the whole area is left for `findHint`.
PairCheck judge(Grid& grid, int height) {
    PairCheck pair;
    const double blocks = static_cast<double>(grid.cells.size());
    if (grid.limitBlocks >= kMinLimitBlocks && static_cast<double>(grid.limitBlocks) >= kMinLimitShare * blocks) {
        pair.limitTooLow = true;
        pair.limitShare = static_cast<double>(grid.limitBlocks) / blocks;
    }
    if (markCores(grid) < kMinCoreBlocks) return pair;

    const Clumps clumps = findClumps(grid);
    pair.disagreeingShare = static_cast<double>(clumps.nearCoreBlocks) / blocks;
    bool whole = clumps.boxes.size() > kMaxRegions || clumps.tileShare > kWholeAreaTileShare ||
                 pair.disagreeingShare > kWholeAreaBlockShare;
    for (const Box& box : clumps.boxes) {
        const int wide = box.right - box.left + 1;
        const int high = box.top - box.bottom + 1;
        long near = 0;
        for (int j = box.bottom; j <= box.top; ++j) {
            for (int i = box.left; i <= box.right; ++i) near += (grid.at(i, j) & kNearCore) != 0;
        }
        whole = whole || 2 * wide > grid.columns || 2 * high > grid.rows ||
                static_cast<double>(near) < kMinRegionFill * wide * high;
    }
    if (whole) {
        pair.pattern = CheckPattern::WholeArea;
        return pair;
    }
    pair.pattern = CheckPattern::Regions;
    for (const Box& box : clumps.boxes) {
        // Blocks to keyframe k + 1's pixels; stored rows count from the bottom, the region's y from the top.
        pair.regions.push_back({2 * box.left, height - 2 * box.top - 2, 2 * box.right + 1, height - 1 - 2 * box.bottom});
    }
    return pair;
}

/// Classifies two whole maps held in memory, with `deeper`'s maximum.
void classifyMaps(const std::vector<double>& wider, double widerMaximum, const std::vector<double>& deeper,
                  int width, int height, double deeperMaximum, Grid& grid) {
    grid.reset(width / 2, height / 2);
    const CoarseView coarse{wider.data() + static_cast<std::size_t>(height / 4 - 1) * width + (width / 4 - 1),
                            static_cast<std::size_t>(width)};
    classifyBlockRows(coarse, widerMaximum, deeper.data(), static_cast<std::size_t>(width), 0, grid.rows, grid);
    settlePending(coarse, deeperMaximum, grid);
}

/// Whether `fine`, reduced, agrees with the central half of `coarse` (no solid patch of disagreement).
bool agrees(const std::vector<double>& coarse, double coarseMaximum, const std::vector<double>& fine,
            double fineMaximum, int width, int height, Grid& grid) {
    classifyMaps(coarse, coarseMaximum, fine, width, height, fineMaximum, grid);
    return markCores(grid) < kMinCoreBlocks;
}

std::vector<double> mirrored(const std::vector<double>& map, int width, int height, bool leftRight, bool topBottom) {
    std::vector<double> out(map.size());
    for (int r = 0; r < height; ++r) {
        const double* from = map.data() + static_cast<std::size_t>(topBottom ? height - 1 - r : r) * width;
        double* to = out.data() + static_cast<std::size_t>(r) * width;
        if (leftRight) {
            std::reverse_copy(from, from + width, to);
        } else {
            std::copy(from, from + width, to);
        }
    }
    return out;
}

/// What makes a pair that disagrees all over agree, tried in turn.
CheckHint findHint(const std::vector<double>& wider, double widerMaximum, const std::vector<double>& deeper,
                   double deeperMaximum, int width, int height) {
    Grid grid;
    if (agrees(deeper, deeperMaximum, wider, widerMaximum, width, height, grid)) return CheckHint::Swapped;
    const struct {
        bool leftRight, topBottom;
        CheckHint hint;
    } flips[] = {{true, false, CheckHint::MirroredLeftRight},
                 {false, true, CheckHint::MirroredTopBottom},
                 {true, true, CheckHint::TurnedHalfTurn}};
    for (const auto& flip : flips) {
        const std::vector<double> turned = mirrored(deeper, width, height, flip.leftRight, flip.topBottom);
        if (agrees(wider, widerMaximum, turned, deeperMaximum, width, height, grid)) return flip.hint;
    }
    return CheckHint::None;
}

std::string percent(double share) {
    char text[32];
    const double p = 100.0 * share;
    if (p >= 10.0) {
        std::snprintf(text, sizeof text, "%.0f%%", p);
    } else if (p >= 1.0) {
        std::snprintf(text, sizeof text, "%.1f%%", p);
    } else if (p >= 0.01) {
        std::snprintf(text, sizeof text, "%.2f%%", p);
    } else {
        return "less than 0.01%";
    }
    return text;
}

std::string regionText(const CheckRegion& r) {
    char text[96];
    std::snprintf(text, sizeof text, "x %d to %d, y %d to %d", r.left, r.right, r.top, r.bottom);
    return text;
}

std::string hintText(CheckHint hint) {
    switch (hint) {
        case CheckHint::Swapped: return "they agree in the other order, so the two are swapped";
        case CheckHint::MirroredLeftRight: return "they agree once one of them is mirrored left to right";
        case CheckHint::MirroredTopBottom: return "they agree once one of them is mirrored top to bottom";
        case CheckHint::TurnedHalfTurn: return "they agree once one of them is turned half a turn";
        case CheckHint::None: break;
    }
    return "another zoom or a wrong order, or a map that is shifted or comes from elsewhere";
}

}  // namespace

double mapMaximum(const std::vector<double>& map) { return largestValue(map.data(), map.size()); }

PairCheck compareKeyframes(const std::vector<double>& wider, double widerMaximum, const std::vector<double>& deeper,
                           int width, int height, double* deeperMaximum) {
    const double largest = mapMaximum(deeper);
    if (deeperMaximum != nullptr) *deeperMaximum = largest;
    if (width < kMinMapSide || height < kMinMapSide) return {};
    Grid grid;
    classifyMaps(wider, widerMaximum, deeper, width, height, largest, grid);
    PairCheck pair = judge(grid, height);
    if (pair.pattern == CheckPattern::WholeArea) pair.hint = findHint(wider, widerMaximum, deeper, largest, width, height);
    return pair;
}

KeyframeCheck checkKeyframes(const KeyframeList& list, const CheckCallbacks& callbacks) {
    KeyframeCheck check;
    check.keyframeCount = list.keyframeCount();
    if (check.keyframeCount < 2) return check;
    const int pairs = check.keyframeCount - 1;
    const int width = list.layout.width;
    const int height = list.layout.height;
    if (width < kMinMapSide || height < kMinMapSide) {
        check.pairsChecked = pairs;
        return check;
    }
    double keptMaximum = 0.0;  // of the keyframe before
    Grid grid;
    std::vector<int> keyframes(static_cast<std::size_t>(check.keyframeCount));
    for (int k = 0; k < check.keyframeCount; ++k) keyframes[k] = k;
    BandReader reader(list, std::move(keyframes), true);
    for (int k = 0; k < check.keyframeCount; ++k) {
        const bool compared = k > 0;
        if (compared) {
            if (callbacks.stopRequested && callbacks.stopRequested()) {
                check.stopped = true;
                return check;
            }
            if (callbacks.progress) callbacks.progress(k - 1, pairs);
            grid.reset(width / 2, height / 2);
        }
        const BandReader::Part part = compared ? reader.kept(k - 1) : BandReader::Part{};
        const CoarseView coarse{part.origin, part.stride};
        double maximum = 0.0;
        for (int row = 0; row < height;) {
            const BandReader::Band& band = reader.next();
            if (!band.status) {
                check.status = band.status;
                return check;
            }
            if (callbacks.band) callbacks.band(k, band.firstRow, band.rows, band.values.get());
            // The maximum comes with the comparison, but for the values no block holds (all of keyframe 0, an odd
            // last column or row).
            const double* values = band.values.get();
            const int first = band.firstRow / 2;
            const int end = std::min(grid.rows, (band.firstRow + band.rows) / 2);
            if (compared && first < end) {
                maximum = std::max(maximum, classifyBlockRows(coarse, keptMaximum, values, width, first, end, grid));
            }
            if (!compared || width % 2 != 0) {
                maximum = std::max(maximum, largestValue(values, static_cast<std::size_t>(band.rows) * width));
            } else if (band.firstRow + band.rows > 2 * grid.rows) {
                const int r = 2 * grid.rows - band.firstRow;  // the odd last row
                maximum = std::max(maximum, largestValue(values + static_cast<std::size_t>(r) * width, width));
            }
            row += band.rows;
            reader.release();
        }
        if (compared) {
            settlePending(coarse, maximum, grid);
            PairCheck pair = judge(grid, height);
            if (pair.pattern == CheckPattern::WholeArea) {
                // Rare, and worth a second reading: the two whole maps, to try them swapped and mirrored.
                std::vector<double> wider, deeper;
                if (readFullMap(keyframeFilePath(list, k - 1), list.layout, wider) &&
                    readFullMap(keyframeFilePath(list, k), list.layout, deeper)) {
                    pair.hint = findHint(wider, keptMaximum, deeper, maximum, width, height);
                }
            }
            pair.first = k - 1;
            ++check.pairsChecked;
            if (pair.disagrees()) check.disagreeing.push_back(std::move(pair));
        }
        reader.finished(k);
        keptMaximum = maximum;
    }
    return check;
}

std::string describePair(const PairCheck& pair) {
    const std::string first = std::to_string(pair.first);
    const std::string second = std::to_string(pair.first + 1);
    std::string line = "Keyframes " + first + " and " + second + ": " +
                       percent(pair.disagreeingShare + pair.limitShare) + " of the shared area disagrees";
    if (pair.pattern == CheckPattern::WholeArea) {
        line += ", all over it: " + hintText(pair.hint);
    } else if (pair.pattern == CheckPattern::Regions && pair.regions.size() == 1) {
        line += ", in a region at " + regionText(pair.regions[0]) + " of keyframe " + second + ": a glitch";
    } else if (pair.pattern == CheckPattern::Regions) {
        line += ", in " + std::to_string(pair.regions.size()) + " regions of keyframe " + second + " (";
        for (std::size_t i = 0; i < pair.regions.size(); ++i) line += (i > 0 ? "; " : "") + regionText(pair.regions[i]);
        line += "): glitches";
    }
    if (pair.limitTooLow) {
        line += pair.pattern == CheckPattern::None ? ": " : "; ";
        line += "values reach the iteration limit in keyframe " + second + " where keyframe " + first +
                " has none, so the iteration limit of keyframe " + second + " is too low";
        if (pair.pattern != CheckPattern::None) line += " (" + percent(pair.limitShare) + ")";
    }
    return line + ".";
}

std::string describeCheck(const KeyframeCheck& check) {
    if (!check.status) return check.status.message;
    const int pairs = std::max(0, check.keyframeCount - 1);
    const std::string checked = "Checked " + std::to_string(check.keyframeCount) +
                                (check.keyframeCount == 1 ? " keyframe" : " keyframes");
    if (pairs == 0) return checked + ": there is no pair to compare.";
    if (check.stopped) {
        return "The check was stopped after " + std::to_string(check.pairsChecked) + " of the " +
               std::to_string(pairs) + " pairs.";
    }
    if (check.disagreeing.empty()) {
        return checked + (pairs == 1 ? ": the pair agrees." : ": all " + std::to_string(pairs) + " pairs agree.");
    }
    const std::size_t bad = check.disagreeing.size();
    return checked + ": " + std::to_string(bad) + " of the " + std::to_string(pairs) +
           (pairs == 1 ? " pair" : " pairs") + (bad == 1 ? " disagrees." : " disagree.");
}

}  // namespace zoomreel
