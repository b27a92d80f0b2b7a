#pragma once

// How the passes of the 3D stage share rows, columns and lines out over the workers of a pool.

#include <cstdint>

namespace zoomreel {

/// Contiguous share `worker` of `count` items.
struct Share {
    int begin;
    int end;
};
inline Share shareOf(int count, int worker, int workers) {
    return {static_cast<int>(static_cast<std::int64_t>(count) * worker / workers),
            static_cast<int>(static_cast<std::int64_t>(count) * (worker + 1) / workers)};
}

}  // namespace zoomreel
