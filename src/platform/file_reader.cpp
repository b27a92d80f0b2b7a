#include "platform/file_reader.h"

#include <cerrno>
#include <cstring>
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

}  // namespace zoomreel
