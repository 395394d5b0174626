#pragma once

// Draw the right hand in the hand frame the scene has set up (material set, frame translated
// to the hand's height and depth and turned -90 degrees about x). Aims the playing fingers first.
void drawRightHand();
// The same for the left hand, mirrored.
void drawLeftHand();
