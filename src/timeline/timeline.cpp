#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>

#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/score_model.h"
#include "timeline/expression.h"

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Stillness before the count-in's first click.
constexpr double kCountInMargin = 0.25;

// A key takes this long to go down after its onset and to come back up before its key-up.
constexpr double kKeyPressSeconds = 0.025;
constexpr double kKeyReleaseSeconds = 0.04;
// On a short note the press and the release take at most this share of its time each.
constexpr double kKeyRampShare = 0.4;
// Angle of a key fully down, degrees.
constexpr double kFullAngle = 10.0;

// Finger heights below the palm: at rest, touching the top of a white or black key, and with the
// key fully down (black keys stand higher, so the fingertip goes down less far).
constexpr double kRestDrop = 0.45;
constexpr double kTouchDropWhite = 0.225;
constexpr double kTouchDropBlack = 0.4125;
constexpr double kFullDropWhite = 0.1125;
constexpr double kFullDropBlack = 0.3;
// A finger comes down onto its key this long before the onset, lifts off this long after the
// key is up, and glides across to its next key in at most this long; all shortened to a third
// of the gap each when the gap is short.
constexpr double kFingerLowerSeconds = 0.05;
constexpr double kFingerLiftSeconds = 0.05;
constexpr double kFingerGlideSeconds = 0.12;

// A hand moves to its next centre over at most this long, starting once its previous notes are
// up; when there is less room than the shortest move, it sets off earlier, while notes still
// held keep their fingers on their keys.
constexpr double kHandMoveSeconds = 0.15;
constexpr double kHandMoveShortest = 0.05;

bool validKey(int32_t key) {
    return key >= 0 && key < kKeyCount;
}

bool isBlack(int32_t key) {
    return KeyLayout[key].black != 0.0f;
}

// Eased 0..1 over 0..1: starts and ends at rest.
double ease(double u) {
    u = std::clamp(u, 0.0, 1.0);
    return u * u * (3.0 - 2.0 * u);
}

// Seconds at speed 1 from tick 0 to `tick`, with the timeline's cached tempo map.
double scoreSeconds(const Timeline& tl, double tick) {
    const std::vector<TempoChange>& tempo = tl.timing.tempo;
    const double perQuarter = tl.timing.divisions > 0 ? tl.timing.divisions : 1.0;
    if (tempo.empty()) {
        return tick * 60.0 / (kDefaultQuartersPerMinute * perQuarter);
    }
    auto it = std::upper_bound(tempo.begin(), tempo.end(), tick,
                               [](double t, const TempoChange& c) { return t < c.tick; });
    const size_t i = it == tempo.begin() ? 0 : static_cast<size_t>(it - tempo.begin()) - 1;
    return tl.tempoSeconds[i] +
           (tick - tempo[i].tick) * 60.0 / (tempo[i].quartersPerMinute * perQuarter);
}

double scoreTick(const Timeline& tl, double seconds) {
    const std::vector<TempoChange>& tempo = tl.timing.tempo;
    const double perQuarter = tl.timing.divisions > 0 ? tl.timing.divisions : 1.0;
    if (tempo.empty()) {
        return seconds * kDefaultQuartersPerMinute * perQuarter / 60.0;
    }
    auto it = std::upper_bound(tl.tempoSeconds.begin(), tl.tempoSeconds.end(), seconds);
    const size_t i =
        it == tl.tempoSeconds.begin() ? 0 : static_cast<size_t>(it - tl.tempoSeconds.begin()) - 1;
    return tempo[i].tick +
           (seconds - tl.tempoSeconds[i]) * tempo[i].quartersPerMinute * perQuarter / 60.0;
}

// How far down a note holds its key at `seconds`, 0..10 degrees.
double noteAngle(const TimedNote& note, double seconds) {
    if (!(seconds > note.onset && seconds < note.keyUp)) {
        return 0.0;
    }
    const double held = note.keyUp - note.onset;
    const double press = std::min(kKeyPressSeconds, held * kKeyRampShare);
    const double release = std::min(kKeyReleaseSeconds, held * kKeyRampShare);
    const double u =
        std::min({1.0, (seconds - note.onset) / press, (note.keyUp - seconds) / release});
    return kFullAngle * u;
}

