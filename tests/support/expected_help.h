// The command help exactly as the user must see it, written out independently of the code that
// prints it.
#pragma once

inline constexpr const char* kExpectedHelp =
    "=======================\n"
    "\tCommands\n"
    "=======================\n"
    "q......................quit\n"
    "p......................play (using glutTimerFunction)\n"
    "P......................play (using idleFunction ...tempo fixed)\n"
    "o......................stop\n"
    "+......................increase tempo\n"
    "-......................decrease tempo\n"
    "w......................increase scan length\n"
    "s......................decrease scan length\n"
    "left mouse drag........rotate camera\n"
    "right mouse drag.......zoom in/out camera\n";
