#pragma once

#include <cstdint>
#include <vector>

namespace zoomreel {

class WorkerPool;

/// Microsoft Video 1 in its 16-bit (RGB555) form, from the engine's 24-bit frames.
///
/// The picture is cut into 4 x 4 blocks, coded from the bottom left, row of blocks by row of blocks. Each block
/// becomes the cheapest of: skipped (the previous frame's block stays), one colour, two colours, or two colours
/// in each of its 2 x 2 quarters, by a cost of squared error over a divisor plus the bytes it takes. The colours
/// of a block come from a two-step 2-means split along its widest channel, which costs a small fraction of a
/// full clustering search and keeps the movie's pace set by the renderer, not by its encoder. Eight blocks side by
/// side are weighed at once, a block in each lane of a vector.
class MsVideo1Encoder {
public:
    /// Frames of any size of at least one pixel. The format codes whole 4 x 4 blocks and its decoders count the
    /// blocks of a row as the width divided by 4, so a frame whose sides are not multiples of 4 is coded on the
    /// next multiple of 4 up (`codedWidth` x `codedHeight`, the size the stream must declare), its right column
    /// and top row repeated into the extra pixels. `quality` 100 weighs a squared 5-bit step as 1/24 of a byte of
    /// output; lower qualities weigh errors less in proportion (quality 50: 1/48), down to 1/2400 at 0.
    MsVideo1Encoder(int width, int height, int quality);

    static int codedSide(int side) { return (side + 3) / 4 * 4; }
    int codedWidth() const { return codedWidth_; }
    int codedHeight() const { return codedHeight_; }

    /// Encodes one frame of 24-bit pixels (blue, green, red; rows bottom-up, padded to 4 bytes) into `out`. A key
    /// frame codes every block; otherwise unchanged blocks are skipped. Returns whether the frame stands alone (a
    /// key frame, or no block was skipped).
    /// With a pool, its workers code a band of block rows each; the bytes are the same.
    bool encode(const std::uint8_t* pixels, bool key, std::vector<std::uint8_t>& out, WorkerPool* pool = nullptr);

private:
    /// Block rows coded by one worker.
    struct Band {
        std::vector<std::uint16_t> rows;  ///< the four coded rows of the block row being coded, split as `previous_`
        std::vector<std::uint8_t> bytes;  ///< the codes from its first coded block to its last
        int leadingSkips = 0;             ///< blocks skipped before its first coded block (all, if none is coded)
        int trailingSkips = 0;            ///< and after its last
        bool coded = false;
        bool skipped = false;
    };
    void encodeBand(const std::uint8_t* pixels, bool skipping, int firstRow, int endRow, Band& band);

    int width_;
    int height_;
    int codedWidth_;
    int codedHeight_;
    int divisor_;
    bool havePrevious_ = false;
    int groups_;  ///< groups of blocks a block row is evaluated in, side by side
    // Pictures as 15-bit colours, each row split in four by column modulo 4, so that the same pixel of
    // neighbouring blocks lies side by side: pixel x of block column c in row y is at (4 y + x) * stride + c, the
    // stride being the block columns rounded up to whole groups.
    std::vector<std::uint16_t> previous_;  ///< what a decoder shows now, rows bottom-up, coded size
    std::vector<Band> bands_;
};

}  // namespace zoomreel