double touchDrop(int32_t key) {
    return isBlack(key) ? kTouchDropBlack : kTouchDropWhite;
}

// Height below the palm of a finger on the key of `note`: coming down onto it before the onset,
// following the key down and up, lifting off once it is up.
double onKeyDrop(const TimedNote& note, double seconds) {
    const double touch = touchDrop(note.key);
    if (seconds < note.onset) {
        const double u = (seconds - (note.onset - kFingerLowerSeconds)) / kFingerLowerSeconds;
        return kRestDrop + (touch - kRestDrop) * std::clamp(u, 0.0, 1.0);
    }
    if (seconds >= note.keyUp) {
        const double u = (seconds - note.keyUp) / kFingerLiftSeconds;
        return touch + (kRestDrop - touch) * std::clamp(u, 0.0, 1.0);
    }
    const double full = isBlack(note.key) ? kFullDropBlack : kFullDropWhite;
    return touch + (full - touch) * noteAngle(note, seconds) / kFullAngle;
}

float handX(const HandTrack& track, double seconds) {
    const std::vector<HandMove>& moves = track.moves;
    auto it = std::upper_bound(moves.begin(), moves.end(), seconds,
                               [](double s, const HandMove& m) { return s < m.start; });
    if (it == moves.begin()) {
        return track.startX;
    }
    const HandMove& m = *(it - 1);
    if (seconds >= m.end) {
        return m.toX;
    }
    const double e = ease((seconds - m.start) / (m.end - m.start));
    return static_cast<float>(m.fromX + (static_cast<double>(m.toX) - m.fromX) * e);
}

// One note as read from a grid, before it is timed.
struct RawNote {
    int hand;
    int finger;
    int32_t key;
    int32_t tick;
    int32_t endTick;
};

struct RawRun {
    int finger;
    int32_t key;
    int32_t startTick;
    int32_t endTick;
    size_t note;  // index into the raw notes
};

// Reads the notes and finger runs of one hand's grid over [from, to). A note is a run of ticks
// holding its key, ended by a slot whose lastTick is 1 or by a tick without the key. A note the
// document ties on from the one of its key that ends where it starts continues that one: the
// grids strike a note longer than a duration can say once more for each piece, the performance
// holds it as written.
void readHand(const std::vector<NoteEvent>& grid, int hand, int32_t from, int32_t to,
              const std::vector<TiedOn>& tiedOn, std::vector<RawNote>* notes,
              std::vector<RawRun>* runs) {
    std::vector<long> open(kKeyCount, -1);   // note still sounding into the next tick, per key
    std::vector<long> ended(kKeyCount, -1);  // the key's last note that ended, per key
    std::vector<long> current(kKeyCount, -1);
    std::vector<int32_t> openKeys;
    std::vector<int32_t> seenKeys;
    std::vector<int32_t> closing;
    long lastRun[kSlotCount] = {-1, -1, -1, -1, -1};
    for (int32_t t = from; t < to && static_cast<size_t>(t) < grid.size(); ++t) {
        const NoteEvent& event = grid[t];
        seenKeys.clear();
        closing.clear();
        for (int k = 0; k < kSlotCount; ++k) {
            const int32_t key = event.slot[k].key;
            if (!validKey(key)) {
                continue;
            }
            if (current[key] < 0) {
                seenKeys.push_back(key);
                if (open[key] >= 0) {
                    current[key] = open[key];
                    (*notes)[current[key]].endTick = t + 1;
                } else if (t > from && ended[key] >= 0 && (*notes)[ended[key]].endTick == t &&
                           std::binary_search(tiedOn.begin(), tiedOn.end(), TiedOn{key, t})) {
                    current[key] = ended[key];
                    (*notes)[current[key]].endTick = t + 1;
                } else {
                    current[key] = static_cast<long>(notes->size());
                    notes->push_back({hand, k, key, t, t + 1});
                }
            }
            if (event.slot[k].lastTick == 1) {
                closing.push_back(key);
            }
            const size_t note = static_cast<size_t>(current[key]);
            if (lastRun[k] >= 0) {
                RawRun& run = (*runs)[lastRun[k]];
                if (run.key == key && run.endTick == t && run.note == note) {
                    run.endTick = t + 1;
                    continue;
                }
            }
            lastRun[k] = static_cast<long>(runs->size());
            runs->push_back({k, key, t, t + 1, note});
        }
        // Notes not held in this tick are over; the others go on unless they end here.
        for (int32_t key : openKeys) {
            open[key] = -1;
        }
        openKeys.clear();
        for (int32_t key : seenKeys) {
            if (std::find(closing.begin(), closing.end(), key) == closing.end()) {
                open[key] = current[key];
                openKeys.push_back(key);
            } else {
                ended[key] = current[key];
            }
            current[key] = -1;
        }
    }
}

