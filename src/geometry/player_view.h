#pragma once

#include <string>

#include "geometry/point3.h"

// Fixed cameras that frame the whole keyboard and both hands, for the real-time window and for
// pictures and videos drawn without a window. Pure camera math: nothing here calls GL.

enum class CameraView {
    Player,  // from the bench: in front of the keys and above them, the bass on the left
    Above,   // from straight above the keys, the player's side at the bottom of the picture
    Side     // from the treble end, in front of the keyboard and a little above it
};

// "player", "above" or "side" (exactly, lower case). False for any other name.
bool cameraViewFromName(const std::string& name, CameraView* view);

// Sets cameraEye, cameraCenter and cameraUp (geometry/camera.h), and cameraDistance, cameraPitch
// and cameraYaw to match, so that the whole keyboard and both hands fill a picture of this aspect
// ratio (width / height) seen from that side. Also sets viewFarPlane. An aspect ratio that is
// not a positive finite number is taken as 16:9.
void setPlayerView(CameraView view, double aspect);

// ---- Set by setPlayerView; read by the projection of the pictures (render/view_gl.h). ----
// The far clipping plane the current view needs: beyond the farthest corner of the scene from
// the eye, and never nearer than the window's own far plane.
extern double viewFarPlane;

// Where a point of the scene lands in a picture of width x height pixels, seen from the current
// camera (cameraEye, cameraCenter, cameraUp) through the window's perspective (60 degrees
// vertically, near plane 0.5) and viewFarPlane: *column counts from the left edge and *row from
// the top edge, both in pixels, as a picture file stores them. False when the point is behind
// the eye or the picture has no size.
bool projectToPixel(Point3 point, int width, int height, double* column, double* row);
