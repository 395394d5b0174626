#include "music/piece.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <queue>
#include <string>
#include <utility>

#include "score/score_model.h"

// Sections: seconds over the tempo map; settling a piece; the piece into the classic grids;
// the piece into the grids as its strict document lays them out; the classic grids into a piece.

namespace {
bool noteOrder(const PieceNote& a, const PieceNote& b) {
    if (a.tick != b.tick) {
        return a.tick < b.tick;
    }
    if (a.hand != b.hand) {
        return a.hand < b.hand;
    }
    if (a.key != b.key) {
        return a.key < b.key;
    }
    return a.endTick < b.endTick;
}

std::string counted(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}
}  // namespace

// ---- Seconds over the tempo map ----

double tempoMapSeconds(const std::vector<PieceTempo>& tempo, double ticksPerQuarter, double tick) {
    double seconds = 0.0;
    double from = 0.0;
    double qpm = tempo.empty() ? 120.0 : tempo.front().quartersPerMinute;
    for (size_t i = 1; i < tempo.size() && tempo[i].tick < tick; ++i) {
        seconds += (tempo[i].tick - from) * 60.0 / (qpm * ticksPerQuarter);
        from = tempo[i].tick;
        qpm = tempo[i].quartersPerMinute;
    }
    return seconds + (tick - from) * 60.0 / (qpm * ticksPerQuarter);
}

double pieceSeconds(const Piece& piece, double tick) {
    return tempoMapSeconds(piece.tempo, piece.divisions > 0 ? piece.divisions : 1.0, tick);
}

// ---- Settling a piece ----

namespace {
// Seconds at the ticks of a piece, with the tempo map walked once: each change's start in
// seconds summed in the same order as tempoMapSeconds sums them, so that both give the same
// figures to the last bit; a tick then costs a binary search instead of a walk of the map.
struct TempoWalk {
    const std::vector<PieceTempo>& tempo;
    double ticksPerQuarter;
    bool sorted = true;
    std::vector<double> startSeconds;  // of tempo[i], i >= 1, as the walk reaches it

    TempoWalk(const std::vector<PieceTempo>& map, double perQuarter)
        : tempo(map), ticksPerQuarter(perQuarter) {
        double seconds = 0.0;
        double from = 0.0;
        double qpm = tempo.empty() ? 120.0 : tempo.front().quartersPerMinute;
        startSeconds.assign(tempo.size(), 0.0);
        for (size_t i = 1; i < tempo.size(); ++i) {
            sorted = sorted && tempo[i].tick >= tempo[i - 1].tick;
            seconds += (tempo[i].tick - from) * 60.0 / (qpm * ticksPerQuarter);
            from = tempo[i].tick;
            qpm = tempo[i].quartersPerMinute;
            startSeconds[i] = seconds;
        }
    }

    double at(double tick) const {
        if (!sorted) {
            return tempoMapSeconds(tempo, ticksPerQuarter, tick);
        }
        // The last change before `tick` (the walk stops at the first change not before it).
        auto after =
            std::lower_bound(tempo.begin() + (tempo.empty() ? 0 : 1), tempo.end(), tick,
                             [](const PieceTempo& t, double value) { return t.tick < value; });
        const size_t last = static_cast<size_t>(after - tempo.begin());
        if (last <= 1) {
            return tempoMapSeconds(tempo, ticksPerQuarter, tick);
        }
        const PieceTempo& change = tempo[last - 1];
        return startSeconds[last - 1] +
               (tick - change.tick) * 60.0 / (change.quartersPerMinute * ticksPerQuarter);
    }
};
}  // namespace

