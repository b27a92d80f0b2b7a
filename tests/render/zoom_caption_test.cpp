#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "render/zoom_caption.h"
#include "platform/text_image.h"

namespace zoomreel {
namespace {

struct Bgr {
    std::uint8_t blue, green, red;
    bool operator==(const Bgr&) const = default;
};

Bgr pixel(const Raster& r, int x, int y) {
    const std::uint8_t* p = r.rowFromTop(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

void setPixel(Raster& r, int x, int y, Bgr c) {
    std::uint8_t* p = r.rowFromTop(y) + 3 * x;
    p[0] = c.blue, p[1] = c.green, p[2] = c.red;
}

Raster uniform(int width, int height, std::uint8_t value) {
    Raster r(width, height);
    r.fill(value, value, value);
    return r;
}

std::vector<std::uint8_t> bytes(const Raster& r) { return {r.data(), r.data() + r.sizeBytes()}; }

TEST(ZoomCaptionFormat, DesignedExamplesAndBoundaries) {
    struct Case {
        float h, mantissa;
        std::int32_t exponent;
        const char* expected;
    } const cases[] = {
        // Only the fraction of h zooms (7.5 as 0.5); exactly 10 is not stepped.
        {0.0f, 1.5f, 3, "Zoom : 1.50E3"}, {0.5f, 1.5f, 3, "Zoom : 2.12E3"}, {7.5f, 1.5f, 3, "Zoom : 2.12E3"},
        {0.5f, 8.0f, 0, "Zoom : 11.3"}, {0.0f, 5.0f, -1, "Zoom : 0.50"}, {0.0f, 2.0f, 0, "Zoom : 2.00"},
        {0.0f, 5.0f, -3, "Zoom : 5.00E-3"}, {0.0f, 10.0f, 0, "Zoom : 10.00"}, {0.0f, 20.0f, -2, "Zoom : 0.20"},
        {0.0f, 12.0f, 1, "Zoom : 1.20E2"}, {0.0f, 20.0f, INT_MAX, "Zoom : 2.00E2147483648"},
        // Hostile keyframe values: whole texts, neither cut off nor overrun.
        {0.0f, FLT_MAX, 0, "Zoom : 340282346638528859811704183484516925440.0"},
        {0.0f, -FLT_MAX, INT_MIN, "Zoom : -340282346638528859811704183484516925440.00E-2147483648"},
        {0.0f, INFINITY, 2, "Zoom :  infE3"},  {NAN, 1.5f, 3, "Zoom :  nanE3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatZoomText(c.h, c.mantissa, c.exponent), c.expected) << c.mantissa << "E" << c.exponent;
}

TEST(ZoomCaptionBlend, BoxLandsFivePixelsInFromTheTopLeftClippedToFrameAndRaster) {
    // A mark at column 1 of the box's top row must land at (6, 5) from the top although rows are stored bottom-up.
    // Padding bytes carry a sentinel, so a write past a row's pixels shows too.
    struct Case {
        int frameWidth, frameHeight, boxWidth, boxHeight, rasterWidth, rasterHeight, keptWidth, keptHeight;
    } const cases[] = {
        {11, 9, 4, 3, 4, 3, 4, 3},      {1, 1, 10, 10, 10, 10, 0, 0},   {5, 9, 10, 10, 10, 10, 0, 0},
        {6, 7, 10, 10, 10, 10, 1, 2},   {13, 6, 10, 10, 10, 10, 8, 1},  {20, 20, 10, 10, 4, 3, 4, 3},
        {20, 20, 3, 2, 10, 10, 3, 2},   {20, 20, -3, 5, 10, 10, 0, 0},  {20, 20, INT_MAX, INT_MAX, 6, 6, 6, 6},
    };
    for (const Case& c : cases) {
        Raster frame = uniform(c.frameWidth, c.frameHeight, 200);
        for (int row = 0; row < frame.height(); ++row)
            std::fill(frame.storedRow(row) + 3 * frame.width(), frame.storedRow(row) + frame.strideBytes(), 77);
        Raster box(c.rasterWidth, c.rasterHeight);
        if (c.rasterWidth > 1) setPixel(box, 1, 0, {10, 20, 30});
        Raster expected = frame;
        for (int y = 0; y < c.keptHeight; ++y)
            for (int x = 0; x < c.keptWidth; ++x) setPixel(expected, x + 5, y + 5, {100, 100, 100});
        if (c.keptWidth > 1) setPixel(expected, 6, 5, {105, 110, 115});

        BlendTextBox(frame, c.boxWidth, c.boxHeight, box);
        EXPECT_EQ(bytes(frame), bytes(expected)) << c.frameWidth << "x" << c.frameHeight << ", box " << c.boxWidth;
    }
}

// Pure red text: the green and blue channels are 100 exactly where the box is and 200 elsewhere. "T" is
// top-heavy: its widest ink row is its bar, at cap height, so a flipped or shifted box shows.
TEST(ZoomCaptionDraw, MeasuredBoxHalvesTheFrameUnderItAndShowsTheTextUpright) {
    struct Case {
        int frameWidth, frameHeight, fontSize, drawnSize;
    };
    const char* const text = "TTT : 2.12E3";
    for (const Case c : {Case{400, 120, 8, 8}, Case{400, 120, 24, 24}, Case{400, 120, -24, 24}, Case{400, 120, 0, 8},
                         Case{1, 1, 24, 24}, Case{5, 5, 24, 24}, Case{6, 80, 24, 24}, Case{60, 12, 24, 24},
                         Case{64, 48, INT_MAX, kMaxTextPixelSize}}) {
        Raster frame = uniform(c.frameWidth, c.frameHeight, 200);
        ASSERT_TRUE(DrawZoomText(frame, text, ZoomCaptionStyle{"Arial", c.fontSize, TextColor{255, 0, 0}}).ok);
        QFont font("Arial");
        font.setPixelSize(c.drawnSize);
        font.setWeight(QFont::Bold);
        const QFontMetrics metrics(font);
        const int boxWidth = metrics.horizontalAdvance(text) + 6, boxHeight = metrics.height() + 3;
        TextBoxSize measured;
        ASSERT_TRUE(measureTextBox(text, TextBoxStyle{"Arial", c.fontSize}, measured).ok);
        EXPECT_TRUE(measured.width == boxWidth && measured.height == boxHeight) << c.fontSize;

        const int keptWidth = std::clamp(c.frameWidth - 5, 0, boxWidth);
        const int keptHeight = std::clamp(c.frameHeight - 5, 0, boxHeight);
        int top = INT_MAX, bottom = -1, left = INT_MAX, widestRow = -1, widestCount = 0;
        for (int y = 0; y < frame.height(); ++y) {
            int count = 0;
            for (int x = 0; x < frame.width(); ++x) {
                const Bgr p = pixel(frame, x, y);
                const bool inBox = x >= 5 && x < 5 + keptWidth && y >= 5 && y < 5 + keptHeight;
                const bool border = x == 5 || y == 5 + boxHeight - 1;  // left of and below the text
                ASSERT_EQ(p.green, inBox ? 100 : 200) << x << "," << y << " size " << c.fontSize;
                ASSERT_EQ(p.blue, p.green);
                ASSERT_TRUE((inBox && !border) || p.red == p.green) << x << "," << y << " size " << c.fontSize;
                if (!inBox || p.red <= 180) continue;  // strong ink only
                ++count;
                top = std::min(top, y), bottom = std::max(bottom, y), left = std::min(left, x);
            }
            if (count > widestCount) widestCount = count, widestRow = y;
        }
        EXPECT_TRUE(keptWidth < boxWidth || bottom >= 0) << "size " << c.fontSize;
        if (c.drawnSize != 24 || keptWidth < boxWidth || keptHeight < boxHeight) continue;
        const int baseline = 5 + 2 + metrics.ascent();  // the first row below the glyphs
        EXPECT_TRUE(bottom >= baseline - 2 && bottom <= baseline) << bottom;
        EXPECT_NEAR(top, baseline - metrics.capHeight(), 1);
        EXPECT_LT(widestRow, (top + bottom) / 2);
        EXPECT_TRUE(left >= 5 + 2 && left < 5 + 2 + 6) << left;
    }
}

// An overlong text is refused and leaves the frame alone; an empty face name draws in the default face; worker
// threads draw what the main thread draws.
TEST(ZoomCaptionDraw, OverlongTextEmptyFaceAndWorkerThreads) {
    Raster frame = uniform(200, 40, 200);
    EXPECT_FALSE(DrawZoomText(frame, std::string(kMaxTextBoxBytes + 1, 'x'), ZoomCaptionStyle{}).ok);
    EXPECT_EQ(bytes(frame), bytes(uniform(200, 40, 200)));
    ASSERT_TRUE(DrawZoomText(frame, "Zoom : 2.00", ZoomCaptionStyle{"", 8, {}}).ok);  // no face named: the default
    EXPECT_EQ(pixel(frame, 5, 5), (Bgr{100, 100, 100}));
    const ZoomCaptionStyle style{"Arial", 16, TextColor{255, 255, 0}};
    Raster reference = uniform(200, 40, 30);
    ASSERT_TRUE(DrawZoomText(reference, "Zoom : 5.00E-3", style).ok);
    std::vector<Raster> frames(4, uniform(200, 40, 30));
    std::vector<std::thread> threads;
    for (Raster& f : frames) threads.emplace_back([&f, &style] { DrawZoomText(f, "Zoom : 5.00E-3", style); });
    for (std::thread& t : threads) t.join();
    for (const Raster& f : frames) EXPECT_EQ(bytes(f), bytes(reference));
}

}  // namespace
}  // namespace zoomreel
