#include "output/preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include "output/movie_driver.h"
#include "output/movie_probe.h"
#include "render/keyframe_folder.h"

namespace zoomreel {
namespace {

using namespace std::chrono_literals;

KeyPointCurve curveOf(std::vector<KeyPoint> points) { return KeyPointCurve{std::move(points)}; }

// The previews step as the frame count does (the step after a key point still at the speed of the segment just
// left), never show the first key point, and so part from the movie's walk, which shows the first key point and
// takes the new segment's speed at once.
TEST(PreviewWalk, StepsAsTheFrameCountAndPartsFromTheMovieAtTheKeyPoints) {
    const KeyPointCurve speed = curveOf({{0.5f, 4}, {2, 16}});
    std::vector<float> preview, movie;
    walkPreview(speed, 3, [&](float l, float) { return preview.push_back(l), true; });
    walkMovie(speed, WalkLimits{0, 3, 5, false}, nullptr, [&](float h, float) { return movie.push_back(h), true; });
    const auto below = [](const std::vector<float>& p, float x) {
        return static_cast<int>(std::count_if(p.begin(), p.end(), [x](float l) { return l < x; }));
    };
    EXPECT_EQ(below(preview, 3), countSpeedFrames(speed, 4, 0, 3).total);
    ASSERT_GT(movie.size(), 2u);
    EXPECT_EQ(movie[0], 0.5f);
    EXPECT_EQ(preview[0], 0.75f);
    const int past = below(preview, 2.0f);  // the first position past the key point
    ASSERT_LT(past + 1, static_cast<int>(preview.size()));
    EXPECT_TRUE(std::equal(preview.begin(), preview.begin() + past, movie.begin() + 1));
    EXPECT_LT(preview[past + 1] - preview[past], 1.0f / 16);  // segment 0's speed, beyond 16 past its end
    const int moviePast = below(movie, 2.0f);
    EXPECT_EQ(movie[moviePast + 1] - movie[moviePast], 1.0f / 16);

    // The rotation a frame starts from: rotation / speed over the positions below it, at quarter steps here.
    PreviewSetup setup;
    setup.speed = curveOf({{0, 4}});
    setup.colorRotate = curveOf({{0, 2}});
    EXPECT_EQ(previewRotationAt(setup, 3, 1.1f), 2.0f);  // 0.25, 0.5, 0.75, 1
    EXPECT_EQ(previewRotationAt(setup, 3, 1.0f), 1.5f);  // f itself is not included
}

/// A frame sink that holds the preview thread inside it until released, recording the positions shown.
struct GatedWindow {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    std::vector<float> shown;

    PreviewFrameSink sink() {
        return [this](const Raster&, float h) {
            std::unique_lock lock(mutex);
            shown.push_back(h);
            changed.notify_all();
            changed.wait(lock, [&] { return open; });
        };
    }
    void waitForFrames(std::size_t n) {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return shown.size() >= n; }));
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

struct PreviewFixture : ::testing::Test {
    test::KeyframeFolder folder{4, test::kKeyframeWidth, test::kKeyframeHeight, 20, 12};
    PreviewSource source;
    GatedWindow window;
    FramePreview preview{folder.list, source, window.sink()};

    /// Started, its first frame (at 1.1) held in the window.
    void startHeld() {
        preview.start();
        preview.requestPosition(1.1f);
        window.waitForFrames(1);
    }

