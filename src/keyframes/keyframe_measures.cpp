#include "keyframes/keyframe_measures.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <string_view>

#include "keyframes/band_reader.h"
#include "platform/atomic_file.h"
#include "settings/settings_file.h"

namespace zoomreel {
namespace {

// A pair's share of the zoom on screen in steps of 1/16: plenty for a statistic of millions of pairs, and an
// integer, so that the histograms add up exactly whatever the order.
constexpr std::uint8_t kWholeZoom = 16;

// The histograms bin a difference by the bits of its single-precision value: 8 bits of exponent and the top 4 of
// the mantissa, so 16 bins per octave (about 4 % wide at most) over every float. Bins from kFirstNonFinite on
// hold infinities and NaN, from a damaged map; they are left out.
constexpr int kMantissaBitsDropped = 19;
constexpr int kBins = 1 << (32 - 1 - kMantissaBitsDropped);
constexpr int kFirstNonFinite = 0x7f800000 >> kMantissaBitsDropped;

// Beyond half a palette cycle between neighbours the colours show noise, not more detail.
constexpr double kMostDetail = 0.5;
// The middle half of the differences: quantiles 8 to 24 of 32.
constexpr int kMiddleFirst = 8;
constexpr int kMiddleLast = 24;
// The gradient leaves out the largest sixteenth of the differences: the edges of the set, of minibrots and of
// glitches, where values jump by hundreds or thousands. Not the median: where half of the wider keyframe is a
// smooth background and the deeper one is filled with structure, as next to a minibrot, medians differ by a factor
// of hundreds and a divisor that follows them turns the deeper picture into one flat colour, while the mean of
// the rest, which the bands of colours follow, changes by a few times.
constexpr int kGradientLast = 30;
// The colour index runs over one palette cycle in 1024 times the divisor iterations.
constexpr double kIterationsPerCycle = 1024.0;

/// The share of the zoom from this keyframe to the next during which a pixel at `distance` from the centre (in
/// halves of the map's width or height, whichever is further) is on screen: the visible rectangle shrinks by 2^-f
/// at progress f, so it leaves the pixel at f = log2(1 / distance); the central half stays all along.
std::uint8_t screenShare(double distance) {
    if (distance <= 0.5) return kWholeZoom;
    if (distance >= 1.0) return 0;
    return static_cast<std::uint8_t>(std::lround(kWholeZoom * std::log2(1.0 / distance)));
}

std::uint8_t screenShareOf(int index, int size) {
    const double half = 0.5 * size;
    return screenShare(std::fabs(index + 0.5 - half) / half);
}

float binLow(int bin) { return std::bit_cast<float>(static_cast<std::uint32_t>(bin) << kMantissaBitsDropped); }

/// Adds the pair (a, b) with weight w; a pair with a pixel of no value counts only in `pairs`.
inline void addPair(std::uint64_t* histogram, std::uint64_t& pairs, double a, double b, std::uint32_t w) {
    pairs += w;
    const float difference = static_cast<float>(std::fabs(a - b));
    const std::uint32_t bin = std::bit_cast<std::uint32_t>(difference) >> kMantissaBitsDropped;
    histogram[bin] += (a != 0.0 && b != 0.0) ? w : 0u;
}

// ---------------------------------------------------------------------------------------------------------------
// The measures file: a line that names the format, then one line per keyframe file,
//   size modification-time value-share q0 ... q32 name
// the name last, so that it may hold spaces. Numbers are written so that they read back bit for bit.

constexpr std::string_view kHeader = "zoomreel keyframe measures 1";
constexpr std::size_t kMaxLineBytes = 4096;

struct Stamp {
    std::uintmax_t size = 0;
    std::int64_t modified = 0;  // nanoseconds of the file clock
    bool known = false;
    friend bool operator==(const Stamp&, const Stamp&) = default;
};

Stamp stampOf(const std::filesystem::path& path) {
    std::error_code error;
    Stamp stamp;
    stamp.size = std::filesystem::file_size(path, error);
    if (error) return {};
    const auto time = std::filesystem::last_write_time(path, error);
    if (error) return {};
    stamp.modified = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
    stamp.known = true;
    return stamp;
}

struct Kept {
    Stamp stamp;
    KeyframeMeasures measures;
};
using KeptMeasures = std::map<std::string, Kept, std::less<>>;

template <typename T>
bool readNumber(std::string_view& text, T& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop == end || *stop != ' ') return false;
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()) + 1);
    return true;
}

bool sane(const KeyframeMeasures& m) {
    if (!(m.valueShare >= 0.0f && m.valueShare <= 1.0f)) return false;
    float before = 0.0f;
    for (const float q : m.differences) {
        if (!(q >= before) || !std::isfinite(q)) return false;
        before = q;
    }
    return true;
}

