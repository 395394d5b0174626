#include "export/colour.h"

#include <libyuv/convert.h>

bool rgbaToYuv420(const uint8_t* rgba, int width, int height, bool bottomUp,
                  const YuvPlanes& planes) {
    if (rgba == nullptr || width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0) {
        return false;
    }
    // libyuv names a pixel's channels from its highest byte down, so bytes R, G, B, A are its
    // "ABGR"; a negative height reads the rows from the last one up, which turns GL's picture
    // the right way up without a copy.
    return libyuv::ABGRToI420(rgba, width * 4, planes.y, planes.yStride, planes.u, planes.uStride,
                              planes.v, planes.vStride, width, bottomUp ? -height : height) == 0;
}
