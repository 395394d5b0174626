#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <set>
#include <unordered_map>

#include "prepare/prepare_stages.h"

// The prepared notes: the measures on the common time line, the played notes placed on it in
// their hands with ties merged, the tempo and dynamics beside them, everything rescaled to the
// divisions written, and the notes a pianist's hands can play.
//
// Sections: measures; notes in hands; tempo and dynamics; ornaments and articulation; divisions;
// keys struck again and five fingers; long notes.

namespace preparation {

size_t measureIndexAt(const Measures& measures, int64_t tick) {
    const std::vector<int64_t>& starts = measures.starts;
    auto at = std::upper_bound(starts.begin(), starts.end() - 1, tick);
    return static_cast<size_t>(std::max<ptrdiff_t>(0, at - starts.begin() - 1));
}

const std::string& measureAt(const Measures& measures, int64_t tick) {
    return measures.numbers[measureIndexAt(measures, tick)];
}

// ---- measures -------------------------------------------------------------------------------

Measures measureStarts(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                       const std::vector<PartMusic>& music) {
    // Measures: each starts where the one before ended, at the furthest position the played
    // parts reached in it (or any part, when the piano is silent and names no length).
    size_t measureCount = 0;
    for (const Played& p : played) {
        measureCount = std::max(measureCount, parts[p.part].measures.size());
    }
    std::vector<int64_t> length(measureCount, 0);
    std::vector<std::string> numbers(measureCount);
    for (size_t m = 0; m < measureCount; ++m) {
        for (const Played& p : played) {
            if (m < music[p.part].extent.size()) {
                length[m] = std::max(length[m], music[p.part].extent[m]);
                if (numbers[m].empty()) {
                    numbers[m] = parts[p.part].numbers[m];
                }
            }
        }
        if (length[m] == 0) {
            for (const PartMusic& other : music) {
                if (m < other.extent.size()) {
                    length[m] = std::max(length[m], other.extent[m]);
                }
            }
        }
    }
    std::vector<int64_t> starts(measureCount + 1, 0);
    for (size_t m = 0; m < measureCount; ++m) {
        starts[m + 1] = clampPosition(starts[m] + length[m]);
    }

    return Measures{std::move(starts), std::move(numbers)};
}

// ---- notes in hands -------------------------------------------------------------------------

std::vector<Note> placeNotes(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                             const std::vector<PartMusic>& music, const Measures& measures,
                             int64_t unit, Changes* changes, std::vector<NoteMarks>* marks,
                             std::vector<std::pair<int64_t, int64_t>>* fermatas) {
    const std::vector<int64_t>& starts = measures.starts;
    const size_t measureCount = measures.numbers.size();
    // Hands: staff 1 right and staff 2 left, unless the clefs at the start say the opposite; a
    // one-staff part to the hand its first clef suggests.
    std::vector<Note> notes;
    for (const Played& p : played) {
        const PartInfo& part = parts[p.part];
        const PartMusic& pm = music[p.part];
        std::string staff1;
        std::string staff2;
        for (const auto& [staff, sign] : pm.firstClefs) {
            if (staff == 1) {
                staff1 = sign;
            } else if (staff == 2) {
                staff2 = sign;
            }
        }
        const bool swapped = part.staves >= 2 && staff1 == "f" && staff2 == "g";
        int single = p.hand;
        if (single < 0 && part.staves < 2) {
            single = staff1 == "f" ? 1 : 0;
        }
        if (p.hand < 0 && swapped) {
            changes->lines.push_back(
                "hands: part " + describe(part) +
                " has its F clef on staff 1 and its G clef on staff 2: staff 1 "
                "is played by the left hand, staff 2 by the right");
        }
        if (p.hand < 0 && part.staves < 2) {
            changes->lines.push_back("hands: part " + describe(part) +
                                     " has one staff: every note to the " +
                                     (single == 1 ? "left hand (F clef)" : "right hand"));
        }
        // Ties: a note tied from an earlier one of the same key ending where it starts extends it.
        // The same key may be tied at once in both staves or in two voices of one staff, so each
        // continuation takes the open tie of its own staff and voice first, then of its own
        // staff, then any. Exporters that round tuplet durations leave a voice a tick or so short
        // of (or past) the barline, so a tie whose end misses the continuation by less than a
        // 64th note still holds it: the tie says the key is not struck again.
        const std::vector<RawNote>& raw = pm.notes;
        const int marksBase = static_cast<int>(marks->size());
        marks->insert(marks->end(), pm.ornamentMarks.begin(), pm.ornamentMarks.end());
        for (const RawSpan& f : pm.fermatas) {
            if (f.measure < measureCount) {
                const int64_t at = clampPosition(starts[f.measure] + f.onset);
                fermatas->emplace_back(at, clampPosition(at + f.length));
            }
        }
        std::vector<int64_t> onset(raw.size());
        for (size_t k = 0; k < raw.size(); ++k) {
            onset[k] = clampPosition(starts[raw[k].measure] + raw[k].onset);
        }
        std::vector<size_t> order(raw.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return onset[a] < onset[b]; });
        struct OpenTie {
            int64_t end;
            size_t held;  // index in `notes`
            int staff;
            const std::string* voice;
        };
        std::unordered_map<int32_t, std::vector<OpenTie>> openTies;  // by key
        const int64_t tieSlack = unit / 16;
        auto takeTie = [&](const RawNote& r, int64_t begin, size_t* held) {
            auto found = openTies.find(r.key);
            if (found == openTies.end()) {
                return false;
            }
            std::vector<OpenTie>& open = found->second;
            size_t best = open.size();
            int64_t bestScore = 0;
            for (size_t i = 0; i < open.size(); ++i) {
                const int64_t miss =
                    open[i].end > begin ? open[i].end - begin : begin - open[i].end;
                if (miss > tieSlack) {
                    continue;
                }
                const bool sameStaff = open[i].staff == r.staff;
                const int64_t rank = sameStaff ? (*open[i].voice == r.voice ? 0 : 1) : 2;
                const int64_t score = rank * (tieSlack + 1) + miss;
                if (best == open.size() || score < bestScore) {
                    best = i;
                    bestScore = score;
                }
            }
            if (best == open.size()) {
                return false;
            }
            *held = open[best].held;
            open.erase(open.begin() + static_cast<long>(best));
            return true;
        };
        for (size_t k : order) {
            const RawNote& r = raw[k];
            if (r.staff == 0 && part.staves >= 2 && p.hand < 0) {
                changes->add(kNoStaff, part.numbers[r.measure]);
            }
            const int64_t begin = onset[k];
            const int64_t end = clampPosition(begin + r.length);
            size_t held = 0;
            if (r.tieStop && takeTie(r, begin, &held)) {
                notes[held].end = std::max(notes[held].end, end);
                if (notes[held].finger == 0) {
                    notes[held].finger = r.finger;
                }
                if (r.tieStart) {
                    openTies[r.key].push_back({end, held, r.staff, &r.voice});
                }
                changes->add(kTied, part.numbers[r.measure]);
                continue;
            }
            int hand = single;
            if (hand < 0) {
                // Staves beyond the second (a pedal staff) go to the left hand.
                const int staff = std::max(1, r.staff);
                hand = staff == (swapped ? 2 : 1) ? 0 : 1;
            }
            notes.push_back({r.sourceIndex, hand, begin, end, r.key, r.finger, true});
            notes.back().byStaff = single < 0 && r.staff >= 1 && r.staff <= 2;
            notes.back().staff = r.staff;
            notes.back().voice = &r.voice;
            notes.back().marks = r.marks >= 0 ? marksBase + r.marks : -1;
            if (r.tieStart) {
                openTies[r.key].push_back({end, notes.size() - 1, r.staff, &r.voice});
            }
        }
    }
    return notes;
}

