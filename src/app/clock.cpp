#include "app/clock.h"

#include <cstddef>

#include "animation/animation.h"
#include "app/platform.h"
#include "app/state.h"
#include "score/score_model.h"

namespace {
// True while currentTick names a tick of the score, so a step has records to work on. Once the
// last tick has been played currentTick equals the score's length and this turns false.
bool tickInScore() {
    return currentTick >= 0 && static_cast<size_t>(currentTick) < rightNotes.size();
}
}  // namespace

void onIdle() {
    // Stopped, or (which only a damaged state could bring) playing with nothing left to play:
    // give the processor back instead of spinning through the main loop.
    if (playMode == Stopped || !tickInScore()) {
        platform.idleWait();
        return;
    }
    animationStep();
    platform.postRedisplay();
}

void onTimer(int value) {
    // The end may have been reached by the idle callback or by another chain since this tick
    // was armed: then the chain ends here without touching the performance.
    if (!tickInScore()) {
        return;
    }
    animationStep();
    platform.postRedisplay();
    if (tickInScore() && playMode == TimerDriven) {
        platform.armTimer(timerInterval, onTimer, value);
    }
}