void settlePiece(Piece* piece) {
    if (piece->tempo.empty() || piece->tempo.front().tick != 0) {
        const double first = piece->tempo.empty() ? 120.0 : piece->tempo.front().quartersPerMinute;
        piece->tempo.insert(piece->tempo.begin(), PieceTempo{0, first});
    }
    if (piece->measures.empty()) {
        piece->measures.push_back(PieceMeasure{"1", 0, 4, 4});
    }
    // A source that builds its notes in order (the preparation does) costs one pass, not a sort.
    if (!std::is_sorted(piece->notes.begin(), piece->notes.end(), noteOrder)) {
        std::stable_sort(piece->notes.begin(), piece->notes.end(), noteOrder);
    }
    const TempoWalk walk(piece->tempo, piece->divisions > 0 ? piece->divisions : 1.0);
    size_t measure = 0;
    for (PieceNote& note : piece->notes) {
        while (measure + 1 < piece->measures.size() &&
               piece->measures[measure + 1].tick <= note.tick) {
            ++measure;
        }
        note.measure = static_cast<int>(measure);
        note.onset = walk.at(note.tick);
        note.end = walk.at(note.endTick);
        piece->endTick = std::max(piece->endTick, note.endTick);
    }
    for (PiecePedal& pedal : piece->pedal) {
        pedal.seconds = walk.at(pedal.tick);
    }
}

void signaturesFromLengths(Piece* piece) {
    const int64_t perQuarter = std::max<int32_t>(piece->divisions, 1);
    std::vector<PieceMeasure>& measures = piece->measures;
    for (size_t i = 0; i < measures.size(); ++i) {
        PieceMeasure& measure = measures[i];
        const int32_t end = i + 1 < measures.size() ? measures[i + 1].tick : piece->endTick;
        const int64_t length = std::max<int64_t>(end - measure.tick, 0);
        measure.beats = 4;
        measure.beatType = 4;
        for (int type : {4, 8, 16}) {
            const int64_t beats = length * type / (4 * perQuarter);
            if (length > 0 && (length * type) % (4 * perQuarter) == 0 && beats <= 255) {
                measure.beats = static_cast<int>(beats);
                measure.beatType = type;
                break;
            }
        }
    }
}

// ---- The piece into the classic grids ----

void fillClassicGrids(const Piece& piece, GridReport* report) {
    // Per key, every note ends before the next onset on that key, whichever hand plays it.
    std::vector<PieceNote> notes = piece.notes;
    std::stable_sort(notes.begin(), notes.end(), noteOrder);
    std::array<std::vector<size_t>, kKeyCount> byKey;
    for (size_t i = 0; i < notes.size(); ++i) {
        if (notes[i].key >= 0 && notes[i].key < kKeyCount) {
            byKey[notes[i].key].push_back(i);
        }
    }
    std::vector<bool> dropped(notes.size(), false);
    size_t shortened = 0;
    size_t doubled = 0;
    for (const std::vector<size_t>& onKey : byKey) {
        std::vector<size_t> sorted = onKey;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](size_t a, size_t b) { return notes[a].tick < notes[b].tick; });
        for (size_t n = 0; n + 1 < sorted.size(); ++n) {
            PieceNote& note = notes[sorted[n]];
            const PieceNote& next = notes[sorted[n + 1]];
            if (next.tick == note.tick) {
                dropped[sorted[n]] = true;  // the same key struck twice at once sounds once
                ++doubled;
            } else if (note.endTick > next.tick) {
                note.endTick = next.tick;
                ++shortened;
            }
        }
    }

    int32_t length = std::max<int32_t>(piece.endTick, 1);
    for (const PieceNote& note : notes) {
        length = std::max(length, note.endTick);
    }
    rightNotes.assign(static_cast<size_t>(length), kEmptyEvent);
    leftNotes.assign(static_cast<size_t>(length), kEmptyEvent);
    std::vector<NoteEvent>* grids[2] = {&rightNotes, &leftNotes};
    auto freeSlots = [](const std::vector<NoteEvent>& grid, int32_t from, int32_t to) {
        int fewest = kSlotCount;
        for (int32_t t = from; t < to; ++t) {
            int free = 0;
            for (const NoteSlot& slot : grid[static_cast<size_t>(t)].slot) {
                free += slot.key == kNoKey ? 1 : 0;
            }
            fewest = std::min(fewest, free);
        }
        return fewest;
    };
    size_t moved = 0;
    size_t crowded = 0;
    size_t outside = 0;
    for (size_t i = 0; i < notes.size(); ++i) {
        const PieceNote& note = notes[i];
        if (dropped[i]) {
            continue;
        }
        if (note.key < 0 || note.key >= kKeyCount || note.tick < 0) {
            ++outside;
            continue;
        }
        const int32_t end = std::max(note.endTick, note.tick + 1);
        int hand = note.hand == 1 ? 1 : 0;
        if (freeSlots(*grids[hand], note.tick, end) == 0) {
            if (freeSlots(*grids[1 - hand], note.tick, end) == 0) {
                ++crowded;
                continue;
            }
            hand = 1 - hand;
            ++moved;
        }
        std::vector<NoteEvent>& grid = *grids[hand];
        for (int32_t t = note.tick; t < end; ++t) {
            for (NoteSlot& slot : grid[static_cast<size_t>(t)].slot) {
                if (slot.key == kNoKey) {
                    slot.key = note.key;
                    slot.lastTick = t + 1 == end ? 1 : 0;
                    break;
                }
            }
        }
    }
    if (doubled > 0) {
        report->changes.push_back(counted(doubled, "note struck again on its key at once left out",
                                          "notes struck again on their key at once left out"));
    }
    if (shortened > 0) {
        report->changes.push_back(counted(shortened, "note let go where its key is struck again",
                                          "notes let go where their key is struck again"));
    }
    if (moved > 0) {
        report->changes.push_back(counted(moved, "note moved to the other hand (six at once)",
                                          "notes moved to the other hand (six at once)"));
    }
    if (crowded > 0) {
        report->changes.push_back(counted(crowded, "note left out: both hands hold five",
                                          "notes left out: both hands hold five"));
    }
    if (outside > 0) {
        report->changes.push_back(counted(outside, "note outside the keyboard left out",
                                          "notes outside the keyboard left out"));
    }
    divisions = std::max<int32_t>(piece.divisions, 1);
    scanLength = 4 * divisions;
    currentTick = length;
}

