#pragma once

#include <cstdint>

// The picture's colour turned into the video's: RGBA pixels (bytes in that order, as GL reads
// them) into 4:2:0 YUV planes of the studio range and BT.601 weights, the frame's brightness at
// every pixel and its two colour planes each one sample for two by two pixels, their average.
// Through libyuv, whose vector code does a 1280x720 frame in about a tenth of the time of
// swscale's general path.

struct YuvPlanes {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    int yStride = 0;  // bytes from one row to the next in each plane
    int uStride = 0;
    int vStride = 0;
};

// width and height even. Rows of `rgba` are width * 4 bytes apart, from the top edge down, or
// from the bottom edge up (as GL reads them) when bottomUp is set; the planes are written from
// the top down either way. false when the converter refuses the sizes.
bool rgbaToYuv420(const uint8_t* rgba, int width, int height, bool bottomUp,
                  const YuvPlanes& planes);
