#include <algorithm>
#include <cmath>

#include "timeline/timeline.h"

namespace {
// One faster or slower step changes the rate by this factor.
constexpr double kRateStep = 1.1;

// Takes the position at `wall` as the new anchor, so a change of rate or state causes no jump.
void reanchor(PerformanceClock* clock, double wall) {
    clock->anchorTime = clockTime(*clock, wall);
    clock->anchorWall = wall;
}
}  // namespace

PerformanceClock makeClock(double start, double end) {
    PerformanceClock clock;
    clock.start = start;
    clock.end = std::max(start, end);
    clock.anchorTime = start;
    return clock;
}

double clockTime(const PerformanceClock& clock, double wall) {
    double t = clock.anchorTime;
    if (clock.running) {
        t += (wall - clock.anchorWall) * clock.rate;
    }
    if (!std::isfinite(t)) {
        t = clock.start;
    }
    return std::clamp(t, clock.start, clock.end);
}

bool clockFinished(const PerformanceClock& clock, double wall) {
    return clockTime(clock, wall) >= clock.end;
}

void clockPlay(PerformanceClock* clock, double wall) {
    reanchor(clock, wall);
    if (clock->anchorTime >= clock->end) {
        clock->anchorTime = clock->start;
    }
    clock->running = true;
}

void clockPause(PerformanceClock* clock, double wall) {
    reanchor(clock, wall);
    clock->running = false;
}

void clockRewind(PerformanceClock* clock, double wall) {
    clock->anchorWall = wall;
    clock->anchorTime = clock->start;
    clock->running = false;
}

void clockSeek(PerformanceClock* clock, double wall, double time) {
    clock->anchorWall = wall;
    clock->anchorTime =
        std::isfinite(time) ? std::clamp(time, clock->start, clock->end) : clock->start;
}

void clockFaster(PerformanceClock* clock, double wall) {
    reanchor(clock, wall);
    clock->rate = std::min(clock->rate * kRateStep, kMaxClockRate);
}

void clockSlower(PerformanceClock* clock, double wall) {
    reanchor(clock, wall);
    clock->rate = std::max(clock->rate / kRateStep, kMinClockRate);
}

void cursorSeek(EventCursor* cursor, const Timeline& timeline, double seconds) {
    const std::vector<PerformanceEvent>& events = timeline.events;
    cursor->next = static_cast<size_t>(
        std::lower_bound(events.begin(), events.end(), seconds,
                         [](const PerformanceEvent& e, double s) { return e.seconds < s; }) -
        events.begin());
}

void cursorAdvance(EventCursor* cursor, const Timeline& timeline, double until,
                   std::vector<PerformanceEvent>* out) {
    const std::vector<PerformanceEvent>& events = timeline.events;
    const bool all = until >= timeline.duration;
    while (cursor->next < events.size() && (all || events[cursor->next].seconds < until)) {
        out->push_back(events[cursor->next]);
        ++cursor->next;
    }
}
