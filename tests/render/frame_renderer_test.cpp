#include "render/frame_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/resampler.h"
#include "render/keyframe_folder.h"
#include "test_util.h"
#include "status_check.h"

namespace zoomreel {
namespace {

constexpr int kWidth = test::kKeyframeWidth;
constexpr int kHeight = test::kKeyframeHeight;
constexpr int kColors = test::kKeyframeColors;
using Folder = test::KeyframeFolder;
using test::keyframeColors;

double cell(int k, int r, int c) { return test::keyframeCell(k, r, c); }

RenderSettings settingsFor(const KeyframeList& list, int frameWidth = kWidth) {
    RenderSettings s;
    s.keyframes = &list;
    s.projection.active = 0;
    s.finalWidth = frameWidth;
    s.finalHeight = kHeight * frameWidth / kWidth;
    s.height3D = 20;
    return s;
}

bool sameBytes(const Raster& a, const Raster& b) {
    return a.sizeBytes() == b.sizeBytes() && std::memcmp(a.data(), b.data(), a.sizeBytes()) == 0;
}

// The frame is its levels (one keyframe by keyframe, four otherwise) read flipped as asked, each coloured whole
// with the frame's colour shift and stretched outermost first: drawing only what stays visible must not change a
// pixel. The colouring itself is checked against its formulas in the level colouring's tests.
TEST(FrameRenderer, FrameIsItsLevelsColouredAndStretchedOutermostFirst) {
    Folder folder(6);
    ColorTable table;
    for (int i = 0; i < kColorTableSize; ++i) table.entries[i] = {std::uint8_t(i / 2), std::uint8_t(255 - i / 2), 9};
    UserPaletteBytes userColors;
    userPaletteBytes(table, userColors);
    const std::vector<std::uint8_t> keyColors = keyframeColors();
    struct Case {
        const char* name;
        float h;
        bool byKeyframe, userPalette, flipH, flipV, subtract, relief;
    };
    const Case cases[] = {{"keyframe palette", 2.0f, true, false, false, false, false, false},
                          {"user palette", 2.0f, true, true, false, false, false, false},
                          {"flipped both ways", 2.0f, true, false, true, true, false, false},
                          {"flipped across", 2.0f, true, false, true, false, false, false},
                          {"minimum subtracted", 2.0f, true, false, false, true, true, false},
                          {"relief", 2.0f, true, true, false, false, false, true},
                          {"four levels", 1.37f, false, false, false, false, false, true},
                          {"four levels, late", 1.93f, false, true, true, false, true, false}};
    const float divisor = 0.3f, offset = 0.37f;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        RenderSettings s = settingsFor(folder.list, k.byKeyframe ? kWidth : 40);
        s.keyframeByKeyframe = k.byKeyframe;
        s.usePalette = k.userPalette;
        s.colorTable = &table;
        s.flipHorizontal = k.flipH;
        s.flipVertical = k.flipV;
        s.subtractMinimum.subtract = k.subtract ? 1 : 0;
        s.relief.active = k.relief ? 1 : 0;
        FrameRenderer renderer(2);
        MovieFrameContext context;
        ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, k.h - 1, divisor, offset, context).ok);
        ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, k.h, divisor, offset, context).ok);

        const int key = static_cast<int>(k.h);
        for (int r = 0; r < kHeight; ++r)
            for (int c = 0; c < kWidth; ++c)
                ASSERT_EQ(renderer.cache.levels[0][r * kWidth + c],
                          cell(key, k.flipV ? kHeight - 1 - r : r, k.flipH ? kWidth - 1 - c : c));
        const int u = k.userPalette ? kColorTableSize : kColors;
        const double v = static_cast<float>(divisor * 1024.0f / static_cast<float>(u));
        double w = static_cast<double>(offset) * u;
        if (k.subtract && k.byKeyframe) {
            // The first frame subtracted keyframe 1's border minimum; the second averages in keyframe 2's.
            auto borderMinimum = [&](int n) {
                double m = 1e100;
                for (int r = 0; r < kHeight; ++r)
                    for (int c = 0; c < kWidth; ++c) {
                        const bool edge = r == 0 || c == 0 || r == kHeight - 1 || c == kWidth - 1;
                        if (edge && cell(n, r, c) != 0) m = std::min(m, cell(n, r, c));
                    }
                return m - 0.5;
            };
            EXPECT_DOUBLE_EQ(renderer.runningMinimum2D, (29 * borderMinimum(1) + borderMinimum(2)) / 30);
        }
        if (k.subtract) w -= renderer.runningMinimum2D / v;
        while (w < 0) w += u;
        while (w >= u) w -= u;

        const FrameGeometry g = frameGeometry(k.h, kWidth, kHeight);
        Raster expected(s.finalWidth, s.finalHeight), level(kWidth, kHeight);
        RenderJob job;
        job.destination = &level;
        job.width = kWidth;
        job.height = kHeight;
        job.colorStep = v;
        job.colorShift = w;
        job.paletteLength = u;
        job.palette = k.userPalette ? userColors.data() : keyColors.data();
        job.relief = &s.relief;
        deriveLevelFrameAngles(0, s.relief, s.projection, job.angles);
        auto picture = [](PixelRect r, int height) { return PixelRect{r.x, height - r.y - r.height, r.width, r.height}; };
        for (int L = 0; L < (k.byKeyframe ? 1 : 4); ++L) {
            job.rows = renderer.cache.levels[L].data();
            job.levelScale = g.t * (1 << L);
            colorLevelRows(job, 0, 1);
            const LevelPlacement p =
                L == 0 ? LevelPlacement{{g.srcX, g.srcY, g.srcW, g.srcH}, {0, 0, s.finalWidth, s.finalHeight}}
                       : levelPlacement(L, g.t, s.finalWidth, s.finalHeight, kWidth, kHeight);
            stretchAreaAverage(level, picture(p.source, kHeight), expected, picture(p.destination, s.finalHeight));
        }
        EXPECT_TRUE(sameBytes(context.frame, expected));
    }
}