void dropOutsideKeyboard(std::vector<Note>* notes, const Measures& measures, Changes* changes) {
    std::vector<Note> kept;
    kept.reserve(notes->size());
    for (const Note& n : *notes) {
        if (n.key < 0 || n.key >= kKeys) {
            changes->add(kOutsideKeyboard, measureAt(measures, n.onset));
        } else {
            kept.push_back(n);
        }
    }
    notes->swap(kept);
}

// Engravers write a hand's notes in the other staff where they run low or high (the Moonlight
// sonata's triplets descend into the bass staff while the left hand holds its octaves). In each
// measure and staff, the notes of the staff's other voices (every voice but its own, see below),
// all together and then voice by voice, go to the other hand when
//   1. while they sound, the staff's hand would hold keys more than kReach apart,
//   2. without them it would not,
//   3. the other hand, taking them, would not either, and
//   4. they lie wholly on the other hand's side of the keys the staff's hand keeps.
// A left hand's arpeggio over its held bass stays where the right hand plays above it. The same
// rule put the fingered note lists' notes in their hands (tools/fingering_lists.py).
namespace {

constexpr int32_t kReach = 15;  // semitones: the widest a hand holds, thumb to little finger

std::string voiceOf(const Note& n) {
    return n.voice ? *n.voice : std::string();
}

struct ReachWindow {
    const std::vector<Note>& notes;
    std::vector<size_t> byOnset;  // every note, in onset order
    std::vector<int64_t> onsets;  // their onsets
    int64_t longest = 0;          // the longest note's length

