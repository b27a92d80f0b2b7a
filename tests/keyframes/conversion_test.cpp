#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "keyframes/conversion.h"
#include "platform/worker_pool.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::TempDir;

constexpr int kW = 10;
constexpr int kH = 6;
constexpr int kLimit = 1000;

/// A 10 x 6 map: count (x, y) = x + 10y + 1 with fraction 0.25, except the top-left pixel, at the iteration
/// limit. 1024 colours with divisor 1, so the colour step is 1 iteration per entry.
IterationMap rampMap() {
    IterationMap m;
    m.width = kW;
    m.height = kH;
    m.counts.resize(kW * kH);
    m.fractions.assign(kW * kH, 0.25f);
    for (int x = 0; x < kW; ++x)
        for (int y = 0; y < kH; ++y) m.counts[x * kH + y] = x + 10 * y + 1;
    m.counts[0] = kLimit;
    m.divisor = 1;
    m.colorCount = 1024;
    m.colors.resize(3 * 1024);
    for (int j = 0; j < 1024; ++j) {
        m.colors[3 * j] = static_cast<std::uint8_t>(4 * j);
        m.colors[3 * j + 1] = static_cast<std::uint8_t>(j);
        m.colors[3 * j + 2] = 200;
    }
    m.colors[0] = m.colors[1] = m.colors[2] = 0;  // black in the map, (60, 60, 60) in the keyframe
    m.iterationLimit = kLimit;
    return m;
}

struct ConversionRun {
    ConversionResult result;
    KeyframeList list;
    std::vector<int> progress;
    std::vector<std::pair<int, int>> previewQuestions;
    Raster lastImage;
    bool imageWithdrawn = false;
};

ConversionRun convertFolder(const std::filesystem::path& folder, int block = 2) {
    ConversionRun run;
    run.list.folder = folder;
    scanMaps(run.list);
    Status planned = planConversion(run.list);
    if (!planned) {
        run.result.status = planned;
        return run;
    }
    const Raster* published = nullptr;
    ConversionCallbacks callbacks;
    callbacks.progress = [&](int i, int count) {
        EXPECT_EQ(count, run.list.qvbCount());
        run.progress.push_back(i);
    };
    callbacks.choosePreviewBlock = [&](int w, int h) {
        run.previewQuestions.emplace_back(w, h);
        return block;
    };
    callbacks.publishImage = [&](const Raster* image) {
        published = image;
        if (image == nullptr) run.imageWithdrawn = true;
    };
    callbacks.imageChanged = [&] { run.lastImage = *published; };
    WorkerPool pool(2);
    std::recursive_mutex frameLock;
    run.result = runConversion(run.list, callbacks, pool, frameLock);
    return run;
}

void writeMap(const std::filesystem::path& path, const IterationMap& map) { ASSERT_TRUE(writeIterationMap(path, map).ok); }

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

TEST(Conversion, KeyframeBytesAreExactlyAsDerivedFromTheMap) {
    TempDir dir;
    writeMap(dir / "00001_1.25e27.qvb", rampMap());
    ConversionRun run = convertFolder(dir.path(), 2);
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;

    const auto b = test::readBytes(dir / "00000.qvy");
    // SW = 10 / 2 rounded down to a multiple of 4 = 4, SH = 6 * 4 / 10 = 2.
    ASSERT_EQ(b.size(), 27704u + 3 * 1024 + 8 * (4 * 2 + kW * kH));
    EXPECT_EQ(at<std::int32_t>(b, 0), kW);
    EXPECT_EQ(at<std::int32_t>(b, 4), kH);
    EXPECT_EQ(at<double>(b, 8), 1.75);    // pixel (1, 0)
    EXPECT_EQ(at<double>(b, 16), 59.75);  // pixel (9, 5)
    EXPECT_EQ(at<double>(b, 24), 30.75);  // (1 + ... + 60 - 1) / 59 - 0.25
    EXPECT_EQ(at<float>(b, 32), 1.25f);
    EXPECT_EQ(at<std::int32_t>(b, 36), 27);
    EXPECT_EQ(at<std::int32_t>(b, 27688), 1);
    EXPECT_EQ(at<std::int32_t>(b, 27692), 4);
    EXPECT_EQ(at<std::int32_t>(b, 27696), 2);
    EXPECT_EQ(at<std::int32_t>(b, 27700), 1024);
    EXPECT_EQ(b[27704], 60);
    EXPECT_EQ(b[27705], 60);
    EXPECT_EQ(b[27706], 60);
    EXPECT_EQ(b[27704 + 3 * 5], 20);

    const std::size_t preview = 27704 + 3 * 1024;
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 4; ++c) {
            // Stored rows 2r, 2r + 1 are source rows 5 - 2r and 4 - 2r.
            const double expected = 2 * c + 0.5 + 10 * (4.5 - 2 * r) + 0.75;
            EXPECT_EQ(at<double>(b, preview + 8 * (r * 4 + c)), expected) << r << "," << c;
        }
    }
    const std::size_t full = preview + 8 * 8;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const double expected = (x == 0 && y == 0) ? 0.0 : x + 10 * y + 1 - 0.25;
            EXPECT_EQ(at<double>(b, full + 8 * ((kH - 1 - y) * kW + x)), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(run.previewQuestions, (std::vector<std::pair<int, int>>{{kW, kH}}));
}

