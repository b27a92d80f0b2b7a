#include "output/movie_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "output/movie_probe.h"
#include "output/soundtrack.h"
#include "render/keyframe_folder.h"
#include "settings/settings_file.h"

namespace zoomreel {
namespace {

using test::upright;

KeyPointCurve curveOf(std::vector<KeyPoint> points) { return KeyPointCurve{std::move(points)}; }

std::vector<float> positions(const KeyPointCurve& speed, WalkLimits limits, std::vector<float>* speeds = nullptr) {
    std::vector<float> hs;
    walkMovie(speed, limits, nullptr, [&](float h, float g) {
        hs.push_back(h);
        if (speeds != nullptr) speeds->push_back(g);
        return true;
    });
    return hs;
}

TEST(MovieWalk, KeyframeByKeyframeComputesEveryWholePositionStrictlyInsideTheSelection) {
    const WalkLimits limits{0, 10, 11, true};
    // Whatever the speed curve says: the movie gives the walk the single point (0, 1) in this mode, and the step
    // is 1 anyway.
    EXPECT_EQ(positions(curveOf({{0, 1}}), limits), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(positions(curveOf({{0, 37}, {4, 2}}), limits), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(countMovieFrames(curveOf({{0, 1}}), limits), 9);
}

TEST(MovieWalk, PositionsAccumulateInSinglePrecisionAlongGeometricSegments) {
    // 10 images per keyframe: h accumulates 0.1f step by step, and the stop tests see exactly that value.
    std::vector<float> expected;
    for (float h = 0.1f; h <= 3.0f; h += 0.1f) expected.push_back(h);
    EXPECT_EQ(positions(curveOf({{0, 10}}), WalkLimits{0, 3, 8, false}), expected);

    // From 10 to 40 images per keyframe between x = 0 and 2, then 40 on the last segment up to E; the positions
    // and speeds strictly between S = 1 and E = 4.
    std::vector<float> speeds, expectedSpeeds;
    const std::vector<float> hs = positions(curveOf({{0, 10}, {2, 40}}), WalkLimits{1, 4, 8, false}, &speeds);
    expected.clear();
    for (float h = 0; h < 4.0f;) {
        const float g = h < 2.0f ? std::exp(std::log(10.0f) + (std::log(40.0f) - std::log(10.0f)) * h / 2.0f) : 40.0f;
        if (h > 1.0f) expected.push_back(h), expectedSpeeds.push_back(g);
        h = h + 1.0f / g;
    }
    EXPECT_EQ(hs, expected);
    EXPECT_EQ(speeds, expectedSpeeds);
}

TEST(MovieWalk, StopsAtTheLastKeyframeOnAbortAndOnSpeedsThatCannotMove) {
    EXPECT_EQ(positions(curveOf({{0, 2}}), WalkLimits{0, 5, 4, false}).back(), 2.5f);  // keyframe 4 comes before E

    std::atomic<std::int32_t> abort{1};
    int steps = 0;
    const auto step = [&](float, float) { return ++steps > 0; };
    EXPECT_EQ(walkMovie(curveOf({{0, 2}}), WalkLimits{0, 3, 4, false}, &abort, step), WalkEnd::Aborted);
    EXPECT_EQ(steps, 0);

    // Speeds from damaged files end the walk instead of looping on one position or walking backwards.
    for (float speed : {-5.0f, 0.0f, std::numeric_limits<float>::quiet_NaN()}) {
        SCOPED_TRACE(speed);
        EXPECT_LE(countMovieFrames(curveOf({{0, speed}}), WalkLimits{0, 5, 6, false}), 1);
    }
    EXPECT_EQ(countMovieFrames(curveOf({{0, 1e30f}}), WalkLimits{1, 5, 6, false}), 0);
}

// --- The movie thread on a folder of small keyframes -------------------------------------------------------------

using Messages = std::vector<std::pair<MessageIcon, std::string>>;

/// The front end of a test: every callback recorded, the codec chosen as given, each shown frame kept.
struct Recorder {
    std::recursive_mutex frameLock;
    std::vector<std::string> events, titles;
    Messages messages;
    std::vector<float> frames;
    std::vector<Raster> shown;
    std::function<void(int)> afterFrame;
    FourCC codec = kUncompressed;

    MovieCallbacks callbacks() {
        MovieCallbacks c;
        c.frameLock = &frameLock;
        c.publishImage = [this](const Raster* image) { events.push_back(image != nullptr ? "publish" : "withdraw"); };
        c.repaint = [this](bool erase) { if (erase) events.push_back("erase"); };
        c.setTitle = [this](const std::string& title) { titles.push_back(title); };
        c.setMenusRunning = [this](bool running) { events.push_back(running ? "running" : "idle"); };
        c.chooseCompressor = [this](const CompressorRequest& request) {
            events.push_back("choose " + std::to_string(request.width) + "x" + std::to_string(request.height));
            return std::optional<CompressorChoice>(CompressorChoice{codec, 1, 10000});
        };
        c.showMessage = [this](MessageIcon icon, const std::string& text) { messages.emplace_back(icon, text); };
        c.frameDone = [this](const MovieProgress& progress, const Raster& image) {
            frames.push_back(progress.h);
            shown.push_back(image);
            if (afterFrame) afterFrame(progress.framesComputed);
        };
        return c;
    }
};

struct MovieFixture : ::testing::Test {
    test::KeyframeFolder folder{9, 32, 16};
    MovieDriver driver{2};
    Recorder recorder;

    MovieRequest request(int start, int end, float imagesPerKeyframe, int framesPerMovie = 1000) {
        folder.list.selectionStart = start;
        folder.list.selectionEnd = end;
        EXPECT_TRUE(saveCurve(settingsFilePath(folder.list, "speed.qvs"), curveOf({{0, imagesPerKeyframe}})).ok);
        MovieRequest r;
        r.keyframes = &folder.list;
        r.video.finalWidth = 64;
        r.video.height3D = 24;
        r.video.fps = 12;
        r.video.framesPerMovie = framesPerMovie;
        r.projection.active = 0;
        return r;
    }
    std::filesystem::path file(int start, int end, int index, MovieContainer container = MovieContainer::Avi) {
        return folder.dir / movieFileName(start, end, index, container);
    }
};

TEST_F(MovieFixture, FilesRollOverAfterFramesPerMovieAndHoldExactlyTheFramesShown) {
    // One image per keyframe over 0..8 of 9 keyframes: h = 1 ... 7, seven frames.
    const MovieOutcome seven = MovieThread(driver, request(0, 8, 1, 3), recorder.callbacks());
    ASSERT_TRUE(seven.status.ok) << seven.status.message;
    EXPECT_EQ(seven.framesWritten, 7);
    ASSERT_EQ(seven.files.size(), 3u);
    const int counts[] = {3, 3, 1};
    for (int f = 0; f < 3; ++f) {
        const auto movie = test::decodeMovie(file(0, 8, f + 1));
        EXPECT_EQ(std::tuple(movie.width, movie.height, movie.rateNumerator), std::tuple(64, 32, 12));  // 16 * 64 / 32
        ASSERT_EQ(static_cast<int>(movie.frames.size()), counts[f]) << "file " << f + 1;
        for (int i = 0; i < counts[f]; ++i) {
            EXPECT_EQ(movie.frames[i], upright(recorder.shown[static_cast<std::size_t>(3 * f + i)]))
                << "file " << f + 1 << " frame " << i;
        }
    }
    const std::string title = recorder.titles.back();  // the folder, the position, the file and frame, the timings
    EXPECT_EQ(title.rfind("Zoomreel - " + folder.dir.path().string() + " - Frame: 7.000 - film(0-8)003-001 C(", 0), 0u);
    EXPECT_NE(title.find(" N(0.00S) L(0.00S) S(0.00) A(0.00S)"), std::string::npos) << title;
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"publish", "choose 64x32", "withdraw", "idle", "erase"}));
    EXPECT_EQ(recorder.messages, (Messages{{MessageIcon::Warning, "Movie is done!"}}));

