#include "prepare/ornaments.h"

// Sections: reading the marks; note values and the tempo; grace notes; articulation; ornaments
// and tremolos; glissandos; rolled chords; fermatas; the whole pass.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

namespace {

constexpr int kKeys = 88;
constexpr int kSemitones[7] = {0, 2, 4, 5, 7, 9, 11};

std::string trimmedText(const char* text) {
    std::string s(text);
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    const size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool named(pugi::xml_node node, const char* name) {
    return std::strcmp(node.name(), name) == 0;
}

// ---- reading the marks ----

// The alteration the key signature gives a step: sharps F C G D A E B, flats the other way.
int signatureAlter(int step, int fifths) {
    static const int kSharpOrder[7] = {3, 0, 4, 1, 5, 2, 6};
    const int n = std::min(7, std::abs(fifths));
    for (int i = 0; i < n; ++i) {
        const int s = fifths > 0 ? kSharpOrder[i] : kSharpOrder[6 - i];
        if (s == step) {
            return fifths > 0 ? 1 : -1;
        }
    }
    return 0;
}

// Semitones an accidental mark names; false when it names none the keyboard plays.
bool accidentalAlter(const std::string& text, int* alter) {
    static const std::pair<const char*, int> kMarks[] = {
        {"sharp", 1},       {"flat", -1},      {"natural", 0},       {"double-sharp", 2},
        {"sharp-sharp", 2}, {"flat-flat", -2}, {"natural-sharp", 1}, {"natural-flat", -1}};
    for (const auto& [name, value] : kMarks) {
        if (text == name) {
            *alter = value;
            return true;
        }
    }
    return false;
}

// The diatonic neighbour of a written pitch, `direction` steps +1 (above) or -1 (below).
int32_t neighbour(const WrittenPitch& p, int direction, int fifths, const int* alterMark) {
    int step = p.step + direction;
    int octave = p.octave;
    if (step > 6) {
        step = 0;
        ++octave;
    } else if (step < 0) {
        step = 6;
        --octave;
    }
    const int alter = alterMark != nullptr ? *alterMark : signatureAlter(step, fifths);
    return keyOfPitch(step, alter, octave, p.transpose);
}

int slashes(pugi::xml_node tremolo) {
    const std::string text = trimmedText(tremolo.text().get());
    const int n = text.empty() ? 3 : std::atoi(text.c_str());
    return std::max(1, std::min(4, n));
}

// ---- note values and the tempo ----

double tempoAt(const std::vector<OrnamentTempo>& tempo, int64_t tick) {
    double q = 120.0;
    for (const OrnamentTempo& t : tempo) {
        if (t.tick > tick) {
            break;
        }
        q = t.quartersPerMinute;
    }
    return q;
}

// The note value, a 16th down to a 128th note, whose length at the tempo is nearest (by ratio)
// to `seconds`: ornaments are played at a speed a hand manages, in whole notes of the beat.
int64_t valueNear(double seconds, int64_t quarter, double quartersPerMinute) {
    int64_t best = quarter / 4;
    double bestMiss = 1e300;
    for (int64_t v = quarter / 4; v >= quarter / 32 && v >= 1; v /= 2) {
        const double s = static_cast<double>(v) / static_cast<double>(quarter) * 60.0 /
                         std::max(1e-6, quartersPerMinute);
        const double miss = std::fabs(std::log(s / seconds));
        if (miss < bestMiss) {
            best = v;
            bestMiss = miss;
        }
    }
    return best;
}

bool onKeyboard(int32_t key) {
    return key >= 0 && key < kKeys;
}

OrnamentNote derived(const OrnamentNote& from, int32_t key, int64_t onset, int64_t end) {
    OrnamentNote n = from;
    n.key = key;
    n.onset = onset;
    n.end = end;
    n.finger = 0;
    n.marks = -1;
    return n;
}

bool sameLine(const OrnamentNote& a, const OrnamentNote& b) {
    return a.hand == b.hand && a.staff == b.staff && a.voice == b.voice;
}

// Notes (sorted by onset) looked at around a marked note: this many before and after it. A mark
// concerns its own chord and the notes next to it in its voice, and a bounded look keeps a score
// full of marks from costing the square of its length.
constexpr size_t kNeighbourhood = 128;

struct Window {
    size_t from;
    size_t to;  // one past
};

// The indices around the first note at `onset` (by the onsets as sorted).
Window around(const std::vector<int64_t>& onsets, int64_t onset) {
    const size_t at =
        static_cast<size_t>(std::lower_bound(onsets.begin(), onsets.end(), onset) - onsets.begin());
    return {at > kNeighbourhood ? at - kNeighbourhood : 0,
            std::min(onsets.size(), at + kNeighbourhood)};
}

std::vector<int64_t> onsetsOf(const std::vector<OrnamentNote>& notes) {
    std::vector<int64_t> onsets;
    onsets.reserve(notes.size());
    for (const OrnamentNote& n : notes) {
        onsets.push_back(n.onset);
    }
    return onsets;
}

void sortByOnset(std::vector<OrnamentNote>* notes) {
    std::stable_sort(
        notes->begin(), notes->end(),
        [](const OrnamentNote& a, const OrnamentNote& b) { return a.onset < b.onset; });
}

// ---- grace notes ----

void playGraces(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                int64_t quarter, const std::vector<OrnamentTempo>& tempo, OrnamentCounts* counts) {
    std::vector<OrnamentNote> added;
    const size_t count = notes->size();
    sortByOnset(notes);
    const std::vector<int64_t> onsets = onsetsOf(*notes);  // as they were before any change
    for (size_t i = 0; i < count; ++i) {
        if ((*notes)[i].marks < 0 || marks[(*notes)[i].marks].graces.empty()) {
            continue;
        }
        const std::vector<GraceNote>& graces = marks[(*notes)[i].marks].graces;
        const int64_t beat = onsets[i];
        const Window near = around(onsets, beat);
        // The grace leads into the chord note nearest to it.
        size_t target = i;
        for (size_t k = near.from; k < near.to; ++k) {
            const OrnamentNote& c = (*notes)[k];
            if (sameLine(c, (*notes)[i]) && c.onset == beat &&
                std::abs(c.key - graces.back().key) <
                    std::abs((*notes)[target].key - graces.back().key)) {
                target = k;
            }
        }
        // Slots: a grace chord sounds as one.
        std::vector<std::vector<const GraceNote*>> slots;
        for (const GraceNote& g : graces) {
            if (!g.chord || slots.empty()) {
                slots.emplace_back();
            }
            slots.back().push_back(&g);
        }
        const int64_t s = static_cast<int64_t>(slots.size());
        std::vector<int64_t> lengths(slots.size());
        bool onBeat = !graces.front().slash;
        if (graces.front().slash) {
            int64_t d = valueNear(kGraceSeconds, quarter, tempoAt(tempo, beat));
            // Taken from the note before in the same voice, at most half of it, or from the gap.
            int64_t latest = -1;
            for (size_t k = near.from; k < near.to; ++k) {
                const OrnamentNote& c = (*notes)[k];
                if (sameLine(c, (*notes)[i]) && c.onset < beat && c.end > beat - s * d) {
                    latest = std::max(latest, c.onset);
                }
            }
            if (latest >= 0 && s * d * 2 > beat - latest) {
                d = (beat - latest) / (2 * s);
            }
            if (d < 1 || beat - s * d < 0) {
                onBeat = true;  // no room before the beat (the piece's first note)
            } else {
                const int64_t start = beat - s * d;
                for (size_t k = near.from; k < near.to; ++k) {
                    OrnamentNote& c = (*notes)[k];
                    if (sameLine(c, (*notes)[i]) && c.onset < beat && c.end > start) {
                        c.end = std::max(c.onset + 1, start);
                    }
                }
                std::fill(lengths.begin(), lengths.end(), d);
                int64_t at = start;
                for (size_t j = 0; j < slots.size(); ++j) {
                    for (const GraceNote* g : slots[j]) {
                        if (onKeyboard(g->key)) {
                            added.push_back(derived((*notes)[target], g->key, at, at + d));
                            ++counts->graces;
                        } else {
                            ++counts->graceDropped;
                        }
                    }
                    at += d;
                }
                continue;
            }
        }
        if (onBeat) {
            // Appoggiaturas take their written share of the main note, at most half of it; an
            // acciaccatura with no room before the beat takes its short time from the note.
            OrnamentNote& main = (*notes)[target];
            const int64_t d = valueNear(kGraceSeconds, quarter, tempoAt(tempo, beat));
            int64_t total = 0;
            for (size_t j = 0; j < slots.size(); ++j) {
                int64_t w = 0;
                for (const GraceNote* g : slots[j]) {
                    w = std::max(w, g->written);
                }
                lengths[j] = graces.front().slash || w <= 0 ? d : w;
                total += lengths[j];
            }
            const int64_t room = (main.end - main.onset) / 2;
            if (room < s) {
                counts->graceDropped += static_cast<int>(graces.size());
                continue;
            }
            if (total > room) {
                int64_t sum = 0;
                for (int64_t& w : lengths) {
                    w = std::max<int64_t>(1, w * room / total);
                    sum += w;
                }
                total = sum;
            }
            int64_t at = main.onset;
            for (size_t j = 0; j < slots.size(); ++j) {
                for (const GraceNote* g : slots[j]) {
                    if (onKeyboard(g->key)) {
                        added.push_back(derived(main, g->key, at, at + lengths[j]));
                        ++counts->graces;
                    } else {
                        ++counts->graceDropped;
                    }
                }
                at += lengths[j];
            }
            main.onset = at;
        }
    }
    notes->insert(notes->end(), added.begin(), added.end());
}

// ---- articulation ----

void playArticulation(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                      OrnamentCounts* counts) {
    for (OrnamentNote& n : *notes) {
        if (n.marks < 0) {
            continue;
        }
        double fraction = 1.0;
        switch (marks[n.marks].articulation) {
            case Articulation::Staccato:
                fraction = kStaccatoFraction;
                break;
            case Articulation::Staccatissimo:
                fraction = kStaccatissimoFraction;
                break;
            case Articulation::Spiccato:
                fraction = kSpiccatoFraction;
                break;
            case Articulation::DetachedLegato:
                fraction = kDetachedLegatoFraction;
                break;
            case Articulation::Tenuto:
            case Articulation::None:
                break;
        }
        if (fraction < 1.0) {
            const int64_t length = n.end - n.onset;
            n.end = n.onset +
                    std::max<int64_t>(1, static_cast<int64_t>(std::llround(length * fraction)));
            ++counts->shortened;
        }
    }
}

// ---- ornaments and tremolos ----

// Appends `keys` one after another from the note's onset, each `value` long, the last one held to
// the note's end; false (nothing appended) when the note is too short for them.
bool appendSequence(const OrnamentNote& n, const std::vector<int32_t>& keys, int64_t from,
                    int64_t value, std::vector<OrnamentNote>* out) {
    const int64_t count = static_cast<int64_t>(keys.size());
    if (value < 1 || from + value * count > n.end) {
        return false;
    }
    for (int64_t j = 0; j < count; ++j) {
        const int64_t on = from + j * value;
        const int64_t off = j + 1 == count ? n.end : on + value;
        out->push_back(derived(n, keys[static_cast<size_t>(j)], on, off));
    }
    return true;
}

// The notes a marked note is played as; empty when it is played as written.
std::vector<OrnamentNote> ornamentNotes(const OrnamentNote& n, const NoteMarks& m, int64_t quarter,
                                        const std::vector<OrnamentTempo>& tempo) {
    std::vector<OrnamentNote> out;
    const int64_t length = n.end - n.onset;
    const double q = tempoAt(tempo, n.onset);
    const int32_t k = n.key;
    if (m.tremoloSingle > 0) {
        const int64_t v = std::max<int64_t>(1, quarter >> m.tremoloSingle);
        const int64_t strokes = length / v;
        if (strokes >= 2) {
            appendSequence(n, std::vector<int32_t>(static_cast<size_t>(strokes), k), n.onset, v,
                           &out);
        }
        return out;
    }
    const int64_t fast = valueNear(kGraceSeconds, quarter, q);
    auto fit = [&](int64_t notes, int64_t span) { return std::min(fast, span / notes); };
    switch (m.ornament) {
        case Ornament::None:
            break;
        case Ornament::Trill: {
            // Begins on the main note and ends on it, in equal notes at a speed near ten a
            // second, the last note taking what is left.
            const int64_t v = valueNear(kTrillSeconds, quarter, q);
            int64_t count = length / v;
            if (count % 2 == 0) {
                --count;
            }
            if (count >= 3 && onKeyboard(m.upper)) {
                std::vector<int32_t> keys;
                for (int64_t j = 0; j < count; ++j) {
                    keys.push_back(j % 2 == 0 ? k : m.upper);
                }
                appendSequence(n, keys, n.onset, v, &out);
            }
            break;
        }
        case Ornament::Mordent:
        case Ornament::InvertedMordent: {
            const int32_t aux = m.ornament == Ornament::Mordent ? m.lower : m.upper;
            if (onKeyboard(aux)) {
                appendSequence(n, {k, aux, k}, n.onset, fit(3, length), &out);
            }
            break;
        }
        case Ornament::Turn:
        case Ornament::InvertedTurn: {
            const bool up = m.ornament == Ornament::Turn;
            const int32_t first = up ? m.upper : m.lower;
            const int32_t third = up ? m.lower : m.upper;
            if (onKeyboard(first) && onKeyboard(third)) {
                appendSequence(n, {first, k, third, k}, n.onset, fit(4, length), &out);
            }
            break;
        }
        case Ornament::DelayedTurn: {
            const int64_t half = length / 2;
            if (onKeyboard(m.upper) && onKeyboard(m.lower) && half >= 4) {
                out.push_back(derived(n, k, n.onset, n.onset + half));
                if (!appendSequence(n, {m.upper, k, m.lower, k}, n.onset + half,
                                    fit(4, length - half), &out)) {
                    out.clear();
                }
            }
            break;
        }
    }
    return out;
}

void playOrnamentNotes(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                       int64_t quarter, const std::vector<OrnamentTempo>& tempo,
                       OrnamentCounts* counts) {
    std::vector<OrnamentNote> result;
    result.reserve(notes->size());
    for (const OrnamentNote& n : *notes) {
        if (n.marks >= 0 &&
            (marks[n.marks].ornament != Ornament::None || marks[n.marks].tremoloSingle > 0)) {
            std::vector<OrnamentNote> played = ornamentNotes(n, marks[n.marks], quarter, tempo);
            if (!played.empty()) {
                // The first note is the written one: it keeps its finger and its other marks.
                played.front().finger = n.finger;
                played.front().marks = n.marks;
                ++(marks[n.marks].tremoloSingle > 0 ? counts->tremolos : counts->ornaments);
                result.insert(result.end(), played.begin(), played.end());
                continue;
            }
        }
        result.push_back(n);
    }
    notes->swap(result);
}

// A two-note tremolo: the notes (or chords) of its start and its stop alternate over the span
// of both at the value its slashes name, beginning with the first.
void playTremoloPairs(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                      int64_t quarter, OrnamentCounts* counts) {
    sortByOnset(notes);
    const std::vector<int64_t> onsets = onsetsOf(*notes);
    std::vector<bool> gone(notes->size(), false);
    std::vector<OrnamentNote> added;
    for (size_t i = 0; i < notes->size(); ++i) {
        const OrnamentNote& a = (*notes)[i];
        if (gone[i] || a.marks < 0 || marks[a.marks].tremoloStart == 0) {
            continue;
        }
        const Window near = around(onsets, a.onset);
        std::vector<size_t> first;
        std::vector<size_t> second;
        int64_t stopOnset = -1;
        for (size_t k = near.from; k < near.to; ++k) {
            const OrnamentNote& c = (*notes)[k];
            if (gone[k] || c.marks < 0 || !sameLine(c, a)) {
                continue;
            }
            if (c.onset == a.onset && marks[c.marks].tremoloStart > 0) {
                first.push_back(k);
            } else if (c.onset > a.onset && marks[c.marks].tremoloStop &&
                       (stopOnset < 0 || c.onset < stopOnset)) {
                stopOnset = c.onset;
            }
        }
        if (stopOnset < 0) {
            continue;
        }
        int64_t end = stopOnset;
        for (size_t k = near.from; k < near.to; ++k) {
            const OrnamentNote& c = (*notes)[k];
            if (!gone[k] && c.marks >= 0 && sameLine(c, a) && c.onset == stopOnset &&
                marks[c.marks].tremoloStop) {
                second.push_back(k);
                end = std::max(end, c.end);
            }
        }
        const int64_t v = std::max<int64_t>(1, quarter >> marks[a.marks].tremoloStart);
        const int64_t strokes = (end - a.onset) / v;
        if (strokes < 2) {
            continue;
        }
        for (int64_t j = 0; j < strokes; ++j) {
            const int64_t on = a.onset + j * v;
            const int64_t off = j + 1 == strokes ? end : on + v;
            for (size_t k : (j % 2 == 0 ? first : second)) {
                OrnamentNote n = derived((*notes)[k], (*notes)[k].key, on, off);
                if (j < 2) {
                    n.finger = (*notes)[k].finger;
                }
                added.push_back(n);
            }
        }
        for (size_t k : first) {
            gone[k] = true;
        }
        for (size_t k : second) {
            gone[k] = true;
        }
        ++counts->tremolos;
    }
    std::vector<OrnamentNote> kept;
    for (size_t i = 0; i < notes->size(); ++i) {
        if (!gone[i]) {
            kept.push_back((*notes)[i]);
        }
    }
    kept.insert(kept.end(), added.begin(), added.end());
    notes->swap(kept);
}

// ---- glissandos ----

bool whiteKey(int32_t key) {
    static const bool kWhite[12] = {true,  false, true, true,  false, true,
                                    false, true,  true, false, true,  false};  // from A
    return kWhite[key % 12];
}

// The keys between the two notes of a glissando sound one after another over the second half of
// the first note, reaching the second note on its beat.
void playGlissandos(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                    OrnamentCounts* counts) {
    std::vector<OrnamentNote> added;
    sortByOnset(notes);
    const std::vector<int64_t> onsets = onsetsOf(*notes);
    for (size_t i = 0; i < notes->size(); ++i) {
        OrnamentNote& a = (*notes)[i];
        if (a.marks < 0 || marks[a.marks].glissandoStart == 0) {
            continue;
        }
        const NoteMarks& m = marks[a.marks];
        const OrnamentNote* b = nullptr;
        const Window near = around(onsets, a.onset);
        for (size_t k = near.from; k < near.to; ++k) {
            const OrnamentNote& c = (*notes)[k];
            if (c.marks >= 0 && marks[c.marks].glissandoStop && c.onset > a.onset &&
                marks[c.marks].glissandoStopNumber == m.glissandoStartNumber && c.hand == a.hand &&
                (b == nullptr || c.onset < b->onset)) {
                b = &c;
            }
        }
        if (b == nullptr || b->key == a.key) {
            continue;
        }
        std::vector<int32_t> between;
        const int step = b->key > a.key ? 1 : -1;
        for (int32_t k = a.key + step; k != b->key; k += step) {
            if (m.glissandoStart == 2 || whiteKey(k)) {
                between.push_back(k);
            }
        }
        const int64_t count = static_cast<int64_t>(between.size());
        const int64_t arrive = b->onset;
        int64_t start = a.onset + (std::min(a.end, arrive) - a.onset) / 2;
        if (count == 0) {
            continue;
        }
        if (arrive - start < count) {
            start = arrive - count;
        }
        if (start <= a.onset) {
            continue;  // no time for the keys between
        }
        const int64_t value = (arrive - start) / count;
        a.end = std::min(a.end, start);
        for (int64_t j = 0; j < count; ++j) {
            const int64_t on = start + j * value;
            const int64_t off = j + 1 == count ? arrive : on + value;
            added.push_back(derived(a, between[static_cast<size_t>(j)], on, off));
        }
        ++counts->glissandos;
    }
    notes->insert(notes->end(), added.begin(), added.end());
}

// ---- rolled chords ----

// The notes of one roll (same onset and arpeggio number, both hands together) come in one after
// another from the lowest (or the highest, rolled down), each held to its written end.
void playRolls(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
               int64_t quarter, const std::vector<OrnamentTempo>& tempo, OrnamentCounts* counts) {
    std::map<std::pair<int64_t, std::string>, std::vector<size_t>> rolls;
    for (size_t i = 0; i < notes->size(); ++i) {
        const OrnamentNote& n = (*notes)[i];
        if (n.marks >= 0 && marks[n.marks].arpeggio != 0) {
            rolls[{n.onset, marks[n.marks].arpeggioNumber}].push_back(i);
        }
    }
    for (auto& [where, members] : rolls) {
        if (members.size() < 2) {
            continue;
        }
        const bool down = marks[(*notes)[members.front()].marks].arpeggio < 0;
        std::sort(members.begin(), members.end(), [&](size_t x, size_t y) {
            return down ? (*notes)[x].key > (*notes)[y].key : (*notes)[x].key < (*notes)[y].key;
        });
        int64_t shortest = INT64_MAX;
        for (size_t i : members) {
            shortest = std::min(shortest, (*notes)[i].end - (*notes)[i].onset);
        }
        const int64_t n = static_cast<int64_t>(members.size());
        const int64_t spread = std::min(
            valueNear(kRollSeconds, quarter, tempoAt(tempo, where.first)), (shortest - 1) / n);
        if (spread < 1) {
            continue;
        }
        for (int64_t j = 0; j < n; ++j) {
            (*notes)[members[static_cast<size_t>(j)]].onset += j * spread;
        }
        ++counts->rolled;
    }
}

// ---- fermatas ----

void slowFermatas(std::vector<std::pair<int64_t, int64_t>> spans, std::vector<OrnamentTempo>* tempo,
                  OrnamentCounts* counts) {
    if (spans.empty()) {
        return;
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int64_t, int64_t>> merged;
    for (const auto& s : spans) {
        if (s.second <= s.first) {
            continue;
        }
        if (!merged.empty() && s.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, s.second);
        } else {
            merged.push_back(s);
        }
    }
    std::vector<int64_t> points;
    for (const OrnamentTempo& t : *tempo) {
        points.push_back(t.tick);
    }
    for (const auto& s : merged) {
        points.push_back(s.first);
        points.push_back(s.second);
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    std::vector<OrnamentTempo> slowed;
    for (int64_t p : points) {
        double q = tempoAt(*tempo, p);
        for (const auto& s : merged) {
            if (p >= s.first && p < s.second) {
                q /= kFermataFactor;
            }
        }
        if (slowed.empty() || slowed.back().quartersPerMinute != q) {
            slowed.push_back({p, q});
        }
    }
    counts->fermatas += static_cast<int>(merged.size());
    tempo->swap(slowed);
}

}  // namespace

bool NoteMarks::any() const {
    return articulation != Articulation::None || arpeggio != 0 || ornament != Ornament::None ||
           tremoloSingle > 0 || tremoloStart > 0 || tremoloStop || glissandoStart > 0 ||
           glissandoStop || !graces.empty();
}

int32_t keyOfPitch(int step, int alter, int octave, int transpose) {
    return kSemitones[std::max(0, std::min(6, step))] + alter + 12 * octave - 9 + transpose;
}

int64_t writtenTicks(pugi::xml_node note, int64_t quarter) {
    static const std::pair<const char*, double> kTypes[] = {
        {"breve", 8},   {"whole", 4},    {"half", 2},      {"quarter", 1},    {"eighth", 0.5},
        {"16th", 0.25}, {"32nd", 0.125}, {"64th", 0.0625}, {"128th", 0.03125}};
    const std::string type = trimmedText(note.child("type").text().get());
    double quarters = 0;
    for (const auto& [name, value] : kTypes) {
        if (type == name) {
            quarters = value;
        }
    }
    double dot = quarters / 2;
    for (pugi::xml_node d = note.child("dot"); d; d = d.next_sibling("dot")) {
        quarters += dot;
        dot /= 2;
    }
    return static_cast<int64_t>(std::llround(quarters * static_cast<double>(quarter)));
}

bool hasFermata(pugi::xml_node note) {
    for (pugi::xml_node notations : note.children("notations")) {
        if (notations.child("fermata")) {
            return true;
        }
    }
    return false;
}

bool readNoteMarks(pugi::xml_node note, const WrittenPitch& pitch, int fifths, NoteMarks* marks) {
    bool fermata = false;
    bool staccato = false;
    bool tenuto = false;
    bool trill = false;
    int upperMark = 0;
    int lowerMark = 0;
    bool hasUpperMark = false;
    bool hasLowerMark = false;
    auto accidental = [&](pugi::xml_node mark, bool lowerFirst) {
        int alter = 0;
        if (!accidentalAlter(trimmedText(mark.text().get()), &alter)) {
            return;
        }
        const std::string placement = trimmedText(mark.attribute("placement").value());
        const bool lower = placement == "below" || (placement.empty() && lowerFirst);
        (lower ? lowerMark : upperMark) = alter;
        (lower ? hasLowerMark : hasUpperMark) = true;
    };
    for (pugi::xml_node notations : note.children("notations")) {
        for (pugi::xml_node item : notations.children()) {
            if (named(item, "fermata")) {
                fermata = true;
            } else if (named(item, "arpeggiate")) {
                marks->arpeggio =
                    trimmedText(item.attribute("direction").value()) == "down" ? -1 : 1;
                marks->arpeggioNumber = trimmedText(item.attribute("number").value());
            } else if (named(item, "glissando") || named(item, "slide")) {
                const std::string type = trimmedText(item.attribute("type").value());
                const std::string number = trimmedText(item.attribute("number").value());
                if (type == "start") {
                    std::string words = trimmedText(item.text().get());
                    for (char& c : words) {
                        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    }
                    const bool chromatic =
                        named(item, "slide") || words.find("chrom") != std::string::npos;
                    marks->glissandoStart = chromatic ? 2 : 1;
                    marks->glissandoStartNumber = number;
                } else if (type == "stop") {
                    marks->glissandoStop = true;
                    marks->glissandoStopNumber = number;
                }
            } else if (named(item, "articulations")) {
                for (pugi::xml_node a : item.children()) {
                    if (named(a, "staccato")) {
                        staccato = true;
                    } else if (named(a, "tenuto")) {
                        tenuto = true;
                    } else if (named(a, "staccatissimo")) {
                        marks->articulation = Articulation::Staccatissimo;
                    } else if (named(a, "spiccato")) {
                        marks->articulation = Articulation::Spiccato;
                    } else if (named(a, "detached-legato")) {
                        marks->articulation = Articulation::DetachedLegato;
                    }
                }
            } else if (named(item, "ornaments")) {
                for (pugi::xml_node o : item.children()) {
                    if (named(o, "trill-mark")) {
                        trill = true;
                    } else if (named(o, "wavy-line") &&
                               trimmedText(o.attribute("type").value()) == "start") {
                        trill = true;
                    } else if (named(o, "mordent")) {
                        marks->ornament = Ornament::Mordent;
                    } else if (named(o, "inverted-mordent")) {
                        marks->ornament = Ornament::InvertedMordent;
                    } else if (named(o, "turn")) {
                        marks->ornament = Ornament::Turn;
                    } else if (named(o, "inverted-turn")) {
                        marks->ornament = Ornament::InvertedTurn;
                    } else if (named(o, "delayed-turn")) {
                        marks->ornament = Ornament::DelayedTurn;
                    } else if (named(o, "tremolo")) {
                        const std::string type = trimmedText(o.attribute("type").value());
                        if (type == "start") {
                            marks->tremoloStart = slashes(o);
                        } else if (type == "stop") {
                            marks->tremoloStop = true;
                        } else if (type.empty() || type == "single") {
                            marks->tremoloSingle = slashes(o);
                        }
                    }
                }
                for (pugi::xml_node o : item.children("accidental-mark")) {
                    accidental(o, marks->ornament == Ornament::Mordent);
                }
            } else if (named(item, "accidental-mark")) {
                accidental(item, marks->ornament == Ornament::Mordent);
            }
        }
    }
    if (trill && marks->ornament == Ornament::None) {
        marks->ornament = Ornament::Trill;
    }
    if (marks->articulation == Articulation::None) {
        marks->articulation = staccato && tenuto ? Articulation::DetachedLegato
                              : staccato         ? Articulation::Staccato
                              : tenuto           ? Articulation::Tenuto
                                                 : Articulation::None;
    }
    marks->upper = neighbour(pitch, 1, fifths, hasUpperMark ? &upperMark : nullptr);
    marks->lower = neighbour(pitch, -1, fifths, hasLowerMark ? &lowerMark : nullptr);
    return fermata;
}

void playOrnaments(std::vector<OrnamentNote>* notes, const std::vector<NoteMarks>& marks,
                   std::vector<std::pair<int64_t, int64_t>> fermatas, int64_t quarter,
                   std::vector<OrnamentTempo>* tempo, OrnamentCounts* counts) {
    std::stable_sort(
        notes->begin(), notes->end(),
        [](const OrnamentNote& a, const OrnamentNote& b) { return a.onset < b.onset; });
    // Articulation first: a staccato note before a grace note is short as written, and the
    // grace note takes its time from what is left.
    playArticulation(notes, marks, counts);
    playGraces(notes, marks, quarter, *tempo, counts);
    playOrnamentNotes(notes, marks, quarter, *tempo, counts);
    playTremoloPairs(notes, marks, quarter, counts);
    playGlissandos(notes, marks, counts);
    playRolls(notes, marks, quarter, *tempo, counts);
    slowFermatas(std::move(fermatas), tempo, counts);
}