    // The notes sounding at some moment between `start` and `end`.
    std::vector<size_t> around(int64_t start, int64_t end) const {
        const auto first = std::lower_bound(onsets.begin(), onsets.end(), start - longest);
        const auto last = std::lower_bound(onsets.begin(), onsets.end(), end);
        std::vector<size_t> found;
        for (auto at = first; at != last; ++at) {
            const size_t k = byOnset[static_cast<size_t>(at - onsets.begin())];
            if (notes[k].alive && notes[k].end > start) {
                found.push_back(k);
            }
        }
        return found;
    }
    // Whether at every onset among `which` the keys they sound lie within kReach: a sweep over
    // their onsets and ends, so a measure of thousands of notes costs no more than its sort.
    bool reachable(const std::vector<size_t>& which) const {
        std::vector<std::pair<int64_t, int32_t>> starts;  // (tick, key)
        std::vector<std::pair<int64_t, int32_t>> ends;
        for (size_t k : which) {
            starts.push_back({notes[k].onset, notes[k].key});
            ends.push_back({notes[k].end, notes[k].key});
        }
        std::sort(starts.begin(), starts.end());
        std::sort(ends.begin(), ends.end());
        std::array<int32_t, kKeys> sounding{};  // notes sounding on each key
        size_t e = 0;
        for (size_t s = 0; s < starts.size();) {
            const int64_t t = starts[s].first;
            for (; e < ends.size() && ends[e].first <= t; ++e) {
                --sounding[static_cast<size_t>(ends[e].second)];
            }
            for (; s < starts.size() && starts[s].first == t; ++s) {
                ++sounding[static_cast<size_t>(starts[s].second)];
            }
            int32_t low = 0;
            int32_t high = kKeys - 1;
            while (low < kKeys && sounding[static_cast<size_t>(low)] <= 0) {
                ++low;
            }
            while (high > low && sounding[static_cast<size_t>(high)] <= 0) {
                --high;
            }
            if (low < kKeys && high - low > kReach) {
                return false;
            }
        }
        return true;
    }
};

// Moves `voices` (notes of one staff, all in one hand, their indices rising) to the other hand
// under the four conditions; true when it did.
bool moveIfOutOfReach(const ReachWindow& window, std::vector<Note>* notes,
                      const std::vector<size_t>& voices) {
    const int hand = (*notes)[voices.front()].hand;
    int64_t start = std::numeric_limits<int64_t>::max();
    int64_t end = std::numeric_limits<int64_t>::min();
    int32_t low = kKeys;
    int32_t high = -1;
    for (size_t k : voices) {
        start = std::min(start, (*notes)[k].onset);
        end = std::max(end, (*notes)[k].end);
        low = std::min(low, (*notes)[k].key);
        high = std::max(high, (*notes)[k].key);
    }
    std::vector<size_t> mine, kept, theirs = voices;
    for (size_t k : window.around(start, end)) {
        const bool moving = std::binary_search(voices.begin(), voices.end(), k);
        if ((*notes)[k].hand == hand) {
            mine.push_back(k);
            if (!moving) {
                kept.push_back(k);
            }
        } else {
            theirs.push_back(k);
        }
    }
    if (window.reachable(mine) || !window.reachable(kept) || !window.reachable(theirs)) {
        return false;
    }
    for (size_t k : kept) {
        if (hand == 1 ? low < (*notes)[k].key : high > (*notes)[k].key) {
            return false;
        }
    }
    for (size_t k : voices) {
        (*notes)[k].hand = 1 - hand;
    }
    return true;
}

}  // namespace