    // Six frames: the third writer is made but creates no file.
    const MovieOutcome six = MovieThread(driver, request(0, 7, 1, 3), recorder.callbacks());
    EXPECT_EQ(std::tuple(six.framesWritten, six.files.size()), std::tuple(6, 2u));
    EXPECT_FALSE(std::filesystem::exists(file(0, 7, 3)));
}

TEST_F(MovieFixture, ThreeDMoviesWriteTheLandscapeAtItsOwnHeight) {
    MovieRequest r = request(0, 2, 2);  // h = 0.5, 1, 1.5: E itself is where the walk ends
    r.projection.active = 1;
    ASSERT_TRUE(MovieThread(driver, r, recorder.callbacks()).status.ok);
    EXPECT_EQ(recorder.events[1], "choose 64x24");
    const auto movie = test::decodeMovie(file(0, 2, 1));
    ASSERT_EQ(std::tuple(movie.frames.size(), movie.height), std::tuple(3u, 24));
    EXPECT_EQ(movie.frames[1], upright(recorder.shown[1]));
}

TEST_F(MovieFixture, RotationAccumulatesPerComputedFrameFromTheSelectionStart) {
    ASSERT_TRUE(saveCurve(settingsFilePath(folder.list, "colorrot.qvs"), curveOf({{0, 10}})).ok);
    const MovieOutcome outcome = MovieThread(driver, request(1, 2, 10), recorder.callbacks());
    ASSERT_TRUE(outcome.status.ok);
    EXPECT_EQ(outcome.framesComputed, countMovieFrames(curveOf({{0, 10}}), WalkLimits{1, 2, 9, false}));
    EXPECT_GE(outcome.framesComputed, 9);
    // 10 per keyframe over 10 images: exactly 1 per computed frame, none for the steps up to S.
    EXPECT_EQ(driver.cumulativeRotation, static_cast<float>(outcome.framesComputed));
}

TEST_F(MovieFixture, ComputeOneFrameRendersTheFirstStepAboveTheTargetAndWritesNothing) {
    MovieRequest r = request(1, 3, 4);
    driver.singleFrameTarget = 1.6f;
    MovieOutcome outcome = MovieThread(driver, r, recorder.callbacks());
    EXPECT_TRUE(outcome.status.ok && outcome.files.empty());
    EXPECT_EQ(recorder.frames, std::vector<float>{1.75f});
    EXPECT_EQ(driver.singleFrameTarget.load(), -1.0f);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"publish", "withdraw", "idle"}));  // no codec, no erase
    EXPECT_TRUE(test::filesWithExtension(folder.dir.path(), ".avi").empty());

    // At E the stop test comes first: nothing is rendered.
    recorder.frames.clear();
    driver.singleFrameTarget = 3.0f;
    EXPECT_EQ(MovieThread(driver, r, recorder.callbacks()).framesComputed, 0);
    EXPECT_TRUE(recorder.frames.empty());

    // A new position asked for the moment the last run is idle stays a single frame, not a movie.
    for (int run = 0; run < 10; ++run) {
        driver.singleFrameTarget = 1.6f;
        ASSERT_TRUE(StartMovie(driver, r, recorder.callbacks()));
        while (driver.running.load()) std::this_thread::yield();
    }
    WaitForMovie(driver);
    EXPECT_EQ(driver.lastOutcome.framesComputed, 1);
    EXPECT_TRUE(test::filesWithExtension(folder.dir.path(), ".avi").empty());
}

