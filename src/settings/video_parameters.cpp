#include "settings/video_parameters.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/text_scan.h"
#include "settings/settings_file.h"
#include "settings/settings_toml.h"

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

constexpr std::size_t kMaxSettingsLines = 200;

}  // namespace

const char* containerName(MovieContainer container) {
    switch (container) {
        case MovieContainer::Mp4: return "mp4";
        case MovieContainer::Matroska: return "mkv";
        case MovieContainer::Avi: break;
    }
    return "avi";
}

std::optional<MovieContainer> findContainer(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const MovieContainer container : kAllContainers) {
        if (lower == containerName(container)) return container;
    }
    return std::nullopt;
}

void LoadVideoParameters(const std::filesystem::path& directory, VideoParameters& video) {
    if (const auto browser = readTextLines(directory / kVideoBrowserFileName, 1, kMaxPathBytes)) {
        // An empty file leaves the path as it is, as reading a line from it gives nothing.
        if (!browser->empty()) video.videoBrowser = (*browser)[0];
    }
    const auto lines = readTextLines(directory / kVideoFormatFileName, kVideoFormatLines, kMaxLineBytes);
    if (lines) {
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
    if (const auto toml = readTextLines(directory / kMovieFileSettingsFileName, kMaxSettingsLines, kMaxPathBytes)) {
        std::string text;
        for (const std::string& line : *toml) text += line + "\n";
        applyMovieFileSettingsToml(text, video);
    }
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

    const std::string settings = movieFileSettingsToToml(video);
    AtomicFileWriter movie(directory / kMovieFileSettingsFileName);
    movie.write(settings.data(), settings.size());
    const Status movieStatus = movie.commit();
    return !browserStatus.ok ? browserStatus : !formatStatus.ok ? formatStatus : movieStatus;
}

}  // namespace zoomreel
