#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoomreel {

std::string quotedPath(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    std::filesystem::path folder = target_.parent_path();
    if (folder.empty()) folder = ".";
    std::string pattern = (folder / ("." + target_.filename().string() + ".tmp-XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        fail("Cannot write", errno);
        return;
    }
    temp_ = pattern;
    // mkstemp creates the file readable by its owner only; give it the usual permissions of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        fail("Cannot write", error);
    }
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::fail(const std::string& what, int error) {
    if (!status_.ok) return;
    status_ = Status::failure(what + " " + quotedPath(target_) + ": " + std::strerror(error));
}

void AtomicFileWriter::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
        temp_.clear();
    }
}

void AtomicFileWriter::write(const void* data, std::size_t size) {
    if (!status_.ok || file_ == nullptr || size == 0) return;
    if (std::fwrite(data, 1, size, file_) != size) fail("Cannot write", errno);
}

Status AtomicFileWriter::commit() {
    if (status_.ok && file_ != nullptr) {
        if (std::fflush(file_) != 0) {
            fail("Cannot write", errno);
        } else if (::fsync(::fileno(file_)) != 0) {
            fail("Cannot write", errno);
        }
        const int closeResult = std::fclose(file_);
        file_ = nullptr;
        if (closeResult != 0) fail("Cannot write", errno);
        if (status_.ok && std::rename(temp_.c_str(), target_.c_str()) != 0) fail("Cannot replace", errno);
        if (status_.ok) temp_.clear();
    }
    discard();
    return status_;
}

}  // namespace zoomreel
