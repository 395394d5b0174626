#pragma once

#include <glm/glm.hpp>

// The cameras of the new look (every mode but the classic window). Pure maths: the matrices are
// computed here and loaded as they are by the drawing, so that a pixel the tests compute is the
// pixel GL fills.
//
// Scene frame: x along the keyboard (bass at -x), y up, z towards the player; the keys' tops are
// near y = 0.15 (white) and 0.275 (black), their hinge at z = -0.825 and their front at 0.825.

enum class LookView {
    Player,  // from behind and slightly above the player's seat: all 88 keys across the width
    Above,   // from above, the player's side at the bottom of the picture
    Side,    // from the treble end, in front of the keyboard and above it
    Follow   // the player's view closed in on the range the hands play in now
};

// "player", "above", "side" or "follow" (exactly). False for any other name.
bool lookViewFromName(const char* name, LookView* view);

struct LookCamera {
    glm::mat4 view{1.0f};        // scene -> eye
    glm::mat4 projection{1.0f};  // eye -> clip (an off-axis frustum)
    int width = 1;               // picture size the projection was made for, pixels
    int height = 1;
};

// Where the keyboard's ends lie along x: the outer edges of A0 and C8.
constexpr float kKeyboardLeft = -8.34f;
constexpr float kKeyboardRight = 8.355f;

// The camera for a picture of width x height pixels. `rangeLeft`..`rangeRight` is the stretch of
// the keyboard to frame (the whole keyboard for every view but Follow, which passes the hands'
// range). The keyboard's stretch spans kFrameShare of the width; the keyboard sits at the bottom
// of the picture and the space above it is the note lane's. Sizes below one pixel count as one.
LookCamera makeLookCamera(LookView view, int width, int height, float rangeLeft = kKeyboardLeft,
                          float rangeRight = kKeyboardRight);

// Share of the picture's width the framed stretch of keyboard takes.
constexpr float kFrameShare = 0.96f;

// The camera turned by a mouse drag: about the keyboard's middle, `yaw` degrees round the
// vertical (positive: the eye goes towards the treble end) and `tilt` degrees over the keys
// (positive: the eye goes higher). The projection stays, so the picture keeps its framing at
// no turn.
struct LookTurn {
    float yaw = 0.0f;
    float tilt = 0.0f;
};
LookCamera turnLookCamera(const LookCamera& camera, LookTurn turn);

// A drag of dx, dy pixels (right, down) turns the camera by 0.15 degrees a pixel (right: the eye
// goes towards the treble end; up: higher), within kMostYaw either way and kLowestTilt ..
// kHighestTilt, so the keyboard stays in sight.
constexpr float kMostYaw = 30.0f;
constexpr float kLowestTilt = -15.0f;
constexpr float kHighestTilt = 25.0f;
void dragLookTurn(LookTurn* turn, int dx, int dy);

// Where a scene point lands: *column from the left edge, *row from the top edge, in pixels (a
// pixel's centre is at +0.5). False when the point is behind the eye.
bool projectLook(const LookCamera& camera, glm::vec3 point, double* column, double* row);
