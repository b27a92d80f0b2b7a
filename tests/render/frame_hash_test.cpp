// The pixels of 3D and relief frames, pinned: each frame's FNV-1a 64 hash, recorded from a renderer known to be
// right, must come out again for every worker count, whatever is done to make those stages faster.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "render/frame_renderer.h"
#include "render/keyframe_folder.h"

namespace zoomreel {
namespace {

constexpr int kMapWidth = 64;
constexpr int kMapHeight = 40;
constexpr int kFrames = 4;
constexpr std::array<float, kFrames> kPositions{1.0f, 1.37f, 1.99f, 2.5f};

std::uint64_t fnv1a(const Raster& image, std::uint64_t hash = 14695981039346656037ull) {
    for (int r = 0; r < image.height(); ++r) {
        const std::uint8_t* row = image.storedRow(r);
        for (int b = 0; b < 3 * image.width(); ++b) hash = (hash ^ row[b]) * 1099511628211ull;
    }
    return hash;
}

struct HashCase {
    const char* name;
    int frameWidth;
    std::function<void(RenderSettings&)> setUp;
    /// The light and the 3D evolution factors of frame i, as the movie driver hands them over.
    std::function<void(int frame, FrameInputs&)> inputs;
    std::array<std::uint64_t, kFrames> hashes;
};

TEST(FrameHash, FramesKeepTheirPixelsForEveryWorkerCount) {
    test::KeyframeFolder folder(5, kMapWidth, kMapHeight);
    const auto at = [](double degrees) { return [degrees](int, FrameInputs& in) { in.frameLightAngle = degrees; }; };
    const auto none = [](RenderSettings&) {};
    const std::vector<HashCase> cases = {
        {"3D light -45", 192, none, at(-45), {0x36df6803650ec384ull, 0x9cf7306b9dcbf94dull, 0x4717c6465277e852ull, 0xa7a818f9aa86546bull}},
        {"3D light 45", 192, none, at(45), {0x9b3f1a316ec36953ull, 0xf5f23cc003d24be3ull, 0x9851dcb6430d6100ull, 0x3caec361670078d6ull}},
        {"3D light 135", 192, none, at(135), {0xaa8ad3618e547d55ull, 0x891955b351d5244aull, 0x3ffdbda562078d72ull, 0x69919f6dcda1c8a1ull}},
        {"3D light -135", 192, none, at(-135), {0xa73f04c94c207567ull, 0xf1d22cb4dd3a92a0ull, 0x75cba8c3e9fac0c4ull, 0xc407c249477ae0b6ull}},
        {"3D light 0", 192, none, at(0), {0x3c16a95bd748649dull, 0x0b98af0e49f8a0e1ull, 0x56a83345bdf9b734ull, 0x616f43abaf6cc441ull}},
        {"3D light 90", 192, none, at(90), {0xe448aea0366f2f69ull, 0xba9acf5241fdeb30ull, 0x54e495ab8d94deebull, 0x3e351edd205cd3ffull}},
        {"3D light 180", 192, none, at(180), {0x5225867d5e1cc390ull, 0x6eb76cf299c2f41bull, 0x622490f40d193fc7ull, 0x7eda194c614d5718ull}},
        {"3D light -90", 192, none, at(-90), {0xd6d2f4d355b08343ull, 0x0717a8b5adc3e069ull, 0xc49285a98c78625bull, 0xe4b8912238afaa84ull}},
        {"mirrored light -45", 192, [](RenderSettings& s) { s.projection.zScale = -70; }, at(-45), {0xade9f695654b3212ull, 0x4a237c5cedb18c13ull, 0xba97c0a514986b4dull, 0x6290df19a597a4dbull}},
        {"mirrored light 135", 192, [](RenderSettings& s) { s.projection.zScale = -70; }, at(135), {0xbb3c8aad6aff09e9ull, 0x95628aedaefee7f9ull, 0x03045cef287d249aull, 0x711bf513553d2d53ull}},
        {"mirrored light 30", 192, [](RenderSettings& s) { s.projection.zScale = -45; }, at(30), {0x7bbc076c5c341181ull, 0xde54f998e0136345ull, 0xe7940bd161d67292ull, 0xf1528bb893495135ull}},
        {"no shadows", 192, [](RenderSettings& s) { s.projection.shadowCoef = 1; }, at(-45), {0x49092761519c11ffull, 0xdfaa843a1667db8full, 0xca8de34e4448bae3ull, 0xadc91ef079dfbc50ull}},
        {"black shadows", 192, [](RenderSettings& s) { s.projection.shadowCoef = 0; }, at(60), {0x6f1d2fead71520a3ull, 0x5c6a4a05ebb44452ull, 0x87e2b936c178b8e5ull, 0x0953af8ebdccb495ull}},
        {"long shadows", 192, [](RenderSettings& s) { s.projection.shadowAngle = 8; }, at(-20), {0x0689f14eebde64d0ull, 0xab1e90b220c08e34ull, 0xc06d56e8b546d525ull, 0x63961a21a1712e17ull}},
        {"short shadows", 192, [](RenderSettings& s) { s.projection.shadowAngle = 80; }, at(110), {0x7b58c1db5101c872ull, 0x3c568265af7e3eabull, 0x79db204c62393a6eull, 0x0a418ad8a6172aa8ull}},
        {"no smoothing", 192, [](RenderSettings& s) { s.projection.gaussianFilter = 0; }, at(-45), {0x977c4267c4aab18full, 0x35e008fdb53dd6f2ull, 0xfbdfb6c7f0ad9977ull, 0xb8cedf12dea34537ull}},
        {"wide smoothing", 192, [](RenderSettings& s) { s.projection.gaussianFilter = 60; }, at(-45), {0xa3fb4ff665784ff6ull, 0x026d9b9e64482b11ull, 0x3449c206939a3ef9ull, 0x8a622d6a703c66f1ull}},
        {"sqrt log, hard cap", 192,
         [](RenderSettings& s) {
             s.projection.sqrtIter = 1;
             s.projection.logIter = 1;
             s.projection.asymptotic = 0;
             s.projection.maxIter = 40;
             s.projection.zScale = 900;
         },
         at(-45), {0x32d3ab5324fb2775ull, 0x16b8e4169781f62full, 0x371c1d2f34a96f12ull, 0x03372aea6ab4483bull}},
        {"log", 192,
         [](RenderSettings& s) {
             s.projection.logIter = 1;
             s.projection.zScale = 500;
         },
         at(200), {0x69874f408db6cb44ull, 0xa75f2c3f431a79cbull, 0x4c43e97b3174d0c8ull, 0xcd803ca7e1859d79ull}},
        {"keyframe by keyframe", 192, [](RenderSettings& s) { s.keyframeByKeyframe = true; }, at(-45), {0x77b4090738ae6b5bull, 0x7c36e7c924b78803ull, 0x5f10d74694fa0f41ull, 0x4a136a50c43bf4eaull}},
        {"evolution curves", 192, none,
         [](int i, FrameInputs& in) {
             in.frameLightAngle = -45 + 70 * i;
             in.zScaleFactor = 1 + 0.4 * i;
             in.maxIterFactor = 1 - 0.2 * i;
             in.vertShiftFactor = 1 + 2.0 * i;
         },
         {0x36df6803650ec384ull, 0xa91e4c9848dadc0aull, 0x8ecaedb09361d870ull, 0x4de103f59073c408ull}},
        {"minimum subtracted", 192, [](RenderSettings& s) { s.subtractMinimum.subtract = 1; }, at(-45), {0xd34ca3a6ef985e8cull, 0xcdb1ffb983d7cb31ull, 0xfb8c27fcf6eb69feull, 0xab1942ae51487997ull}},
        {"3D with relief", 192, [](RenderSettings& s) { s.relief.active = 1; }, at(-45), {0x013e77ae1f791f90ull, 0xbd87c126c66a43c6ull, 0xd58d53520f1eb4b9ull, 0x05c03bcdc8983f58ull}},
        {"3D frame below the map size", 40, none, at(-45), {0x6e67b995fd62c8f3ull, 0x4c1d979bc2630fd6ull, 0xefc9195962d23541ull, 0x8596894621370252ull}},
        {"3D odd frame", 251, [](RenderSettings& s) { s.projection.shadowAngle = 20; }, at(-160), {0x5c524652a0840a72ull, 0x825cec6d831737edull, 0x8fde8bfb50455d75ull, 0xbfb2047ee1b10b1bull}},
        {"3D wide frame", 400, none, at(-45), {0xbb40eb64fa71cde9ull, 0x47f33232970377f8ull, 0x773f53f4f23e8611ull, 0xfe5e84455250fc64ull}},
        {"relief", 192,
         [](RenderSettings& s) {
             s.projection.active = 0;
             s.relief.active = 1;
         },
         at(-45), {0xa1689ede1e1a9860ull, 0x661018e28f2b67b8ull, 0x52c966277db10054ull, 0xd991230500cfd1f4ull}},
        {"relief, distance estimator", 192,
         [](RenderSettings& s) {
             s.projection.active = 0;
             s.relief.active = 1;
             s.relief.distanceEstimator = 1;
             s.relief.deSqrt = 1;
             s.relief.phong2 = 0;
         },
         at(100), {0xd257952b7957d0fbull, 0xe672d4a80836e7eaull, 0xf0ab6935f7101e8aull, 0x222f196a59d14da7ull}},
        {"relief keyframe by keyframe", 192,
         [](RenderSettings& s) {
             s.projection.active = 0;
             s.relief.active = 1;
             s.keyframeByKeyframe = true;
         },
         at(-170), {0x3dc0a636beef15b4ull, 0xe96479d0f751e025ull, 0xc02542e8b850a4e5ull, 0x322285b518c80032ull}},
    };
    for (const HashCase& c : cases) {
        for (const int workers : {1, 2, 3}) {
            RenderSettings s;
            s.keyframes = &folder.list;
            s.finalWidth = c.frameWidth;
            s.finalHeight = kMapHeight * c.frameWidth / kMapWidth;
            s.height3D = s.finalHeight * 6 / 5;
            c.setUp(s);
            FrameRenderer renderer(workers);
            MovieFrameContext context;
            for (int i = 0; i < kFrames; ++i) {
                c.inputs(i, renderer.inputs);
                ASSERT_TRUE(RenderMovieFrame(renderer, s, {}, kPositions[i], 0.3f, 0.25f, context).ok) << c.name;
                const std::uint64_t got =
                    s.projection.active != 0 ? fnv1a(context.frame3D, fnv1a(context.frame)) : fnv1a(context.frame);
                EXPECT_EQ(got, c.hashes[i]) << c.name << ", frame " << i << ", " << workers << " workers";
            }
        }
    }
}

}  // namespace
}  // namespace zoomreel
