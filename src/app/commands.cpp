#include "app/commands.h"

// TODO(playback): the command table.
void onKeyboard(unsigned char, int, int) {}
void printHelp() {}
void printScanLength() {}
