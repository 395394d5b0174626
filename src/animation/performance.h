#pragma once

// How the classic performance is driven and where it starts: the play mode the commands set and
// the tick step ends, the timer's pace, and the start values of the shared state (key table,
// camera, score position, key states, hand poses). The shell's start-up and the companion
// programs that plan a score both begin here.

// Values of playMode.
enum PlayMode : int {
    Stopped = 0,     // nothing steps
    IdleDriven = 1,  // the idle callback steps ("P")
    TimerDriven = 2  // the idle callback and a self re-arming timer step ("p")
};

// ---- Set at start-up; changed by the "+" and "-" commands. ----
extern int timerInterval;  // delay between two timer-driven ticks, milliseconds

// ---- Reset by resetPerformance; set by the play commands and by the step at the end. ----
extern int playMode;  // a PlayMode value

// Steps 1 and 2 of start-up: the key table and the start values of the shared state.
void setStartValues();
// Steps 4 and 5 of start-up, after the score is loaded: 88 key states and the reset.
void createKeyStates();

// Put hands, fingers, keys, currentTick, tickPhase and playMode back to their start values.
void resetPerformance();
