#include "app/realtime.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <vector>

#include "app/platform.h"
#include "app/session.h"

namespace {
void scheduleNothing(int32_t, bool, double) {}
void silenceNothing() {}

// Hands the sound every event up to kSoundLookAhead seconds of wall time ahead, each with the
// wall time at which the clock reaches it.
void scheduleSound(double wall) {
    const PerformanceClock& clock = realtime.clock;
    double horizon = clockTime(clock, wall + kSoundLookAhead);
    // Near the end everything left goes, including events on the very last instant.
    double until = horizon >= clock.end ? std::numeric_limits<double>::infinity() : horizon;
    static std::vector<PerformanceEvent> due;
    due.clear();
    cursorAdvance(&realtime.cursor, realtime.timeline, until, &due);
    for (const PerformanceEvent& event : due) {
        double eventWall = clock.anchorWall + (event.seconds - clock.anchorTime) / clock.rate;
        if (realtimeSound.play != nullptr) {
            realtimeSound.play(event, eventWall);
        } else if (event.kind == EventKind::Note) {
            realtimeSound.schedule(event.key, event.on, eventWall);
        }
    }
}

void showTime(double seconds) {
    PerformanceFrame frame;
    performanceAt(realtime.timeline, seconds, &frame);
    applyFrame(frame);
}
}  // namespace

RealtimeSound realtimeSound = {scheduleNothing, silenceNothing};
RealtimeState realtime;

bool prepareRealtime(const ProgramOptions& options, const std::string& document,
                     std::string* error) {
    ScoreTiming timing;
    if (!readScoreTiming(document.data(), document.size(), &timing, error)) {
        *error = "cannot read the score's tempo: " + *error;
        return false;
    }
    return prepareRealtime(options, timing, error);
}

bool prepareRealtime(const ProgramOptions& options, const ScoreTiming& timing, std::string* error) {
    if (!(options.speed >= kMinClockRate && options.speed <= kMaxClockRate)) {
        *error = "the speed must lie between 0.25 and 4";
        return false;
    }
    TimelineOptions timelineOptions;
    timelineOptions.speed = options.speed;
    timelineOptions.leadIn = kRealtimeLeadIn;
    timelineOptions.leadOut = kRealtimeLeadOut;
    timelineOptions.piece = sessionPerformancePiece();
    timelineOptions.soundedHand = options.hand;
    timelineOptions.metronome = options.metronome;
    if (!measureRange(timing, options.fromMeasure, options.toMeasure, &timelineOptions.fromTick,
                      &timelineOptions.toTick, error)) {
        return false;
    }
    realtime.timeline = buildTimeline(timing, timelineOptions);
    realtime.clock = makeClock(0.0, realtime.timeline.duration);
    realtime.cursor = EventCursor();
    realtime.playing = false;
    realtime.loop = options.loop;
    showTime(0.0);
    return true;
}

void realtimePlay(double wall) {
    realtimeSound.silence();
    clockRewind(&realtime.clock, wall);
    clockPlay(&realtime.clock, wall);
    cursorSeek(&realtime.cursor, realtime.timeline, clockTime(realtime.clock, wall));
    realtime.playing = true;
}

void realtimeStop(double wall) {
    realtimeSound.silence();
    clockRewind(&realtime.clock, wall);
    cursorSeek(&realtime.cursor, realtime.timeline, clockTime(realtime.clock, wall));
    realtime.playing = false;
    showTime(clockTime(realtime.clock, wall));
}

// Events already handed to the sound (at most kSoundLookAhead ahead) keep the old pace; the
// first ones after a change are off by at most a tenth of the look-ahead.
void realtimeFaster(double wall) {
    clockFaster(&realtime.clock, wall);
}

void realtimeSlower(double wall) {
    clockSlower(&realtime.clock, wall);
}

bool realtimeFrame(double wall, double shownAt) {
    if (realtime.playing) {
        scheduleSound(wall);
    }
    showTime(clockTime(realtime.clock, shownAt));
    if (realtime.playing && clockFinished(realtime.clock, wall)) {
        if (realtime.loop) {
            realtimePlay(wall);  // the range again, from its lead-in
        } else {
            realtime.playing = false;
        }
    }
    return realtime.playing;
}

bool realtimeKey(unsigned char key, double wall) {
    switch (key) {
        case 'p':
        case 'P':
            realtimePlay(wall);
            return true;
        case 'o':
            realtimeStop(wall);
            return true;
        case '+':
            realtimeFaster(wall);
            return true;
        case '-':
            realtimeSlower(wall);
            return true;
        case 'h':
            printRealtimeHelp();
            return false;
        case 'q':
        case 'Q':
            platform.exitProcess(0);
            return false;
        default:
            return false;
    }
}

void printRealtimeHelp() {
    std::cout << "=======================\n"
              << "\tCommands\n"
              << "=======================\n"
              << "q......................quit\n"
              << "p......................play from the start, in time with the score\n"
              << "P......................the same as p\n"
              << "o......................stop and go back to the start\n"
              << "+......................10 % faster\n"
              << "-......................10 % slower\n"
              << "h......................this help\n"
              << "left mouse drag........rotate camera\n"
              << "right mouse drag.......zoom in/out camera\n";
    std::cout.flush();
}
