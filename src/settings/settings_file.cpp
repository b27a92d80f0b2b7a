#include "settings/settings_file.h"

#include <algorithm>
#include <cstdint>

#include "platform/file_reader.h"

namespace zoomreel {

std::filesystem::path settingsFilePath(const KeyframeList& list, std::string_view fileName) {
    return list.folder / std::filesystem::path(fileName);
}

std::optional<std::vector<std::string>> readTextLines(const std::filesystem::path& path, std::size_t maxLines,
                                                      std::size_t maxLineBytes) {
    FileReader file(path);
    if (!file.isOpen()) return std::nullopt;
    // The program's text files are a few hundred bytes; a larger one is damaged, and only its start is looked at.
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(file.remaining(), kMaxTextFileBytes)), '\0');
    if (!file.read(text.data(), text.size())) return std::vector<std::string>();

    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size() && lines.size() < maxLines) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t contentEnd = end;
        if (contentEnd > start && text[contentEnd - 1] == '\r') --contentEnd;
        lines.push_back(truncateUtf8(text.substr(start, contentEnd - start), maxLineBytes));
        start = end + 1;
    }
    return lines;
}

std::string truncateUtf8(std::string text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the sequence that would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

}  // namespace zoomreel
