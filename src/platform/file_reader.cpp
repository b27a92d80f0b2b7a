#include "platform/file_reader.h"

#include <cerrno>
#include <sys/stat.h>

namespace zoomreel {

FileReader::FileReader(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "rb")) {
    if (!file_) {
        openError_ = errno;
        failed_ = true;
        return;
    }
    struct stat info {};
    if (::fstat(::fileno(file_.get()), &info) == 0 && info.st_size > 0) {
        remaining_ = static_cast<std::uint64_t>(info.st_size);
    }
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
