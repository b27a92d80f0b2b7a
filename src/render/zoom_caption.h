#pragma once

#include <cstdint>
#include <string>

#include "platform/raster.h"
#include "platform/status.h"
#include "settings/video_parameters.h"

namespace zoomreel {

/// How the zoom caption is drawn: the face (drawn bold), its character height in pixels and the text colour.
struct ZoomCaptionStyle {
    std::string fontName;
    std::int32_t fontSize = 8;
    TextColor textColor;
};

/// The zoom of the frame at keyframe position h, where keyframe trunc(h) has the zoom mantissa x 10^exponent:
/// "Zoom : 2.12E3", plain numbers from 0.1 to 100. Any input gives a whole text: a sane zoom takes at most 32
/// characters, a damaged keyframe's mantissa (huge, infinite, NaN) a longer one, under 64.
std::string FormatZoomText(float h, float zoomMantissa, std::int32_t zoomExponent);

/// Blends the top-left boxWidth x boxHeight pixels of `textBox` half and half into `frame`, 5 pixels in from its
/// top-left corner. Pixels that would fall outside the frame are skipped.
void BlendTextBox(Raster& frame, int boxWidth, int boxHeight, const Raster& textBox);

/// Draws `text` into `frame`'s top-left corner: the text in a black box of (text width + 6) x (text height + 3),
/// blended half and half. Only the part of the box that lands in the frame is rendered. Fails, leaving the frame
/// as it was, when text cannot be drawn (no Qt Gui application, text over kMaxTextBoxBytes). Thread-safe for
/// distinct frames.
Status DrawZoomText(Raster& frame, const std::string& text, const ZoomCaptionStyle& style);

}  // namespace zoomreel
