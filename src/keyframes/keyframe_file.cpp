#include "keyframes/keyframe_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "platform/atomic_file.h"

namespace zoomreel {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::int32_t kMaxColors = 1 << 24;

Status openForReading(const std::filesystem::path& path, FileHandle& handle, std::uint64_t& size) {
    handle.reset(std::fopen(path.c_str(), "rb"));
    if (!handle) return Status::failure("Cannot open the keyframe file " + quotedPath(path) + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(::fileno(handle.get()), &info) != 0) {
        return Status::failure("Cannot read the keyframe file " + quotedPath(path) + ": " + std::strerror(errno));
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return {};
}

Status readAt(std::FILE* file, const std::filesystem::path& path, std::uint64_t offset, void* out, std::size_t size) {
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(out, 1, size, file) != size) {
        return Status::failure("Cannot read the keyframe file " + quotedPath(path) + ".");
    }
    return {};
}

std::int32_t int32At(const std::uint8_t* bytes, std::size_t offset) {
    std::int32_t v;
    std::memcpy(&v, bytes + offset, 4);
    return v;
}

/// Reads the first bytes of the file (header and sizes) and checks the layout they give against the file.
Status readHead(std::FILE* file, std::uint64_t fileSize, const std::filesystem::path& path,
                std::vector<std::uint8_t>& head, KeyframeLayout& layout) {
    if (fileSize < kColorTableOffset) {
        return Status::failure("The keyframe file " + quotedPath(path) + " is too short (" + std::to_string(fileSize) +
                               " bytes).");
    }
    head.resize(kColorTableOffset);
    if (Status s = readAt(file, path, 0, head.data(), head.size()); !s) return s;
    layout.width = int32At(head.data(), 0);
    layout.height = int32At(head.data(), 4);
    layout.previewWidth = int32At(head.data(), kPaletteOffset);
    layout.previewHeight = int32At(head.data(), kPaletteOffset + 4);
    layout.colorCount = int32At(head.data(), kPaletteOffset + 8);
    const bool sane = layout.width > 0 && layout.width <= kMaxMapSide && layout.height > 0 && layout.height <= kMaxMapSide &&
                      layout.previewWidth >= 0 && layout.previewWidth <= layout.width && layout.previewHeight >= 0 &&
                      layout.previewHeight <= layout.height && layout.colorCount >= 1 && layout.colorCount <= kMaxColors;
    if (!sane) return Status::failure("The keyframe file " + quotedPath(path) + " is damaged (invalid sizes).");
    if (fileSize < layout.fileSize()) {
        return Status::failure("The keyframe file " + quotedPath(path) + " is too short (" + std::to_string(fileSize) +
                               " bytes instead of " + std::to_string(layout.fileSize()) + ").");
    }
    return {};
}

Status openChecked(const std::filesystem::path& path, const KeyframeLayout& expected, FileHandle& handle) {
    std::uint64_t size = 0;
    if (Status s = openForReading(path, handle, size); !s) return s;
    std::vector<std::uint8_t> head;
    KeyframeLayout layout;
    if (Status s = readHead(handle.get(), size, path, head, layout); !s) return s;
    if (!(layout == expected)) {
        return Status::failure("The keyframe file " + quotedPath(path) +
                               " does not match the first keyframe (size, colors or preview size differ).");
    }
    return {};
}

template <typename T>
Status readTable(const std::filesystem::path& path, const KeyframeLayout& expected, std::uint64_t offset,
                 std::size_t count, std::vector<T>& out) {
    FileHandle handle;
    if (Status s = openChecked(path, expected, handle); !s) return s;
    out.resize(count);
    Status status = readAt(handle.get(), path, offset, out.data(), count * sizeof(T));
    if (!status) out.clear();
    return status;
}

}  // namespace

