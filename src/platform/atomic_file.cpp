#include "platform/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <fcntl.h>
#include <unistd.h>

namespace zoomreel {

std::string quotedPath(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

namespace {

// A name of our own instead of mkstemp's: mkstemp creates the file with mode 0600, and widening that would mean
// changing the process-wide umask while other threads may be creating files.
int createTemporary(const std::filesystem::path& target, std::filesystem::path& temp) {
    static std::atomic<unsigned> serial{0};
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = std::to_string(::getpid()) + "-" + std::to_string(serial++) + "-" +
                                   std::to_string(random() % 1000000);
        temp = folder / ("." + target.filename().string() + ".tmp-" + suffix);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The rename is only durable once the folder's entry is on disk too.
void syncFolder(const std::filesystem::path& target) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    std::filesystem::path temp;
    const int fd = createTemporary(target_, temp);
    if (fd < 0) {
        fail("Cannot write", errno);
        return;
    }
    temp_ = temp;
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
        if (status_.ok) {
            temp_.clear();
            syncFolder(target_);
        }
    }
    discard();
    return status_;
}

}  // namespace zoomreel
