#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoomreel {

// The program's binary files are little-endian and read and written straight from memory.
static_assert(std::endian::native == std::endian::little, "the file formats are little-endian");

/// Sequential reads from a file that knows how many bytes the file still holds, so that no size or count taken
/// from the file is trusted before it has been compared with what is really there. The first read that cannot be
/// satisfied in full fails, and so does every read after it: a field is either read whole or left alone, and a
/// field is never filled from the bytes that follow a shorter one.
///
/// Only regular files open: a folder, a pipe or a device under a settings file's name is treated as no file,
/// so that it can neither block the program nor feed it endless bytes.
class FileReader {
public:
    explicit FileReader(const std::filesystem::path& path);

    bool isOpen() const { return file_ != nullptr; }
    /// Why the file did not open, as the end of a sentence ("No such file or directory").
    std::string openFailure() const;
    std::uint64_t remaining() const { return remaining_; }
    bool failed() const { return failed_; }

    bool read(void* out, std::uint64_t size);

    /// Replaces `value` only when all of its bytes could be read.
    template <typename T>
    bool readValue(T& value) {
        T read_value;
        if (!read(&read_value, sizeof read_value)) return false;
        value = read_value;
        return true;
    }

    /// An int32 count followed by that many packed records: as many of them as the file holds whole, none for a
    /// negative or missing count. Never allocates more than the file can contain.
    template <typename Record>
    std::vector<Record> readCountedRecords() {
        std::int32_t count = 0;
        readValue(count);
        const std::uint64_t wanted = count > 0 ? static_cast<std::uint64_t>(count) : 0;
        const std::uint64_t held = std::min<std::uint64_t>(wanted, remaining_ / sizeof(Record));
        std::vector<Record> records(static_cast<std::size_t>(held));
        read(records.data(), held * sizeof(Record));
        return records;
    }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    int openError_ = 0;  // errno, or 0 when the path is not a regular file
    std::uint64_t remaining_ = 0;
    bool failed_ = false;
};

/// The most of a text file that is read; the program's own are a few hundred bytes.
inline constexpr std::size_t kMaxTextFileBytes = 1 << 20;

/// The lines of a small text file without their line ends (LF or CR LF), at most `maxLines` of them, each cut
/// to `maxLineBytes` without splitting a UTF-8 sequence. A final line without a line end counts. Nothing when
/// the file cannot be opened or is not a regular file.
std::optional<std::vector<std::string>> readTextLines(const std::filesystem::path& path, std::size_t maxLines,
                                                      std::size_t maxLineBytes);

/// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string truncateUtf8(std::string text, std::size_t maxBytes);

}  // namespace zoomreel
