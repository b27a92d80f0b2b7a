#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/status.h"

namespace zoomreel {

/// Writes a file under a temporary name in the target's folder and renames it over the target on `commit`, so
/// that a crash, a kill or a full disk leaves either the old file or the new one, never a partial file. The
/// temporary name starts with a dot and has a ".tmp-..." extension, so no listing by extension picks it up.
///
/// Writes are buffered; the first failure sticks and is returned by `commit`, which then removes the temporary
/// file and leaves the target untouched. A writer destroyed without `commit` removes its temporary file.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(const void* data, std::size_t size);
    template <typename T>
    void writeValue(const T& value) { write(&value, sizeof value); }

    /// Flushes, makes the data durable, and renames into place.
    Status commit();

    const Status& status() const { return status_; }

private:
    void fail(const std::string& what, int error);
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    Status status_;
};

/// A path in double quotes, the way messages name files.
std::string quotedPath(const std::filesystem::path& path);

}  // namespace zoomreel