// ---- The piece into the grids as its strict document lays them out ----

namespace {
// Puts `note` into the first free slot of every tick it sounds in; false when one has none.
bool placeInFirstFreeSlots(std::vector<NoteEvent>* grid, const PieceNote& note) {
    for (int32_t t = note.tick; t < note.endTick; ++t) {
        NoteSlot* free = nullptr;
        for (NoteSlot& slot : (*grid)[static_cast<size_t>(t)].slot) {
            if (slot.key == kNoKey) {
                free = &slot;
                break;
            }
        }
        if (free == nullptr) {
            return false;
        }
        free->key = note.key;
        free->lastTick = t + 1 == note.endTick ? 1 : 0;
    }
    return true;
}
}  // namespace

bool fillStrictGrids(const Piece& piece) {
    // The notes in the order the document lists them before it groups them: onset, hand, key.
    std::vector<const PieceNote*> notes;
    notes.reserve(piece.notes.size());
    int32_t length = std::max<int32_t>(piece.endTick, 1);
    for (const PieceNote& note : piece.notes) {
        if (note.key >= 0 && note.key < kKeyCount && note.tick >= 0 && note.endTick > note.tick) {
            notes.push_back(&note);
            length = std::max(length, note.endTick);
        }
    }
    const auto documentOrder = [](const PieceNote* a, const PieceNote* b) {
        return a->tick != b->tick   ? a->tick < b->tick
               : a->hand != b->hand ? a->hand < b->hand
                                    : a->key < b->key;
    };
    if (!std::is_sorted(notes.begin(), notes.end(), documentOrder)) {
        std::stable_sort(notes.begin(), notes.end(), documentOrder);
    }
    rightNotes.assign(static_cast<size_t>(length), kEmptyEvent);
    leftNotes.assign(static_cast<size_t>(length), kEmptyEvent);
    std::vector<NoteEvent>* grids[2] = {&rightNotes, &leftNotes};
    const size_t measureCount = std::max<size_t>(piece.measures.size(), 1);
    size_t next = 0;
    std::vector<const PieceNote*> hand[2];
    bool fits = true;
    for (size_t m = 0; m < measureCount && fits; ++m) {
        const bool last = m + 1 == measureCount;
        const int32_t end = last ? length : piece.measures[m + 1].tick;
        hand[0].clear();
        hand[1].clear();
        // A note belongs to the measure it starts in; the last measure takes what is left.
        while (next < notes.size() && (last || notes[next]->tick < end)) {
            hand[notes[next]->hand == 1 ? 1 : 0].push_back(notes[next]);
            ++next;
        }
        // Strokes (one onset, one end) in lanes: each stroke takes the lane that became free
        // first (the lowest such lane on a tie), else opens a new one; the right hand's lanes
        // come before the left's, and the document writes lane after lane.
        using Stroke = std::pair<size_t, size_t>;  // first note in hand[h], notes
        std::vector<std::pair<int, std::vector<Stroke>>> lanes;
        for (int h = 0; h < 2; ++h) {
            std::vector<const PieceNote*>& mine = hand[h];
            const auto strokeOrder = [](const PieceNote* a, const PieceNote* b) {
                return a->tick != b->tick ? a->tick < b->tick : a->endTick < b->endTick;
            };
            if (!std::is_sorted(mine.begin(), mine.end(), strokeOrder)) {
                std::stable_sort(mine.begin(), mine.end(), strokeOrder);
            }
            using Free = std::pair<int32_t, size_t>;  // lane end, lane
            std::priority_queue<Free, std::vector<Free>, std::greater<Free>> free;
            for (size_t k = 0; k < mine.size();) {
                size_t count = 1;
                while (k + count < mine.size() && mine[k + count]->tick == mine[k]->tick &&
                       mine[k + count]->endTick == mine[k]->endTick) {
                    ++count;
                }
                if (!free.empty() && free.top().first <= mine[k]->tick) {
                    const size_t lane = free.top().second;
                    free.pop();
                    lanes[lane].second.push_back({k, count});
                    free.push({mine[k]->endTick, lane});
                } else {
                    lanes.push_back({h, {{k, count}}});
                    free.push({mine[k]->endTick, lanes.size() - 1});
                }
                k += count;
            }
        }
        for (const auto& [h, strokes] : lanes) {
            for (const Stroke& stroke : strokes) {
                for (size_t c = 0; c < stroke.second && fits; ++c) {
                    fits = placeInFirstFreeSlots(grids[h], *hand[h][stroke.first + c]);
                }
            }
        }
    }
    divisions = std::max<int32_t>(piece.divisions, 1);
    scanLength = 4 * divisions;
    if (!fits) {
        rightNotes.clear();
        leftNotes.clear();
        currentTick = -1;
        return false;
    }
    // The document's last measure ends with the cursor on its last tick.
    currentTick = std::max<int32_t>(piece.endTick, 1) - 1;
    return true;
}

