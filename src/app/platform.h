#pragma once

// The one seam between the program's logic and the window system. The logic never calls GLUT
// or ends the process itself; it goes through these, so tests can replace them and watch.
struct Platform {
    // Arm a one-shot timer: call callback(value) after delayMs milliseconds.
    void (*armTimer)(int delayMs, void (*callback)(int), int value);
    // Ask for the window to be drawn again.
    void (*postRedisplay)();
    // End the process with this exit status.
    void (*exitProcess)(int status);
    // Called by the idle callback while playback is stopped, so that it does not spin.
    void (*idleWait)();
};

// Start-up installs the window system's functions; tests install their own.
// Until then it arms nothing, draws nothing, exits with std::exit and sleeps a few milliseconds.
extern Platform platform;