/// What the file holds; a line that does not read whole is left out, a file that is not one of these gives none.
KeptMeasures readKept(const std::filesystem::path& path, std::size_t maxEntries) {
    KeptMeasures kept;
    const auto lines = readTextLines(path, maxEntries + 1, kMaxLineBytes);
    if (!lines || lines->empty() || (*lines)[0] != kHeader) return kept;
    for (std::size_t i = 1; i < lines->size(); ++i) {
        std::string_view text = (*lines)[i];
        Kept entry;
        bool whole = readNumber(text, entry.stamp.size) && readNumber(text, entry.stamp.modified) &&
                     readNumber(text, entry.measures.valueShare);
        for (float& q : entry.measures.differences) whole = whole && readNumber(text, q);
        if (!whole || text.empty() || !sane(entry.measures)) continue;
        entry.stamp.known = true;
        kept.insert_or_assign(std::string(text), entry);
    }
    return kept;
}

template <typename T>
void appendNumber(std::string& line, T value) {
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    line.append(buffer, end);
    line += ' ';
}

/// The folder's keyframes as they are now: each file's stamp, and the measures kept for it when they are for the
/// file as it is.
struct FolderMeasures {
    std::filesystem::path file;
    KeptMeasures kept;
    std::vector<Stamp> stamps;
    std::vector<const KeyframeMeasures*> current;  // by keyframe; nullptr where the file must be measured

    explicit FolderMeasures(const KeyframeList& list)
        : file(list.folder / kMeasuresFileName),
          kept(readKept(file, 2 * list.names.size() + 16)),
          stamps(list.names.size()),
          current(list.names.size(), nullptr) {
        for (int k = 0; k < list.keyframeCount(); ++k) {
            stamps[k] = stampOf(keyframeFilePath(list, k));
            const auto found = kept.find(list.names[k]);
            if (found != kept.end() && stamps[k].known && found->second.stamp == stamps[k]) {
                current[k] = &found->second.measures;
            }
        }
    }

    /// Writes the file anew with `fresh` (by keyframe) and what was current of the rest; keyframes no longer in
    /// the folder or changed since are dropped.
    Status save(const KeyframeList& list, const std::map<int, KeyframeMeasures>& fresh) const {
        std::string text(kHeader);
        text += '\n';
        for (int k = 0; k < list.keyframeCount(); ++k) {
            const auto found = fresh.find(k);
            const KeyframeMeasures* measures = found != fresh.end() ? &found->second : current[k];
            if (measures == nullptr || !stamps[k].known) continue;
            std::string line;
            appendNumber(line, stamps[k].size);
            appendNumber(line, stamps[k].modified);
            appendNumber(line, measures->valueShare);
            for (const float q : measures->differences) appendNumber(line, q);
            text += line + list.names[k] + '\n';
        }
        AtomicFileWriter out(file);
        out.write(text.data(), text.size());
        return out.commit();
    }
};

}  // namespace

double iterationGradient(const KeyframeMeasures& measures) {
    double sum = 0.0;
    for (int i = 0; i < kGradientLast; ++i) sum += 0.5 * (measures.differences[i] + measures.differences[i + 1]);
    return sum / kGradientLast;
}

double colourDetail(const KeyframeMeasures& measures, double colourDivisor) {
    const double perIteration = 1.0 / (kIterationsPerCycle * colourDivisor);
    auto cycles = [&](int i) { return std::min(kMostDetail, measures.differences[i] * perIteration); };
    // The quantile function is taken as straight between its 33 points: its mean over the middle half.
    double sum = 0.0;
    for (int i = kMiddleFirst; i < kMiddleLast; ++i) sum += 0.5 * (cycles(i) + cycles(i + 1));
    return sum / (kMiddleLast - kMiddleFirst);
}

MapMeasurer::MapMeasurer(int width, int height)
    : width_(width),
      height_(height),
      columnWeights_(static_cast<std::size_t>(width)),
      previous_(static_cast<std::size_t>(width)),
      horizontal_(kBins, 0),
      vertical_(kBins, 0) {
    for (int c = 0; c < width; ++c) columnWeights_[c] = screenShareOf(c, width);
}

void MapMeasurer::addRows(int firstRow, int rows, const double* values) {
    if (firstRow != nextRow_) return;
    for (int r = 0; r < rows && nextRow_ < height_; ++r) {
        addRow(nextRow_, values + static_cast<std::size_t>(r) * width_);
        ++nextRow_;
    }
}

