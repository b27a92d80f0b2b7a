#pragma once

// The vector loops of level colouring, written once for any width of double vector. The baseline translation unit
// instantiates them with 2-lane vectors; row_kernels_avx2.cpp, compiled for AVX2, with 4-lane ones, chosen at run
// time when the processor has it. Each lane computes exactly what the scalar formulas compute (the same IEEE
// operations in the same order, no fused multiply-add), so the picture does not depend on the path taken.

#include <cstdint>

namespace zoomreel {

/// The per-level constants of the plain relief lighting (see level_coloring.cpp).
struct LightingConstants {
    double horizontalSign = 1.0;  ///< -1 when the relief is inverted
    double verticalSign = 1.0;    ///< also -1 on the first row, whose difference is taken with the row after
    double cosA = 1.0;
    double sinA = 0.0;
    double kSquared = 0.0;
    double ratioK = 0.0;
    double ratio = 0.0;
    double steepLimit = 0.0;
    double qLow = 0.0;
    double qHigh = 0.0;
    double facingSquaredMin = 0.0;
};

/// Whether the AVX2 loops may run here.
bool haveAvx2Kernels();

/// The AVX2 instances; each returns the first column it left for the caller.
int lightingRowAvx2(const LightingConstants& k, const double* row, const double* vertical, int c, int end,
                    double* scales, double* lifts, std::uint8_t* alone);
int positionsRowAvx2(const double* row, int c, int end, double v, double w, double* positions);

namespace {  // internal linkage: instances built for different instruction sets must never be merged

/// Relief lighting of columns c, c + 1, ... (c >= 1), Ops::kLanes at a time, while a whole vector fits before
/// `end`: the blend scale and lift of every pixel, and a mark on pixels to be done alone (a possible highlight,
/// or a slope too steep for the formula).
template <typename Ops>
int lightingRowLanes(const LightingConstants& k, const double* row, const double* vertical, int c, int end,
                     double* scales, double* lifts, std::uint8_t* alone) {
    using V = typename Ops::V;
    constexpr int kLanes = Ops::kLanes;
    const V zero = Ops::broadcast(0.0);
    const V one = Ops::broadcast(1.0);
    for (; c + kLanes <= end; c += kLanes) {
        const V x = Ops::load(row + c);
        const V dx = (Ops::load(row + c - 1) - x) * k.horizontalSign;
        const V dy = (Ops::load(vertical + c) - x) * k.verticalSign;
        const V q = dx * dx + dy * dy;
        const V absDx = dx < zero ? -dx : dx;
        const V n = dy == zero ? k.cosA * absDx : dy * k.cosA + dx * k.sinA;
        const V k2q = k.kSquared * q;
        const V weight = k.ratioK * n / Ops::sqrt(one + k2q);
        // A flat pixel (d = 0) faces the light by cos A; only its sign matters to the choice below.
        const V light = (dx == zero) & (dy == zero) ? Ops::broadcast(k.ratio * k.cosA) : k.ratio * n;
        const auto bright = light > zero;
        Ops::store(scales + c, bright ? one - weight : one + weight);
        Ops::store(lifts + c, bright ? 255.0 * weight : zero);
        const auto candidate = bright & (q >= k.qLow) & (q <= k.qHigh) & (n * n >= k.facingSquaredMin * q);
        const auto steep = !(k2q < k.steepLimit);
        const auto marks = candidate | steep;
        for (int i = 0; i < kLanes; ++i) alone[c + i] = marks[i] != 0 ? 1 : 0;
    }
    return c;
}

/// Palette positions x / v + w of columns c, c + 1, ..., Ops::kLanes at a time.
template <typename Ops>
int positionsRowLanes(const double* row, int c, int end, double v, double w, double* positions) {
    constexpr int kLanes = Ops::kLanes;
    for (; c + kLanes <= end; c += kLanes) Ops::store(positions + c, Ops::load(row + c) / v + w);
    return c;
}

}  // namespace
}  // namespace zoomreel
