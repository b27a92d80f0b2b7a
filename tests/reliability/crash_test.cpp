// SIGKILL at random moments while files are being written: whatever moment the kill comes, every file left under
// its own name must be whole. The kill times come from fixed seeds, so that a failure reproduces.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "output/movie_probe.h"
#include "process.h"
#include "reliability/settings_versions.h"
#include "test_util.h"

namespace zoomreel {
namespace {

namespace fs = std::filesystem;
using test::Child;
using test::ChildResult;
using test::TempDir;

constexpr unsigned kSeeds[] = {11, 23, 37, 41, 53, 67, 79, 83, 97, 101, 113, 127};

/// Kills `child` `fromMs` to `toMs` milliseconds from now, the delay drawn from `seed`.
ChildResult killAfter(Child& child, unsigned seed, int fromMs, int toMs) {
    std::mt19937 random(seed);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(fromMs, toMs)(random)));
    return child.kill();
}

TEST(CrashKill, SettingsFilesAreAlwaysOneWholeVersion) {
    TempDir scratch;
    const fs::path version[] = {scratch / "a", scratch / "b"};
    for (int v = 0; v < 2; ++v) ASSERT_TRUE(fs::create_directories(version[v]) && test::saveAllSettings(version[v], v).ok);

    for (const unsigned seed : kSeeds) {
        const fs::path folder = scratch / ("run" + std::to_string(seed));
        fs::create_directories(folder);
        Child child(ZOOMREEL_CRASH_CHILD_PATH, {folder.string()}, scratch.path(), scratch.path());
        ASSERT_TRUE(child.waitForOutput("ready", std::chrono::seconds(30))) << "seed " << seed;
        const ChildResult killed = killAfter(child, seed, 0, 40);
        ASSERT_FALSE(killed.exited) << "seed " << seed << ": " << killed.err;
        // Hidden temporary files may stay behind a kill; they never carry a name the program reads.
        for (const char* name : test::kAllSettingsFiles) {
            const auto bytes = test::readBytes(folder / name);
            EXPECT_TRUE(bytes == test::readBytes(version[0] / name) || bytes == test::readBytes(version[1] / name))
                << name << " after the kill of seed " << seed << " (" << bytes.size() << " bytes)";
        }
    }
}

TEST(CrashKill, EveryKeyframeLeftByAKilledConversionReadsWhole) {
    TempDir scratch;
    // Larger maps than the movies', so that the kills fall while keyframes are being written.
    ASSERT_EQ(test::runCli({"sample", "large", "--maps", "10", "--size", "192x108", "--max-iter", "300"},
                           scratch.path(), scratch.path()).status, 0);
    for (const unsigned seed : kSeeds) {
        const fs::path folder = scratch / ("convert" + std::to_string(seed));
        fs::copy(scratch / "large", folder);
        Child child(ZOOMREEL_CLI_PATH, {"convert", folder.string()}, scratch.path(), scratch.path());
        killAfter(child, seed, 100, 400);
        for (const fs::path& file : test::filesWithExtension(folder, ".qvy")) {
            EXPECT_TRUE(test::keyframeWhole(file)) << file << " after the kill of seed " << seed;
        }
        fs::remove_all(folder);
    }
}

/// A movie killed at a random frame over the files of an uninterrupted run: a file in progress exists only under its
/// ".part" name, so every file under a movie's name is finished and holds exactly the frames of the uninterrupted
/// run's file, the earlier one staying whole until the new one takes its place; whatever of the cut-off file
/// decodes is the frames it should hold. The next run of the selection replaces it.
TEST(CrashKill, AKilledMovieLeavesOnlyFinishedFilesUnderMovieNames) {
    TempDir scratch;
    ASSERT_TRUE(test::sampleAndConvert("keyframes", scratch.path(), scratch.path()));
    // Full frames of 90 kB, a file of about 1 MB: the output buffers hundreds of kilobytes, and a file in progress
    // must be past that to hold some frames when it is cut off.
    constexpr int kPerFile = 12;
    const std::vector<std::string> render = {"render", "keyframes", "--from", "1", "--to", "4", "--width", "320",
                                             "--height3d", "96", "--fps", "10", "--codec", "raw",
                                             "--frames-per-movie", std::to_string(kPerFile)};
    auto movies = [&] { return test::filesWithExtension(scratch / "keyframes", ".avi"); };
    auto parts = [&] { return test::filesWithExtension(scratch / "keyframes", ".part"); };
    const ChildResult reference = test::runCli(render, scratch.path(), scratch.path());
    ASSERT_EQ(reference.status, 0) << reference.err;
    std::vector<test::DecodedMovie> expected;
    for (const fs::path& file : movies()) expected.push_back(test::decodeMovie(file));
    ASSERT_GE(expected.size(), 3u);
    auto indexOf = [](const fs::path& file) {  // "film(1-4)NNN.avi[.part]"
        const std::string name = file.filename().string();
        return std::stoi(name.substr(name.find(')') + 1, 3)) - 1;
    };

    for (const unsigned seed : std::span(kSeeds).first(10)) {
        for (const auto& f : parts()) fs::remove(f);
        Child child(ZOOMREEL_CLI_PATH, render, scratch.path(), scratch.path());
        killAfter(child, seed, 200, 700);
        for (const fs::path& file : movies()) {
            const int index = indexOf(file);
            ASSERT_LT(index, static_cast<int>(expected.size())) << file;
            const test::DecodedMovie movie = test::decodeMovie(file);
            EXPECT_TRUE(movie.opened && movie.frames == expected[index].frames)
                << file << " after the kill of seed " << seed << ": " << movie.frames.size() << " frames";
        }
        const auto cut = parts();
        EXPECT_LE(cut.size(), 1u) << "seed " << seed;
        for (const fs::path& file : cut) {
            const int index = indexOf(file);
            ASSERT_LT(index, static_cast<int>(expected.size())) << file;
            // Must not crash, may not open. The library's complaints about the cut-off frame are expected.
            const int logLevel = av_log_get_level();
            av_log_set_level(AV_LOG_QUIET);
            const test::DecodedMovie movie = test::decodeMovie(file);
            av_log_set_level(logLevel);
            const auto& want = expected[index].frames;
            EXPECT_LE(movie.frames.size(), want.size()) << file;
            // The frame the kill cut through is refused by the decoder (a full frame of the wrong size); every frame
            // it gives is whole.
            for (std::size_t i = 0; i < movie.frames.size() && i < want.size(); ++i) {
                EXPECT_EQ(movie.frames[i], want[i]) << file << " frame " << i << ", seed " << seed;
            }
        }
    }

    // The next run of the selection replaces what a kill left.
    const ChildResult again = test::runCli(render, scratch.path(), scratch.path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(parts().empty());
    EXPECT_EQ(movies().size(), expected.size());
}

}  // namespace
}  // namespace zoomreel
