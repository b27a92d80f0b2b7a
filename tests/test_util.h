#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace zoomreel::test {

/// A fresh folder under the system's temporary directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zoomreel-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_, removeError_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
    std::error_code removeError_;  ///< a folder that cannot be removed stays, the test not failing for it
};

/// Asks `done` every 2 ms until it holds or `limit` has passed; false when it never held.
template <typename Done>
bool pollUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string fileText(const std::filesystem::path& path) {
    const auto bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

/// Every file of `folder` by name, with its bytes.
inline std::map<std::string, std::vector<std::uint8_t>> folderBytes(const std::filesystem::path& folder) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path().filename()] = readBytes(entry);
    }
    return files;
}

/// The files of `folder` whose extension is `extension` (".avi"), in name order.
inline std::vector<std::filesystem::path> filesWithExtension(const std::filesystem::path& folder,
                                                             const std::string& extension) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == extension) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

/// Little-endian byte builder for hand-made files.
class ByteWriter {
public:
    ByteWriter& raw(const std::string& text) { return put(text.data(), text.size()); }
    ByteWriter& u8(std::uint8_t v) { return put(&v, 1); }
    ByteWriter& u16(std::uint16_t v) { return put(&v, 2); }
    ByteWriter& i32(std::int32_t v) { return put(&v, 4); }
    ByteWriter& f32(float v) { return put(&v, 4); }
    ByteWriter& f64(double v) { return put(&v, 8); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    ByteWriter& put(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
        return *this;
    }
    std::vector<std::uint8_t> bytes_;
};

}  // namespace zoomreel::test