// Where each hand moves: it holds the plan of every tick where one of its notes starts, and
// moves between those onsets.
void planMoves(Timeline* tl, int hand, const HandPlan& plan) {
    HandTrack& track = tl->hands[hand];
    const int32_t from = tl->options.fromTick;
    float x = static_cast<size_t>(from) < plan.size() && std::isfinite(plan[from])
                  ? plan[from]
                  : track.startPose.position.x;
    track.startX = x;
    // The range's first tick is still: the drawing puts a hand on its first planned centre for
    // as long as tick 0 lasts.
    const double earliest = timeOfTick(*tl, from + 1.0);
    double previousOnset = -kInfinity;
    double freeFrom = -kInfinity;
    std::priority_queue<double, std::vector<double>, std::greater<double>> pendingUps;
    const std::vector<TimedNote>& notes = tl->notes;
    for (size_t i = 0; i < notes.size();) {
        if (notes[i].hand != hand) {
            ++i;
            continue;
        }
        const int32_t tick = notes[i].tick;
        const double onset = notes[i].onset;
        while (!pendingUps.empty() && pendingUps.top() <= onset) {
            freeFrom = std::max(freeFrom, pendingUps.top());
            pendingUps.pop();
        }
        if (static_cast<size_t>(tick) < plan.size() && std::isfinite(plan[tick]) &&
            plan[tick] != x) {
            double start =
                std::max(onset - kHandMoveSeconds, std::min(freeFrom, onset - kHandMoveShortest));
            start = std::min(std::max({start, previousOnset, earliest}), onset);
            track.moves.push_back({start, onset, x, plan[tick]});
            x = plan[tick];
        }
        for (; i < notes.size() && notes[i].tick == tick; ++i) {
            if (notes[i].hand == hand) {
                pendingUps.push(notes[i].keyUp);
            }
        }
        previousOnset = onset;
    }
}

// The finger's palm-frame x and height below the palm, when it holds no key: lifting off the
// last key, gliding across, coming down onto the next.
void freeFinger(const HandTrack& track, int finger, const FingerRun* prev, const FingerRun* next,
                double seconds, float* x, double* drop) {
    const float prevX = prev != nullptr ? KeyLayout[prev->key].x - handX(track, prev->end)
                                        : track.startPose.fingers[finger].x;
    const float nextX =
        next != nullptr ? KeyLayout[next->key].x - handX(track, next->start) : prevX;
    const double gapStart = prev != nullptr ? prev->end : -kInfinity;
    const double gapEnd = next != nullptr ? next->start : kInfinity;
    const double third = (gapEnd - gapStart) / 3.0;
    const double lift = prev != nullptr ? std::min(kFingerLiftSeconds, third) : 0.0;
    const double lower = next != nullptr ? std::min(kFingerLowerSeconds, third) : 0.0;
    const double glideEnd = gapEnd - lower;
    const double glideStart = std::max(gapStart + lift, glideEnd - kFingerGlideSeconds);
    if (next == nullptr || seconds <= glideStart) {
        *x = prevX;
    } else if (seconds >= glideEnd) {
        *x = nextX;
    } else {
        const double e = ease((seconds - glideStart) / (glideEnd - glideStart));
        *x = static_cast<float>(prevX + (static_cast<double>(nextX) - prevX) * e);
    }
    *drop = kRestDrop;
    if (prev != nullptr && seconds < gapStart + lift) {
        const double touch = touchDrop(prev->key);
        *drop = touch + (kRestDrop - touch) * std::clamp((seconds - gapStart) / lift, 0.0, 1.0);
    } else if (next != nullptr && seconds > glideEnd) {
        const double touch = touchDrop(next->key);
        *drop =
            kRestDrop + (touch - kRestDrop) * std::clamp((seconds - glideEnd) / lower, 0.0, 1.0);
    }
}

