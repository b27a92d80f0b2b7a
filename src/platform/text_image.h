#pragma once

// The engine's only door to Qt Gui: text drawn into a small image, for the zoom caption of the movie frames.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/raster.h"
#include "platform/status.h"

class QGuiApplication;

namespace zoomreel {

/// How a text box is drawn: a bold, grey-scale anti-aliased face, its character height in pixels and the colour.
struct TextBoxStyle {
    std::string fontName;  ///< face, UTF-8; an empty name lets the platform choose the face
    int fontSize = 8;      ///< character height in pixels; see textPixelSize()
    std::uint8_t red = 255;
    std::uint8_t green = 255;
    std::uint8_t blue = 255;
};

struct TextBoxSize {
    int width = 0;
    int height = 0;
};

/// Used for a character height of 0, which names no size; it is the program's default caption size.
inline constexpr int kDefaultTextPixelSize = 8;
/// Larger heights are drawn at this height. Far taller than any frame, it keeps the font engine's fixed-point
/// arithmetic (and the box size in int) well clear of overflow.
inline constexpr int kMaxTextPixelSize = 4096;
/// Longer texts (in UTF-8 bytes) are refused: a caption is one short line, and the limit keeps the measured width
/// far from overflow.
inline constexpr std::size_t kMaxTextBoxBytes = 256;

/// The pixel size drawn for `fontSize`: 0 gives kDefaultTextPixelSize, a negative height counts by its magnitude,
/// and the result is capped at kMaxTextPixelSize.
int textPixelSize(int fontSize);

/// The size of the box that renderTextBox() makes for `text`: (horizontal advance + 6) x (ascent + descent + 3).
/// Fails when no QGuiApplication exists or the text is longer than kMaxTextBoxBytes.
Status measureTextBox(const std::string& text, const TextBoxStyle& style, TextBoxSize& box);

/// Draws `text` (UTF-8) at (2, 2), top-left aligned and on a transparent background, into a black box of the size
/// measureTextBox() gives, which is stored in `box`. Only the top-left `visible` part of the box is rendered into
/// `pixels`: min(box, visible) pixels in each direction (possibly an empty raster), so a huge font never makes a
/// huge image. Thread-safe: every call builds its own font and painter, so the movie thread may call it while the
/// GUI thread paints. Fails, leaving `box` and `pixels` untouched, when no QGuiApplication exists or the text is
/// longer than kMaxTextBoxBytes.
Status renderTextBox(const std::string& text, const TextBoxStyle& style, TextBoxSize visible, TextBoxSize& box,
                     Raster& pixels);

/// The Qt Gui application of a process that never shows a window (the command-line tool, the tests): it selects
/// the offscreen platform, so no display is needed. When XDG_RUNTIME_DIR is unset (a container, a cron job), it
/// points it at a private directory of its own, made with mode 0700 under the temporary folder and removed again
/// on destruction, instead of letting Qt warn on stderr and fall back to a shared one. Construct it once, on the
/// main thread, before other threads start: it changes the process environment.
///
/// `make` builds the application object (a QApplication for the desktop program's tests and tools); without it
/// a plain QGuiApplication is made.
class OffscreenGuiApplication {
public:
    using Factory = std::function<std::unique_ptr<QGuiApplication>(int& argc, char** argv)>;
    explicit OffscreenGuiApplication(const char* programName, const Factory& make = {});
    ~OffscreenGuiApplication();
    OffscreenGuiApplication(const OffscreenGuiApplication&) = delete;
    OffscreenGuiApplication& operator=(const OffscreenGuiApplication&) = delete;

private:
    // QGuiApplication keeps references to its argc and argv for its whole life. Only the program name is passed:
    // Qt would otherwise take options such as -platform out of the tool's own command line.
    std::string programName_;
    char* argv_[2] = {nullptr, nullptr};
    int argc_ = 1;
    std::filesystem::path privateRuntimeDir_;
    std::unique_ptr<QGuiApplication> app_;
};

}  // namespace zoomreel