TEST(FrameRenderer, CompositionRectangles) {
    // At t = 1 the deeper levels cover the centred half, quarter and eighth of the frame, each from its whole map.
    const FrameGeometry whole = frameGeometry(3.0f, 1920, 1080);
    EXPECT_EQ(whole.t, 1.0);
    EXPECT_TRUE(whole.srcX == 0 && whole.srcY == 0 && whole.srcW == 1920 && whole.srcH == 1080);
    const PixelRect expected[] = {{320, 180, 640, 360}, {480, 270, 320, 180}, {560, 315, 160, 90}};
    for (int level = 1; level <= 3; ++level) {
        const LevelPlacement p = levelPlacement(level, 1.0, 1280, 720, 1920, 1080);
        const PixelRect& d = expected[level - 1];
        EXPECT_TRUE(p.destination.x == d.x && p.destination.y == d.y && p.destination.width == d.width &&
                    p.destination.height == d.height) << level;
        EXPECT_TRUE(p.source.x == 0 && p.source.y == 0 && p.source.width == 1920 && p.source.height == 1080);
    }
    // Half-way (t = 2^-0.5): level 0 shows its centred 71 %; the destination of level 1 is rounded outwards to
    // whole pixels and its source trimmed to match, keeping the scale within a pixel.
    const FrameGeometry half = frameGeometry(2.5f, 1920, 1080);
    EXPECT_NEAR(half.t, std::sqrt(0.5), 1e-9);
    EXPECT_TRUE(half.srcX == 281 && half.srcY == 158 && half.srcW == 1357 && half.srcH == 763);
    const LevelPlacement p = levelPlacement(1, half.t, 1280, 720, 1920, 1080);
    EXPECT_EQ(p.destination.x, 1280 - p.destination.x - p.destination.width);  // centred
    EXPECT_EQ(p.destination.y, 720 - p.destination.y - p.destination.height);
    EXPECT_GE(p.destination.x, 640 * (1 - 0.5 / half.t));
    EXPECT_NEAR(double(p.source.width) / p.destination.width, 2 * half.t * 1920 / 1280, 2.0 / 905);
    // Near the next keyframe level 1 grows to (almost) the whole frame.
    const LevelPlacement late = levelPlacement(1, frameGeometry(2.999f, 1920, 1080).t, 1280, 720, 1920, 1080);
    EXPECT_GE(late.destination.width, 1278);
    EXPECT_GE(late.destination.height, 718);
}

