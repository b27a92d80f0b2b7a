#include "render/preview_renderer.h"

#include <gtest/gtest.h>

#include <vector>

#include "render/keyframe_folder.h"
#include "status_check.h"

namespace zoomreel {
namespace {

constexpr int kCount = 4;
constexpr int kPreviewWidth = 20;
constexpr int kPreviewHeight = 12;

// Frames along a walk through the folder, with cells worked out by hand: frame cell (i, j) samples cell
// r = trunc((i - 6) t + 6), c = trunc((j - 10) t + 10) of level 0, or inside the central window (3 < r < 9,
// 5 < c < 15) cell (2r - 6, 2c - 10) of level 1, where keyframe k's preview cell is 100 (k + 1) + r + 0.01 c or 0.
// Maps read: none within a keyframe, one per keyframe step, two for a jump, none at the last keyframe (both
// levels hold it). Colours go through a user palette whose blue is half the entry: y = x / 2 + w, w = 512 offset
// less half the frame's smallest level-0 sample with subtraction on, brought into [0, 512).
TEST(PreviewRenderer, SamplesTwoLevelsColoursThemWithTheFramesOwnMinimumAndNamesADamagedKeyframe) {
    test::KeyframeFolder folder(kCount, test::kKeyframeWidth, test::kKeyframeHeight, kPreviewWidth, kPreviewHeight);
    ColorTable table;
    for (int i = 0; i < kColorTableSize; ++i) table.entries[i] = {static_cast<std::uint8_t>(i / 2), 0, 0};
    struct Cell {
        int i, j;
        double value;
        int blue;
    };
    struct Case {
        float h, offset;
        bool subtract;
        int mapsRead;  // by this frame
        std::vector<Cell> cells;
    } const cases[] = {
        // t = 1: level 0 is keyframe 1, level 1 keyframe 2; (3, 6) is a hole.
        {1.0f, 0, false, 2, {{0, 0, 200, 50}, {3, 6, 0, 0}, {4, 6, 302.02, 75}, {6, 10, 306.1, 76}, {8, 14, 310.18, 77},
                             {9, 15, 209.15, 52}, {11, 19, 211.19, 52}}},
        // t = 2^-0.37 = 0.774: rows 1 to 9, columns 2 to 16; w = 128.
        {1.37f, 0.25f, false, 2, {{0, 0, 201.02, 114}, {6, 10, 306.1, 140}, {11, 19, 209.16, 116}}},
        // t = 0.536: the smallest sample is (2, 4), 202.04, so w = 128 - 101.02 and that cell lands on entry 128.
        {1.9f, 0.25f, true, 2, {{0, 0, 202.04, 64}, {6, 10, 306.1, 90}}},
        // A step to keyframe 2; minimum 300.01 at (0, 1): w = -150.005 wraps to 361.995.
        {2.2f, 0, true, 3, {{6, 10, 406.1, 26}, {11, 19, 310.17, 2}}},
        // The last keyframe in both levels.
        {3.5f, 0, false, 3, {{0, 0, 401.02, 100}, {6, 10, 406.1, 101}}},
        // A jump back reads both maps; minimum 101.02: w = 461.49.
        {0.5f, 0, true, 5, {{6, 10, 206.1, 26}, {11, 19, 109.16, 2}}},
    };
    PreviewRenderer renderer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.h);
        const PreviewSettings settings{&folder.list, &table, true, c.subtract};
        ASSERT_TRUE(RenderPreviewFrame(renderer, settings, c.h, 1.0f, c.offset).ok);
        EXPECT_EQ(renderer.mapsRead, static_cast<std::uint64_t>(c.mapsRead));
        ASSERT_TRUE(renderer.frame.width() == kPreviewWidth && renderer.frame.height() == kPreviewHeight);
        for (const Cell& x : c.cells) {
            EXPECT_NEAR(renderer.frameMap[x.i * kPreviewWidth + x.j], x.value, 1e-9) << x.i << "," << x.j;
            EXPECT_EQ(renderer.frame.storedRow(x.i)[3 * x.j], x.blue) << x.i << "," << x.j;
        }
    }
    // Positions before the folder are refused; a damaged keyframe is named and releases the renderer, so that the
    // next frame sets up again.
    const PreviewSettings plain{&folder.list, nullptr, false, false};
    EXPECT_FALSE(RenderPreviewFrame(renderer, plain, -0.5f, 1.0f, 0.0f).ok);
    std::filesystem::resize_file(folder.dir / "00003.qvy", 100);
    EXPECT_TRUE(test::failsSaying(RenderPreviewFrame(renderer, plain, 2.5f, 1.0f, 0.0f), "00003.qvy"));
    EXPECT_EQ(renderer.loadedKeyframe, -1);
}

}  // namespace
}  // namespace zoomreel
