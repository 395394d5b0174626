#include "animation/animation.h"

std::vector<KeyState> keyStates;
HandState rightHand;
HandState leftHand;
int32_t tickPhase = 0;

// TODO(playback): the eight phases.
void animationStep() {}