TEST(FrameRenderer, CacheReadsOneKeyframePerStepAndSynthesizesPastTheEnd) {
    Folder folder(6);
    const RenderSettings s = settingsFor(folder.list, 32);
    // Reading the next keyframe ahead changes when a file is read, not what is read or drawn.
    std::vector<Raster> frames[2];
    for (const bool readAhead : {false, true}) {
        SCOPED_TRACE(readAhead);
        FrameRenderer renderer(1);
        renderer.readAhead = readAhead;
        MovieFrameContext context;
        auto render = [&](float h) {
            const bool ok = RenderMovieFrame(renderer, s, {}, h, 1.0f, 0.0f, context).ok;
            frames[readAhead].push_back(context.frame);
            return ok;
        };
        ASSERT_TRUE(render(0.5f));
        EXPECT_EQ(renderer.cache.mapsRead, 4u);  // set-up: keyframes 0 to 3
        ASSERT_TRUE(render(0.7f));
        EXPECT_EQ(renderer.cache.mapsRead, 4u);
        ASSERT_TRUE(render(1.2f));
        EXPECT_EQ(renderer.cache.mapsRead, 5u);  // keyframe 4
        EXPECT_EQ(renderer.cache.levels[0][5], cell(1, 0, 5));
        ASSERT_TRUE(render(3.1f));  // a jump reloads the levels: keyframes 3 to 5, the fourth magnified
        EXPECT_EQ(renderer.cache.mapsRead, 8u);
        EXPECT_EQ(renderer.cache.loadedKeyframe, 3);

        // Keyframe 5 is the last: levels 2 and 3 of keyframe 4 are magnified centres, level 3 of level 2.
        ASSERT_TRUE(render(4.0f));
        EXPECT_EQ(renderer.cache.mapsRead, 8u);
        const auto& levels = renderer.cache.levels;
        EXPECT_EQ(levels[1][3 * kWidth + 5], cell(5, 3, 5));
        for (int level : {2, 3}) {
            for (int r = 0; r < kHeight; ++r)
                for (int c = 0; c < kWidth; ++c)
                    ASSERT_EQ(levels[level][r * kWidth + c],
                              levels[level - 1][(kHeight / 4 + r / 2) * kWidth + kWidth / 4 + c / 2]);
        }
        freeRenderBuffers(renderer);
        EXPECT_EQ(renderer.cache.loadedKeyframe, -1);
        ASSERT_TRUE(render(4.5f));
        EXPECT_EQ(renderer.cache.mapsRead, 10u);  // set-up again: keyframes 4 and 5
    }
    ASSERT_EQ(frames[0].size(), frames[1].size());
    for (std::size_t i = 0; i < frames[0].size(); ++i) EXPECT_TRUE(sameBytes(frames[0][i], frames[1][i])) << i;
}

// Neither the number of workers nor the distance estimator without relief (it colours only with relief on)
// changes the frame.
TEST(FrameRenderer, WorkerCountAndAnUnusedEstimatorDoNotChangeTheFrame) {
    Folder folder(5);
    for (const bool relief : {true, false}) {
        RenderSettings s = settingsFor(folder.list, 40);
        s.relief.active = relief ? 1 : 0;
        s.subtractMinimum.subtract = 1;
        std::vector<Raster> frames;
        for (int workers : {1, 2, 7}) {
            if (!relief && workers == 7) s.relief.distanceEstimator = 1;
            FrameRenderer renderer(workers);
            renderer.inputs.frameLightAngle = 30;
            MovieFrameContext context;
            for (float h : {0.2f, 0.6f, 1.4f}) ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, h, 0.7f, 0.2f, context).ok);
            frames.push_back(context.frame);
        }
        EXPECT_TRUE(sameBytes(frames[0], frames[1]));
        EXPECT_TRUE(sameBytes(frames[0], frames[2]));
    }
}

