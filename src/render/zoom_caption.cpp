#include "render/zoom_caption.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/text_image.h"

namespace zoomreel {
namespace {

// The caption box sits this many pixels in from the frame's top and left edges.
constexpr int kCaptionInset = 5;

// ln 2 to 12 decimals, as the renderer uses it for the frame's geometry: the caption and the picture must agree.
constexpr double kLn2 = 0.693147180559;

}  // namespace

std::string FormatZoomText(float h, float zoomMantissa, std::int32_t zoomExponent) {
    const float fraction = h - std::trunc(h);
    const double shrink = std::exp(-static_cast<double>(fraction) * kLn2);
    float v = zoomMantissa / static_cast<float>(shrink);
    // 64 bits, so that stepping up from the largest exponent a keyframe file can hold does not overflow.
    long long exponent = zoomExponent;
    if (v > 10.0f) {
        v /= 10.0f;
        exponent += 1;
    }

    // "%f" writes every digit of the integer part, up to 39 for a float, so with the sign, the decimals and an
    // exponent of 11 characters the text stays under 64 characters. A sane zoom needs 32 at most; a hostile
    // mantissa from a damaged keyframe gives a longer caption, never a cut-off or overrun one.
    char text[128];
    if (exponent == -1) {
        std::snprintf(text, sizeof text, "Zoom : %4.2f", static_cast<double>(v / 10.0f));
    } else if (exponent == 0) {
        std::snprintf(text, sizeof text, "Zoom : %4.2f", static_cast<double>(v));
    } else if (exponent == 1) {
        std::snprintf(text, sizeof text, "Zoom : %4.1f", static_cast<double>(v) * 10.0);
    } else {
        std::snprintf(text, sizeof text, "Zoom : %4.2fE%lld", static_cast<double>(v), exponent);
    }
    return text;
}

void BlendTextBox(Raster& frame, int boxWidth, int boxHeight, const Raster& textBox) {
    // Written as limits rather than per-pixel tests, so that no x + 5 can overflow for absurd box sizes.
    const int columns = std::min({boxWidth, textBox.width(), frame.width() - kCaptionInset});
    const int rows = std::min({boxHeight, textBox.height(), frame.height() - kCaptionInset});
    if (columns <= 0 || rows <= 0) return;
    const auto bytes = static_cast<std::size_t>(columns) * 3;
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* text = textBox.rowFromTop(y);
        std::uint8_t* target = frame.rowFromTop(y + kCaptionInset) + kCaptionInset * 3;
        for (std::size_t i = 0; i < bytes; ++i) target[i] = static_cast<std::uint8_t>((text[i] + target[i]) * 50 / 100);
    }
}

Status DrawZoomText(Raster& frame, const std::string& text, const ZoomCaptionStyle& style) {
    const TextBoxStyle boxStyle{style.fontName, style.fontSize, style.textColor.red, style.textColor.green,
                                style.textColor.blue};
    // Only the part of the box that lands inside the frame is worth rendering.
    const TextBoxSize visible{std::max(0, frame.width() - kCaptionInset), std::max(0, frame.height() - kCaptionInset)};
    TextBoxSize box;
    Raster pixels;
    if (Status status = renderTextBox(text, boxStyle, visible, box, pixels); !status) return status;
    BlendTextBox(frame, box.width, box.height, pixels);
    return Status::success();
}

}  // namespace zoomreel
