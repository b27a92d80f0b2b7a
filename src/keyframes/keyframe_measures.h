#pragma once

// What the suggestions of the speed and the colour divisor know of a keyframe: how much its values change from
// one pixel to the next over the part of the picture that the zoom from it to the next keyframe shows. Taken
// once per keyframe file and kept beside the keyframes in "keyframes.measures", keyed by each file's size and
// modification time, so that a keyframe is measured again only when its file changed.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "platform/status.h"

namespace zoomreel {

/// The distribution of the absolute differences between the values of neighbouring pixels (left and right,
/// below and above, half of them taken) of one full map, where both pixels hold a value (a 0 marks no value). Each pair counts for
/// the share of the zoom to the next keyframe during which it is on screen: the whole central half of the map
/// all along, a pixel further out until the shrinking visible rectangle leaves it (at the map's edge, at once).
struct KeyframeMeasures {
    static constexpr int kQuantileCount = 33;
    /// The difference, in iterations, below which i / 32 of the pairs lie, for i = 0 to 32.
    std::array<float, kQuantileCount> differences{};
    /// The share of the pairs (counted the same way) whose two pixels hold a value; 0 for a map without any.
    float valueShare = 0.0f;

    bool hasValues() const { return valueShare > 0.0f; }
    friend bool operator==(const KeyframeMeasures&, const KeyframeMeasures&) = default;
};

/// The typical change of the iteration count from one pixel to the next, which the density of the colour bands on
/// the screen follows: the mean of the differences but for the largest sixteenth of them.
double iterationGradient(const KeyframeMeasures& measures);

/// How much the colours change from one pixel to the next under `colourDivisor` (as the renderer applies it, so
/// after the colour sensitivity): the mean over the middle half of the differences, in palette cycles, each
/// taken at most as half a cycle (beyond that neighbouring pixels no longer show a pattern to follow, only
/// noise). A glitch or the edge of a minibrot, a few pixels among many, does not move it.
double colourDetail(const KeyframeMeasures& measures, double colourDivisor);

/// Measures one full map handed over a band of rows at a time, bottom row first, each row once.
class MapMeasurer {
public:
    MapMeasurer(int width, int height);
    /// Rows `firstRow` to `firstRow + rows - 1` (rows * W values); `firstRow` follows the rows given before.
    void addRows(int firstRow, int rows, const double* values);
    bool complete() const { return nextRow_ == height_; }
    KeyframeMeasures result() const;

private:
    void addRow(int row, const double* values);
    void flush();

    int width_, height_;
    int nextRow_ = 0;
    std::vector<std::uint8_t> columnWeights_;
    std::vector<double> previous_;  // the row below the next one
    std::uint64_t acrossWeights_[17] = {};  // by the row's weight: the weight of its pairs left and right
    std::uint64_t upWeights_[17] = {};      // ... and of its pairs with the row below
    std::uint64_t pairWeight_ = 0;          // of every pair so far, with values or not
    std::vector<std::uint32_t> counts_;     // histograms of the rows since the last flush
    std::vector<std::uint64_t> totals_;
};

/// Measures a whole full map (H rows of W values, bottom row first).
KeyframeMeasures measureMap(const std::vector<double>& map, int width, int height);

inline constexpr const char* kMeasuresFileName = "keyframes.measures";

struct MeasuresOutcome {
    Status status;                           ///< a keyframe that could not be read; then no measures
    std::vector<KeyframeMeasures> measures;  ///< keyframes `first` to `last`
    int measured = 0;                        ///< of them, read and measured now
    Status kept;                             ///< the measures file could not be written (the measures are good)
};

/// The measures of keyframes `first` to `last` of the loaded `list`: from "keyframes.measures" where it has them
/// for the file as it is now, else read (each full map once, in bands, on a thread of its own while the bands read
/// before are measured) and then kept there.
MeasuresOutcome keyframeMeasures(const KeyframeList& list, int first, int last);

/// Takes the measures of every keyframe that "keyframes.measures" lacks from bands of rows that another pass reads
/// anyway: the keyframe check's `band` callback, which hands every keyframe's rows in order.
class MeasuresCollector {
public:
    explicit MeasuresCollector(const KeyframeList& list);
    ~MeasuresCollector();
    MeasuresCollector(const MeasuresCollector&) = delete;
    MeasuresCollector& operator=(const MeasuresCollector&) = delete;

    void band(int keyframe, int firstRow, int rows, const double* values);
    /// Keeps what was measured in "keyframes.measures"; nothing to write when nothing was missing.
    Status save();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zoomreel
