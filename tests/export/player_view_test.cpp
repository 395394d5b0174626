// The fixed cameras: the whole keyboard in the picture and from the side asked for, for any
// shape of picture, and the pixel projection the video tests rely on.

#include "geometry/player_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/camera.h"
#include "geometry/key_layout.h"

namespace {
// The corners of every key's top face and of the hands' highest point over the end keys.
std::vector<Point3> keyboardCorners() {
    buildKeyLayout();
    std::vector<Point3> corners;
    for (int key = 0; key < 88; ++key) {
        const float half = KeyLayout[key].black == 1.0f ? 0.075f : 0.15f;
        const float top = KeyLayout[key].black == 1.0f ? 0.275f : 0.15f;
        for (float z : {-0.825f, 0.825f}) {
            corners.push_back({KeyLayout[key].x - half, top, z});
            corners.push_back({KeyLayout[key].x + half, top, z});
        }
    }
    // A hand over either end key, its palm in front of the keys.
    corners.push_back({KeyLayout[0].x, 1.1f, 1.6f});
    corners.push_back({KeyLayout[87].x, 1.1f, 1.6f});
    return corners;
}

// How far in front of the eye a point lies along the line of sight: what the far plane clips.
double depth(Point3 p) {
    const double fx = cameraCenter.x - cameraEye.x;
    const double fy = cameraCenter.y - cameraEye.y;
    const double fz = cameraCenter.z - cameraEye.z;
    const double n = std::sqrt(fx * fx + fy * fy + fz * fz);
    return ((p.x - cameraEye.x) * fx + (p.y - cameraEye.y) * fy + (p.z - cameraEye.z) * fz) / n;
}
}  // namespace

TEST(PlayerView, NamesOfTheViews) {
    CameraView view = CameraView::Side;
    EXPECT_TRUE(cameraViewFromName("player", &view));
    EXPECT_EQ(view, CameraView::Player);
    EXPECT_TRUE(cameraViewFromName("above", &view));
    EXPECT_EQ(view, CameraView::Above);
    EXPECT_TRUE(cameraViewFromName("side", &view));
    EXPECT_EQ(view, CameraView::Side);
    for (const char* name : {"", "Player", "front", "side ", "abovee"}) {
        view = CameraView::Player;
        EXPECT_FALSE(cameraViewFromName(name, &view)) << name;
        EXPECT_EQ(view, CameraView::Player) << name;
    }
}

TEST(PlayerView, TheWholeKeyboardFitsSnuglyEveryPictureShape) {
    const std::vector<Point3> corners = keyboardCorners();
    const int sizes[][2] = {{1280, 720}, {640, 480}, {500, 500}, {720, 1280}, {2560, 1080}};
    for (CameraView view : {CameraView::Player, CameraView::Above, CameraView::Side}) {
        for (const auto& size : sizes) {
            const int w = size[0];
            const int h = size[1];
            setPlayerView(view, static_cast<double>(w) / h);
            double left = w, right = 0, top = h, bottom = 0;
            double farthest = 0;
            for (const Point3& p : corners) {
                double column = 0;
                double row = 0;
                ASSERT_TRUE(projectToPixel(p, w, h, &column, &row));
                left = std::min(left, column);
                right = std::max(right, column);
                top = std::min(top, row);
                bottom = std::max(bottom, row);
                farthest = std::max(farthest, depth(p));
            }
            const std::string shape = std::to_string(static_cast<int>(view)) + " at " +
                                      std::to_string(w) + "x" + std::to_string(h);
            EXPECT_GE(left, 0.0) << shape;
            EXPECT_LE(right, w) << shape;
            EXPECT_GE(top, 0.0) << shape;
            EXPECT_LE(bottom, h) << shape;
            // Snug: the keyboard spans most of the picture one way or the other (less from the
            // side, where the near end looms and the far end shrinks).
            EXPECT_GT(std::max((right - left) / w, (bottom - top) / h),
                      view == CameraView::Side ? 0.45 : 0.6)
                << shape;
            EXPECT_GE(viewFarPlane, farthest) << shape;
            EXPECT_GE(viewFarPlane, 15.0) << shape;
            // The eye looks from the side asked for.
            const Point3 look = {cameraEye.x - cameraCenter.x, cameraEye.y - cameraCenter.y,
                                 cameraEye.z - cameraCenter.z};
            if (view == CameraView::Player) {
                EXPECT_GT(look.z, 0.0f) << shape;
                EXPECT_GT(look.y, 0.0f) << shape;
                EXPECT_NEAR(look.x, 0.0f, 1e-4) << shape;
            } else if (view == CameraView::Above) {
                EXPECT_GT(look.y, 10.0f * std::fabs(look.z)) << shape;
            } else {
                EXPECT_GT(look.x, look.z) << shape;
                EXPECT_GT(look.z, 0.0f) << shape;
            }
        }
    }
}

TEST(PlayerView, ProjectionOfPointsToPixels) {
    setPlayerView(CameraView::Player, 16.0 / 9.0);
    double column = 0;
    double row = 0;
    ASSERT_TRUE(projectToPixel(cameraCenter, 1280, 720, &column, &row));
    EXPECT_NEAR(column, 640.0, 1e-3);
    EXPECT_NEAR(row, 360.0, 1e-3);
    // Higher up in the scene is higher in the picture; further right is further right.
    double column2 = 0;
    double row2 = 0;
    ASSERT_TRUE(projectToPixel({cameraCenter.x + 1.0f, cameraCenter.y + 0.5f, cameraCenter.z}, 1280,
                               720, &column2, &row2));
    EXPECT_GT(column2, column);
    EXPECT_LT(row2, row);
    // Behind the eye, or no picture: no pixel.
    const Point3 behind = {2 * cameraEye.x - cameraCenter.x, 2 * cameraEye.y - cameraCenter.y,
                           2 * cameraEye.z - cameraCenter.z};
    EXPECT_FALSE(projectToPixel(behind, 1280, 720, &column, &row));
    EXPECT_FALSE(projectToPixel(cameraCenter, 0, 720, &column, &row));
    EXPECT_FALSE(projectToPixel(cameraCenter, 1280, -1, &column, &row));
}

TEST(PlayerView, AnAspectRatioThatIsNoNumberCountsAsSixteenByNine) {
    setPlayerView(CameraView::Above, 16.0 / 9.0);
    const Point3 wide = cameraEye;
    for (double aspect : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
        cameraEye = {0, 0, 0};
        setPlayerView(CameraView::Above, aspect);
        EXPECT_EQ(cameraEye.x, wide.x) << aspect;
        EXPECT_EQ(cameraEye.y, wide.y) << aspect;
        EXPECT_EQ(cameraEye.z, wide.z) << aspect;
    }
}