    PreviewFixture() {
        folder.list.selectionStart = 0;
        folder.list.selectionEnd = 3;
        source.edit([](PreviewSetup& s) {
            s.speed = curveOf({{0, 4}});
            s.colorDivisor = curveOf({{0, 1}, {2, 3}});
            s.colorAdd = curveOf({{0, 0}});
            s.colorRotate = curveOf({{0, 0.5f}});
        });
    }
};

// Requests made while a frame is rendered replace one another: the latest is rendered next, whatever kind it is.
// A point request is rendered at the point's x as it is when its frame starts.
TEST_F(PreviewFixture, RendersOnlyTheLatestRequestAndFollowsADraggedPoint) {
    startHeld();
    preview.requestPosition(1.2f);
    preview.requestPoint(PreviewCurve::ColorRotate, 0);
    preview.requestPosition(2.3f);
    preview.requestPoint(PreviewCurve::ColorDivisor, 1);
    source.edit([](PreviewSetup& s) { movePoint(s.colorDivisor, 1, 2.6f, 3); });
    window.release();
    window.waitForFrames(2);
    preview.requestPoint(PreviewCurve::ColorAdd, 5);  // no such point: the last position again
    window.waitForFrames(3);
    preview.stop();
    EXPECT_EQ(window.shown, (std::vector<float>{1.1f, 2.6f, 2.6f}));
    EXPECT_TRUE(preview.lastStatus().ok);
}

// A stop waits for the frame in progress, is not lost to a request made meanwhile, and drops that request.
TEST_F(PreviewFixture, AStopDuringAFrameWaitsForItAndDropsWhatIsPending) {
    startHeld();
    preview.requestPosition(1.5f);
    std::future<void> stopped = std::async(std::launch::async, [&] { preview.stop(); });
    std::this_thread::sleep_for(50ms);
    preview.requestPosition(1.7f);
    EXPECT_EQ(stopped.wait_for(0s), std::future_status::timeout);
    window.release();
    stopped.get();
    EXPECT_FALSE(preview.running());
    EXPECT_EQ(window.shown, std::vector<float>{1.1f});
    preview.start();  // and it starts again, as after a preview video
    preview.requestPosition(2.5f);
    window.waitForFrames(2);
    EXPECT_EQ(window.shown.back(), 2.5f);
}

// The preview video: the preview walk's positions above the selection start, each frame the preview frame at its
// position, an abort taken at the next step with the file finished, and the browser started on it with the file
// as one argument, spaces and quotes included.
TEST_F(PreviewFixture, PreviewVideoWritesTheWalkAndStartsTheBrowserWithTheFileAsItsArgument) {
    const std::filesystem::path odd = folder.dir / "it's a \"preview\"";
    std::filesystem::create_directory(odd);
    const std::filesystem::path player = odd / "my player";
    const std::filesystem::path heard = folder.dir / "arguments.txt";
    std::ofstream(player) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << heard.string()
                          << ".part'\nmv '" << heard.string() << ".part' '" << heard.string() << "'\n";
    std::filesystem::permissions(player, std::filesystem::perms::owner_all);

    folder.list.selectionStart = 1;
    PreviewVideoRequest request;
    request.keyframes = &folder.list;
    request.setup = source.copy();
    request.setup.colorRotate = curveOf({{0, 0}});
    request.file = odd / "preview.avi";
    request.chooseCompressor = [](const CompressorRequest&) {
        return std::optional<CompressorChoice>(CompressorChoice{kUncompressed, 1, 10000});
    };
    request.videoBrowser = player.string();
    const std::atomic<std::int32_t> abort{0};
    const PreviewVideoOutcome outcome = PreviewVideoThread(request, {}, abort);
    ASSERT_TRUE(outcome.status.ok) << outcome.status.message;
    EXPECT_EQ(outcome.framesWritten, 7);  // 1.25 to 2.75: the last keyframe, 3, ends it
    const test::DecodedMovie movie = test::decodeMovie(request.file);
    ASSERT_EQ(movie.frames.size(), 7u);
    PreviewRenderer renderer;
    ASSERT_TRUE(renderFramePreview(renderer, folder.list, request.setup, 1.25f).ok);
    EXPECT_EQ(movie.frames[0], test::upright(renderer.frame));

    EXPECT_TRUE(outcome.browserStarted);
    test::pollUntil([&] { return std::filesystem::exists(heard); }, 5s);
    EXPECT_EQ(test::fileText(heard), request.file.string() + "\n");

    // Aborted after three frames: the file holds them, and the browser still plays it.
    std::atomic<std::int32_t> abortAfterThree{0};
    PreviewVideoCallbacks callbacks;
    int shown = 0;
    callbacks.showFrame = [&](const Raster&, float) { if (++shown == 3) abortAfterThree.store(1); };
    const PreviewVideoOutcome aborted = PreviewVideoThread(request, callbacks, abortAfterThree);
    EXPECT_EQ(std::tuple(aborted.aborted, aborted.framesWritten, aborted.browserStarted), std::tuple(true, 3, true));
    EXPECT_EQ(test::decodeMovie(request.file).frames.size(), 3u);
}

}  // namespace
}  // namespace zoomreel
