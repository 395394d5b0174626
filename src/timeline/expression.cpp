#include "timeline/expression.h"

#include <algorithm>
#include <cmath>

// Sections: velocities; beats and count-in; the pedal and the clicks as events; the pedal's depth.

// ---- Velocities ----

PieceVelocities::PieceVelocities(const Piece* piece) : piece_(piece) {
    if (piece_ == nullptr) {
        return;
    }
    for (const PieceNote& n : piece_->notes) {
        exact_.emplace(std::make_tuple(n.hand, n.key, n.tick), n.velocity);
    }
}

int PieceVelocities::at(int hand, int32_t key, int32_t tick) const {
    if (piece_ == nullptr) {
        return kDefaultVelocity;
    }
    auto it = exact_.find({hand, key, tick});
    if (it == exact_.end()) {
        it = exact_.find({1 - hand, key, tick});
    }
    if (it != exact_.end()) {
        return std::clamp(it->second, 1, 127);
    }
    // The notes are by onset: the last one on the key that starts at or before the tick.
    const PieceNote* holding = nullptr;
    for (const PieceNote& n : piece_->notes) {
        if (n.tick > tick) {
            break;
        }
        if (n.key == key && n.endTick > tick) {
            holding = &n;
        }
    }
    return holding != nullptr ? std::clamp(holding->velocity, 1, 127) : kDefaultVelocity;
}

// ---- Beats and count-in ----

namespace {
// Ticks of one beat of a signature: the beat type's note value, three of them in a compound
// metre (6/8, 9/8, 12/8, 6/16 ...), where a player counts the dotted beats.
int32_t beatTicksOf(int32_t divisions, int beats, int beatType) {
    const int32_t perQuarter = std::max(1, divisions);
    if (beatType <= 0 || beats <= 0) {
        return perQuarter;
    }
    int64_t ticks = int64_t{perQuarter} * 4 / beatType;
    if (beatType >= 8 && beats % 3 == 0 && beats > 3) {
        ticks *= 3;
    }
    return static_cast<int32_t>(std::max<int64_t>(1, ticks));
}

struct Bar {
    int32_t tick;
    int32_t end;
    int32_t beatTicks;
    int beats;
};

std::vector<Bar> barsOf(const ScoreTiming& timing, const Piece* piece) {
    std::vector<Bar> bars;
    const int32_t end = std::max(timing.endTick, piece != nullptr ? piece->endTick : 0);
    const size_t count = timing.measures.size();
    for (size_t i = 0; i < count; ++i) {
        Bar bar;
        bar.tick = timing.measures[i].tick;
        bar.end = i + 1 < count ? timing.measures[i + 1].tick : end;
        if (bar.end <= bar.tick) {
            continue;
        }
        int beats = 4;
        int beatType = 4;
        if (piece != nullptr) {
            // The piece's measure that starts here (measures of the same ticks as the timing's).
            for (const PieceMeasure& m : piece->measures) {
                if (m.tick == bar.tick) {
                    beats = m.beats;
                    beatType = m.beatType;
                }
            }
        }
        bar.beatTicks = beatTicksOf(timing.divisions, beats, beatType);
        bar.beats = static_cast<int>((bar.end - bar.tick + bar.beatTicks - 1) / bar.beatTicks);
        bars.push_back(bar);
    }
    if (bars.empty() && end > 0) {
        const int32_t beat = beatTicksOf(timing.divisions, 4, 4);
        for (int32_t t = 0; t < end; t += 4 * beat) {
            bars.push_back({t, std::min(end, t + 4 * beat), beat, 4});
        }
    }
    return bars;
}
}  // namespace

std::vector<Beat> beatsOf(const ScoreTiming& timing, const Piece* piece, int32_t from, int32_t to) {
    std::vector<Beat> beats;
    for (const Bar& bar : barsOf(timing, piece)) {
        if (bar.end <= from || bar.tick >= to) {
            continue;
        }
        for (int32_t t = bar.tick; t < bar.end; t += bar.beatTicks) {
            if (t >= from && t < to) {
                beats.push_back({t, t == bar.tick, std::min(bar.beatTicks, bar.end - t)});
            }
        }
    }
    return beats;
}

