#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "keyframes/conversion.h"
#include "platform/worker_pool.h"
#include "test_util.h"
#include "status_check.h"

namespace zoomreel {
namespace {

using test::TempDir;

constexpr int kW = 10;
constexpr int kH = 6;
constexpr int kLimit = 1000;

/// A 10 x 6 map: count (x, y) = x + 10y + 1 with fraction 0.25, except the top-left pixel, at the iteration
/// limit. 1024 colours (entry 0 black) with divisor 1: one colour entry per iteration.
IterationMap rampMap() {
    IterationMap m;
    m.width = kW;
    m.height = kH;
    m.counts.resize(kW * kH);
    m.fractions.assign(kW * kH, 0.25f);
    for (int x = 0; x < kW; ++x)
        for (int y = 0; y < kH; ++y) m.counts[x * kH + y] = x + 10 * y + 1;
    m.counts[0] = kLimit;
    m.iterationLimit = kLimit;
    m.colorCount = 1024;
    for (int j = 0; j < 1024; ++j) m.colors.insert(m.colors.end(), {std::uint8_t(4 * j), std::uint8_t(j), 200});
    m.colors[0] = m.colors[1] = m.colors[2] = 0;
    return m;
}

void writeMap(const std::filesystem::path& path, const IterationMap& map) {
    ASSERT_TRUE(writeIterationMap(path, map).ok);
}

struct ConversionRun {
    ConversionResult result;
    KeyframeList list;
    std::vector<int> progress;
    int previewQuestions = 0;
    Raster lastImage;  ///< the published image as it was after the last map
};

ConversionRun convertFolder(const std::filesystem::path& folder) {
    ConversionRun run;
    run.list.folder = folder;
    scanMaps(run.list);
    if (Status planned = planConversion(run.list); !planned) {
        run.result.status = planned;
        return run;
    }
    const Raster* published = nullptr;
    ConversionCallbacks callbacks;
    callbacks.progress = [&](int i, int) { run.progress.push_back(i); };
    callbacks.choosePreviewBlock = [&](int w, int h) {
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(kW, kH));
        ++run.previewQuestions;
        return 2;
    };
    callbacks.publishImage = [&](const Raster* image, const Raster*) { published = image; };
    callbacks.imageChanged = [&] { run.lastImage = *published; };
    WorkerPool pool(2);
    std::recursive_mutex frameLock;
    run.result = runConversion(run.list, callbacks, pool, frameLock);
    EXPECT_EQ(published, nullptr) << "the image is withdrawn at the end";
    return run;
}

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

TEST(Conversion, KeyframeBytesAndImageFollowFromTheMap) {
    TempDir dir;
    IterationMap m = rampMap();
    m.counts[kH] = 0;  // pixel (1, 0): value -0.25, below every colour
    writeMap(dir / "00001_1.25e27.qvb", m);
    const ConversionRun run = convertFolder(dir.path());
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;

    const auto b = test::readBytes(dir / "00000.qvy");
    // Preview block 2: SW = 10 / 2 rounded down to a multiple of 4 = 4, SH = 6 * 4 / 10 = 2.
    ASSERT_EQ(b.size(), 27704u + 3 * 1024 + 8 * (4 * 2 + kW * kH));
    // Minimum, maximum (pixel (9, 5)), zoom, colour divisor, SW and SH; the average of all but the limit pixel.
    EXPECT_EQ(std::make_tuple(at<double>(b, 8), at<double>(b, 16), at<float>(b, 32), at<std::int32_t>(b, 36),
                              at<std::int32_t>(b, 27688), at<std::int32_t>(b, 27692), at<std::int32_t>(b, 27696)),
              std::make_tuple(-0.25, 59.75, 1.25f, 27, 1, 4, 2));
    EXPECT_DOUBLE_EQ(at<double>(b, 24), (1830.0 - 1 - 2) / 59 - 0.25);
    const std::vector<std::uint8_t> firstColors(b.begin() + 27704, b.begin() + 27710);
    EXPECT_EQ(firstColors, (std::vector<std::uint8_t>{60, 60, 60, 4, 1, 200}));
    const std::size_t preview = 27704 + 3 * 1024;
    // Stored preview rows 2r and 2r + 1 are source rows 5 - 2r and 4 - 2r, averaged; the full map bottom row first.
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(at<double>(b, preview + 8 * (r * 4 + c)), 2 * c + 0.5 + 10 * (4.5 - 2 * r) + 0.75) << r << c;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const double expected = x == 0 && y == 0 ? 0.0 : x == 1 && y == 0 ? -0.25 : x + 10 * y + 0.75;
            EXPECT_EQ(at<double>(b, preview + 8 * (8 + (kH - 1 - y) * kW + x)), expected) << x << "," << y;
        }

