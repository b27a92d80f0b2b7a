#include "platform/text_image.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace zoomreel {
namespace {

constexpr int kTextLeft = 2;
constexpr int kTextTop = 2;
constexpr int kExtraWidth = 6;
constexpr int kExtraHeight = 3;

Status checkCanDraw(const std::string& text) {
    // QFont needs the font database that only a QGuiApplication sets up; with a bare QCoreApplication, or none,
    // Qt would abort the process.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return Status::failure("Cannot draw the text \"" + text.substr(0, 64) +
                               "\": this program has not started Qt Gui.");
    }
    if (text.size() > kMaxTextBoxBytes) {
        return Status::failure("Cannot draw a text of " + std::to_string(text.size()) + " bytes: at most " +
                               std::to_string(kMaxTextBoxBytes) + " fit in a text box.");
    }
    return Status::success();
}

QFont makeFont(const TextBoxStyle& style) {
    QFont font(QString::fromStdString(style.fontName));
    font.setPixelSize(textPixelSize(style.fontSize));
    font.setWeight(QFont::Bold);
    // Grey-scale anti-aliasing: colour fringes of sub-pixel rendering would show in a video.
    font.setStyleStrategy(static_cast<QFont::StyleStrategy>(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    return font;
}

TextBoxSize boxFor(const QFontMetrics& metrics, const QString& text) {
    return {metrics.horizontalAdvance(text) + kExtraWidth, metrics.height() + kExtraHeight};
}

}  // namespace

int textPixelSize(int fontSize) {
    if (fontSize == 0) return kDefaultTextPixelSize;
    const long long magnitude = fontSize < 0 ? -static_cast<long long>(fontSize) : fontSize;
    return static_cast<int>(std::min<long long>(magnitude, kMaxTextPixelSize));
}

Status measureTextBox(const std::string& text, const TextBoxStyle& style, TextBoxSize& box) {
    if (Status status = checkCanDraw(text); !status) return status;
    box = boxFor(QFontMetrics(makeFont(style)), QString::fromStdString(text));
    return Status::success();
}

Status renderTextBox(const std::string& text, const TextBoxStyle& style, TextBoxSize visible, TextBoxSize& box,
                     Raster& pixels) {
    if (Status status = checkCanDraw(text); !status) return status;
    const QFont font = makeFont(style);
    const QFontMetrics metrics(font);
    const QString qtext = QString::fromStdString(text);
    const TextBoxSize full = boxFor(metrics, qtext);
    const int width = std::clamp(visible.width, 0, full.width);
    const int height = std::clamp(visible.height, 0, full.height);

    Raster result(width, height);
    if (width > 0 && height > 0) {
        // The cut-off part of the box is simply not there: the painter clips the text to the image.
        QImage image(width, height, QImage::Format_RGB32);
        if (image.isNull()) {
            return Status::failure("Cannot draw the text \"" + text + "\": out of memory for a " +
                                   std::to_string(width) + " x " + std::to_string(height) + " image.");
        }
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(QColor(style.red, style.green, style.blue));
            painter.setBackgroundMode(Qt::TransparentMode);
            painter.drawText(QPoint(kTextLeft, kTextTop + metrics.ascent()), qtext);
        }
        for (int y = 0; y < height; ++y) {
            const auto* source = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            std::uint8_t* target = result.rowFromTop(y);
            for (int x = 0; x < width; ++x) {
                target[3 * x] = static_cast<std::uint8_t>(qBlue(source[x]));
                target[3 * x + 1] = static_cast<std::uint8_t>(qGreen(source[x]));
                target[3 * x + 2] = static_cast<std::uint8_t>(qRed(source[x]));
            }
        }
    }
    box = full;
    pixels = std::move(result);
    return Status::success();
}

OffscreenGuiApplication::OffscreenGuiApplication(const char* programName, const Factory& make)
    : programName_(programName != nullptr && *programName != '\0' ? programName : "zoomreel") {
    argv_[0] = programName_.data();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir == nullptr || *runtimeDir == '\0') {
        std::error_code error;
        const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
        if (!error) {
            // mkdtemp picks a name nobody else holds, so no other user can have planted it; Qt insists on 0700,
            // which a strict umask could have narrowed.
            std::string pattern = (temp / "zoomreel-runtime-XXXXXX").string();
            if (::mkdtemp(pattern.data()) != nullptr) {
                if (::chmod(pattern.c_str(), S_IRWXU) == 0) {
                    privateRuntimeDir_ = pattern;
                    ::setenv("XDG_RUNTIME_DIR", pattern.c_str(), 1);
                } else {
                    std::filesystem::remove(pattern, error);
                }
            }
        }
        // Failing that, Qt picks its own directory and says so on stderr; nothing else changes.
    }
    app_ = make ? make(argc_, argv_) : std::make_unique<QGuiApplication>(argc_, argv_);
}

OffscreenGuiApplication::~OffscreenGuiApplication() {
    app_.reset();
    if (!privateRuntimeDir_.empty()) {
        ::unsetenv("XDG_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(privateRuntimeDir_, ignored);
    }
}

}  // namespace zoomreel