void countInOf(const ScoreTiming& timing, const Piece* piece, int32_t from, int* beats,
               int32_t* beatTicks) {
    *beats = 4;
    *beatTicks = beatTicksOf(timing.divisions, 4, 4);
    const std::vector<Bar> bars = barsOf(timing, piece);
    for (const Bar& bar : bars) {
        if (bar.tick <= from) {
            *beatTicks = bar.beatTicks;
            // A bar shorter than its signature (an upbeat) still counts a whole bar in.
            *beats = std::max(1, static_cast<int>(bar.beatTicks > 0 ? bar.beats : 4));
        }
    }
    for (const Bar& bar : bars) {
        if (bar.tick <= from && from < bar.end && piece != nullptr) {
            for (const PieceMeasure& m : piece->measures) {
                if (m.tick == bar.tick && m.beats > 0) {
                    *beats =
                        m.beatType >= 8 && m.beats % 3 == 0 && m.beats > 3 ? m.beats / 3 : m.beats;
                }
            }
        }
    }
}

// ---- The pedal and the clicks as events ----

void addExpressionEvents(Timeline* tl, const TimelineOptions& options) {
    const int32_t from = tl->options.fromTick;
    const int32_t to = tl->options.toTick;
    tl->pedal.clear();
    if (options.piece != nullptr && !options.piece->pedal.empty()) {
        int value = 0;
        for (const PiecePedal& p : options.piece->pedal) {
            if (p.tick < from) {
                value = p.value;
            }
        }
        const double start = timeOfTick(*tl, from);
        if (value > 0) {
            tl->pedal.push_back({from, start, value});
        }
        for (const PiecePedal& p : options.piece->pedal) {
            if (p.tick >= from && p.tick < to) {
                tl->pedal.push_back({p.tick, timeOfTick(*tl, p.tick), std::clamp(p.value, 0, 127)});
            }
        }
        // Lifted at the end of the range when it stops before the piece ends.
        if (!tl->pedal.empty() && tl->pedal.back().value > 0 && to < options.piece->endTick) {
            tl->pedal.push_back({to, timeOfTick(*tl, to), 0});
        }
        if (tl->pedal.empty()) {
            tl->pedal.push_back({from, start, 0});  // a piece with a pedal shows it, up
        }
        for (const PiecePedal& p : tl->pedal) {
            tl->events.push_back({p.seconds, p.value > 0, -1, -1, EventKind::Pedal, p.value});
        }
    }
    if (options.metronome && to > from) {
        int countIn = 0;
        int32_t beatTicks = 0;
        countInOf(tl->timing, options.piece, from, &countIn, &beatTicks);
        const double start = timeOfTick(*tl, from);
        const double beat = timeOfTick(*tl, from + beatTicks) - start;
        for (int k = 0; k < countIn; ++k) {
            const double at = start - (countIn - k) * beat;
            tl->events.push_back({std::max(0.0, at), true, -1, k == 0 ? kClickDownbeat : kClickBeat,
                                  EventKind::Click,
                                  k == 0 ? kClickDownbeatVelocity : kClickBeatVelocity});
        }
        for (const Beat& b : beatsOf(tl->timing, options.piece, from, to)) {
            tl->events.push_back({timeOfTick(*tl, b.tick), true, -1,
                                  b.downbeat ? kClickDownbeat : kClickBeat, EventKind::Click,
                                  b.downbeat ? kClickDownbeatVelocity : kClickBeatVelocity});
        }
    }
}

// ---- The pedal's depth ----

double pedalDepthAt(const Timeline& timeline, double seconds) {
    const std::vector<PiecePedal>& pedal = timeline.pedal;
    if (pedal.empty()) {
        return -1.0;
    }
    auto it = std::upper_bound(pedal.begin(), pedal.end(), seconds,
                               [](double s, const PiecePedal& p) { return s < p.seconds; });
    if (it == pedal.begin()) {
        return 0.0;
    }
    return std::clamp((it - 1)->value / 127.0, 0.0, 1.0);
}

// ---- Onto another piece of the same ticks ----

void carryExpression(const Piece* source, Piece* played) {
    if (source == nullptr) {
        return;
    }
    const PieceVelocities velocities(source);
    for (PieceNote& note : played->notes) {
        note.velocity = velocities.at(note.hand, note.key, note.tick);
    }
    played->pedal = source->pedal;
    played->dynamics = source->dynamics;
    for (PiecePedal& p : played->pedal) {
        p.seconds = pieceSeconds(*played, p.tick);
    }
}