void MapMeasurer::addRow(int row, const double* values) {
    const std::uint8_t rowWeight = screenShareOf(row, height_);
    if (rowWeight > 0) {
        const std::uint8_t* weights = columnWeights_.data();
        std::uint64_t* across = horizontal_.data();
        std::uint64_t* up = vertical_.data();
        std::uint64_t pairs = 0;
        for (int c = 0; c + 1 < width_; ++c) {
            addPair(across, pairs, values[c], values[c + 1], std::min(weights[c], rowWeight));
        }
        if (row > 0) {
            const double* below = previous_.data();
            for (int c = 0; c < width_; ++c) addPair(up, pairs, values[c], below[c], std::min(weights[c], rowWeight));
        }
        pairWeight_ += pairs;
    }
    std::copy(values, values + width_, previous_.begin());
}

KeyframeMeasures MapMeasurer::result() const {
    KeyframeMeasures measures;
    std::vector<std::uint64_t> histogram(kFirstNonFinite);
    std::uint64_t total = 0;
    for (int b = 0; b < kFirstNonFinite; ++b) total += histogram[b] = horizontal_[b] + vertical_[b];
    if (total == 0) return measures;
    measures.valueShare = static_cast<float>(static_cast<double>(total) / static_cast<double>(pairWeight_));
    // Each quantile lies in the bin where the running count reaches its share, spread evenly over the bin.
    std::uint64_t below = 0;
    int b = 0;
    for (int i = 0; i < KeyframeMeasures::kQuantileCount; ++i) {
        const double target = static_cast<double>(total) * i / (KeyframeMeasures::kQuantileCount - 1);
        while (histogram[b] == 0 || static_cast<double>(below + histogram[b]) < target) {
            below += histogram[b];
            ++b;
        }
        const double within = (target - static_cast<double>(below)) / static_cast<double>(histogram[b]);
        const double low = binLow(b);
        const double high = std::min(binLow(b + 1), std::numeric_limits<float>::max());
        measures.differences[i] = static_cast<float>(low + (high - low) * std::clamp(within, 0.0, 1.0));
    }
    return measures;
}

KeyframeMeasures measureMap(const std::vector<double>& map, int width, int height) {
    MapMeasurer measurer(width, height);
    measurer.addRows(0, height, map.data());
    return measurer.result();
}

MeasuresOutcome keyframeMeasures(const KeyframeList& list, int first, int last) {
    MeasuresOutcome outcome;
    if (first < 0 || last >= list.keyframeCount() || first > last) {
        outcome.status = Status::failure("There are no keyframes " + std::to_string(first) + " to " +
                                         std::to_string(last) + " to measure.");
        return outcome;
    }
    const FolderMeasures folder(list);
    std::vector<int> missing;
    for (int k = first; k <= last; ++k) {
        if (folder.current[k] == nullptr) missing.push_back(k);
    }
    std::map<int, KeyframeMeasures> fresh;
    if (!missing.empty()) {
        BandReader reader(list, missing, false);
        for (int n = 0; n < static_cast<int>(missing.size()); ++n) {
            MapMeasurer measurer(list.layout.width, list.layout.height);
            while (!measurer.complete()) {
                const BandReader::Band& band = reader.next();
                if (!band.status) {
                    outcome.status = band.status;
                    return outcome;
                }
                measurer.addRows(band.firstRow, band.rows, band.values.get());
                reader.release();
            }
            fresh[missing[n]] = measurer.result();
        }
        outcome.measured = static_cast<int>(missing.size());
        outcome.kept = folder.save(list, fresh);
    }
    for (int k = first; k <= last; ++k) {
        const auto found = fresh.find(k);
        outcome.measures.push_back(found != fresh.end() ? found->second : *folder.current[k]);
    }
    return outcome;
}

struct MeasuresCollector::State {
    const KeyframeList& list;
    FolderMeasures folder;
    std::map<int, KeyframeMeasures> fresh;
    std::unique_ptr<MapMeasurer> measurer;
    int measuring = -1;
};

MeasuresCollector::MeasuresCollector(const KeyframeList& list)
    : state_(new State{list, FolderMeasures(list), {}, nullptr, -1}) {}

MeasuresCollector::~MeasuresCollector() = default;

void MeasuresCollector::band(int keyframe, int firstRow, int rows, const double* values) {
    State& s = *state_;
    if (keyframe < 0 || keyframe >= s.list.keyframeCount() || s.folder.current[keyframe] != nullptr ||
        s.fresh.count(keyframe) != 0) {
        return;
    }
    if (s.measuring != keyframe) {
        s.measurer = std::make_unique<MapMeasurer>(s.list.layout.width, s.list.layout.height);
        s.measuring = keyframe;
    }
    s.measurer->addRows(firstRow, rows, values);
    if (s.measurer->complete()) {
        s.fresh[keyframe] = s.measurer->result();
        s.measurer.reset();
        s.measuring = -1;
    }
}

Status MeasuresCollector::save() {
    if (state_->fresh.empty()) return Status::success();
    return state_->folder.save(state_->list, state_->fresh);
}

}  // namespace zoomreel
