#include "render/frame_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

#include "render/keyframe_folder.h"
#include "status_check.h"
#include "test_util.h"

namespace zoomreel {
namespace {

constexpr int kWidth = test::kKeyframeWidth;
constexpr int kHeight = test::kKeyframeHeight;
using Folder = test::KeyframeFolder;

double cell(int k, int r, int c) { return test::keyframeCell(k, r, c); }

RenderSettings settingsFor(const KeyframeList& list, int frameWidth = kWidth, int projection = 0) {
    RenderSettings s;
    s.keyframes = &list;
    s.projection.active = projection;
    s.finalWidth = frameWidth;
    s.finalHeight = kHeight * frameWidth / kWidth;
    s.height3D = 20;
    return s;
}

bool render(FrameRenderer& r, const RenderSettings& s, float h, MovieFrameContext& c, float divisor = 1, float offset = 0) {
    return RenderMovieFrame(r, s, {}, h, divisor, offset, c).ok;
}

bool sameBytes(const Raster& a, const Raster& b) {
    return a.sizeBytes() == b.sizeBytes() && std::memcmp(a.data(), b.data(), a.sizeBytes()) == 0;
}

// Keyframe by keyframe, at a keyframe and the map's own size, the frame is level 0 coloured pixel by pixel: the
// cell the flips bring there, at palette position x / v (v = 0.5 * 1024 / u, w = 0) of the chosen palette.
TEST(FrameRenderer, KeyframeFrameIsItsMapFlippedAndColoured) {
    Folder folder(4);
    ColorTable table;
    for (int i = 0; i < kColorTableSize; ++i) table.entries[i] = {std::uint8_t(i / 2), std::uint8_t(255 - i / 2), 9};
    UserPaletteBytes userColors;
    userPaletteBytes(table, userColors);
    const std::vector<std::uint8_t> keyColors = test::keyframeColors();
    for (const auto& [flipH, flipV, user] : {std::tuple{false, false, false}, std::tuple{true, true, false},
                                             std::tuple{true, false, true}, std::tuple{false, true, true}}) {
        RenderSettings s = settingsFor(folder.list);
        s.keyframeByKeyframe = true;
        s.usePalette = user;
        s.colorTable = &table;
        s.flipHorizontal = flipH, s.flipVertical = flipV;
        FrameRenderer renderer(2);
        MovieFrameContext context;
        ASSERT_TRUE(render(renderer, s, 2.0f, context, 0.5f));
        const int u = user ? kColorTableSize : test::kKeyframeColors;
        const std::uint8_t* palette = user ? userColors.data() : keyColors.data();
        for (int r = 0; r < kHeight; ++r) {
            for (int c = 0; c < kWidth; ++c) {
                const double x = cell(2, flipV ? kHeight - 1 - r : r, flipH ? kWidth - 1 - c : c);
                const double y = x / (512.0 / u), f = y - static_cast<int>(y);
                const int i0 = static_cast<int>(y) % u, i1 = (i0 + 1) % u;
                for (int b = 0; b < 3; ++b) {
                    const double want = x == 0 ? 0 : palette[3 * i1 + b] * f + palette[3 * i0 + b] * (1 - f);
                    ASSERT_NEAR(context.frame.storedRow(r)[3 * c + b], want, 1) << r << "," << c << " " << user;
                }
            }
        }
    }
}

// Reading the next keyframe ahead changes when a file is read, not what is read or drawn; it flips what it reads
// too.
TEST(FrameRenderer, CacheReadsOneKeyframePerStepAndSynthesizesPastTheEnd) {
    Folder folder(6);
    const auto centre = [](const std::vector<double>& from, int i) {
        return from[(kHeight / 4 + i / kWidth / 2) * kWidth + kWidth / 4 + i % kWidth / 2];
    };
    std::vector<Raster> frames[2];
    for (const int run : {0, 1, 2}) {
        SCOPED_TRACE(run);
        RenderSettings s = settingsFor(folder.list, 32);
        s.flipHorizontal = s.flipVertical = run == 2;
        const auto at = [&](int k, int r, int c) {
            return run < 2 ? cell(k, r, c) : cell(k, kHeight - 1 - r, kWidth - 1 - c);
        };
        FrameRenderer renderer(1);
        renderer.readAhead = run != 0;
        MovieFrameContext context;
        const auto& levels = renderer.cache.levels;
        // Each frame: its position, the maps read by then and the keyframe the levels start at. From 4.0 on
        // keyframe 5 is the last: levels 2 and 3 are magnified centres of levels 1 and 2.
        for (const auto& [h, mapsRead, loaded] : {std::tuple{0.5f, 4u, 0}, {0.7f, 4u, 0}, {1.2f, 5u, 1}, {3.1f, 8u, 3},
                                                  {4.0f, 8u, 4}, {4.5f, 10u, 4}}) {
            if (h == 4.5f) freeRenderBuffers(renderer);  // set-up again: keyframes 4 and 5
            ASSERT_TRUE(render(renderer, s, h, context));
            if (run < 2) frames[run].push_back(context.frame);
            EXPECT_EQ(renderer.cache.mapsRead, mapsRead) << h;
            EXPECT_EQ(renderer.cache.loadedKeyframe, loaded) << h;
            EXPECT_TRUE(h != 1.2f || (levels[2][5] == at(3, 0, 5) && levels[3][7] == at(4, 0, 7)));
            if (h < 4.0f) continue;
            EXPECT_EQ(levels[1][3 * kWidth + 5], at(5, 3, 5));
            for (int level : {2, 3})
                for (int i = 0; i < kHeight * kWidth; ++i) ASSERT_EQ(levels[level][i], centre(levels[level - 1], i));
        }
    }
    for (std::size_t i = 0; i < frames[1].size(); ++i) EXPECT_TRUE(sameBytes(frames[0][i], frames[1][i])) << i;
}

TEST(FrameRenderer, BadKeyframeFilesStopTheRunWithTheirName) {
    Folder folder(6);
    const RenderSettings s = settingsFor(folder.list, 32);
    MovieFrameContext context;
    const auto fails = [&](FrameRenderer& renderer, float h, const char* name) {
        return test::failsSaying(RenderMovieFrame(renderer, s, {}, h, 1.0f, 0.0f, context), name);
    };
    {  // a missing file at set-up
        std::filesystem::rename(folder.dir / "00002.qvy", folder.dir / "moved");
        FrameRenderer renderer(1);
        EXPECT_TRUE(fails(renderer, 1.0f, "00002.qvy"));
        EXPECT_EQ(renderer.cache.loadedKeyframe, -1);
        std::filesystem::rename(folder.dir / "moved", folder.dir / "00002.qvy");
    }
    {  // a file cut short, met on a keyframe step; the run can set up again once it is whole
        FrameRenderer renderer(1);
        ASSERT_TRUE(render(renderer, s, 0.5f, context));
        const std::vector<std::uint8_t> whole = test::readBytes(folder.dir / "00004.qvy");
        std::filesystem::resize_file(folder.dir / "00004.qvy", whole.size() - 8);
        EXPECT_TRUE(fails(renderer, 1.5f, "00004.qvy"));
        test::writeBytes(folder.dir / "00004.qvy", whole);
        EXPECT_TRUE(render(renderer, s, 1.5f, context));
    }
    {  // read ahead: a file that fails is reported at the step that needs it, not before
        FrameRenderer renderer(2);
        renderer.readAhead = true;
        const std::vector<std::uint8_t> whole = test::readBytes(folder.dir / "00005.qvy");
        std::filesystem::resize_file(folder.dir / "00005.qvy", whole.size() - 8);
        EXPECT_TRUE(render(renderer, s, 0.5f, context) && render(renderer, s, 1.5f, context));
        EXPECT_TRUE(fails(renderer, 2.5f, "00005.qvy"));
        test::writeBytes(folder.dir / "00005.qvy", whole);
    }
    // Positions outside the folder and impossible frame sizes are refused, not rendered.
    FrameRenderer renderer(1);
    EXPECT_FALSE(render(renderer, s, 6.0f, context) || render(renderer, s, -0.5f, context));
    for (int side : {0, -3, kMaxFrameSide + 1, 90000000}) {
        RenderSettings bad = s;
        bad.finalWidth = side;
        EXPECT_FALSE(render(renderer, bad, 1.0f, context)) << side;
    }
}

// Keyframe by keyframe the 2D minimum is that of the frame's border cells (less 0.5), averaged over 30 frames; a
// border wholly inside the set finds none and keeps the previous one.
// Very small divisors push indices past the int32 range and a huge or NaN offset is still brought into range; the
// estimator without relief (it colours only with relief on) changes no pixel.
TEST(FrameRenderer, TwoDMinimumAndDegenerateColourInputs) {
    Folder folder(4);
    RenderSettings s = settingsFor(folder.list);
    s.keyframeByKeyframe = true;
    s.subtractMinimum.subtract = 1;
    FrameRenderer renderer(2);
    MovieFrameContext context;
    ASSERT_TRUE(render(renderer, s, 1.0f, context) && render(renderer, s, 2.0f, context));
    auto borderMinimum = [&](int n) {
        double m = 1e100;
        for (int i = 0; i < kHeight * kWidth; ++i) {
            const int r = i / kWidth, c = i % kWidth;
            if ((r % (kHeight - 1) == 0 || c % (kWidth - 1) == 0) && cell(n, r, c) != 0) m = std::min(m, cell(n, r, c));
        }
        return m - 0.5;
    };
    EXPECT_DOUBLE_EQ(renderer.runningMinimum2D, (29 * borderMinimum(1) + borderMinimum(2)) / 30);
    std::fill(renderer.cache.levels[0].begin(), renderer.cache.levels[0].end(), 0.0);  // a border inside the set
    const double before = renderer.runningMinimum2D;
    EXPECT_TRUE(render(renderer, s, 2.1f, context) && renderer.runningMinimum2D == before);

    s.keyframeByKeyframe = false;
    s.subtractMinimum.averageFrames = 0;
    for (float divisor : {1e-30f, 1e-6f, -3.0f})
        for (float offset : {0.0f, 1e30f, std::nanf("")}) EXPECT_TRUE(render(renderer, s, 0.5f, context, divisor, offset));
    EXPECT_TRUE(std::isfinite(renderer.runningMinimum2D));
    const Raster plain = (render(renderer, s, 0.55f, context), context.frame);
    s.relief.distanceEstimator = 1;
    EXPECT_TRUE(render(renderer, s, 0.55f, context) && sameBytes(context.frame, plain));
}

// A map one pixel wide still covers the whole frame: nothing of an earlier frame shows through.
TEST(FrameRenderer, OnePixelWideMapsCoverTheFrame) {
    Folder folder(3, 1, 6);
    RenderSettings s = settingsFor(folder.list, 8);
    s.finalHeight = 48;
    std::vector<Raster> frames;
    for (const std::uint8_t stale : {std::uint8_t{1}, std::uint8_t{2}}) {
        FrameRenderer renderer(1);
        MovieFrameContext context{Raster(8, 48), Raster()};
        context.frame.fill(stale, stale, stale);
        ASSERT_TRUE(render(renderer, s, 0.5f, context));
        frames.push_back(context.frame);
    }
    EXPECT_TRUE(sameBytes(frames[0], frames[1]));
}

// The projected pixels themselves are pinned by the frame hashes, and so is the 3D minimum, taken from the rows
// the previous frame showed. Here: the caption, blended into the 3D image's top-left corner and nowhere else; a
// frame that showed no row, which leaves nothing to search and keeps the minimum; and the end of the run, which
// frees the 3D buffers but keeps the kernel.
TEST(FrameRenderer, ThreeDCaptionMinimumAndBuffers) {
    Folder folder(5);
    RenderSettings s = settingsFor(folder.list, 256, 1);
    s.height3D = 40;
    s.caption.fontName = "Arial";
    std::vector<Raster> images;
    FrameRenderer renderer(2);
    MovieFrameContext context;
    for (const bool caption : {false, true}) {
        s.showZoomText = caption;
        freeRenderBuffers(renderer);  // a run of its own, with its own frames
        for (float h : {0.3f, 0.7f, 1.2f}) ASSERT_TRUE(render(renderer, s, h, context, 0.5f));
        images.push_back(context.frame3D);
    }
    EXPECT_FALSE(sameBytes(images[0], images[1]));
    for (int y = 20; y < 40; ++y) EXPECT_EQ(std::memcmp(images[0].rowFromTop(y), images[1].rowFromTop(y), 3 * 256), 0) << y;
    renderer.visibleRowFirst = s.finalHeight;
    renderer.visibleRowLast = 0;
    const double before = renderer.runningMinimum3D;
    ASSERT_TRUE(render(renderer, s, 1.4f, context));
    EXPECT_EQ(renderer.runningMinimum3D, before);
    freeRenderBuffers(renderer);
    EXPECT_TRUE(renderer.projection.heightField.empty());
    EXPECT_FALSE(renderer.projection.kernel.weights.empty());
}

TEST(FrameRenderer, PublishesOnceHoldsTheLockWhileDrawingAndAsksForARepaint) {
    Folder folder(4);
    const RenderSettings s = settingsFor(folder.list, 32, 1);
    std::recursive_mutex lock;
    int published = 0, setUps = 0, repaints = 0;
    bool lockFreeAtRepaint = true;
    const Raster* shown = nullptr;
    FrameHooks hooks;
    hooks.frameLock = &lock;
    hooks.publishImage = [&](const Raster& image) { ++published, shown = &image; };
    hooks.setUpOutput = [&] { return ++setUps, Status{}; };
    hooks.requestRepaint = [&] {  // the lock is free for another thread by then
        ++repaints;
        std::thread([&] { lock.try_lock() ? lock.unlock() : void(lockFreeAtRepaint = false); }).join();
    };
    FrameRenderer renderer(2);
    MovieFrameContext context;
    for (float h : {0.1f, 0.2f, 1.1f}) ASSERT_TRUE(RenderMovieFrame(renderer, s, hooks, h, 1.0f, 0.0f, context).ok);
    EXPECT_TRUE(published == 1 && setUps == 1 && repaints == 3 && lockFreeAtRepaint);
    EXPECT_EQ(shown, &context.frame3D);  // with 3D on, the 3D image is the one shown

    // A failed output set-up stops the run before anything is drawn.
    FrameRenderer refused(1);
    hooks.setUpOutput = [] { return Status::failure("No codec."); };
    EXPECT_EQ(RenderMovieFrame(refused, s, hooks, 0.1f, 1.0f, 0.0f, context).message, "No codec.");
    EXPECT_EQ(refused.cache.loadedKeyframe, -1);
}

}  // namespace
}  // namespace zoomreel