void poseHand(const Timeline& tl, const HandTrack& track, int32_t tick, double seconds,
              HandState* hand) {
    *hand = track.startPose;
    hand->position.x = handX(track, seconds);
    for (int k = 0; k < kSlotCount; ++k) {
        const std::vector<FingerRun>& runs = track.runs[k];
        auto it = std::upper_bound(runs.begin(), runs.end(), tick,
                                   [](int32_t t, const FingerRun& r) { return t < r.startTick; });
        const FingerRun* prev = it == runs.begin() ? nullptr : &*(it - 1);
        const FingerRun* next = it == runs.end() ? nullptr : &*it;
        // The drawing aims every finger that plays in the current tick at its key; the finger
        // also stays on a key that is still coming up after its tick.
        const bool inTick = prev != nullptr && prev->endTick > tick;
        double drop = kRestDrop;
        if (inTick || (prev != nullptr && seconds < prev->end)) {
            hand->fingers[k].x = KeyLayout[prev->key].x - hand->position.x;
            drop = onKeyDrop(tl.notes[prev->note], seconds);
        } else {
            freeFinger(track, k, prev, next, seconds, &hand->fingers[k].x, &drop);
        }
        hand->fingers[k].z = static_cast<float>(hand->position.z - drop);
    }
}
}  // namespace

double timeOfTick(const Timeline& timeline, double tick) {
    return timeline.options.leadIn +
           (scoreSeconds(timeline, tick) - timeline.startSeconds) / timeline.options.speed;
}

double tickAtTime(const Timeline& timeline, double seconds) {
    return scoreTick(timeline, timeline.startSeconds +
                                   (seconds - timeline.options.leadIn) * timeline.options.speed);
}

