#pragma once

#include "geometry/hand_pose.h"
#include "look/look_camera.h"

// How much of a thumb a camera sees: the player learns which finger plays from the picture, so
// the thumb on its key must show beside the palm rather than under it. Pure: the hand's solids
// as the drawing makes them (look/look_mesh.h, geometry/hand_contact.h), rays from the eye.

// The share (0..1) of points on the thumb's last bone, on its side facing the eye, that the
// camera sees past the rest of the same hand (forearm, wrist, palm, knuckles, the ball of the
// thumb and the other fingers). The points are the bone's middle, three quarters and end.
float thumbTipShown(const LookCamera& camera, const HandPose& hand);
