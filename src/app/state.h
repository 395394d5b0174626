#pragma once

#include <cstdint>

// Program-wide state of the application shell. The other shared variables live with the module
// that owns them: the score in score/score_model.h, the plans in fingering/planner.h, keys and
// hands in animation/animation.h, the camera in app/camera.h, the key table in
// render/key_layout.h.

// Values of playMode.
enum PlayMode : int {
    Stopped = 0,     // nothing steps
    IdleDriven = 1,  // the idle callback steps ("P")
    TimerDriven = 2  // the idle callback and a self re-arming timer step ("p")
};

// ---- Set at start-up; rewritten by every reshape (render/scene). ----
extern int windowWidth;   // client width of the window, pixels
extern int windowHeight;  // client height of the window, pixels

// ---- Set at start-up; changed by the "+" and "-" commands. ----
extern int timerInterval;  // delay between two timer-driven ticks, milliseconds

// ---- Reset by resetPerformance; set by the play commands and by the step at the end. ----
extern int playMode;  // a PlayMode value

// Steps 1 to 10 of start-up: key table, start values, score, key states, reset, plans.
// Returns 0 when the window may open, -1 when the score could not be loaded (the reader has
// already said why).
int startUp(int argc, char** argv);

// Steps 1 and 2 of start-up: the key table and the start values of the shared state.
void setStartValues();
// Steps 4 and 5 of start-up, after the score is loaded: 88 key states and the reset.
void createKeyStates();

// Put hands, fingers, keys, currentTick, tickPhase and playMode back to their start values.
void resetPerformance();
