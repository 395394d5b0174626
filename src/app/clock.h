#pragma once

// The value the "p" command arms its timer with.
constexpr int kTimerValue = 5000;

// GLUT idle callback: one animation step while playing.
void onIdle();
// GLUT timer callback: one animation step, then re-arm while timer-driven play goes on.
void onTimer(int value);
