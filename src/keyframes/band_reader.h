#pragma once

// Reading full maps a band of rows at a time on a thread of its own, a few bands ahead of the thread that works on
// them: the keyframe check and the keyframe measures both look at every value of every map once, and this way the
// file reading hides behind their work (or theirs behind it) instead of adding to it.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "platform/status.h"

namespace zoomreel {

/// Reads the full maps of the keyframes `keyframes` (indices into `list`, in that order) in bands of `kRows` rows,
/// bottom row first. With `keepCentre`, each band's part of the keyframe's central half (with a border of one
/// pixel) is also copied aside while the band is at hand, for a reader that compares the next keyframe with it.
class BandReader {
public:
    /// Even, so that no 2 x 2 block straddles two bands. At 1920 x 1080 a band is 480 KiB, which stays in the
    /// processor's cache from its reading to its use.
    static constexpr int kRows = 32;

    struct Band {
        int keyframe = 0;  ///< the keyframe's index in the list
        int ordinal = 0;   ///< its place in the keyframes read
        int firstRow = 0;
        int rows = 0;
        std::unique_ptr<double[]> values;  ///< rows * W values; its pages are first touched by the reading thread
        Status status;                     ///< a failure names the file; no band follows it
    };

    /// The central part of a keyframe: pixel (W/4 - 1 + c, H/4 - 1 + r) at origin[r * stride + c], for c from 0
    /// to W/2 + 1 and r from 0 to H/2 + 1.
    struct Part {
        const double* origin = nullptr;
        std::size_t stride = 0;
        const double* row(int r) const { return origin + static_cast<std::size_t>(r) * stride; }
    };

    BandReader(const KeyframeList& list, std::vector<int> keyframes, bool keepCentre);
    ~BandReader();
    BandReader(const BandReader&) = delete;
    BandReader& operator=(const BandReader&) = delete;

    /// The next band, in reading order, once it is read; it stays as it is until `release`.
    const Band& next();
    void release();

    /// The kept part of the keyframe read `ordinal`-th, whole once its last band has come; valid until
    /// `finished(ordinal + 1)`. Only with `keepCentre`.
    Part kept(int ordinal) const { return {kept_[ordinal % 2].get(), static_cast<std::size_t>(keptWidth_)}; }
    /// The keyframe read `ordinal`-th is done with: the part kept of the one before it may be reused.
    void finished(int ordinal);

private:
    static constexpr int kInFlight = 3;  // one band being used while the next ones are read

    void readAll();

    const KeyframeList& list_;
    const std::vector<int> keyframes_;
    const bool keepCentre_;
    const int width_, height_;
    const int keptLeft_, keptBottom_, keptWidth_, keptHeight_;
    Band bands_[kInFlight];
    std::unique_ptr<double[]> kept_[2];
    std::mutex mutex_;
    std::condition_variable changed_;
    long read_ = 0;      // bands read so far
    long taken_ = 0;     // bands used and given back
    int finished_ = -1;  // the last ordinal done with
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace zoomreel