void reachAcrossStaves(std::vector<Note>* notes, const Measures& measures, Changes* changes) {
    // Each staff's own voice: of the voices written mostly in it, the one with most notes there.
    // A voice printed for a while in the other staff (a notation program writes a hand's notes
    // moved across with the hand's voice) stays the own voice of the staff it is mostly in.
    std::map<std::pair<std::string, int>, size_t> perVoice;  // (voice, staff): notes
    for (const Note& n : *notes) {
        if (n.byStaff) {
            ++perVoice[{voiceOf(n), n.staff}];
        }
    }
    std::map<std::string, std::pair<size_t, int>> home;  // voice: (notes, staff) where most are
    for (const auto& [voiceStaff, count] : perVoice) {
        auto& best = home[voiceStaff.first];
        if (count > best.first) {
            best = {count, voiceStaff.second};
        }
    }
    // A staff no voice is mostly written in (one voice name for both staves, as some programs
    // write) takes the voice with most notes there, so its notes are never all "other".
    std::map<int, std::pair<size_t, std::string>> homed;  // staff: (notes, voice)
    std::map<int, std::pair<size_t, std::string>> any;
    for (const auto& [voiceStaff, count] : perVoice) {
        auto& best = home[voiceStaff.first].second == voiceStaff.second ? homed[voiceStaff.second]
                                                                        : any[voiceStaff.second];
        if (count > best.first) {
            best = {count, voiceStaff.first};
        }
    }
    std::map<int, std::string> ownVoice;
    for (const auto& [staff, best] : any) {
        ownVoice[staff] = best.second;
    }
    for (const auto& [staff, best] : homed) {
        ownVoice[staff] = best.second;
    }
    // The other voices' notes, by measure and staff.
    if (measures.numbers.empty()) {
        return;
    }
    std::map<std::pair<size_t, int>, std::vector<size_t>> others;
    for (size_t k = 0; k < notes->size(); ++k) {
        const Note& n = (*notes)[k];
        if (n.byStaff && voiceOf(n) != ownVoice[n.staff]) {
            others[{measureIndexAt(measures, n.onset), n.staff}].push_back(k);
        }
    }
    if (others.empty()) {
        return;
    }
    ReachWindow window{*notes, std::vector<size_t>(notes->size()), {}, 0};
    std::iota(window.byOnset.begin(), window.byOnset.end(), size_t{0});
    std::stable_sort(window.byOnset.begin(), window.byOnset.end(),
                     [notes](size_t a, size_t b) { return (*notes)[a].onset < (*notes)[b].onset; });
    for (size_t k : window.byOnset) {
        window.onsets.push_back((*notes)[k].onset);
        window.longest = std::max(window.longest, (*notes)[k].end - (*notes)[k].onset);
    }
    for (const auto& [place, group] : others) {
        // All the other voices together, then (when there are several) each alone.
        std::vector<std::vector<size_t>> candidates = {group};
        std::map<std::string, std::vector<size_t>> byVoice;
        for (size_t k : group) {
            byVoice[voiceOf((*notes)[k])].push_back(k);
        }
        if (byVoice.size() > 1) {
            for (const auto& [voice, members] : byVoice) {
                candidates.push_back(members);
            }
        }
        const int hand = (*notes)[group.front()].hand;
        for (const std::vector<size_t>& candidate : candidates) {
            if ((*notes)[candidate.front()].hand == hand &&
                moveIfOutOfReach(window, notes, candidate)) {
                changes->add(kOutOfReach, measures.numbers[place.first],
                             static_cast<int64_t>(candidate.size()));
            }
        }
    }
}

// ---- tempo and dynamics ---------------------------------------------------------------------

