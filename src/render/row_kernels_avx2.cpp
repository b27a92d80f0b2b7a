// Built with AVX2 enabled (see src/CMakeLists.txt); called only when the processor has it.
#include "render/row_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace zoomreel {

#if defined(__AVX2__)
namespace {

struct Avx2Lanes {
    using V = __m256d;
    static constexpr int kLanes = 4;
    static V broadcast(double x) { return _mm256_set1_pd(x); }
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V sqrt(V v) { return _mm256_sqrt_pd(v); }
};

}  // namespace

bool haveAvx2Kernels() {
    static const bool have = __builtin_cpu_supports("avx2") != 0;
    return have;
}

int lightingRowAvx2(const LightingConstants& k, const double* row, const double* vertical, int c, int end,
                    double* scales, double* lifts, std::uint8_t* alone) {
    return lightingRowLanes<Avx2Lanes>(k, row, vertical, c, end, scales, lifts, alone);
}

int positionsRowAvx2(const double* row, int c, int end, double v, double w, double* positions) {
    return positionsRowLanes<Avx2Lanes>(row, c, end, v, w, positions);
}

#else

bool haveAvx2Kernels() { return false; }
int lightingRowAvx2(const LightingConstants&, const double*, const double*, int c, int, double*, double*,
                    std::uint8_t*) {
    return c;
}
int positionsRowAvx2(const double*, int c, int, double, double, double*) { return c; }

#endif

}  // namespace zoomreel
