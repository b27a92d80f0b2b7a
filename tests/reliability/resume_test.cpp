// "zoomreel-cli render --resume": a 3D movie with minimum subtraction and colour rotation, stopped by Ctrl+C or
// killed part way, goes on from its first unfinished file with exactly the frames of an uninterrupted run; what
// cannot go on is refused without touching a file.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "output/movie_probe.h"
#include "reliability/process.h"
#include "settings/key_point_curve.h"
#include "settings/render_settings.h"
#include "test_util.h"

namespace zoomreel {
namespace {

namespace fs = std::filesystem;
using Frames = std::vector<std::vector<std::uint8_t>>;

std::vector<std::string> renderArgs(const std::string& folder, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"render", folder, "--from", "1", "--to", "4", "--width", "96", "--height3d", "48",
                                  "--frames-per-movie", "4", "--codec", "raw"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

Frames movieFrames(const fs::path& folder) {
    Frames frames;
    for (const fs::path& file : test::filesWithExtension(folder, ".avi")) {
        for (auto& frame : test::decodeMovie(file).frames) frames.push_back(std::move(frame));
    }
    return frames;
}

std::map<std::string, std::vector<std::uint8_t>> folderBytes(const fs::path& folder) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : fs::directory_iterator(folder)) files[entry.path().filename()] = test::readBytes(entry);
    return files;
}

Status saveRotation(const fs::path& folder, float perKeyframe) {
    return saveCurve(folder / "colorrot.qvs", KeyPointCurve{{{0, perKeyframe}, {5, -20}}});
}

class ResumeRender : public testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<test::TempDir>();
        ASSERT_EQ(cli({"sample", "maps", "--maps", "6", "--size", "96x54", "--max-iter", "300"}).status, 0);
        ASSERT_EQ(cli({"convert", "maps"}).status, 0);
        const fs::path maps = *scratch_ / "maps";
        Projection3DSettings projection;
        projection.sqrtIter = 1;
        ASSERT_TRUE(save3D(maps / k3DFileName, projection).ok);
        ASSERT_TRUE(saveSubtractMinimum(maps / kSubtractMinimumFileName, SubtractMinimumSettings{1, 5}).ok);
        ASSERT_TRUE(saveRotation(maps, 30).ok);
        // Two speed segments, so that a file can begin in either.
        ASSERT_TRUE(saveCurve(maps / "speed.qvs", KeyPointCurve{{{0, 4}, {2, 9}, {5, 6}}}).ok);
        fs::copy(maps, *scratch_ / "whole");
        ASSERT_EQ(cli(renderArgs("whole")).status, 0);
        uninterrupted_ = movieFrames(*scratch_ / "whole");
        ASSERT_GT(uninterrupted_.size(), 16u);
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    static test::ChildResult cli(const std::vector<std::string>& args) {
        return test::runCli(args, scratch_->path(), scratch_->path());
    }
    /// A copy of the keyframes and settings, the movie stopped by `signal` while its third file is written.
    static fs::path stoppedMovie(const std::string& name, int signal) {
        const fs::path folder = *scratch_ / name;
        fs::copy(*scratch_ / "maps", folder);
        test::Child child(ZOOMREEL_CLI_PATH, renderArgs(name), scratch_->path(), scratch_->path());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(folder / "film(1-4)003.avi.part") && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        child.signal(signal);
        const test::ChildResult result = child.wait();
        return result.exited && result.status == 0 ? fs::path() : folder;
    }

    static inline std::unique_ptr<test::TempDir> scratch_;
    static inline Frames uninterrupted_;
};

TEST_F(ResumeRender, StoppedOrKilledMoviesGoOnWithTheFramesOfAnUninterruptedRun) {
    EXPECT_FALSE(fs::exists(*scratch_ / "whole" / "film(1-4).resume"));  // removed when the movie was done
    for (const int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal == SIGINT ? "Ctrl+C" : "SIGKILL");
        const fs::path folder = stoppedMovie(signal == SIGINT ? "interrupted" : "killed", signal);
        if (folder.empty()) GTEST_SKIP() << "the movie was done before the signal came";
        const fs::path record = folder / "film(1-4).resume";
        ASSERT_TRUE(fs::exists(record));
        EXPECT_EQ(fs::exists(folder / "film(1-4)003.avi.part"), signal == SIGKILL);

        const test::ChildResult resumed = cli(renderArgs(folder.filename(), {"--resume"}));
        ASSERT_EQ(resumed.status, 0) << resumed.err;
        const Frames frames = movieFrames(folder);
        ASSERT_EQ(frames.size(), uninterrupted_.size());
        for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(frames[i] == uninterrupted_[i]) << "frame " << i;
        EXPECT_TRUE(test::filesWithExtension(folder, ".part").empty());
        EXPECT_FALSE(fs::exists(record));
    }
}

TEST_F(ResumeRender, WhatCannotGoOnIsRefusedAndNothingChanges) {
    const fs::path folder = stoppedMovie("refused", SIGINT);
    if (folder.empty()) GTEST_SKIP() << "the movie was done before the signal came";
    const fs::path record = folder / "film(1-4).resume";
    const auto recordBytes = test::readBytes(record);
    const struct {
        std::function<void()> change, undo;
        std::vector<std::string> more;
        std::string said;
    } cases[] = {
        {[&] { saveRotation(folder, 31); }, [&] { saveRotation(folder, 30); }, {}, "curves.colorrot differs"},
        {[] {}, [] {}, {"--codec", "FFV1", "--frames-per-movie", "5"}, "framesPerMovie and codec differ"},
        {[&] { fs::rename(folder / "film(1-4)001.avi", folder / "kept"); },
         [&] { fs::rename(folder / "kept", folder / "film(1-4)001.avi"); }, {}, "film(1-4)001.avi\" of the stopped"},
        {[&] { test::writeBytes(record, std::vector<std::uint8_t>(recordBytes.begin(), recordBytes.begin() + recordBytes.size() / 2)); },
         [&] { test::writeBytes(record, recordBytes); }, {}, "is damaged"},
        {[&] { fs::remove(record); }, [&] { test::writeBytes(record, recordBytes); }, {}, "There is no stopped movie"},
    };
    for (const auto& c : cases) {
        c.change();
        const auto before = folderBytes(folder);
        const test::ChildResult refused = cli(renderArgs(folder.filename(), [&] {
            auto more = c.more;
            more.push_back("--resume");
            return more;
        }()));
        EXPECT_EQ(refused.status, 1) << c.said;
        EXPECT_NE(refused.err.find(c.said), std::string::npos) << refused.err;
        EXPECT_TRUE(folderBytes(folder) == before) << c.said;
        c.undo();
    }
    EXPECT_EQ(cli(renderArgs(folder.filename(), {"--resume"})).status, 0);
}

}  // namespace
}  // namespace zoomreel