Timeline buildTimeline(const ScoreTiming& timing, const TimelineOptions& options) {
    Timeline tl;
    tl.timing = timing;
    // A tempo map made by hand may be out of order or hold a tempo that is no speed.
    std::vector<TempoChange>& tempo = tl.timing.tempo;
    tempo.erase(std::remove_if(tempo.begin(), tempo.end(),
                               [](const TempoChange& c) {
                                   return !(c.quartersPerMinute > 0.0) ||
                                          !std::isfinite(c.quartersPerMinute);
                               }),
                tempo.end());
    std::stable_sort(tempo.begin(), tempo.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    if (tempo.empty()) {
        tempo.push_back({0, kDefaultQuartersPerMinute});
    }
    // Of the tempi at or before tick 0 the last one stands, from tick 0.
    size_t first = 0;
    while (first + 1 < tempo.size() && tempo[first + 1].tick <= 0) {
        ++first;
    }
    tempo.erase(tempo.begin(), tempo.begin() + static_cast<long>(first));
    tempo.front().tick = 0;
    tl.options = options;
    if (!(options.speed > 0.0) || !std::isfinite(options.speed)) {
        tl.options.speed = 1.0;
    }
    tl.options.leadIn = std::isfinite(options.leadIn) ? std::max(0.0, options.leadIn) : 0.0;
    tl.options.leadOut = std::isfinite(options.leadOut) ? std::max(0.0, options.leadOut) : 0.0;
    const int32_t n = static_cast<int32_t>(rightNotes.size());
    tl.gridTicks = n;
    const int32_t from = std::clamp(options.fromTick, 0, n);
    const int32_t to = options.toTick < 0 ? n : std::clamp(options.toTick, from, n);
    tl.options.fromTick = from;
    tl.options.toTick = to;

    // The tempo map's times at speed 1.
    const double perQuarter = tl.timing.divisions > 0 ? tl.timing.divisions : 1.0;
    tl.tempoSeconds.push_back(0.0);
    for (size_t i = 1; i < tl.timing.tempo.size(); ++i) {
        const TempoChange& c = tl.timing.tempo[i - 1];
        tl.tempoSeconds.push_back(tl.tempoSeconds.back() + (tl.timing.tempo[i].tick - c.tick) *
                                                               60.0 /
                                                               (c.quartersPerMinute * perQuarter));
    }
    tl.startSeconds = scoreSeconds(tl, from);
    if (options.metronome && to > from) {
        // The count-in bar sounds in the lead-in: it must be long enough to hold it.
        int beats = 0;
        int32_t beatTicks = 0;
        countInOf(tl.timing, options.piece, from, &beats, &beatTicks);
        const double beat =
            (scoreSeconds(tl, from + beatTicks) - tl.startSeconds) / tl.options.speed;
        tl.options.leadIn = std::max(tl.options.leadIn, beats * beat + kCountInMargin);
    }

    std::vector<RawNote> raw;
    std::vector<RawRun> rawRuns[2];
    readHand(rightNotes, 0, from, to, tl.timing.tiedOn, &raw, &rawRuns[0]);
    readHand(leftNotes, 1, from, to, tl.timing.tiedOn, &raw, &rawRuns[1]);

    // Notes in onset order.
    std::vector<size_t> order(raw.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const RawNote& x = raw[a];
        const RawNote& y = raw[b];
        if (x.tick != y.tick) {
            return x.tick < y.tick;
        }
        if (x.hand != y.hand) {
            return x.hand < y.hand;
        }
        if (x.key != y.key) {
            return x.key < y.key;
        }
        return x.finger < y.finger;
    });
    std::vector<size_t> position(raw.size());
    const PieceVelocities velocities(options.piece);
    tl.notes.reserve(raw.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const RawNote& r = raw[order[i]];
        position[order[i]] = i;
        const double onset = timeOfTick(tl, r.tick);
        const double release = timeOfTick(tl, r.endTick);
        tl.notes.push_back({r.hand, r.finger, r.key, r.tick, r.endTick, onset, release, release});
        tl.notes.back().velocity = velocities.at(r.hand, r.key, r.tick);
        tl.notes.back().silent = options.soundedHand >= 0 && r.hand != options.soundedHand;
    }

    // Key-up: at least the shortest visible press, but up again before the key's next onset.
    for (size_t i = 0; i < tl.notes.size(); ++i) {
        tl.keyNotes[tl.notes[i].key].push_back(i);
    }
    for (int32_t key = 0; key < kKeyCount; ++key) {
        std::vector<size_t>& list = tl.keyNotes[key];
        double latest = -kInfinity;
        for (size_t j = 0; j < list.size(); ++j) {
            TimedNote& note = tl.notes[list[j]];
            double up = std::max(note.release, note.onset + kMinimumHeld);
            for (size_t m = j + 1; m < list.size(); ++m) {
                if (tl.notes[list[m]].onset > note.onset) {
                    up = std::min(up, tl.notes[list[m]].onset);
                    break;
                }
            }
            note.keyUp = std::max(up, note.onset);
            tl.keyOnsets[key].push_back(note.onset);
            latest = std::max(latest, note.keyUp);
            tl.keyNotesUp[key].push_back(latest);
        }
    }

    // Finger runs, timed.
    for (int hand = 0; hand < 2; ++hand) {
        HandTrack& track = tl.hands[hand];
        track.startPose = hand == 0 ? rightHand : leftHand;
        for (const RawRun& r : rawRuns[hand]) {
            const size_t note = position[r.note];
            const double start = timeOfTick(tl, r.startTick);
            const double end = r.endTick == tl.notes[note].endTick ? tl.notes[note].keyUp
                                                                   : timeOfTick(tl, r.endTick);
            track.runs[r.finger].push_back({r.key, r.startTick, r.endTick, start, end, note});
        }
        for (std::vector<FingerRun>& runs : track.runs) {
            for (size_t j = 0; j + 1 < runs.size(); ++j) {
                runs[j].end = std::max(runs[j].start, std::min(runs[j].end, runs[j + 1].start));
            }
        }
        planMoves(&tl, hand, hand == 0 ? rightPlan : leftPlan);
    }

    // Sound events: at equal times every note-off comes first, then the pedal's moves (a change
    // lifts before it presses), so that a note struck as the pedal goes down is held by it.
    tl.events.reserve(tl.notes.size() * 2);
    for (const TimedNote& note : tl.notes) {
        if (note.silent) {
            continue;
        }
        tl.events.push_back(
            {note.onset, true, note.hand, note.key, EventKind::Note, note.velocity});
        tl.events.push_back(
            {note.release, false, note.hand, note.key, EventKind::Note, note.velocity});
    }
    addExpressionEvents(&tl, options);
    auto rank = [](const PerformanceEvent& e) {
        if (e.kind == EventKind::Pedal) {
            return e.on ? 2 : 1;
        }
        return e.on ? 3 : 0;
    };
    std::stable_sort(tl.events.begin(), tl.events.end(),
                     [&](const PerformanceEvent& a, const PerformanceEvent& b) {
                         if (a.seconds != b.seconds) {
                             return a.seconds < b.seconds;
                         }
                         return rank(a) < rank(b);
                     });
    tl.options.piece = nullptr;  // read while building only

    double last = timeOfTick(tl, to);
    for (const TimedNote& note : tl.notes) {
        last = std::max(last, note.keyUp);
    }
    tl.duration = last + tl.options.leadOut;
    return tl;
}