TEST_F(MovieFixture, AbortOnTheMovieThreadLeavesPlayableFilesAndNoMessage) {
    recorder.afterFrame = [this](int computed) { if (computed == 4) AbortMovie(driver); };
    ASSERT_TRUE(StartMovie(driver, request(0, 4, 4, 3), recorder.callbacks()));
    WaitForMovie(driver);
    const MovieOutcome& outcome = driver.lastOutcome;
    // The frame being made when the user aborted is finished and written.
    EXPECT_EQ(std::tuple(outcome.aborted, outcome.framesWritten, outcome.files.size()), std::tuple(true, 4, 2u));
    EXPECT_EQ(test::decodeMovie(file(0, 4, 1)).frames.size(), 3u);
    EXPECT_EQ(test::decodeMovie(file(0, 4, 2)).frames.size(), 1u);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(recorder.events.front(), "running");

    // Stopped while the codec is being asked for (the program closing): no file at all.
    MovieCallbacks closing = recorder.callbacks();
    closing.chooseCompressor = [this](const CompressorRequest&) {
        AbortMovie(driver);
        return std::optional<CompressorChoice>();
    };
    ASSERT_TRUE(StartMovie(driver, request(5, 7, 4), closing));
    WaitForMovie(driver);
    EXPECT_EQ(std::tuple(driver.lastOutcome.aborted, driver.lastOutcome.framesWritten), std::tuple(true, 0));
    EXPECT_FALSE(std::filesystem::exists(file(5, 7, 1)));
}

