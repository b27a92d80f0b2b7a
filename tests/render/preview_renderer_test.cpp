#include "render/preview_renderer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/keyframe_folder.h"
#include "status_check.h"

namespace zoomreel {
namespace {

constexpr int kCount = 4;
constexpr int kPreviewWidth = 20;
constexpr int kPreviewHeight = 12;

/// The sampling rule written out plainly: for frame cell (i, j) the cell (r, c) of level 0, or inside the central
/// window cell (2r - ph/2, 2c - pw/2) of level 1, with integer halves; `minimum` is the smallest non-zero level-0
/// sample.
std::vector<double> sampled(float h, int level0, int level1, double& minimum) {
    const int pw = kPreviewWidth, ph = kPreviewHeight;
    const float fraction = h - std::trunc(h);
    const double t = std::exp(-fraction * 0.693147180559);
    std::vector<double> map;
    minimum = 1e100;
    for (int i = 0; i < ph; ++i) {
        for (int j = 0; j < pw; ++j) {
            const int r = static_cast<int>((i - ph / 2) * t + ph / 2);
            const int c = static_cast<int>((j - pw / 2) * t + pw / 2);
            if (pw / 2 / 2 < c && c < pw / 2 + pw / 2 / 2 && ph / 2 / 2 < r && r < ph / 2 + ph / 2 / 2) {
                map.push_back(test::previewCell(level1, 2 * r - ph / 2, 2 * c - pw / 2));
            } else {
                map.push_back(test::previewCell(level0, r, c));
                if (map.back() != 0) minimum = std::min(minimum, map.back());
            }
        }
    }
    return map;
}

// Frames along a walk through the folder: the sampled map of each, the preview maps read for it (none within a
// keyframe, one per keyframe step, two for a jump, none at the last keyframe, where both levels hold it), and its
// colours through a user palette whose blue channel shows the palette position: blue = trunc(y / 2) with
// y = x / v + w, v = 1024 / 512 at divisor 1 and w = offset * 512, less m / v with subtraction on.
TEST(PreviewRenderer, SamplesTwoLevelsAndColoursThemWithTheFramesOwnMinimum) {
    test::KeyframeFolder folder(kCount, test::kKeyframeWidth, test::kKeyframeHeight, kPreviewWidth, kPreviewHeight);
    ColorTable table;
    for (int i = 0; i < kColorTableSize; ++i) table.entries[i] = {static_cast<std::uint8_t>(i / 2), 0, 0};
    struct Case {
        float h;
        int level0, level1;
        int mapsRead;  // by this frame
        float offset;
        bool subtract;
    };
    const Case cases[] = {
        {1.0f, 1, 2, 2, 0.0f, false},   // set-up: t = 1, every second cell of level 1 in the middle
        {1.37f, 1, 2, 2, 0.25f, false}, // same keyframe: no file
        {1.9f, 1, 2, 2, 0.25f, true},
        {2.2f, 2, 3, 3, 0.0f, true},    // a keyframe step: one map
        {3.5f, 3, 3, 3, 0.0f, false},   // the last keyframe, in both levels, read no more
        {3.6f, 3, 3, 3, 0.0f, false},
        {0.5f, 0, 1, 5, 0.0f, true},    // a jump back: both maps
    };
    PreviewRenderer renderer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.h);
        const PreviewSettings settings{&folder.list, &table, true, c.subtract};
        ASSERT_TRUE(RenderPreviewFrame(renderer, settings, c.h, 1.0f, c.offset).ok);
        double minimum = 0;
        const std::vector<double> expected = sampled(c.h, c.level0, c.level1, minimum);
        EXPECT_EQ(renderer.frameMap, expected);
        EXPECT_EQ(renderer.mapsRead, static_cast<std::uint64_t>(c.mapsRead));
        ASSERT_EQ(renderer.frame.width(), kPreviewWidth);
        ASSERT_EQ(renderer.frame.height(), kPreviewHeight);
        const double w = c.offset * 512.0 - (c.subtract ? minimum / 2.0 : 0.0);
        for (int i = 0; i < kPreviewHeight; ++i) {
            for (int j = 0; j < kPreviewWidth; ++j) {
                const double x = expected[i * kPreviewWidth + j];
                const std::uint8_t* pixel = renderer.frame.storedRow(i) + 3 * j;
                if (x == 0) {
                    EXPECT_EQ(pixel[0], 0);
                } else {
                    EXPECT_NEAR(pixel[0], (x / 2.0 + w) / 2.0, 1.0) << i << ", " << j;
                }
            }
        }
    }
}

TEST(PreviewRenderer, DamagedKeyframesAndPositionsBeforeTheFolderAreRefused) {
    test::KeyframeFolder folder(2, test::kKeyframeWidth, test::kKeyframeHeight, kPreviewWidth, kPreviewHeight);
    PreviewRenderer renderer;
    const PreviewSettings settings{&folder.list, nullptr, false, false};
    EXPECT_FALSE(RenderPreviewFrame(renderer, settings, -0.5f, 1.0f, 0.0f).ok);
    std::filesystem::resize_file(folder.dir / "00001.qvy", 100);
    const Status damaged = RenderPreviewFrame(renderer, settings, 0.5f, 1.0f, 0.0f);
    EXPECT_TRUE(test::failsSaying(damaged, "00001.qvy"));
    EXPECT_EQ(renderer.loadedKeyframe, -1);  // the next frame sets up again
}

}  // namespace
}  // namespace zoomreel
