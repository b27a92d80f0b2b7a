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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "keyframes/band_reader.h"
#include "platform/atomic_file.h"
#include "platform/file_reader.h"

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

// Half of the neighbouring pairs make the distribution as well as all of them, for a fraction of the work: across,
// the pairs that start at an even column; upwards, each odd row with the even row below it.
// Counts are added in 32 bits, four histograms side by side (by column parity, across and upwards), so that
// neighbouring pairs, which often fall into one bin, do not wait for each other's sums; they go into the 64-bit
// totals every kFlushRows rows, before any bin can reach 2^32 (2 pairs of weight 16 per pixel, 2^20 pixels a row).
constexpr int kLanes = 4;
constexpr int kFlushRows = 64;

/// Adds the pair (a, b) with weight w unless one of the two has no value.
inline void addPair(std::uint32_t* histogram, double a, double b, std::uint32_t w) {
    const float difference = static_cast<float>(std::fabs(a - b));
    const std::uint32_t bin = std::bit_cast<std::uint32_t>(difference) >> kMantissaBitsDropped;
    histogram[bin] += (a != 0.0 && b != 0.0) ? w : 0u;
}

/// The pairs (a[0], b[0]) into `first` with weight w0 and (a[1], b[1]) into `second` with w1, as `addPair` does
/// them (a NaN compares unequal to 0 there as here, and lands among the bins left out), two at a time.
#if defined(__SSE2__)
inline void addPairs(std::uint32_t* first, std::uint32_t* second, __m128d a, __m128d b, std::uint32_t w0,
                     std::uint32_t w1) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d difference = _mm_andnot_pd(_mm_set1_pd(-0.0), _mm_sub_pd(a, b));
    const __m128i bins = _mm_srli_epi32(_mm_castps_si128(_mm_cvtpd_ps(difference)), kMantissaBitsDropped);
    const int values = _mm_movemask_pd(_mm_and_pd(_mm_cmpneq_pd(a, zero), _mm_cmpneq_pd(b, zero)));
    first[_mm_cvtsi128_si32(bins)] += w0 & (0u - static_cast<std::uint32_t>(values & 1));
    second[_mm_cvtsi128_si32(_mm_shuffle_epi32(bins, 1))] += w1 & (0u - static_cast<std::uint32_t>(values >> 1));
}
#endif

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
      counts_(static_cast<std::size_t>(kLanes) * kBins, 0),
      totals_(kBins, 0) {
    for (int c = 0; c < width; ++c) columnWeights_[c] = screenShareOf(c, width);
    // The weight of a row's pairs, for each weight the row itself can have.
    for (int w = 0; w <= kWholeZoom; ++w) {
        for (int c = 0; c < width; ++c) {
            const std::uint64_t pair = std::min<std::uint32_t>(columnWeights_[c], w);
            if (c % 2 == 0 && c + 1 < width) acrossWeights_[w] += pair;
            upWeights_[w] += pair;
        }
    }
}

void MapMeasurer::addRows(int firstRow, int rows, const double* values) {
    if (firstRow != nextRow_) return;
    for (int r = 0; r < rows && nextRow_ < height_; ++r) {
        addRow(nextRow_, values + static_cast<std::size_t>(r) * width_);
        ++nextRow_;
        if (nextRow_ % kFlushRows == 0 || nextRow_ == height_) flush();
    }
}

void MapMeasurer::addRow(int row, const double* values) {
    const std::uint32_t rowWeight = screenShareOf(row, height_);
    const int width = width_;
    if (rowWeight > 0) {
        const std::uint8_t* weights = columnWeights_.data();
        auto weight = [&](int c) { return std::min<std::uint32_t>(weights[c], rowWeight); };
        std::uint32_t* even = counts_.data();
        std::uint32_t* odd = even + kBins;
        int c = 0;
        for (; c + 3 < width; c += 4) {
#if defined(__SSE2__)
            const __m128d left = _mm_loadu_pd(values + c);
            const __m128d right = _mm_loadu_pd(values + c + 2);
            addPairs(even, odd, _mm_unpacklo_pd(left, right), _mm_unpackhi_pd(left, right), weight(c), weight(c + 2));
#else
            addPair(even, values[c], values[c + 1], weight(c));
            addPair(odd, values[c + 2], values[c + 3], weight(c + 2));
#endif
        }
        if (c + 1 < width) addPair(even, values[c], values[c + 1], weight(c));
        pairWeight_ += acrossWeights_[rowWeight];
        if (row % 2 == 1) {
            const double* below = previous_.data();
            std::uint32_t* upEven = odd + kBins;
            std::uint32_t* upOdd = upEven + kBins;
            for (c = 0; c + 1 < width; c += 2) {
#if defined(__SSE2__)
                addPairs(upEven, upOdd, _mm_loadu_pd(values + c), _mm_loadu_pd(below + c), weight(c), weight(c + 1));
#else
                addPair(upEven, values[c], below[c], weight(c));
                addPair(upOdd, values[c + 1], below[c + 1], weight(c + 1));
#endif
            }
            if (c < width) addPair(upEven, values[c], below[c], weight(c));
            pairWeight_ += upWeights_[rowWeight];
        }
    }
    if (row % 2 == 0) std::copy(values, values + width, previous_.begin());
}

void MapMeasurer::flush() {
    for (int lane = 0; lane < kLanes; ++lane) {
        std::uint32_t* counts = counts_.data() + static_cast<std::size_t>(lane) * kBins;
        for (int b = 0; b < kBins; ++b) totals_[b] += counts[b];
        std::fill(counts, counts + kBins, 0u);
    }
}

KeyframeMeasures MapMeasurer::result() const {
    KeyframeMeasures measures;
    const std::vector<std::uint64_t>& histogram = totals_;
    std::uint64_t total = 0;
    for (int b = 0; b < kFirstNonFinite; ++b) total += histogram[b];
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
