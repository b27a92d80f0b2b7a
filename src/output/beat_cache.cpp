#include "output/beat_cache.h"

#include <algorithm>
#include <cstring>

#include "platform/atomic_file.h"
#include "platform/file_reader.h"

namespace zoomreel {
namespace {

constexpr char kCacheMagic[8] = {'Z', 'R', 'B', 'E', 'A', 'T', 'S', '1'};

}  // namespace

std::vector<BeatCacheEntry> readBeatCache(const std::filesystem::path& file) {
    std::vector<BeatCacheEntry> entries;
    FileReader reader(file);
    char magic[8] = {};
    if (!reader.isOpen() || !reader.read(magic, sizeof magic) || std::memcmp(magic, kCacheMagic, 8) != 0) return {};
    std::int32_t count = 0;
    reader.readValue(count);
    for (std::int32_t i = 0; i < std::min(count, kBeatCacheEntries) && !reader.failed(); ++i) {
        BeatCacheEntry entry;
        const auto path = reader.readCountedRecords<char>();
        entry.path.assign(path.begin(), path.end());
        reader.readValue(entry.size);
        reader.readValue(entry.modified);
        reader.readValue(entry.analysis.tempo);
        reader.readValue(entry.analysis.onsetStep);
        entry.analysis.beats = reader.readCountedRecords<double>();
        entry.analysis.onsetStrength = reader.readCountedRecords<float>();
        entries.push_back(std::move(entry));
    }
    return reader.failed() ? std::vector<BeatCacheEntry>{} : entries;
}

Status writeBeatCache(const std::filesystem::path& file, const std::vector<BeatCacheEntry>& entries) {
    AtomicFileWriter writer(file);
    writer.write(kCacheMagic, sizeof kCacheMagic);
    writer.writeValue(static_cast<std::int32_t>(entries.size()));
    auto counted = [&](const void* data, std::size_t count, std::size_t size) {
        writer.writeValue(static_cast<std::int32_t>(count));
        writer.write(data, count * size);
    };
    for (const BeatCacheEntry& e : entries) {
        counted(e.path.data(), e.path.size(), 1);
        writer.writeValue(e.size);
        writer.writeValue(e.modified);
        writer.writeValue(e.analysis.tempo);
        writer.writeValue(e.analysis.onsetStep);
        counted(e.analysis.beats.data(), e.analysis.beats.size(), sizeof(double));
        counted(e.analysis.onsetStrength.data(), e.analysis.onsetStrength.size(), sizeof(float));
    }
    return writer.commit();
}

}  // namespace zoomreel