    // Pixel (3, 2) has value 23.75: entries 23 and 24 blended by 0.75. The limit pixel is black, and -0.25 lies
    // between the last entry and entry 0 (read as (60, 60, 60)), three quarters of the way.
    const Raster& image = run.lastImage;
    const std::uint8_t* p = image.rowFromTop(2) + 3 * 3;
    EXPECT_EQ(p[0], static_cast<int>(96 * 0.75 + 92 * 0.25));
    EXPECT_EQ(p[1], static_cast<int>(24 * 0.75 + 23 * 0.25));
    EXPECT_EQ(image.rowFromTop(0)[0], 0);
    EXPECT_EQ(image.rowFromTop(0)[3 + 2], static_cast<int>(60 * 0.75 + 200 * 0.25));
}

// The widest map, 00003, is all interior: empty statistics and a black thumbnail.
TEST(Conversion, NamesRunFromTheWidestMapAndTheZoomHalves) {
    TempDir dir;
    IterationMap interior = rampMap();
    std::fill(interior.counts.begin(), interior.counts.end(), kLimit);
    writeMap(dir / "00001_1.25e27.qvb", rampMap());
    writeMap(dir / "00002_9e9.qvb", rampMap());
    writeMap(dir / "00003_9e9.qvb", interior);
    const ConversionRun run = convertFolder(dir.path());
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;
    EXPECT_EQ(run.progress, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(run.previewQuestions, 1);
    ASSERT_TRUE(run.list.loaded);
    EXPECT_EQ(run.list.names, (std::vector<std::string>{"00000.qvy", "00001.qvy", "00002.qvy"}));
    // Map 00001 (the deepest) becomes the last keyframe with the zoom of its name.
    const auto& s = run.list.summaries;
    EXPECT_EQ(std::make_pair(s[2].zoomMantissa, s[2].zoomExponent), std::make_pair(1.25f, 27));
    EXPECT_EQ(std::make_pair(s[1].zoomMantissa, s[1].zoomExponent), std::make_pair(6.25f, 26));
    EXPECT_EQ(std::make_pair(s[0].zoomMantissa, s[0].zoomExponent), std::make_pair(3.125f, 26));
    EXPECT_EQ(std::make_tuple(s[0].minimum, s[0].maximum, s[0].average), std::make_tuple(1e100, 0.0, 0.0));
    const auto* t = s[0].thumbnail.data();
    EXPECT_TRUE(std::all_of(t, t + s[0].thumbnail.sizeBytes(), [](std::uint8_t v) { return v == 0; }));
}

TEST(Conversion, PreviewSizes) {
    // Width, height, block; then the preview's width (cut down to a multiple of 4) and height.
    for (const auto& [w, h, block, sw, sh] : {std::array{1920, 1080, 40, 48, 27}, {1920, 1080, 2, 960, 540},
                                             {1000, 1000, 3, 332, 332}, {7, 7, 2, 0, 0}}) {
        const PreviewSize s = previewSizeFor(w, h, block);
        EXPECT_EQ(std::make_pair(s.width, s.height), std::make_pair(sw, sh)) << w << "x" << h << "/" << block;
    }
}

// Each folder the conversion refuses, the message, and the keyframes written before it stopped.
TEST(Conversion, StopsWithAMessageAndKeepsWhatWasWritten) {
    IterationMap wider = rampMap();
    wider.width = kW + 1;
    wider.counts.resize((kW + 1) * kH, 5);
    wider.fractions.resize((kW + 1) * kH, 0.f);
    IterationMap tooManyColors = rampMap();
    tooManyColors.colorCount = 2048;  // (1024 * 1) / 2048 = 0 iterations per colour
    tooManyColors.colors.resize(3 * 2048, 1);
    const struct {
        std::vector<std::pair<const char*, IterationMap>> maps;  ///< file name, map
        const char* message;
        std::size_t keyframesLeft;
    } cases[] = {
        {{{"00001_1e2.qvb", rampMap()}, {"00002_5e1.qvb", wider}}, "All QVB files have not same size!", 1},
        {{{"00001_deep.qvb", rampMap()}}, "00001_deep.qvb", 0},
        {{{"99999_1e2.qvb", rampMap()}}, "99999", 0},
        {{{"00001_1e2.qvb", rampMap()}, {"00001_2e2.qvb", rampMap()}}, "same map number", 0},
        {{{"00001_1e2.qvb", tooManyColors}}, "00001_1e2.qvb", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempDir dir;
        for (const auto& [name, map] : c.maps) writeMap(dir / name, map);
        const ConversionRun run = convertFolder(dir.path());
        EXPECT_TRUE(test::failsSaying(run.result.status, c.message));
        EXPECT_EQ(listFilesWithExtension(dir.path(), ".qvy").size(), c.keyframesLeft);
        EXPECT_FALSE(run.list.loaded);
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << "left behind: " << e.path();
    }
}

}  // namespace
}  // namespace zoomreel
