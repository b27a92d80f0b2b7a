#include "keyframes/conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>

#include "platform/atomic_file.h"
#include "platform/resampler.h"
#include "platform/worker_pool.h"

namespace zoomreel {

PreviewSize previewSizeFor(int mapWidth, int mapHeight, int block) {
    PreviewSize size;
    size.block = block;
    if (block < 1 || mapWidth <= 0 || mapHeight <= 0) return size;
    size.width = (mapWidth / block) / 4 * 4;
    size.height = static_cast<int>(static_cast<long long>(mapHeight) * size.width / mapWidth);
    return size;
}

Status planConversion(KeyframeList& list) {
    list.names.clear();
    const long long mapCount = list.qvbCount();
    std::vector<std::string> names;
    std::map<std::string, std::string> sourceOf;
    for (const std::string& qvb : list.qvbNames) {
        const long long number = mapCount - parseMapNumber(qvb);
        if (number < 0 || number > 99999) {
            return Status::failure("The QVB file " + quotedPath(list.folder / qvb) + " has the map number " +
                                   std::to_string(parseMapNumber(qvb)) + ", which gives no keyframe number from 0 to 99999 in a folder of " +
                                   std::to_string(mapCount) + " maps!");
        }
        char name[16];
        std::snprintf(name, sizeof name, "%05u.qvy", static_cast<unsigned>(number));
        auto [it, inserted] = sourceOf.emplace(name, qvb);
        if (!inserted) {
            return Status::failure("The QVB files \"" + it->second + "\" and \"" + qvb +
                                   "\" have the same map number and would both become " + name + "!");
        }
        names.emplace_back(name);
    }
    list.names = std::move(names);
    list.loaded = false;
    list.summaries.clear();
    return {};
}

namespace {

constexpr int kRowBlock = 64;
constexpr int kPrefetchColumns = 4;

// Stored row H - 1 - y holds source row y: the map's columns become bottom-up rows. A block of rows reads a few
// whole cache lines of each column per visit.
void buildFullMapRows(const IterationMap& map, int storedFirst, int storedEnd, double* full) {
    const int w = map.width;
    const int h = map.height;
    const int yFirst = h - storedEnd;
    const int yEnd = h - storedFirst;
    for (int x = 0; x < w; ++x) {
        const std::size_t column = static_cast<std::size_t>(x) * h;
        // Each column starts a new page, where the hardware does not guess ahead: fetch a few columns early.
        if (x + kPrefetchColumns < w) {
            const std::size_t ahead = column + static_cast<std::size_t>(kPrefetchColumns) * h + yFirst;
            for (int y = 0; y < yEnd - yFirst; y += 16) {
                __builtin_prefetch(map.counts.data() + ahead + y);
                __builtin_prefetch(map.fractions.data() + ahead + y);
            }
        }
        for (int y = yFirst; y < yEnd; ++y) {
            const std::int32_t c = map.counts[column + y];
            full[static_cast<std::size_t>(h - 1 - y) * w + x] =
                c == map.iterationLimit ? 0.0 : static_cast<double>(c) - static_cast<double>(map.fractions[column + y]);
        }
    }
}

/// Smallest and largest non-zero value and their number; exact in any order, so each worker keeps its own.
struct ValueRange {
    double minimum = 1e100;
    double maximum = 0.0;
    long long count = 0;
};

// One turn of the colour table spans N * step iterations; a value falls between entry j and the next, blended by
// its fraction t. Values below zero wrap the same way (floor, not truncation), so no index leaves the table.
// `colors` holds the table's bytes as doubles: the same products as with the bytes, without a conversion each.
void colourRow(const double* values, int width, const double* colors, long long colorCount, double step,
               std::uint8_t* out, ValueRange& range) {
    const double inverseCount = 1.0 / static_cast<double>(colorCount);
    for (int x = 0; x < width; ++x) {
        std::uint8_t* pixel = out + 3 * x;
        const double v = values[x];
        if (v == 0.0) {
            pixel[0] = pixel[1] = pixel[2] = 0;
            continue;
        }
        if (v > range.maximum) range.maximum = v;
        if (v < range.minimum) range.minimum = v;
        ++range.count;
        const double q = v / step;
        long long j;
        double t;
        if (q >= 0.0 && q < 4.0e15) {
            const long long k = static_cast<long long>(q);
            t = q - static_cast<double>(k);
            // k mod N without an integer division per pixel: the estimate of k / N is off by at most one.
            j = k - static_cast<long long>(static_cast<double>(k) * inverseCount) * colorCount;
            if (j < 0) j += colorCount;
            else if (j >= colorCount) j -= colorCount;
        } else if (std::isfinite(q)) {
            const double k = std::floor(q);
            t = q - k;
            j = static_cast<long long>(std::fmod(k, static_cast<double>(colorCount)));
            if (j < 0) j += colorCount;
        } else {
            pixel[0] = pixel[1] = pixel[2] = 0;
            continue;
        }
        const long long j1 = j + 1 == colorCount ? 0 : j + 1;
        const double* c0 = colors + 3 * j;
        const double* c1 = colors + 3 * j1;
        const double u = 1.0 - t;
        pixel[0] = static_cast<std::uint8_t>(static_cast<int>(c1[0] * t + c0[0] * u));
        pixel[1] = static_cast<std::uint8_t>(static_cast<int>(c1[1] * t + c0[1] * u));
        pixel[2] = static_cast<std::uint8_t>(static_cast<int>(c1[2] * t + c0[2] * u));
    }
}

}  // namespace

void buildKeyframe(const IterationMap& map, long long colorStep, int previewBlock, WorkerPool& pool,
                   KeyframeData& out, Raster& pixels) {
    const int w = map.width;
    const int h = map.height;
    std::vector<double>& full = out.fullMap;
    full.resize(static_cast<std::size_t>(w) * h);
    const double step = static_cast<double>(colorStep);
    const long long colorCount = map.colorCount;

    const std::vector<double> colors(map.colors.begin(), map.colors.end());

    // Each block of rows is coloured while it is still in the cache.
    const int blocks = (h + kRowBlock - 1) / kRowBlock;
    std::vector<ValueRange> ranges(pool.workerCount());
    pool.run([&](int worker, int workers) {
        for (int block = worker; block < blocks; block += workers) {
            const int first = block * kRowBlock;
            const int end = std::min(h, first + kRowBlock);
            buildFullMapRows(map, first, end, full.data());
            for (int r = first; r < end; ++r) {
                colourRow(full.data() + static_cast<std::size_t>(r) * w, w, colors.data(), colorCount, step,
                          pixels.storedRow(r), ranges[worker]);
            }
        }
    });

    const int sw = out.layout.previewWidth;
    const int sh = out.layout.previewHeight;
    out.previewMap.resize(static_cast<std::size_t>(sw) * sh);
    const double blockArea = static_cast<double>(previewBlock) * previewBlock;
    double sum = 0.0;
    pool.run(
        [&](int worker, int workers) {
            for (int r = worker; r < sh; r += workers) {
                for (int c = 0; c < sw; ++c) {
                    double blockSum = 0.0;
                    for (int i = 0; i < previewBlock; ++i) {
                        const double* row =
                            full.data() + static_cast<std::size_t>(r * previewBlock + i) * w + c * previewBlock;
                        for (int j = 0; j < previewBlock; ++j) blockSum += row[j];
                    }
                    out.previewMap[static_cast<std::size_t>(r) * sw + c] = blockSum / blockArea;
                }
            }
        },
        // The average is one sum in stored-row order, so that it is the same number whatever the worker count;
        // it runs on this thread beside the preview. Adding the zeros of the map's interior changes no sum.
        [&] {
            for (const double v : full) sum += v;
        });
    ValueRange all;
    for (const ValueRange& r : ranges) {
        all.minimum = std::min(all.minimum, r.minimum);
        all.maximum = std::max(all.maximum, r.maximum);
        all.count += r.count;
    }
    out.minimum = all.minimum;
    out.maximum = all.maximum;
    out.average = all.count != 0 ? sum / static_cast<double>(all.count) : 0.0;
    out.colorDivisor = map.divisor;
    out.colors = map.colors;
}

ConversionResult runConversion(KeyframeList& list, const ConversionCallbacks& callbacks, WorkerPool& pool,
                               std::recursive_mutex& frameLock) {
    ConversionResult result;
    const int mapCount = list.qvbCount();
    if (mapCount == 0) {
        result.status = Status::failure("This folder do not contain any QVB files!");
        return result;
    }
    if (list.keyframeCount() != mapCount) {
        result.status = Status::failure("The keyframe names of the conversion have not been planned.");
        return result;
    }

    // Two map buffers: the next map is read while the current keyframe is being written.
    IterationMap maps[2];
    std::future<MapReadResult> nextRead;
    KeyframeData keyframe;
    Raster pixels;
    Raster image;
    Raster thumbnail(kThumbnailWidth, kThumbnailHeight);
    keyframe.thumbnail.resize(kThumbnailBytes);
    Zoom zoom;
    int previewBlock = 0;

    auto fail = [&](std::string message, const std::filesystem::path& file) {
        result.status = Status::failure(std::move(message));
        result.failedFile = file;
    };

    for (int i = 0; i < mapCount; ++i) {
        const std::filesystem::path source = list.folder / list.qvbNames[i];
        const std::filesystem::path target = keyframeFilePath(list, i);
        if (callbacks.stopRequested && callbacks.stopRequested()) {
            fail("The conversion was stopped before " + quotedPath(source) + ".", source);
            break;
        }
        if (callbacks.progress) callbacks.progress(i, mapCount);

        IterationMap& map = maps[i % 2];
        const MapReadResult read = i == 0 ? readIterationMap(source, true, map) : nextRead.get();
        if (!read.ok()) {
            fail(read.message, source);
            break;
        }
        const long long colorStep = 1024LL * map.divisor / map.colorCount;
        if (colorStep < 1) {
            fail("The QVB file " + quotedPath(source) + " has " + std::to_string(map.colorCount) +
                     " colors for the divisor " + std::to_string(map.divisor) + ", too many to color it!",
                 source);
            break;
        }

        if (i == 0) {
            const std::optional<Zoom> named = parseZoomField(list.qvbNames[0]);
            if (!named) {
                fail("The name of the QVB file " + quotedPath(source) +
                         " does not give its zoom (a name like 00001_1.25e27.qvb is expected)!",
                     source);
                break;
            }
            zoom = *named;
            previewBlock = callbacks.choosePreviewBlock ? callbacks.choosePreviewBlock(map.width, map.height) : 0;
            if (previewBlock < kMinPreviewBlock || previewBlock > kMaxPreviewBlock) {
                fail("The preview block " + std::to_string(previewBlock) + " is not between 2 and 40!", source);
                break;
            }
            const PreviewSize preview = previewSizeFor(map.width, map.height, previewBlock);
            keyframe.layout = {map.width, map.height, preview.width, preview.height, map.colorCount};
            pixels = Raster(map.width, map.height);
            image = Raster(map.width, map.height);
            // The second buffer takes the first map's sizes, which every later map must have.
            IterationMap& other = maps[1];
            other.width = map.width;
            other.height = map.height;
            other.colorCount = map.colorCount;
            other.counts.resize(map.counts.size());
            other.fractions.resize(map.fractions.size());
            other.colors.resize(map.colors.size());
            std::lock_guard lock(frameLock);
            if (callbacks.publishImage) callbacks.publishImage(&image, &thumbnail);
        }

        buildKeyframe(map, colorStep, previewBlock, pool, keyframe, pixels);
        {
            std::lock_guard lock(frameLock);
            std::memcpy(image.data(), pixels.data(), pixels.sizeBytes());
            stretchAreaAverage(image, thumbnail);
            std::memcpy(keyframe.thumbnail.data(), thumbnail.data(), kThumbnailBytes);
        }
        if (callbacks.imageChanged) callbacks.imageChanged();

        if (i + 1 < mapCount) {
            nextRead = std::async(std::launch::async, [&maps, next = list.folder / list.qvbNames[i + 1], i] {
                return readIterationMap(next, false, maps[(i + 1) % 2]);
            });
        }

        keyframe.zoomMantissa = zoom.mantissa;
        keyframe.zoomExponent = zoom.exponent;
        if (Status written = writeKeyframe(target, keyframe); !written) {
            fail(written.message, target);
            break;
        }
        ++result.keyframesWritten;
        zoom = halveZoom(zoom);
    }

    if (nextRead.valid()) nextRead.wait();
    if (!image.empty()) {  // published once the first map was read
        std::lock_guard lock(frameLock);
        if (callbacks.publishImage) callbacks.publishImage(nullptr, nullptr);
    }
    if (!result.status) return result;

    if (Status loaded = scanKeyframes(list); !loaded) result.status = loaded;
    return result;
}

}  // namespace zoomreel
