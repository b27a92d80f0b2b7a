// "zoomreel-cli render --resume": a 3D movie with minimum subtraction and colour rotation, stopped by Ctrl+C or
// killed part way, goes on from its first unfinished file with exactly the frames of an uninterrupted run; what
// cannot go on is refused without touching a file.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <regex>
#include <memory>
#include <string>
#include <vector>

#include "output/movie_probe.h"
#include "process.h"
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

Status saveRotation(const fs::path& folder, float perKeyframe) {
    return saveCurve(folder / "colorrot.qvs", KeyPointCurve{{{0, perKeyframe}, {5, -20}}});
}

class ResumeRender : public testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<test::TempDir>();
        ASSERT_TRUE(test::sampleAndConvert("maps", scratch_->path(), scratch_->path()));
        const fs::path maps = *scratch_ / "maps";
        Projection3DSettings projection;
        projection.sqrtIter = 1;
        ASSERT_TRUE(save3D(maps / k3DFileName, projection).ok);
        ASSERT_TRUE(saveSubtractMinimum(maps / kSubtractMinimumFileName, SubtractMinimumSettings{1, 5}).ok);
        ASSERT_TRUE(saveRotation(maps, 30).ok);
        // Two speed segments, so that a file can begin in either, and enough files after the third that the movie
        // is still running when the signal comes.
        ASSERT_TRUE(saveCurve(maps / "speed.qvs", KeyPointCurve{{{0, 12}, {2, 27}, {5, 18}}}).ok);
        fs::copy(maps, *scratch_ / "whole");
        ASSERT_EQ(cli(renderArgs("whole")).status, 0);
        uninterrupted_ = movieFrames(*scratch_ / "whole");
        ASSERT_GT(uninterrupted_.size(), 16u);
    }

    static test::ChildResult cli(const std::vector<std::string>& args) {
        return test::runCli(args, scratch_->path(), scratch_->path());
    }
    /// The movie in `folder`, a copy of the keyframes and settings, stopped by `signal` while its third file is
    /// written.
    static test::ChildResult stopMovie(const fs::path& folder, int signal) {
        fs::copy(*scratch_ / "maps", folder);
        test::Child child(ZOOMREEL_CLI_PATH, renderArgs(folder.filename()), scratch_->path(), scratch_->path());
        test::pollUntil([&] { return fs::exists(folder / "film(1-4)003.avi.part"); });
        child.signal(signal);
        return child.wait();
    }

    /// What cannot go on is refused, and no file of the stopped movie changes.
    static void expectRefusals(const fs::path& folder) {
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
            {[&] { test::writeBytes(record, {recordBytes.begin(), recordBytes.begin() + recordBytes.size() / 2}); },
             [&] { test::writeBytes(record, recordBytes); }, {}, "is damaged"},
            {[&] { fs::remove(record); }, [&] { test::writeBytes(record, recordBytes); }, {}, "There is no stopped movie"},
        };
        for (const auto& c : cases) {
            c.change();
            const auto before = test::folderBytes(folder);
            std::vector<std::string> args = renderArgs(folder.filename(), c.more);
            args.push_back("--resume");
            const test::ChildResult refused = cli(args);
            EXPECT_EQ(refused.status, 1) << c.said;
            EXPECT_NE(refused.err.find(c.said), std::string::npos) << refused.err;
            EXPECT_TRUE(test::folderBytes(folder) == before) << c.said;
            c.undo();
        }
    }

    static inline std::unique_ptr<test::TempDir> scratch_;
    static inline Frames uninterrupted_;
};

// Ctrl+C stops the movie at the next frame with every file finished, and the count on stderr is what the files
// listed on stdout hold; a kill leaves the file in progress as ".part". Either way the movie goes on, what cannot go
// on refused without touching a file.
TEST_F(ResumeRender, StoppedOrKilledMoviesGoOnWithTheFramesOfAnUninterruptedRun) {
    EXPECT_FALSE(fs::exists(*scratch_ / "whole" / "film(1-4).resume"));  // removed when the movie was done
    for (const int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal == SIGINT ? "Ctrl+C" : "SIGKILL");
        const fs::path folder = *scratch_ / (signal == SIGINT ? "interrupted" : "killed");
        const test::ChildResult stopped = stopMovie(folder, signal);
        if (stopped.exited && stopped.status == 0) GTEST_SKIP() << "the movie was done before the signal came";
        const fs::path record = folder / "film(1-4).resume";
        ASSERT_TRUE(fs::exists(record));
        EXPECT_EQ(fs::exists(folder / "film(1-4)003.avi.part"), signal == SIGKILL);
        if (signal == SIGINT) {
            EXPECT_EQ(stopped.status, 130) << stopped.err;
            std::smatch said;
            ASSERT_TRUE(std::regex_search(stopped.err, said,
                                          std::regex("Interrupted after (\\d+) frames written into (\\d+) movie files\\.")))
                << stopped.err;
            const auto files = test::filesWithExtension(folder, ".avi");
            std::string listed;
            for (const fs::path& file : files) listed += fs::relative(file, scratch_->path()).string() + "\n";
            EXPECT_EQ(stopped.out, listed);
            EXPECT_EQ(static_cast<int>(files.size()), std::stoi(said[2]));
            EXPECT_EQ(static_cast<int>(movieFrames(folder).size()), std::stoi(said[1]));
            expectRefusals(folder);
        }

        const test::ChildResult resumed = cli(renderArgs(folder.filename(), {"--resume"}));
        ASSERT_EQ(resumed.status, 0) << resumed.err;
        const Frames frames = movieFrames(folder);
        ASSERT_EQ(frames.size(), uninterrupted_.size());
        for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(frames[i] == uninterrupted_[i]) << "frame " << i;
        EXPECT_TRUE(test::filesWithExtension(folder, ".part").empty());
        EXPECT_FALSE(fs::exists(record));
    }
}


}  // namespace
}  // namespace zoomreel