TEST_F(MovieFixture, FailuresStopTheMovieWithTheirReasonAndKeepWhatWasWritten) {
    // A keyframe that cannot be read: the frames before it are in a finished file. The frames at h hold
    // keyframes trunc(h) to trunc(h) + 3, so h = 2 is the first to need keyframe 5.
    const std::vector<std::uint8_t> whole = test::readBytes(folder.dir / "00005.qvy");
    std::filesystem::resize_file(folder.dir / "00005.qvy", 100);
    MovieOutcome outcome = MovieThread(driver, request(0, 4, 2), recorder.callbacks());
    test::writeBytes(folder.dir / "00005.qvy", whole);
    EXPECT_EQ(std::tuple(outcome.status.ok, outcome.framesWritten), std::tuple(false, 3));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].first, MessageIcon::Error);
    EXPECT_NE(recorder.messages[0].second.find("00005.qvy"), std::string::npos);
    EXPECT_EQ(test::decodeMovie(file(0, 4, 1)).frames.size(), 3u);

    // A file that cannot be finished (the device is full): the movie stops there, and only the files before it
    // are reported as made.
    recorder.messages.clear();
    std::filesystem::create_symlink("/dev/full", partialFileName(file(0, 8, 2)));
    outcome = MovieThread(driver, request(0, 8, 1, 3), recorder.callbacks());
    EXPECT_FALSE(outcome.status.ok);
    EXPECT_EQ(outcome.files, std::vector<std::filesystem::path>{file(0, 8, 1)});
    EXPECT_EQ(test::decodeMovie(file(0, 8, 1)).frames.size(), 3u);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_NE(recorder.messages[0].second.find("film(0-8)002.avi"), std::string::npos) << recorder.messages[0].second;
}

