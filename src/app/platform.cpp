#include "app/platform.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {
// How long a stopped idle callback sleeps: short enough that a key press is answered at once,
// long enough that a stopped program uses almost no processor time.
constexpr auto kStoppedIdleSleep = std::chrono::milliseconds(5);

void noTimer(int, void (*)(int), int) {}
void noRedisplay() {}
void exitNow(int status) {
    std::exit(status);
}
void sleepBriefly() {
    std::this_thread::sleep_for(kStoppedIdleSleep);
}
}  // namespace

Platform platform = {noTimer, noRedisplay, exitNow, sleepBriefly};
