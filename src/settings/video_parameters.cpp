#include "settings/video_parameters.h"

#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/text_scan.h"
#include "settings/settings_file.h"

namespace zoomreel {
namespace {

constexpr std::size_t kVideoFormatLines = 10;
// A line holds a handful of digits or a face name; anything longer is damage and is cut before it is used.
constexpr std::size_t kMaxLineBytes = 256;

void scanLine(const std::vector<std::string>& lines, std::size_t index, std::int32_t& field) {
    if (index < lines.size()) scanNumber(lines[index], field);
}

void scanByteLine(const std::vector<std::string>& lines, std::size_t index, std::uint8_t& field) {
    std::int32_t value = 0;
    if (index < lines.size() && scanNumber(lines[index], value)) field = static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

void LoadVideoParameters(const std::filesystem::path& directory, VideoParameters& video) {
    if (const auto browser = readTextLines(directory / kVideoBrowserFileName, 1, kMaxPathBytes)) {
        // An empty file leaves the path as it is, as reading a line from it gives nothing.
        if (!browser->empty()) video.videoBrowser = (*browser)[0];
    }
    const auto lines = readTextLines(directory / kVideoFormatFileName, kVideoFormatLines, kMaxLineBytes);
    if (!lines) return;
    scanLine(*lines, 0, video.finalWidth);
    scanLine(*lines, 1, video.height3D);
    scanLine(*lines, 2, video.fps);
    scanLine(*lines, 3, video.framesPerMovie);
    scanLine(*lines, 4, video.showZoomText);
    scanLine(*lines, 5, video.fontSize);
    scanByteLine(*lines, 6, video.textColor.red);
    scanByteLine(*lines, 7, video.textColor.green);
    scanByteLine(*lines, 8, video.textColor.blue);
    if (lines->size() > 9) video.fontName = truncateUtf8((*lines)[9], kMaxFontNameBytes);
}

Status SaveVideoParameters(const std::filesystem::path& directory, const VideoParameters& video) {
    AtomicFileWriter browser(directory / kVideoBrowserFileName);
    browser.write(video.videoBrowser.data(), video.videoBrowser.size());
    const Status browserStatus = browser.commit();

    std::string text;
    for (const int value : {video.finalWidth, video.height3D, video.fps, video.framesPerMovie, video.showZoomText,
                            video.fontSize, static_cast<int>(video.textColor.red),
                            static_cast<int>(video.textColor.green), static_cast<int>(video.textColor.blue)}) {
        text += std::to_string(value);
        text += kLineEnd;
    }
    text += video.fontName;
    text += kLineEnd;
    AtomicFileWriter format(directory / kVideoFormatFileName);
    format.write(text.data(), text.size());
    const Status formatStatus = format.commit();
    return browserStatus.ok ? formatStatus : browserStatus;
}

}  // namespace zoomreel