// A soundtrack shorter than the movie, from 0.3 s in, no whole number of samples per frame: each file carries the
// samples of its frames (frame f begins with sample f * rate / fps), then silence; a resumed movie the same ones.
TEST_F(MovieFixture, EachFileCarriesTheSoundOfItsFramesAndAResumedMovieTheSameSound) {
    constexpr int kRate = 11025, kFps = 12, kPerFile = 5;  // the frame rate of request()
    const std::vector<std::int16_t> tone = test::toneSamples(kRate, 1, 1.5);
    test::writeWav(folder.dir / "tone.wav", kRate, 1, tone);
    auto soundOf = [&](int files, MovieContainer container) {
        std::vector<std::vector<float>> sound(static_cast<std::size_t>(files));
        for (int f = 0; f < files; ++f) sound[f] = test::decodeMovie(file(0, 8, f + 1, container)).samples;
        return sound;
    };
    // The tolerance in samples: none for the lossless sounds, one AAC frame.
    const struct { MovieContainer container; FourCC codec; int tolerance; } cases[] = {
        {MovieContainer::Avi, kUncompressed, 0}, {MovieContainer::Matroska, makeFourCC("FFV1"), 0},
        {MovieContainer::Mp4, makeFourCC("H264"), 1024}};
    for (const auto& c : cases) {
        SCOPED_TRACE(containerName(c.container));
        if (!findCompressor(fourCCText(c.codec))) continue;
        recorder.codec = c.codec;
        MovieRequest r = request(0, 8, 4, kPerFile);
        r.video.container = c.container;
        r.video.soundtrack = (folder.dir / "tone.wav").string();
        r.video.soundtrackStart = 0.3;
        const MovieOutcome whole = MovieThread(driver, r, recorder.callbacks());
        ASSERT_TRUE(whole.status.ok) << whole.status.message;
        const int files = static_cast<int>(whole.files.size());
        ASSERT_GE(files, 5);
        const std::vector<std::vector<float>> sound = soundOf(files, c.container);
        std::vector<float> joined;
        for (int f = 0; f < files; ++f) {
            const std::int64_t first = std::int64_t{f} * kPerFile;
            const std::int64_t last = std::min<std::int64_t>(first + kPerFile, whole.framesWritten);
            const std::int64_t expected = last * kRate / kFps - first * kRate / kFps;
            EXPECT_NEAR(static_cast<double>(sound[f].size()), static_cast<double>(expected), c.tolerance)
                << "file " << f + 1;
            joined.insert(joined.end(), sound[f].begin(), sound[f].end());
        }
        if (c.tolerance == 0) {
            const std::size_t start = 3308;  // 0.3 s, rounded
            ASSERT_EQ(joined.size(), static_cast<std::size_t>(whole.framesWritten * kRate / kFps));
            for (std::size_t i = 0; i < joined.size(); ++i) {
                const float source = start + i < tone.size() ? tone[start + i] / 32768.0f : 0.0f;
                ASSERT_EQ(joined[i], source) << "sample " << i;
            }
        }
        if (c.container != MovieContainer::Matroska) continue;

        // Stopped in its third file, then resumed: the same files, the same sound.
        recorder.afterFrame = [&](int computed) { if (computed == 2 * kPerFile + 2) AbortMovie(driver); };
        const MovieOutcome stopped = MovieThread(driver, r, recorder.callbacks());
        recorder.afterFrame = nullptr;
        driver.abortRequested = 0;
        ASSERT_TRUE(stopped.aborted);
        StoppedMovie found = findStoppedMovie(r, r.video);
        ASSERT_EQ(found.state, StoppedMovie::State::Found) << found.message;
        r.resume = found.record;
        ASSERT_TRUE(MovieThread(driver, r, recorder.callbacks()).status.ok);
        EXPECT_TRUE(soundOf(files, c.container) == sound);
    }
}

// The colour sensitivity multiplies the divisor and divides the offset: a movie at sensitivity 2 is the movie at
// sensitivity 1 with a doubled divisor and halved colour add and rotation.
TEST_F(MovieFixture, ColourSensitivityScalesTheDivisorAndTheOffset) {
    const auto folderFile = [&](const char* name) { return settingsFilePath(folder.list, name); };
    auto movie = [&](float sensitivity, float divisor, float add, float rotation) {
        Palette palette;
        palette.colorSensitivity = sensitivity;
        EXPECT_TRUE(savePalette(folderFile("palette.qvs"), palette).ok);
        const std::pair<const char*, float> curves[] = {{"colordiv.qvs", divisor}, {"coloradd.qvs", add},
                                                        {"colorrot.qvs", rotation}};
        for (const auto& [name, value] : curves) EXPECT_TRUE(saveCurve(folderFile(name), curveOf({{0, value}})).ok);
        recorder.shown.clear();
        driver.singleFrameTarget = 2.2f;
        EXPECT_TRUE(MovieThread(driver, request(1, 3, 4), recorder.callbacks()).status.ok);
        return recorder.shown.empty() ? std::vector<std::uint8_t>() : upright(recorder.shown.back());
    };
    const std::vector<std::uint8_t> scaled = movie(2.0f, 3.0f, 0.25f, 5.0f);
    ASSERT_FALSE(scaled.empty());
    EXPECT_EQ(scaled, movie(1.0f, 6.0f, 0.125f, 2.5f));
    EXPECT_NE(scaled, movie(1.0f, 3.0f, 0.25f, 5.0f));
}

}  // namespace
}  // namespace zoomreel
