#include "keyframes/sample_maps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "keyframes/iteration_map.h"
#include "platform/worker_pool.h"
#include "test_util.h"

namespace zoomreel {
namespace {

std::vector<std::string> mapNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes the maps with `workers` threads and reads them all back with the converter's reader.
std::vector<IterationMap> writeAndRead(const test::TempDir& dir, const SampleOptions& options, int workers = 2) {
    WorkerPool pool(workers);
    const Status status = writeSampleMaps(dir.path(), options, pool);
    EXPECT_TRUE(status.ok) << status.message;
    std::vector<IterationMap> maps;
    for (const std::string& name : mapNames(dir.path())) {
        const MapReadResult read = readIterationMap(dir / name, true, maps.emplace_back());
        EXPECT_TRUE(read.ok()) << name << ": " << read.message;
    }
    return maps;
}

double smooth(const IterationMap& map, int x, int y) { return map.count(x, y) - double{map.fraction(x, y)}; }

TEST(SampleMaps, NamesCarryZoomsTheConverterDerivesByHalving) {
    test::TempDir small, deep;
    writeAndRead(small, {5, 2, 2, 10});
    EXPECT_EQ(mapNames(small.path()), (std::vector<std::string>{"00001_1.6e1.qvb", "00002_8e0.qvb", "00003_4e0.qvb",
                                                                 "00004_2e0.qvb", "00005_1e0.qvb"}));
    writeAndRead(deep, {40, 1, 1, 10});
    const std::vector<std::string> names = mapNames(deep.path());
    ASSERT_EQ(names.size(), 40u);
    EXPECT_EQ(names[19], "00020_1.04858e6.qvb");  // 2^20 = 1048576, cut to six digits
    Zoom halved = parseZoomField(names[0]).value();
    for (const std::string& name : names) {
        const Zoom named = parseZoomField(name).value();
        EXPECT_LE(name.size() - 6, 15u) << name;
        EXPECT_EQ(named.exponent, halved.exponent) << name;
        EXPECT_NEAR(named.mantissa, halved.mantissa, 1e-5 * named.mantissa) << name;
        halved = halveZoom(halved);
    }
}

// The widest view, zoom 1: centre -0.743643887037151 + 0.131825904205330i, 3 units wide, pixel (x, y) at
// (x - W/2, H/2 - y) pixels from the centre, escape radius 2^16. At the limit of 7 the far corners escape right
// at the limit; at 2000 the cardioid, the bulbs and cycles found in the orbits take the shortcuts.
TEST(SampleMaps, WidestViewMatchesPlainIteration) {
    for (const int limit : {7, 2000}) {
        test::TempDir dir;
        const IterationMap map = writeAndRead(dir, {1, 64, 36, limit}).at(0);
        EXPECT_EQ(map.iterationLimit, limit);
        int interior = 0;
        for (int x = 0; x < map.width; ++x) {
            for (int y = 0; y < map.height; ++y) {
                const double cr = -0.743643887037151 + (x - 32) * (3.0 / 64);
                const double ci = 0.131825904205330 + (18 - y) * (3.0 / 64);
                double zr = 0.0, zi = 0.0;
                int n = 1;
                for (; n < limit; ++n) {
                    const double t = zr * zr - zi * zi + cr;
                    zi = 2.0 * zr * zi + ci;
                    zr = t;
                    if (zr * zr + zi * zi > 65536.0 * 65536.0) break;
                }
                ASSERT_EQ(map.count(x, y), n) << limit << ": " << x << "," << y;
                const float fraction = map.fraction(x, y);
                interior += n == limit;
                if (n == limit) EXPECT_EQ(fraction, 0.0f);
                else EXPECT_TRUE(fraction >= 0.0f && fraction <= 1.0f && smooth(map, x, y) > 0.0) << fraction;
            }
        }
        EXPECT_GT(interior, 200);
    }
}

TEST(SampleMaps, SmoothValueHasNoStepsAwayFromTheSetAndColorsCycleSmoothly) {
    test::TempDir dir;
    const IterationMap map = writeAndRead(dir, {1, 256, 144, 100}).at(0);
    double largestStep = 0.0;
    int bandsCrossed = 0;
    for (int x = 0; x + 1 < map.width; ++x) {
        for (int y = 0; y + 1 < map.height; ++y) {
            if (smooth(map, x, y) > 7.0) continue;
            for (const auto& [nx, ny] : {std::pair{x + 1, y}, std::pair{x, y + 1}}) {
                largestStep = std::max(largestStep, std::abs(smooth(map, nx, ny) - smooth(map, x, y)));
                bandsCrossed += map.count(nx, ny) != map.count(x, y);
            }
        }
    }
    EXPECT_GT(bandsCrossed, 100);
    EXPECT_LT(largestStep, 0.5);  // a count without its fraction, or with it turned round, steps by about 1

    ASSERT_EQ(map.colorCount, 256);
    for (std::size_t i = 0; i < map.colors.size(); ++i)
        EXPECT_LE(std::abs(map.colors[i] - map.colors[(i + 3) % map.colors.size()]), 32) << "colour " << i / 3;
}

// Pixel (x, y) of a map samples the same point as pixel (2x - W/2, 2y - H/2) of the next deeper one, and every
// pixel is computed alone, so neither the level nor the worker count may change a value.
TEST(SampleMaps, LevelsAgreeWhereTheyOverlapWhateverTheWorkerCount) {
    test::TempDir one, three;
    const std::vector<IterationMap> maps = writeAndRead(one, {3, 64, 36, 2000}, 1);
    ASSERT_EQ(maps.size(), 3u);
    for (int deep = 0; deep < 2; ++deep) {
        for (int x = 16; x < 48; ++x) {
            for (int y = 9; y < 27; ++y) {
                ASSERT_EQ(maps[deep].count(2 * x - 32, 2 * y - 18), maps[deep + 1].count(x, y)) << x << "," << y;
                ASSERT_EQ(maps[deep].fraction(2 * x - 32, 2 * y - 18), maps[deep + 1].fraction(x, y));
            }
        }
    }
    std::vector<int> progress;
    WorkerPool pool(3);
    ASSERT_TRUE(writeSampleMaps(three.path(), {3, 64, 36, 2000}, pool, [&](int done, int total) {
        progress.push_back(total == 3 ? done : -1);
    }).ok);
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3}));
    for (const std::string& name : mapNames(one.path()))
        EXPECT_EQ(test::readBytes(one / name), test::readBytes(three / name)) << name;
}

TEST(SampleMaps, RefusesBadOptionsAndNamesTheFileThatFails) {
    test::TempDir dir;
    WorkerPool pool(1);
    for (const SampleOptions options : {SampleOptions{0, 8, 8, 10}, SampleOptions{100000, 8, 8, 10},
                                        SampleOptions{1, 0, 8, 10}, SampleOptions{1, 8, 16385, 10},
                                        SampleOptions{1, 8, 8, 0}}) {
        EXPECT_FALSE(writeSampleMaps(dir / "never", options, pool).ok);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "never"));

    test::writeBytes(dir / "file", {1});
    EXPECT_NE(writeSampleMaps(dir / "file" / "maps", {1, 8, 8, 10}, pool).message.find("file"), std::string::npos);
    std::filesystem::create_directories(dir / "maps" / "00002_1e0.qvb");  // a folder where a map should go
    const Status status = writeSampleMaps(dir / "maps", {2, 8, 8, 10}, pool);
    EXPECT_NE(status.message.find("00002_1e0.qvb"), std::string::npos) << status.message;
}

}  // namespace
}  // namespace zoomreel
