#include "app/clock.h"

// TODO(playback): the playback clock.
void onIdle() {}
void onTimer(int) {}
