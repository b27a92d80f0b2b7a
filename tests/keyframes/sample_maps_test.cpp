#include "keyframes/sample_maps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "keyframes/iteration_map.h"
#include "platform/worker_pool.h"
#include "test_util.h"

namespace zoomreel {
namespace {

// Writes the maps with `workers` threads and reads them all back, in name order, with the converter's reader.
std::pair<std::vector<std::string>, std::vector<IterationMap>> writeAndRead(const test::TempDir& dir,
                                                                            const SampleOptions& options, int workers) {
    WorkerPool pool(workers);
    EXPECT_TRUE(writeSampleMaps(dir.path(), options, pool).ok);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    std::vector<IterationMap> maps(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_TRUE(readIterationMap(dir / names[i], true, maps[i]).ok()) << names[i];
    return {names, maps};
}

TEST(SampleMaps, NamesCarryZoomsTheConverterDerivesByHalving) {
    test::TempDir dir;
    const std::vector<std::string> names = writeAndRead(dir, {40, 1, 1, 10}, 2).first;
    ASSERT_EQ(names.size(), 40u);
    EXPECT_EQ(names[19], "00020_1.04858e6.qvb");  // 2^20 = 1048576, cut to six digits
    Zoom halved = parseZoomField(names[0]).value();
    for (const std::string& name : names) {
        const Zoom named = parseZoomField(name).value();
        EXPECT_EQ(named.exponent, halved.exponent) << name;
        EXPECT_NEAR(named.mantissa, halved.mantissa, 1e-5 * named.mantissa) << name;
        halved = halveZoom(halved);
    }
}

// Zoom 1, the last map, takes in the main cardioid and bulbs as well as escaping points. Every pixel is computed
// alone, and pixel (x, y) of a map samples the same point as pixel (2x - W/2, 2y - H/2) of the next deeper one.
TEST(SampleMaps, ValuesAreSaneAndAgreeAcrossWorkerCountsAndLevels) {
    test::TempDir one, three;
    const auto [names, maps] = writeAndRead(one, {2, 64, 36, 2000}, 1);
    writeAndRead(three, {2, 64, 36, 2000}, 3);
    for (const std::string& name : names) EXPECT_EQ(test::readBytes(one / name), test::readBytes(three / name)) << name;
    int interior = 0;
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 36; ++y) {
            const int n = maps.at(1).count(x, y), deepX = 2 * x - 32, deepY = 2 * y - 18;
            const float f = maps[1].fraction(x, y);
            interior += n == 2000;
            EXPECT_TRUE(n == 2000 ? f == 0.0f : f >= 0.0f && f <= 1.0f && n - double{f} > 0.0) << n;
            if (deepX < 0 || deepX >= 64 || deepY < 0 || deepY >= 36) continue;
            ASSERT_EQ(std::make_pair(maps[0].count(deepX, deepY), maps[0].fraction(deepX, deepY)), std::make_pair(n, f))
                << x << "," << y;
        }
    EXPECT_TRUE(interior > 200 && interior < 64 * 36 - 200) << interior;
}

TEST(SampleMaps, RefusesBadOptionsWithoutCreatingTheFolder) {
    test::TempDir dir;
    WorkerPool pool(1);
    for (const SampleOptions options : {SampleOptions{0, 8, 8, 10}, {100000, 8, 8, 10}, {1, 0, 8, 10},
                                        {1, 8, 16385, 10}, {1, 8, 8, 0}})
        EXPECT_FALSE(writeSampleMaps(dir / "never", options, pool).ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "never"));
}

}  // namespace
}  // namespace zoomreel
