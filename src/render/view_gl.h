#pragma once

// The projection and viewport for a picture of width x height pixels seen from one of the fixed
// views (geometry/player_view.h): the window's 60-degree perspective and near plane, with the far
// plane the view asks for. Used alike by the real-time window and by drawing without a display,
// so both show the same picture. Nothing happens for a size of zero or less.
void setViewProjection(int width, int height);
