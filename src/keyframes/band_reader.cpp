#include "keyframes/band_reader.h"

#include <algorithm>

namespace zoomreel {

BandReader::BandReader(const KeyframeList& list, std::vector<int> keyframes, bool keepCentre)
    : list_(list),
      keyframes_(std::move(keyframes)),
      keepCentre_(keepCentre),
      width_(list.layout.width),
      height_(list.layout.height),
      keptLeft_(width_ / 4 - 1),
      keptBottom_(height_ / 4 - 1),
      keptWidth_(width_ / 2 + 2),
      keptHeight_(height_ / 2 + 2) {
    // Not filled with zeros here: every value is written by the reading thread before it is read.
    for (Band& band : bands_) band.values.reset(new double[static_cast<std::size_t>(kRows) * width_]);
    if (keepCentre_) {
        for (auto& part : kept_) part.reset(new double[static_cast<std::size_t>(keptWidth_) * keptHeight_]);
    }
    thread_ = std::thread([this] { readAll(); });
}

BandReader::~BandReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

const BandReader::Band& BandReader::next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return read_ > taken_; });
    return bands_[taken_ % kInFlight];
}

void BandReader::release() {
    {
        std::lock_guard lock(mutex_);
        ++taken_;
    }
    changed_.notify_all();
}

void BandReader::finished(int ordinal) {
    {
        std::lock_guard lock(mutex_);
        finished_ = ordinal;
    }
    changed_.notify_all();
}

void BandReader::readAll() {
    for (int n = 0; n < static_cast<int>(keyframes_.size()); ++n) {
        const int k = keyframes_[n];
        FullMapReader reader;
        const Status opened = reader.open(keyframeFilePath(list_, k), list_.layout);
        // Keyframe n's part goes where that of keyframe n - 2 was, which the work on n - 1 uses: a band that holds
        // some of it waits until that is done (the reader is seldom that far ahead).
        double* part = keepCentre_ ? kept_[n % 2].get() : nullptr;
        for (int row = 0; row < height_; row += kRows) {
            const bool keeps = keepCentre_ && row + kRows > keptBottom_ && row < keptBottom_ + keptHeight_;
            Band* band = nullptr;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || (read_ - taken_ < kInFlight && (!keeps || finished_ >= n - 1));
                });
                if (stopping_) return;
                band = &bands_[read_ % kInFlight];
            }
            band->keyframe = k;
            band->ordinal = n;
            band->firstRow = row;
            band->rows = std::min(kRows, height_ - row);
            band->status = opened ? reader.readRows(band->rows, band->values.get()) : opened;
            if (band->status && keeps) {
                const int end = std::min(row + band->rows, keptBottom_ + keptHeight_);
                for (int r = std::max(row, keptBottom_); r < end; ++r) {
                    const double* from = band->values.get() + static_cast<std::size_t>(r - row) * width_ + keptLeft_;
                    std::copy(from, from + keptWidth_, part + static_cast<std::ptrdiff_t>(r - keptBottom_) * keptWidth_);
                }
            }
            {
                std::lock_guard lock(mutex_);
                ++read_;
            }
            changed_.notify_all();
            if (!band->status) return;  // the user stops at this band
        }
    }
}

}  // namespace zoomreel