std::vector<Tempo> collectTempo(const std::vector<PartInfo>& parts,
                                const std::vector<Played>& played,
                                const std::vector<PartMusic>& music, bool sawSoundTempo,
                                const Measures& measures) {
    const std::vector<int64_t>& starts = measures.starts;
    const size_t measureCount = measures.numbers.size();
    // Tempo from every part, the played parts first where two parts mark the same moment; the
    // metronome marks only when the score has no sound tempo at all.
    std::vector<Tempo> tempo;
    {
        std::vector<size_t> partOrder;
        for (const Played& p : played) {
            partOrder.push_back(p.part);
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            if (std::find(partOrder.begin(), partOrder.end(), i) == partOrder.end()) {
                partOrder.push_back(i);
            }
        }
        for (size_t i : partOrder) {
            for (const RawTempo& t : music[i].tempo) {
                if (t.metronome == sawSoundTempo || t.measure >= measureCount) {
                    continue;
                }
                const int64_t at = std::min(starts[t.measure] + t.offset,
                                            std::max(starts[t.measure], starts[t.measure + 1] - 1));
                tempo.push_back({at, t.quartersPerMinute});
            }
        }
        std::stable_sort(tempo.begin(), tempo.end(),
                         [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
        tempo.erase(std::unique(tempo.begin(), tempo.end(),
                                [](const Tempo& a, const Tempo& b) { return a.tick == b.tick; }),
                    tempo.end());
    }

    return tempo;
}

PlacedMarks placeDynamics(const std::vector<PartMusic>& music, const std::vector<Played>& played,
                          const Measures& measures) {
    const std::vector<int64_t>& starts = measures.starts;
    const size_t measureCount = measures.numbers.size();
    // Dynamics and pedal on the played ticks, within their measure like the tempo.
    PlacedMarks placedMarks;
    for (size_t i = 0; i < played.size(); ++i) {
        placeMarks(
            music[played[i].part].marks, static_cast<int>(i),
            [&](size_t m, int64_t offset) {
                if (m >= measureCount) {
                    return starts.back();
                }
                return std::min(starts[m] + offset, std::max(starts[m], starts[m + 1] - 1));
            },
            &placedMarks);
    }

    return placedMarks;
}

// ---- ornaments and articulation --------------------------------------------------------------

// Plays out the marks (prepare/ornaments.h) on the prepared notes and the tempo map, with one
// change line saying what was played.
void playMarks(std::vector<Note>* notes, const std::vector<NoteMarks>& marks,
               std::vector<std::pair<int64_t, int64_t>> fermatas, int64_t unit,
               std::vector<Tempo>* tempo, Changes* changes) {
    static const std::string kNoVoice;
    std::vector<OrnamentNote> played;
    played.reserve(notes->size());
    for (const Note& n : *notes) {
        OrnamentNote o;
        o.hand = n.hand;
        o.staff = n.staff;
        o.voice = n.voice != nullptr ? *n.voice : kNoVoice;
        o.onset = n.onset;
        o.end = n.end;
        o.key = n.key;
        o.sourceIndex = n.sourceIndex;
        o.finger = n.finger;
        o.marks = n.marks;
        played.push_back(std::move(o));
    }
    std::vector<OrnamentTempo> map;
    for (const Tempo& t : *tempo) {
        map.push_back({t.tick, t.quartersPerMinute});
    }
    OrnamentCounts counts;
    playOrnaments(&played, marks, std::move(fermatas), unit, &map, &counts);
    notes->clear();
    for (const OrnamentNote& o : played) {
        if (o.key >= 0 && o.key < kKeys && o.end > o.onset) {
            notes->push_back({o.sourceIndex, o.hand, o.onset, o.end, o.key, o.finger, true});
        }
    }
    std::stable_sort(notes->begin(), notes->end(),
                     [](const Note& a, const Note& b) { return a.onset < b.onset; });
    tempo->clear();
    for (const OrnamentTempo& t : map) {
        tempo->push_back({t.tick, t.quartersPerMinute});
    }
    std::string line;
    auto part = [&line](int count, const char* one, const char* many) {
        if (count > 0) {
            line += (line.empty() ? "" : ", ") + std::to_string(count) + " " +
                    (count == 1 ? one : many);
        }
    };
    part(counts.graces, "grace note", "grace notes");
    part(counts.shortened, "note shortened (staccato)", "notes shortened (staccato)");
    part(counts.ornaments, "trill, mordent or turn", "trills, mordents or turns");
    part(counts.tremolos, "tremolo", "tremolos");
    part(counts.glissandos, "glissando", "glissandos");
    part(counts.rolled, "rolled chord", "rolled chords");
    part(counts.fermatas, "fermata", "fermatas");
    if (!line.empty()) {
        changes->lines.push_back("ornaments and articulation played: " + line);
    }
    if (counts.graceDropped > 0) {
        changes->lines.push_back("grace notes with no room or off the keyboard not played: " +
                                 std::to_string(counts.graceDropped));
    }
}

// ---- divisions ------------------------------------------------------------------------------

namespace {

int64_t gcd64(int64_t a, int64_t b) {
    return std::gcd(a < 0 ? -a : a, b < 0 ? -b : b);
}

}  // namespace

bool scaleToDivisions(int64_t unit, std::vector<Note>* notesIn, Measures* measures,
                      std::vector<Tempo>* tempoIn, PlacedMarks* placedMarks, Changes* changes,
                      int64_t* divisionsWritten, std::string* error) {
    std::vector<Note>& notes = *notesIn;
    std::vector<Tempo>& tempo = *tempoIn;
    std::vector<int64_t>& starts = measures->starts;
    // The smallest unit that keeps every onset, length, measure and tempo exact.
    int64_t common = unit;
    for (const Note& n : notes) {
        common = gcd64(common, gcd64(n.onset, n.end));
    }
    for (int64_t s : starts) {
        common = gcd64(common, s);
    }
    for (const Tempo& t : tempo) {
        common = gcd64(common, t.tick);
    }
    int64_t divisionsOut = unit / common;
    // Beyond what the reader converts, positions are rounded to a unit that keeps the common
    // tuplets exact.
    const bool rounded = divisionsOut > kMaxValue;
    const double ratio = static_cast<double>(kRoundedDivisions) / static_cast<double>(unit);
    auto scale = [&](int64_t value) {
        return rounded ? static_cast<int64_t>(std::llround(static_cast<double>(value) * ratio))
                       : value / common;
    };
    if (rounded) {
        divisionsOut = kRoundedDivisions;
    }
    int64_t roundedCount = 0;
    for (Note& n : notes) {
        const int64_t begin = scale(n.onset);
        int64_t end = scale(n.end);
        if (rounded && (static_cast<double>(begin) * unit != n.onset * double(kRoundedDivisions) ||
                        static_cast<double>(end) * unit != n.end * double(kRoundedDivisions))) {
            ++roundedCount;
        }
        if (end <= begin) {
            end = begin + 1;
        }
        n.onset = begin;
        n.end = end;
    }
    for (int64_t& s : starts) {
        s = scale(s);
    }
    for (Tempo& t : tempo) {
        t.tick = scale(t.tick);
    }
    scaleMarks(placedMarks, scale);
    if (roundedCount > 0) {
        changes->add(kRounded, measureAt(*measures, 0), roundedCount);
    }
    *divisionsWritten = divisionsOut;

    int64_t ticks = starts.back();
    for (const Note& n : notes) {
        ticks = std::max(ticks, n.end);
    }
    if (ticks > kMaxTicks) {
        *error = "the score is too long to play: " + std::to_string(ticks) + " ticks at " +
                 std::to_string(divisionsOut) + " per quarter note (at most 8388608)";
        return false;
    }
    return true;
}

// ---- keys struck again and five fingers ----------------------------------------------------

namespace {

// Counts over a row of intervals: add to a range, largest count in a range; both in log time,
// so that crowded scores of any size are resolved quickly.
struct CountTree {
    size_t size = 0;
    std::vector<int32_t> most;   // largest count below each node, its own additions included
    std::vector<int32_t> added;  // added to the whole range of each node

    explicit CountTree(size_t n) : size(n), most(4 * n + 4, 0), added(4 * n + 4, 0) {}

    void add(size_t from, size_t to, int32_t change) { add(1, 0, size, from, to, change); }
    int32_t largest(size_t from, size_t to) const { return largest(1, 0, size, from, to); }

private:
    void add(size_t node, size_t low, size_t high, size_t from, size_t to, int32_t change) {
        if (to <= low || high <= from) {
            return;
        }
        if (from <= low && high <= to) {
            most[node] += change;
            added[node] += change;
            return;
        }
        const size_t middle = (low + high) / 2;
        add(2 * node, low, middle, from, to, change);
        add(2 * node + 1, middle, high, from, to, change);
        most[node] = added[node] + std::max(most[2 * node], most[2 * node + 1]);
    }
    int32_t largest(size_t node, size_t low, size_t high, size_t from, size_t to) const {
        if (to <= low || high <= from) {
            return std::numeric_limits<int32_t>::min() / 2;
        }
        if (from <= low && high <= to) {
            return most[node];
        }
        const size_t middle = (low + high) / 2;
        return added[node] + std::max(largest(2 * node, low, middle, from, to),
                                      largest(2 * node + 1, middle, high, from, to));
    }
};

bool isDoubling(const Note& a, const Note& b) {
    return a.key == b.key || (a.key - b.key) % 12 == 0;
}

// No hand holds more than five notes at once: the notes beyond go to the other hand where it has
// a free finger for the whole note, or are dropped, doublings first. `notes` are sorted by onset.
template <typename MeasureOf>
void keepFiveFingers(std::vector<Note>* notes, Changes* changes, MeasureOf measureOf) {
    // Time is cut at every onset and end; count[h] holds the notes of hand h in each piece.
    // The onsets come in order: only the ends are sorted, then the two rows merged.
    std::vector<int64_t> onsets;
    std::vector<int64_t> ends;
    onsets.reserve(notes->size());
    ends.reserve(notes->size());
    for (const Note& n : *notes) {
        onsets.push_back(n.onset);
        ends.push_back(n.end);
    }
    if (!std::is_sorted(onsets.begin(), onsets.end())) {
        std::sort(onsets.begin(), onsets.end());
    }
    std::sort(ends.begin(), ends.end());
    std::vector<int64_t> cuts(2 * notes->size());
    std::merge(onsets.begin(), onsets.end(), ends.begin(), ends.end(), cuts.begin());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    auto piece = [&cuts](int64_t tick) {
        return static_cast<size_t>(std::lower_bound(cuts.begin(), cuts.end(), tick) - cuts.begin());
    };
    std::vector<int32_t> start[2];
    start[0].assign(cuts.size() + 1, 0);
    start[1].assign(cuts.size() + 1, 0);
    for (const Note& n : *notes) {
        if (n.alive) {
            ++start[n.hand][piece(n.onset)];
            --start[n.hand][piece(n.end)];
        }
    }
    bool crowded = false;
    for (int h = 0; h < 2; ++h) {
        int32_t running = 0;
        for (int32_t change : start[h]) {
            running += change;
            crowded = crowded || running > kFingers;
        }
    }
    if (!crowded) {
        return;
    }
    CountTree count[2] = {CountTree(cuts.size()), CountTree(cuts.size())};
    // The spans of each hand's notes of each key; they never overlap within one hand.
    std::vector<std::set<std::pair<int64_t, int64_t>>> spans(2 * kKeys);
    for (const Note& n : *notes) {
        if (n.alive) {
            count[n.hand].add(piece(n.onset), piece(n.end), 1);
            spans[n.hand * kKeys + n.key].insert({n.onset, n.end});
        }
    }
    auto holds = [&spans](int hand, const Note& n) {
        const auto& mine = spans[hand * kKeys + n.key];
        auto after = mine.lower_bound({n.end, std::numeric_limits<int64_t>::min()});
        return after != mine.begin() && std::prev(after)->second > n.onset;
    };
    auto remove = [&](Note& n) {
        count[n.hand].add(piece(n.onset), piece(n.end), -1);
        spans[n.hand * kKeys + n.key].erase({n.onset, n.end});
        n.alive = false;
    };
    std::vector<size_t> active;  // notes begun by the tick looked at, not yet known to have ended
    size_t next = 0;
    for (size_t i = 0; i < notes->size(); ++i) {
        const int64_t t = (*notes)[i].onset;
        if (i > 0 && (*notes)[i - 1].onset == t) {
            continue;  // this onset is resolved already
        }
        for (; next < notes->size() && (*notes)[next].onset <= t; ++next) {
            active.push_back(next);
        }
        active.erase(
            std::remove_if(active.begin(), active.end(),
                           [&](size_t k) { return !(*notes)[k].alive || (*notes)[k].end <= t; }),
            active.end());
        const size_t at = piece(t);
        for (int h = 0; h < 2; ++h) {
            while (count[h].largest(at, at + 1) > kFingers) {
                std::vector<size_t> covering;
                for (size_t k : active) {
                    if ((*notes)[k].alive && (*notes)[k].hand == h) {
                        covering.push_back(k);
                    }
                }
                if (covering.empty()) {
                    break;  // cannot happen while the counts follow the notes
                }
                // The notes nearest the other hand go first.
                std::sort(covering.begin(), covering.end(), [&](size_t a, size_t b) {
                    const int32_t ka = (*notes)[a].key;
                    const int32_t kb = (*notes)[b].key;
                    return h == 0 ? (ka != kb ? ka < kb : a > b) : (ka != kb ? ka > kb : a > b);
                });
                const std::string measure = measureOf(t);
                bool done = false;
                for (size_t k : covering) {
                    Note& n = (*notes)[k];
                    if (holds(1 - h, n)) {
                        // The other hand holds the same key already: the note doubles it.
                        remove(n);
                        changes->add(kDroppedDoubling, measure);
                        done = true;
                        break;
                    }
                    if (count[1 - h].largest(piece(n.onset), piece(n.end)) < kFingers) {
                        remove(n);
                        n.alive = true;
                        n.hand = 1 - h;
                        count[n.hand].add(piece(n.onset), piece(n.end), 1);
                        spans[n.hand * kKeys + n.key].insert({n.onset, n.end});
                        changes->add(kMovedHand, measure);
                        done = true;
                        break;
                    }
                }
                for (size_t a = 0; !done && a < covering.size(); ++a) {
                    for (size_t b = 0; !done && b < covering.size(); ++b) {
                        if (a != b && isDoubling((*notes)[covering[a]], (*notes)[covering[b]])) {
                            remove((*notes)[covering[a]]);
                            changes->add(kDroppedDoubling, measure);
                            done = true;
                        }
                    }
                }
                if (!done) {
                    remove((*notes)[covering.front()]);
                    changes->add(kDroppedCrowded, measure);
                }
            }
        }
    }
}

}  // namespace

void keepPlayable(std::vector<Note>* notesIn, const Measures& measures, Changes* changes) {
    std::vector<Note>& notes = *notesIn;
    auto measureOf = [&](int64_t tick) -> const std::string& { return measureAt(measures, tick); };
    // A key sounding twice at once in one hand: the earlier stroke is let go at the later one.
    // The notes are ordered through their indices: the order sorting the notes themselves gives,
    // tie for tie (the sort sees the same comparisons), with small moves instead of whole notes.
    std::vector<size_t> order(notes.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&notes](size_t x, size_t y) {
        const Note& a = notes[x];
        const Note& b = notes[y];
        return a.hand != b.hand     ? a.hand < b.hand
               : a.key != b.key     ? a.key < b.key
               : a.onset != b.onset ? a.onset < b.onset
                                    : a.end > b.end;
    });
    for (size_t k = 1, last = 0; k < order.size(); ++k) {
        Note& before = notes[order[last]];
        Note& n = notes[order[k]];
        if (before.hand != n.hand || before.key != n.key || n.onset >= before.end) {
            last = k;
            continue;
        }
        changes->add(kUnison, measureOf(n.onset));
        if (n.onset == before.onset) {
            n.alive = false;  // the same stroke written twice: the longer one is kept
        } else {
            // A pianist strikes the key again and holds it on for as long as the longer note
            // was written: another voice's short note on a held key does not silence the rest.
            n.end = std::max(n.end, before.end);
            before.end = n.onset;
            last = k;
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&notes](size_t x, size_t y) { return notes[x].onset < notes[y].onset; });
    std::vector<Note> ordered;
    ordered.reserve(notes.size());
    for (size_t i : order) {
        ordered.push_back(notes[i]);
    }
    notes.swap(ordered);
    keepFiveFingers(&notes, changes, measureOf);
}

// ---- long notes -----------------------------------------------------------------------------

std::vector<Note> splitLongNotes(const std::vector<Note>& notes, const Measures& measures,
                                 Changes* changes) {
    auto measureOf = [&](int64_t tick) -> const std::string& { return measureAt(measures, tick); };
    // Notes the reader cannot take in one duration are written as pieces tied to each other:
    // the strict grids strike each piece, the performance (and any notation program) holds one
    // note, as written.
    std::vector<Note> final;
    final.reserve(notes.size());
    for (const Note& n : notes) {
        if (!n.alive) {
            continue;
        }
        Note piece = n;
        if (n.end - n.onset > kMaxValue) {
            changes->add(kRestruck, measureOf(n.onset));
        }
        while (piece.end - piece.onset > kMaxValue) {
            Note first = piece;
            first.end = piece.onset + kMaxValue;
            first.tiesOn = true;
            final.push_back(first);
            piece.onset = first.end;
            piece.tiedOn = true;
        }
        final.push_back(piece);
    }
    const auto order = [](const Note& a, const Note& b) {
        return a.onset != b.onset ? a.onset < b.onset
               : a.hand != b.hand ? a.hand < b.hand
                                  : a.key < b.key;
    };
    // Mostly in order already; where no two notes tie, an ordered row is the only order there is
    // and needs no sort.
    if (std::adjacent_find(final.begin(), final.end(), [&](const Note& a, const Note& b) {
            return !order(a, b);
        }) != final.end()) {
        std::sort(final.begin(), final.end(), order);
    }

    return final;
}

}  // namespace preparation