TEST(Conversion, ColourImageBlendsNeighbouringEntries) {
    TempDir dir;
    writeMap(dir / "00001_1e2.qvb", rampMap());
    ConversionRun run = convertFolder(dir.path());
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;
    ASSERT_TRUE(run.imageWithdrawn);
    const Raster& image = run.lastImage;
    ASSERT_EQ(image.width(), kW);
    // Top-left pixel reached the limit: black. Pixel (3, 2) has value 23.75: entries 23 and 24, t = 0.75.
    EXPECT_EQ(image.rowFromTop(0)[0], 0);
    const std::uint8_t* p = image.rowFromTop(2) + 3 * 3;
    EXPECT_EQ(p[0], static_cast<int>(96 * 0.75 + 92 * 0.25));
    EXPECT_EQ(p[1], static_cast<int>(24 * 0.75 + 23 * 0.25));
    EXPECT_EQ(p[2], 200);
    const std::uint8_t* q = image.rowFromTop(0) + 3;  // (1, 0): value 1.75, entries 1 and 2
    EXPECT_EQ(q[0], static_cast<int>(8 * 0.75 + 4 * 0.25));
}

TEST(Conversion, NamesRunFromTheWidestMapAndTheZoomHalves) {
    TempDir dir;
    for (int i = 1; i <= 3; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%05d_%s.qvb", i, i == 1 ? "1.25e27" : "9e9");
        writeMap(dir / name, rampMap());
    }
    ConversionRun run = convertFolder(dir.path());
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;
    EXPECT_EQ(run.progress, (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(run.list.keyframeCount(), 3);
    ASSERT_TRUE(run.list.loaded);
    // Map 00003 (the widest) becomes keyframe 0; map 00001 keeps the zoom of its name.
    EXPECT_EQ(run.list.summaries[2].zoomMantissa, 1.25f);
    EXPECT_EQ(run.list.summaries[2].zoomExponent, 27);
    EXPECT_EQ(run.list.summaries[1].zoomMantissa, 6.25f);
    EXPECT_EQ(run.list.summaries[1].zoomExponent, 26);
    EXPECT_EQ(run.list.summaries[0].zoomMantissa, 3.125f);
    EXPECT_EQ(run.list.summaries[0].zoomExponent, 26);
    EXPECT_EQ(run.previewQuestions.size(), 1u);
}

TEST(Conversion, AllInteriorMapHasEmptyStatisticsAndABlackThumbnail) {
    TempDir dir;
    IterationMap m = rampMap();
    std::fill(m.counts.begin(), m.counts.end(), kLimit);
    writeMap(dir / "00001_1e2.qvb", m);
    ConversionRun run = convertFolder(dir.path());
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;
    const KeyframeSummary& s = run.list.summaries[0];
    EXPECT_EQ(s.minimum, 1e100);
    EXPECT_EQ(s.maximum, 0.0);
    EXPECT_EQ(s.average, 0.0);
    const Raster& t = s.thumbnail;
    EXPECT_TRUE(std::all_of(t.data(), t.data() + t.sizeBytes(), [](std::uint8_t v) { return v == 0; }));
}

TEST(Conversion, NegativeValuesWrapAroundTheTable) {
    TempDir dir;
    IterationMap m = rampMap();
    m.counts[kH] = 0;  // pixel (1, 0): 0 - 0.25, below every colour
    writeMap(dir / "00001_1e2.qvb", m);
    ConversionRun run = convertFolder(dir.path());
    ASSERT_TRUE(run.result.status.ok) << run.result.status.message;
    // -0.25 lies between the last entry (1023) and entry 0, three quarters of the way.
    const std::uint8_t* p = run.lastImage.rowFromTop(0) + 3;
    EXPECT_EQ(p[2], static_cast<int>(60 * 0.75 + 200 * 0.25));
}

TEST(Conversion, PreviewSizes) {
    struct Case {
        int w, h, block, sw, sh;
    };
    for (const Case& c : {Case{1920, 1080, 40, 48, 27}, Case{1920, 1080, 2, 960, 540}, Case{1000, 1000, 3, 332, 332},
                          Case{10, 6, 2, 4, 2}, Case{7, 7, 2, 0, 0}}) {
        const PreviewSize s = previewSizeFor(c.w, c.h, c.block);
        EXPECT_EQ(s.width, c.sw) << c.w << "x" << c.h << " / " << c.block;
        EXPECT_EQ(s.height, c.sh) << c.w << "x" << c.h << " / " << c.block;
    }
}

struct FailureCase {
    const char* name;
    std::function<void(const std::filesystem::path&)> makeFolder;
    const char* message;
    int keyframesLeft;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class ConversionFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ConversionFailure, StopsWithAMessageAndKeepsWhatWasWritten) {
    const FailureCase& c = GetParam();
    TempDir dir;
    c.makeFolder(dir.path());
    ConversionRun run = convertFolder(dir.path());
    EXPECT_FALSE(run.result.status.ok);
    EXPECT_NE(run.result.status.message.find(c.message), std::string::npos) << run.result.status.message;
    EXPECT_EQ(listFilesWithExtension(dir.path(), ".qvy").size(), static_cast<std::size_t>(c.keyframesLeft));
    EXPECT_FALSE(run.list.loaded);
    // No temporary file is left behind.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

IterationMap wider() {
    IterationMap m = rampMap();
    m.width = kW + 1;
    m.counts.resize((kW + 1) * kH, 5);
    m.fractions.resize((kW + 1) * kH, 0.f);
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    BadFolders, ConversionFailure,
    ::testing::Values(
        FailureCase{"second map wider",
                    [](const auto& d) {
                        writeMap(d / "00001_1e2.qvb", rampMap());
                        writeMap(d / "00002_5e1.qvb", wider());
                    },
                    "All QVB files have not same size!", 1},
        FailureCase{"no zoom in the first name",
                    [](const auto& d) { writeMap(d / "00001_deep.qvb", rampMap()); }, "00001_deep.qvb", 0},
        FailureCase{"map number too large",
                    [](const auto& d) { writeMap(d / "99999_1e2.qvb", rampMap()); }, "99999", 0},
        FailureCase{"two maps with one number",
                    [](const auto& d) {
                        writeMap(d / "00001_1e2.qvb", rampMap());
                        writeMap(d / "00001_2e2.qvb", rampMap());
                    },
                    "same map number", 0},
        FailureCase{"too many colors for the divisor",
                    [](const auto& d) {
                        IterationMap m = rampMap();
                        m.colorCount = 2048;
                        m.colors.resize(3 * 2048, 1);
                        writeMap(d / "00001_1e2.qvb", m);
                    },
                    "00001_1e2.qvb", 0},
        FailureCase{"truncated second map",
                    [](const auto& d) {
                        writeMap(d / "00001_1e2.qvb", rampMap());
                        writeMap(d / "00002_5e1.qvb", rampMap());
                        std::filesystem::resize_file(d / "00002_5e1.qvb", 40);
                    },
                    "Error reading QVB file (int table)!", 1}),
    [](const auto& testInfo) {
        std::string n = testInfo.param.name;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

}  // namespace
}  // namespace zoomreel
