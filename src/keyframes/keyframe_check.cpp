#include "keyframes/keyframe_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <future>
#include <limits>

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

enum : std::uint8_t {
    kAgrees = 0,
    kDisagrees = 1,
    kReachesLimit = 2,
    kRunOfThree = 4,  // this block and its left and right neighbours disagree
    kCore = 8,        // ... and so does its whole 3 x 3 neighbourhood
    kNearCore = 16,   // a disagreeing block within the 3 x 3 neighbourhood of a core block
};

struct Grid {
    int columns = 0;  // W / 2
    int rows = 0;     // H / 2
    std::vector<std::uint8_t> cells;
    long limitBlocks = 0;

    std::uint8_t& at(int i, int j) { return cells[static_cast<std::size_t>(j) * columns + i]; }
};

/// Classifies every block of `fine` reduced by 2 against the central half of `coarse`.
void classifyBlocks(const double* coarse, double coarseMaximum, const double* fine, double fineMaximum, int width,
                    int height, Grid& grid) {
    grid.columns = width / 2;
    grid.rows = height / 2;
    grid.cells.assign(static_cast<std::size_t>(grid.columns) * grid.rows, kAgrees);
    grid.limitBlocks = 0;
    const int x0 = width / 4;
    const int y0 = height / 4;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // k's pixels of columns x0 - 1 to x0 + columns, each reduced over three rows: smallest and largest value that
    // is not 0, and the number of zeros.
    const int span = grid.columns + 2;
    std::vector<double> low(span), high(span);
    std::vector<int> zeros(span);
    std::vector<int> column(span);
    for (int p = 0; p < span; ++p) column[p] = std::clamp(x0 - 1 + p, 0, width - 1);

    for (int j = 0; j < grid.rows; ++j) {
        const double* rows[3];
        for (int d = 0; d < 3; ++d) rows[d] = coarse + static_cast<std::size_t>(std::clamp(y0 + j - 1 + d, 0, height - 1)) * width;
        for (int p = 0; p < span; ++p) {
            double lo = kInf;
            double hi = -kInf;
            int z = 0;
            for (const double* row : rows) {
                const double v = row[column[p]];
                z += v == 0.0;
                lo = std::min(lo, v == 0.0 ? kInf : v);
                hi = std::max(hi, v == 0.0 ? -kInf : v);
            }
            low[p] = lo;
            high[p] = hi;
            zeros[p] = z;
        }
        const double* fine0 = fine + static_cast<std::size_t>(2 * j) * width;
        const double* fine1 = fine0 + width;
        std::uint8_t* out = &grid.at(0, j);
        for (int i = 0; i < grid.columns; ++i) {
            const double f[4] = {fine0[2 * i], fine0[2 * i + 1], fine1[2 * i], fine1[2 * i + 1]};
            const int values = (f[0] != 0.0) + (f[1] != 0.0) + (f[2] != 0.0) + (f[3] != 0.0);
            const int coarseZeros = zeros[i] + zeros[i + 1] + zeros[i + 2];
            const double lo = std::min({low[i], low[i + 1], low[i + 2]});
            const double hi = std::max({high[i], high[i + 1], high[i + 2]});
            std::uint8_t verdict = kAgrees;
            if (values == 4) {
                const double mean = 0.25 * (f[0] + f[1] + f[2] + f[3]);
                if (coarseZeros == 9) {
                    verdict = mean > coarseMaximum ? kAgrees : kDisagrees;
                } else if (coarseZeros == 0) {
                    const bool outside = mean < lo * (1.0 - kRelativeTolerance) || mean > hi * (1.0 + kRelativeTolerance);
                    verdict = outside ? kDisagrees : kAgrees;
                }
            } else if (coarseZeros == 0) {
                if (hi > fineMaximum) {
                    verdict = kReachesLimit;
                } else if (values == 0) {
                    verdict = kDisagrees;
                }
            }
            out[i] = verdict;
            grid.limitBlocks += verdict == kReachesLimit;
        }
    }
}

