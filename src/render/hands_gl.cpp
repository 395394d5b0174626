#include "render/hands_gl.h"

// TODO(hands): palm, thenar, thumb and fingers.
void drawRightHand() {}
void drawLeftHand() {}