TEST(FrameRenderer, BadKeyframeFilesStopTheRunWithTheirName) {
    Folder folder(6);
    const RenderSettings s = settingsFor(folder.list, 32);
    MovieFrameContext context;
    {  // a missing file at set-up
        std::filesystem::rename(folder.dir / "00002.qvy", folder.dir / "moved");
        FrameRenderer renderer(1);
        EXPECT_TRUE(test::failsSaying(RenderMovieFrame(renderer, s, {}, 1.0f, 1.0f, 0.0f, context), "00002.qvy"));
        EXPECT_EQ(renderer.cache.loadedKeyframe, -1);
        std::filesystem::rename(folder.dir / "moved", folder.dir / "00002.qvy");
    }
    {  // a file cut short, met on a keyframe step; the run can set up again once it is whole
        FrameRenderer renderer(1);
        ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, 0.5f, 1.0f, 0.0f, context).ok);
        const std::vector<std::uint8_t> whole = test::readBytes(folder.dir / "00004.qvy");
        std::filesystem::resize_file(folder.dir / "00004.qvy", whole.size() - 8);
        EXPECT_TRUE(test::failsSaying(RenderMovieFrame(renderer, s, {}, 1.5f, 1.0f, 0.0f, context), "00004.qvy"));
        test::writeBytes(folder.dir / "00004.qvy", whole);
        EXPECT_TRUE(RenderMovieFrame(renderer, s, {}, 1.5f, 1.0f, 0.0f, context).ok);
    }
    {  // read ahead: a file that fails is reported at the step that needs it, not before
        FrameRenderer renderer(2);
        renderer.readAhead = true;
        const std::vector<std::uint8_t> whole = test::readBytes(folder.dir / "00005.qvy");
        std::filesystem::resize_file(folder.dir / "00005.qvy", whole.size() - 8);
        EXPECT_TRUE(RenderMovieFrame(renderer, s, {}, 0.5f, 1.0f, 0.0f, context).ok);
        EXPECT_TRUE(RenderMovieFrame(renderer, s, {}, 1.5f, 1.0f, 0.0f, context).ok);
        EXPECT_TRUE(test::failsSaying(RenderMovieFrame(renderer, s, {}, 2.5f, 1.0f, 0.0f, context), "00005.qvy"));
        test::writeBytes(folder.dir / "00005.qvy", whole);
    }
    {  // positions outside the folder and impossible frame sizes are refused, not rendered
        FrameRenderer renderer(1);
        EXPECT_FALSE(RenderMovieFrame(renderer, s, {}, 6.0f, 1.0f, 0.0f, context).ok);
        EXPECT_FALSE(RenderMovieFrame(renderer, s, {}, -0.5f, 1.0f, 0.0f, context).ok);
        for (int side : {0, -3, kMaxFrameSide + 1, 90000000}) {
            RenderSettings bad = s;
            bad.finalWidth = side;
            EXPECT_FALSE(RenderMovieFrame(renderer, bad, {}, 1.0f, 1.0f, 0.0f, context).ok) << side;
        }
    }
}

TEST(FrameRenderer, DegenerateColourInputsStillGiveAFrame) {
    Folder folder(4);
    RenderSettings s = settingsFor(folder.list, 32);
    s.subtractMinimum.subtract = 1;
    s.subtractMinimum.averageFrames = 0;
    FrameRenderer renderer(2);
    MovieFrameContext context;
    // Very small divisors push indices past the int32 range; a huge or NaN offset is still brought into range.
    for (float divisor : {1e-30f, 1e-6f, -3.0f})
        for (float offset : {0.0f, 1e30f, std::nanf("")})
            EXPECT_TRUE(RenderMovieFrame(renderer, s, {}, 0.5f, divisor, offset, context).ok);
    EXPECT_TRUE(std::isfinite(renderer.runningMinimum2D));

    // A visible border wholly inside the set (all zeros) finds no minimum: the previous one stays.
    const double before = renderer.runningMinimum2D;
    std::vector<double>& level0 = renderer.cache.levels[0];
    std::fill(level0.begin(), level0.end(), 0.0);
    EXPECT_TRUE(RenderMovieFrame(renderer, s, {}, 0.6f, 1.0f, 0.0f, context).ok);
    EXPECT_EQ(renderer.runningMinimum2D, before);
}

// A map one pixel wide still covers the whole frame: nothing of an earlier frame shows through.
TEST(FrameRenderer, OnePixelWideMapsCoverTheFrame) {
    Folder folder(3, 1, 6);
    RenderSettings s = settingsFor(folder.list, 8);
    s.finalHeight = 48;
    std::vector<Raster> frames;
    for (int stale : {1, 2}) {
        FrameRenderer renderer(1);
        MovieFrameContext context;
        context.frame = Raster(8, 48);
        const auto b = static_cast<std::uint8_t>(stale);
        context.frame.fill(b, b, b);
        ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, 0.5f, 1.0f, 0.0f, context).ok);
        frames.push_back(context.frame);
    }
    EXPECT_TRUE(sameBytes(frames[0], frames[1]));
}

