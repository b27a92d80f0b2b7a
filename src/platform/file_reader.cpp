#include "platform/file_reader.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoomreel {

FileReader::FileReader(const std::filesystem::path& path) {
    failed_ = true;
    // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openError_ = errno;
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        openError_ = errno;
        ::close(fd);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        openError_ = S_ISDIR(info.st_mode) ? EISDIR : 0;
        ::close(fd);
        return;
    }
    file_.reset(::fdopen(fd, "rb"));
    if (!file_) {
        openError_ = errno;
        ::close(fd);
        return;
    }
    failed_ = false;
    remaining_ = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

std::string FileReader::openFailure() const {
    if (isOpen()) return {};
    return openError_ != 0 ? std::strerror(openError_) : "not a regular file";
}

bool FileReader::read(void* out, std::uint64_t size) {
    if (failed_ || size > remaining_) {
        failed_ = true;
        return false;
    }
    if (size != 0 && std::fread(out, 1, size, file_.get()) != size) {
        failed_ = true;
        return false;
    }
    remaining_ -= size;
    return true;
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
