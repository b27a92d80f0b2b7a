#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace zoomreel {

/// Sequential reads from a file that knows how many bytes the file still holds, so that no size or count taken
/// from the file is trusted before it has been compared with what is really there. The first read that cannot be
/// satisfied in full fails, and so does every read after it: a field is either read whole or left alone, and a
/// field is never filled from the bytes that follow a shorter one.
class FileReader {
public:
    explicit FileReader(const std::filesystem::path& path);

    bool isOpen() const { return file_ != nullptr; }
    /// errno of a failed open, 0 when the file is open.
    int openError() const { return openError_; }
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

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    int openError_ = 0;
    std::uint64_t remaining_ = 0;
    bool failed_ = false;
};

}  // namespace zoomreel