// The projected pixels themselves are pinned by the frame hashes; here the caption, blended into the 3D image's
// top-left corner and nowhere else, and the end of the run, which frees the 3D buffers but keeps the kernel.
TEST(FrameRenderer, ThreeDCaptionAndBuffers) {
    Folder folder(5);
    RenderSettings s = settingsFor(folder.list, 256);
    s.projection.active = 1;
    s.height3D = 40;
    s.caption.fontName = "Arial";
    std::vector<Raster> images;
    FrameRenderer renderer(2);
    for (const bool caption : {false, true}) {
        s.showZoomText = caption;
        freeRenderBuffers(renderer);  // a run of its own, with its own frames
        MovieFrameContext context;
        for (float h : {0.3f, 0.7f, 1.2f}) ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, h, 0.5f, 0.0f, context).ok);
        images.push_back(context.frame3D);
    }
    EXPECT_FALSE(sameBytes(images[0], images[1]));
    for (int y = 20; y < 40; ++y) EXPECT_EQ(std::memcmp(images[0].rowFromTop(y), images[1].rowFromTop(y), 3 * 256), 0) << y;
    freeRenderBuffers(renderer);
    EXPECT_TRUE(renderer.projection.heightField.empty());
    EXPECT_FALSE(renderer.projection.kernel.weights.empty());
}

TEST(FrameRenderer, ThreeDMinimumComesFromTheRowsThePreviousFrameShowed) {
    Folder folder(4);
    RenderSettings s = settingsFor(folder.list, 96);
    s.projection.active = 1;
    s.subtractMinimum.averageFrames = 1;  // each frame's own minimum, not an average
    s.height3D = 60;
    FrameRenderer renderer(2);
    MovieFrameContext context;
    ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, 0.2f, 1.0f, 0.0f, context).ok);
    const int first = renderer.visibleRowFirst, last = renderer.visibleRowLast;
    ASSERT_TRUE(first < last && last < s.finalHeight);
    ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, 0.4f, 1.0f, 0.0f, context).ok);
    const FrameGeometry g = frameGeometry(0.4f, kWidth, kHeight);
    const int r0 = static_cast<int>(static_cast<double>(kHeight * first) * g.t / s.finalHeight + g.srcY);
    const int rc = static_cast<int>(static_cast<double>((last - first) * kHeight) * g.t / s.finalHeight);
    EXPECT_EQ(renderer.runningMinimum3D,
              minimumInRect(renderer.cache.levels[0], kWidth, kHeight, g.srcX, r0, g.srcW, rc));
    // A frame that showed no row leaves nothing to search: the minimum stays.
    renderer.visibleRowFirst = s.finalHeight;
    renderer.visibleRowLast = 0;
    const double before = renderer.runningMinimum3D;
    ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, 0.6f, 1.0f, 0.0f, context).ok);
    EXPECT_EQ(renderer.runningMinimum3D, before);
}

TEST(FrameRenderer, PublishesOnceHoldsTheLockWhileDrawingAndAsksForARepaint) {
    Folder folder(4);
    RenderSettings s = settingsFor(folder.list, 32);
    s.projection.active = 1;
    std::recursive_mutex lock;
    int published = 0, setUps = 0, repaints = 0;
    bool lockFreeAtRepaint = true;
    const Raster* shown = nullptr;
    FrameHooks hooks;
    hooks.frameLock = &lock;
    hooks.publishImage = [&](const Raster& image) { ++published, shown = &image; };
    hooks.setUpOutput = [&] { return ++setUps, Status{}; };
    hooks.requestRepaint = [&] {
        ++repaints;
        std::thread other([&] {
            if (lock.try_lock()) lock.unlock();
            else lockFreeAtRepaint = false;
        });
        other.join();
    };
    FrameRenderer renderer(2);
    MovieFrameContext context;
    for (float h : {0.1f, 0.2f, 1.1f}) ASSERT_TRUE(RenderMovieFrame(renderer, s, hooks, h, 1.0f, 0.0f, context).ok);
    EXPECT_EQ(published, 1);
    EXPECT_EQ(setUps, 1);
    EXPECT_EQ(repaints, 3);
    EXPECT_TRUE(lockFreeAtRepaint);
    EXPECT_EQ(shown, &context.frame3D);  // with 3D on, the 3D image is the one shown
    EXPECT_EQ(context.frame3D.height(), 20);

    // A failed output set-up stops the run before anything is drawn.
    FrameRenderer refused(1);
    hooks.setUpOutput = [] { return Status::failure("No codec."); };
    EXPECT_EQ(RenderMovieFrame(refused, s, hooks, 0.1f, 1.0f, 0.0f, context).message, "No codec.");
    EXPECT_EQ(refused.cache.loadedKeyframe, -1);
}

}  // namespace
}  // namespace zoomreel