// ---- The classic grids into a piece ----

Piece pieceFromClassicGrids(const std::vector<PieceTempo>& tempo,
                            const std::vector<PieceMeasure>& measures, bool planned) {
    Piece piece;
    piece.divisions = divisions;
    piece.tempo = tempo;
    piece.measures = measures;
    const std::vector<NoteEvent>* grids[2] = {&rightNotes, &leftNotes};
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& grid = *grids[hand];
        // A key held on from the tick before continues its note; anything else starts one.
        std::array<int32_t, kKeyCount> heldSince;
        heldSince.fill(-1);
        std::array<int, kKeyCount> finger{};
        for (size_t t = 0; t < grid.size(); ++t) {
            for (int s = 0; s < kSlotCount; ++s) {
                const NoteSlot& slot = grid[t].slot[s];
                if (slot.key < 0 || slot.key >= kKeyCount) {
                    continue;
                }
                if (heldSince[slot.key] < 0) {
                    heldSince[slot.key] = static_cast<int32_t>(t);
                    finger[slot.key] = planned ? s + 1 : 0;
                }
                if (slot.lastTick != 0 || t + 1 == grid.size()) {
                    PieceNote note;
                    note.hand = hand;
                    note.key = slot.key;
                    note.tick = heldSince[slot.key];
                    note.endTick = static_cast<int32_t>(t) + 1;
                    note.plannedFinger = finger[slot.key];
                    note.staff = hand + 1;
                    piece.notes.push_back(note);
                    heldSince[slot.key] = -1;
                }
            }
        }
    }
    piece.endTick = static_cast<int32_t>(rightNotes.size());
    settlePiece(&piece);
    return piece;
}
