// Ctrl+C during "zoomreel-cli render": the movie stops at the next frame, every file is finished, and the count
// on stderr is what the files hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "output/movie_probe.h"
#include "reliability/process.h"
#include "test_util.h"

namespace zoomreel {
namespace {

namespace fs = std::filesystem;

TEST(InterruptRender, SigintFinishesEveryFileAndCountsTheFramesInThem) {
    test::TempDir scratch;
    ASSERT_EQ(test::runCli({"sample", "maps", "--maps", "6", "--size", "96x54", "--max-iter", "300"}, scratch.path(),
                           scratch.path())
                  .status,
              0);
    ASSERT_EQ(test::runCli({"convert", "maps"}, scratch.path(), scratch.path()).status, 0);

    constexpr int kPerFile = 4;
    test::Child child(ZOOMREEL_CLI_PATH,
                      {"render", "maps", "--from", "1", "--to", "4", "--width", "96", "--height3d", "48",
                       "--frames-per-movie", std::to_string(kPerFile)},
                      scratch.path(), scratch.path());
    ASSERT_TRUE(child.started());
    // Interrupted once the second file is finished, so that the roll-over and a file in progress are both there.
    const fs::path second = scratch / "maps" / "film(1-4)002.avi";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(second) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    child.signal(SIGINT);
    const test::ChildResult result = child.wait();
    ASSERT_TRUE(fs::exists(second));
    if (result.exited && result.status == 0) GTEST_SKIP() << "the movie was done before the interrupt came";

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 130) << result.err;
    std::smatch said;
    ASSERT_TRUE(std::regex_search(result.err, said,
                                  std::regex("Interrupted after (\\d+) frames written into (\\d+) movie files\\.")))
        << result.err;
    const int frames = std::stoi(said[1]);
    const int files = std::stoi(said[2]);

    std::vector<fs::path> listed;
    for (std::size_t at = 0, next; (next = result.out.find('\n', at)) != std::string::npos; at = next + 1) {
        listed.push_back(scratch.path() / result.out.substr(at, next - at));
    }
    ASSERT_EQ(static_cast<int>(listed.size()), files);
    int decoded = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const test::DecodedMovie movie = test::decodeMovie(listed[i]);
        EXPECT_TRUE(movie.opened) << listed[i];
        if (i + 1 < listed.size()) {
            EXPECT_EQ(movie.frames.size(), static_cast<std::size_t>(kPerFile)) << listed[i];
        }
        decoded += static_cast<int>(movie.frames.size());
    }
    EXPECT_EQ(decoded, frames);
    for (const auto& entry : fs::directory_iterator(scratch / "maps")) {
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
        if (entry.path().extension() == ".avi") {
            EXPECT_NE(std::find(listed.begin(), listed.end(), entry.path()), listed.end()) << entry.path();
        }
    }
}

}  // namespace
}  // namespace zoomreel
