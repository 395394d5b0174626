#pragma once

// Draws the 88 keys, each tilted about the common hinge line by its press angle, into the
// current modelview matrix (the caller encloses it in a push and a pop). Needs keyStates to hold
// 88 records and KeyLayout to be built. Clamps stored angles of 10 or more to exactly 10.
void drawKeyboard();
// One white key body centred on the origin, long axis along +z: 0.3 x 0.3 x 1.65. Leaves its
// scale on the matrix; the caller's pop removes it.
void drawWhiteKey();
// One black key body centred on the origin, long axis along +z: 0.15 x 0.15 x 1.03125. Leaves
// its scale on the matrix; the caller's pop removes it.
void drawBlackKey();