Status writeKeyframe(const std::filesystem::path& path, const KeyframeData& data) {
    const KeyframeLayout& l = data.layout;
    const bool consistent = data.thumbnail.size() == kThumbnailBytes &&
                            data.colors.size() == 3ull * static_cast<std::size_t>(l.colorCount) &&
                            data.previewMap.size() == static_cast<std::size_t>(l.previewWidth) * l.previewHeight &&
                            data.fullMap.size() == static_cast<std::size_t>(l.width) * l.height;
    if (!consistent) {
        return Status::failure("Cannot write " + quotedPath(path) + ": the keyframe's tables do not match its size.");
    }
    AtomicFileWriter out(path);
    out.writeValue<std::int32_t>(l.width);
    out.writeValue<std::int32_t>(l.height);
    out.writeValue(data.minimum);
    out.writeValue(data.maximum);
    out.writeValue(data.average);
    out.writeValue(data.zoomMantissa);
    out.writeValue(data.zoomExponent);
    out.write(data.thumbnail.data(), kThumbnailBytes);
    out.writeValue(data.colorDivisor);
    out.writeValue<std::int32_t>(l.previewWidth);
    out.writeValue<std::int32_t>(l.previewHeight);
    out.writeValue<std::int32_t>(l.colorCount);
    out.write(data.colors.data(), data.colors.size());
    out.write(data.previewMap.data(), data.previewMap.size() * sizeof(double));
    out.write(data.fullMap.data(), data.fullMap.size() * sizeof(double));
    return out.commit();
}

Status readKeyframeLayout(const std::filesystem::path& path, KeyframeLayout& layout) {
    FileHandle handle;
    std::uint64_t size = 0;
    if (Status s = openForReading(path, handle, size); !s) return s;
    std::vector<std::uint8_t> head;
    return readHead(handle.get(), size, path, head, layout);
}

Status readKeyframeSummary(const std::filesystem::path& path, KeyframeSummary& summary, KeyframeLayout& layout) {
    FileHandle handle;
    std::uint64_t size = 0;
    if (Status s = openForReading(path, handle, size); !s) return s;
    std::vector<std::uint8_t> head;
    if (Status s = readHead(handle.get(), size, path, head, layout); !s) return s;
    const std::uint8_t* b = head.data();
    std::memcpy(&summary.minimum, b + 8, 8);
    std::memcpy(&summary.maximum, b + 16, 8);
    std::memcpy(&summary.average, b + 24, 8);
    std::memcpy(&summary.zoomMantissa, b + 32, 4);
    std::memcpy(&summary.zoomExponent, b + 36, 4);
    summary.thumbnail = Raster(kThumbnailWidth, kThumbnailHeight);
    std::memcpy(summary.thumbnail.data(), b + kThumbnailOffset, kThumbnailBytes);
    std::memcpy(&summary.colorDivisor, b + kColorDivisorOffset, 4);
    return {};
}

Status readKeyframePalette(const std::filesystem::path& path, const KeyframeLayout& expected,
                           std::vector<std::uint8_t>& colors) {
    return readTable(path, expected, kColorTableOffset, 3ull * static_cast<std::size_t>(expected.colorCount), colors);
}

Status readPreviewMap(const std::filesystem::path& path, const KeyframeLayout& expected, std::vector<double>& map) {
    return readTable(path, expected, expected.previewOffset(),
                     static_cast<std::size_t>(expected.previewWidth) * expected.previewHeight, map);
}

Status readFullMap(const std::filesystem::path& path, const KeyframeLayout& expected, std::vector<double>& map) {
    return readTable(path, expected, expected.fullMapOffset(),
                     static_cast<std::size_t>(expected.width) * expected.height, map);
}

FullMapReader::~FullMapReader() {
    if (file_ != nullptr) std::fclose(file_);
}

Status FullMapReader::open(const std::filesystem::path& path, const KeyframeLayout& expected) {
    FileHandle handle;
    if (Status s = openChecked(path, expected, handle); !s) return s;
    if (std::fseek(handle.get(), static_cast<long>(expected.fullMapOffset()), SEEK_SET) != 0) {
        return Status::failure("Cannot read the keyframe file " + quotedPath(path) + ".");
    }
    if (file_ != nullptr) std::fclose(file_);
    file_ = handle.release();
    path_ = path;
    layout_ = expected;
    rowsRead_ = 0;
    return {};
}

Status FullMapReader::readRows(int rows, double* out) {
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(layout_.width);
    if (file_ == nullptr || rows < 0 || rows > layout_.height - rowsRead_ ||
        std::fread(out, sizeof(double), count, file_) != count) {
        return Status::failure("Cannot read the keyframe file " + quotedPath(path_) + ".");
    }
    rowsRead_ += rows;
    return {};
}

}  // namespace zoomreel