void performanceAt(const Timeline& timeline, double seconds, PerformanceFrame* frame) {
    const int32_t from = timeline.options.fromTick;
    const int32_t to = timeline.options.toTick;
    if (!std::isfinite(seconds)) {
        seconds = 0.0;
    }
    // The tick at `seconds`, exact against timeOfTick at the tick boundaries.
    int32_t tick = from;
    if (to > from) {
        const double t = std::floor(tickAtTime(timeline, seconds));
        tick = t <= from ? from : (t >= to - 1 ? to - 1 : static_cast<int32_t>(t));
        while (tick + 1 < to && timeOfTick(timeline, tick + 1.0) <= seconds) {
            ++tick;
        }
        while (tick > from && timeOfTick(timeline, tick) > seconds) {
            --tick;
        }
    } else {
        // Nothing to play: a tick past the grids, where the drawing aims nothing.
        tick = timeline.gridTicks;
    }
    frame->tick = tick;

    for (int32_t key = 0; key < kKeyCount; ++key) {
        const std::vector<size_t>& list = timeline.keyNotes[key];
        const std::vector<double>& onsets = timeline.keyOnsets[key];
        auto it = std::upper_bound(onsets.begin(), onsets.end(), seconds);
        double angle = 0.0;
        for (long j = static_cast<long>(it - onsets.begin()) - 1;
             j >= 0 && timeline.keyNotesUp[key][j] > seconds; --j) {
            angle = std::max(angle, noteAngle(timeline.notes[list[j]], seconds));
        }
        frame->keyAngle[key] = static_cast<float>(angle);
    }
    poseHand(timeline, timeline.hands[0], tick, seconds, &frame->right);
    poseHand(timeline, timeline.hands[1], tick, seconds, &frame->left);
}

void applyFrame(const PerformanceFrame& frame) {
    for (size_t key = 0; key < keyStates.size() && key < static_cast<size_t>(kKeyCount); ++key) {
        keyStates[key] = KeyState{frame.keyAngle[key], 0, 0};
    }
    rightHand = frame.right;
    leftHand = frame.left;
    currentTick = frame.tick;
}
