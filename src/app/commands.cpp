#include "app/commands.h"

#include <climits>
#include <cstdio>
#include <iostream>

#include "animation/animation.h"
#include "app/clock.h"
#include "app/platform.h"
#include "app/state.h"
#include "fingering/planner.h"
#include "score/score_model.h"

namespace {
// Plan both hands with the current scan length and start playing from tick 0 in this mode.
// Returns false, leaving playback stopped, when the score has no tick to play.
bool startPlay(PlayMode mode) {
    replanHands();
    currentTick = 0;
    tickPhase = 0;
    if (rightNotes.empty()) {
        playMode = Stopped;
        return false;
    }
    playMode = mode;
    return true;
}
}  // namespace

void onKeyboard(unsigned char key, int, int) {
    switch (key) {
        case '+':
            if (timerInterval > 0) {
                timerInterval -= 1;
            }
            break;
        case '-':
            if (timerInterval < INT_MAX) {
                timerInterval += 1;
            }
            break;
        case 'p':
            if (startPlay(TimerDriven)) {
                platform.armTimer(timerInterval, onTimer, kTimerValue);
            }
            return;
        case 'P':
            startPlay(IdleDriven);
            return;
        case 'o':
            resetPerformance();
            break;
        case 'w':
            if (divisions > 0 && scanLength <= INT32_MAX - divisions) {
                scanLength += divisions;
            }
            printScanLength();
            break;
        case 's':
            // Never shorter than one quarter note.
            if (divisions > 0 && scanLength - divisions >= divisions) {
                scanLength -= divisions;
            }
            printScanLength();
            break;
        case 'h':
            printHelp();
            return;
        case 'q':
        case 'Q':
            platform.exitProcess(0);
            return;
        default:
            break;
    }
    platform.postRedisplay();
}

void printHelp() {
    std::cout << "=======================\n";
    std::cout.flush();
    printf("\tCommands\n");
    fflush(stdout);
    std::cout << "=======================\n"
              << "q......................quit\n"
              << "p......................play (using glutTimerFunction)\n"
              << "P......................play (using idleFunction ...tempo fixed)\n"
              << "o......................stop\n"
              << "+......................increase tempo\n"
              << "-......................decrease tempo\n"
              << "w......................increase scan length\n"
              << "s......................decrease scan length\n"
              << "left mouse drag........rotate camera\n"
              << "right mouse drag.......zoom in/out camera\n";
    std::cout.flush();
    fflush(stdout);
}

void printScanLength() {
    // Without a tick length there is no quarter note to count in; the reader never lets that
    // happen, and a line with a made-up number would only mislead.
    if (divisions <= 0) {
        return;
    }
    std::cout << "Scan Length : " << scanLength / divisions << " quarter notes \n";
    std::cout.flush();
    fflush(stdout);
}