/// Marks the core blocks (their whole 3 x 3 neighbourhood disagrees) and returns how many there are.
long markCores(Grid& grid) {
    const int w = grid.columns;
    const int h = grid.rows;
    if (w < 3 || h < 3) return 0;
    for (int j = 0; j < h; ++j) {
        std::uint8_t* row = &grid.at(0, j);
        for (int i = 1; i + 1 < w; ++i) {
            if ((row[i - 1] & kDisagrees) && (row[i] & kDisagrees) && (row[i + 1] & kDisagrees)) row[i] |= kRunOfThree;
        }
    }
    long cores = 0;
    for (int j = 1; j + 1 < h; ++j) {
        const std::uint8_t* below = &grid.at(0, j - 1);
        const std::uint8_t* above = &grid.at(0, j + 1);
        std::uint8_t* row = &grid.at(0, j);
        for (int i = 1; i + 1 < w; ++i) {
            if (below[i] & row[i] & above[i] & kRunOfThree) {
                row[i] |= kCore;
                ++cores;
            }
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

/// Whether `fine`, reduced, agrees with the central half of `coarse` (no solid patch of disagreement).
bool agrees(const std::vector<double>& coarse, double coarseMaximum, const std::vector<double>& fine,
            double fineMaximum, int width, int height, Grid& grid) {
    classifyBlocks(coarse.data(), coarseMaximum, fine.data(), fineMaximum, width, height, grid);
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

double mapMaximum(const std::vector<double>& map) {
    double maximum = 0.0;
    for (double v : map) maximum = std::max(maximum, v);
    return maximum;
}

PairCheck compareKeyframes(const std::vector<double>& wider, double widerMaximum, const std::vector<double>& deeper,
                           double deeperMaximum, int width, int height) {
    PairCheck pair;
    if (width < 2 || height < 2) return pair;
    Grid grid;
    classifyBlocks(wider.data(), widerMaximum, deeper.data(), deeperMaximum, width, height, grid);
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
        pair.hint = findHint(wider, widerMaximum, deeper, deeperMaximum, width, height);
        return pair;
    }
    pair.pattern = CheckPattern::Regions;
    for (const Box& box : clumps.boxes) {
        // Blocks to keyframe k + 1's pixels; stored rows count from the bottom, the region's y from the top.
        pair.regions.push_back({2 * box.left, height - 2 * box.top - 2, 2 * box.right + 1, height - 1 - 2 * box.bottom});
    }
    return pair;
}

KeyframeCheck checkKeyframes(const KeyframeList& list, const CheckCallbacks& callbacks) {
    KeyframeCheck check;
    check.keyframeCount = list.keyframeCount();
    if (check.keyframeCount < 2) return check;
    const int pairs = check.keyframeCount - 1;

    struct Loaded {
        std::vector<double> map;
        double maximum = 0.0;
        Status status;
    };
    std::array<Loaded, 3> slots;  // keyframes k, k + 1 and k + 2, which is read while k and k + 1 are compared
    auto load = [&list](int k, Loaded& into) {
        into.status = readFullMap(keyframeFilePath(list, k), list.layout, into.map);
        into.maximum = into.status ? mapMaximum(into.map) : 0.0;
    };
    load(0, slots[0]);
    if (!slots[0].status) {
        check.status = slots[0].status;
        return check;
    }
    std::future<void> reading = std::async(std::launch::async, [&] { load(1, slots[1]); });
    for (int k = 0; k < pairs; ++k) {
        reading.get();
        const Loaded& wider = slots[k % 3];
        const Loaded& deeper = slots[(k + 1) % 3];
        if (!deeper.status) {
            check.status = deeper.status;
            return check;
        }
        if (callbacks.stopRequested && callbacks.stopRequested()) {
            check.stopped = true;
            return check;
        }
        if (callbacks.progress) callbacks.progress(k, pairs);
        if (k + 2 < check.keyframeCount) {
            reading = std::async(std::launch::async, [&, k] { load(k + 2, slots[(k + 2) % 3]); });
        }
        PairCheck pair = compareKeyframes(wider.map, wider.maximum, deeper.map, deeper.maximum, list.layout.width,
                                          list.layout.height);
        pair.first = k;
        ++check.pairsChecked;
        if (pair.disagrees()) check.disagreeing.push_back(std::move(pair));
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
