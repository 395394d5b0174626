// The video's colour conversion against the BT.601 studio-range formulas, pixel by pixel, on
// pictures that have every kind of edge the drawing makes (flat areas, hard steps between
// saturated colours, gradients, single-pixel lines), read either way up.

#include "export/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {
struct Yuv {
    double y, u, v;
};

// BT.601 weights, brightness 16..235 and colour 16..240, as a video player expects by default.
Yuv reference(const uint8_t* p) {
    const double r = p[0];
    const double g = p[1];
    const double b = p[2];
    return {16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0,
            128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0,
            128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0};
}

// A test picture: colour bars, a grey ramp, a rainbow gradient, pixel-wide lines and noise.
std::vector<uint8_t> picture(int width, int height, unsigned seed) {
    static const uint8_t bars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                       {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    std::srand(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
            const int band = y * 5 / height;
            if (band == 0) {
                const uint8_t* c = bars[x * 8 / width];
                p[0] = c[0], p[1] = c[1], p[2] = c[2];
            } else if (band == 1) {
                p[0] = p[1] = p[2] = static_cast<uint8_t>(x * 255 / (width - 1));
            } else if (band == 2) {
                p[0] = static_cast<uint8_t>(x * 255 / (width - 1));
                p[1] = static_cast<uint8_t>(y * 255 / (height - 1));
                p[2] = static_cast<uint8_t>(255 - x * 255 / (width - 1));
            } else if (band == 3) {
                const bool line = x % 7 == 0 || y % 5 == 0;
                p[0] = line ? 250 : 20, p[1] = line ? 40 : 30, p[2] = line ? 10 : 200;
            } else {
                p[0] = static_cast<uint8_t>(std::rand()), p[1] = static_cast<uint8_t>(std::rand());
                p[2] = static_cast<uint8_t>(std::rand());
            }
            p[3] = 255;
        }
    }
    return rgba;
}

struct Planes {
    std::vector<uint8_t> y, u, v;
    YuvPlanes view;
    Planes(int width, int height, int pad)
        : y(static_cast<size_t>(width + pad) * height),
          u(static_cast<size_t>(width / 2 + pad) * (height / 2)),
          v(u.size()) {
        view =
            YuvPlanes{y.data(), u.data(), v.data(), width + pad, width / 2 + pad, width / 2 + pad};
    }
};
}  // namespace

TEST(Colour, MatchesTheStudioRangeFormulasEitherWayUp) {
    // Sizes of a video, a phone's portrait frame and an awkward small one (rows not a multiple
    // of any vector width), planes with and without padding at the rows' ends.
    const int sizes[][3] = {{1280, 720, 0}, {360, 640, 32}, {38, 26, 3}};
    for (const auto& size : sizes) {
        const int width = size[0];
        const int height = size[1];
        const std::vector<uint8_t> top = picture(width, height, static_cast<unsigned>(width));
        // The same picture as GL reads it: its last row first.
        std::vector<uint8_t> bottom(top.size());
        const size_t row = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            std::copy(top.begin() + row * y, top.begin() + row * (y + 1),
                      bottom.begin() + row * (height - 1 - y));
        }
        Planes fromTop(width, height, size[2]);
        Planes fromBottom(width, height, size[2]);
        ASSERT_TRUE(rgbaToYuv420(top.data(), width, height, false, fromTop.view));
        ASSERT_TRUE(rgbaToYuv420(bottom.data(), width, height, true, fromBottom.view));
        EXPECT_EQ(fromTop.y, fromBottom.y) << width << "x" << height;
        EXPECT_EQ(fromTop.u, fromBottom.u) << width << "x" << height;
        EXPECT_EQ(fromTop.v, fromBottom.v) << width << "x" << height;

        double worstY = 0.0;
        double worstColour = 0.0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Yuv want = reference(top.data() + (static_cast<size_t>(y) * width + x) * 4);
                const double got = fromTop.y[static_cast<size_t>(y) * fromTop.view.yStride + x];
                worstY = std::max(worstY, std::fabs(got - want.y));
            }
        }
        // Each colour sample is the average of its two by two pixels' colour.
        for (int y = 0; y < height / 2; ++y) {
            for (int x = 0; x < width / 2; ++x) {
                Yuv sum{0.0, 0.0, 0.0};
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        const Yuv c =
                            reference(top.data() +
                                      (static_cast<size_t>(2 * y + dy) * width + 2 * x + dx) * 4);
                        sum.u += c.u / 4.0;
                        sum.v += c.v / 4.0;
                    }
                }
                const size_t at = static_cast<size_t>(y) * fromTop.view.uStride + x;
                worstColour = std::max(worstColour, std::fabs(fromTop.u[at] - sum.u));
                worstColour = std::max(worstColour, std::fabs(fromTop.v[at] - sum.v));
            }
        }
        // Fixed-point arithmetic rounds: within two levels of 219 (brightness), 224 (colour).
        EXPECT_LE(worstY, 2.0) << width << "x" << height;
        EXPECT_LE(worstColour, 2.0) << width << "x" << height;
    }
}

TEST(Colour, RefusesSizesA420VideoCannotHave) {
    std::vector<uint8_t> rgba(16 * 16 * 4, 128);
    Planes planes(16, 16, 0);
    EXPECT_FALSE(rgbaToYuv420(rgba.data(), 15, 16, false, planes.view));
    EXPECT_FALSE(rgbaToYuv420(rgba.data(), 16, 15, true, planes.view));
    EXPECT_FALSE(rgbaToYuv420(rgba.data(), 0, 16, false, planes.view));
    EXPECT_FALSE(rgbaToYuv420(nullptr, 16, 16, false, planes.view));
    EXPECT_TRUE(rgbaToYuv420(rgba.data(), 16, 16, false, planes.view));
}
