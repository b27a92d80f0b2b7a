#include "settings/settings_file.h"

#include <cstdio>
#include <memory>

namespace zoomreel {

std::filesystem::path settingsFilePath(const KeyframeList& list, std::string_view fileName) {
    return list.folder / std::filesystem::path(fileName);
}

std::optional<std::vector<std::string>> readTextLines(const std::filesystem::path& path, std::size_t maxLines,
                                                      std::size_t maxLineBytes) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;

    std::vector<std::string> lines;
    std::string line;
    // One byte beyond the limit is kept, so that a CR at the limit is still seen as part of a CR LF end.
    const auto finishLine = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(truncateUtf8(std::move(line), maxLineBytes));
        line.clear();
    };
    bool pending = false;
    int c = 0;
    while (lines.size() < maxLines && (c = std::getc(file.get())) != EOF) {
        if (c == '\n') {
            finishLine();
            pending = false;
            continue;
        }
        pending = true;
        if (line.size() <= maxLineBytes) line.push_back(static_cast<char>(c));
    }
    if (pending && lines.size() < maxLines) finishLine();
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
