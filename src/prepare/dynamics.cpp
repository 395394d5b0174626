#include "prepare/dynamics.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "prepare/prepare.h"

// Sections: the velocity curve; reading; placing; the level of a lane over time; applying.

namespace {

// ---- The velocity curve ----

struct CurvePoint {
    const char* mark;
    int velocity;
    int after;  // the loudness that follows (fp and its kin); 0 none
    bool accent;
};

// Even steps of about 15 from pppp to fff, mf at the velocity a source without dynamics plays
// (kDefaultVelocity), so a score that marks nothing sounds as it always did in the Piece.
// Sforzandi are a loudness of their own only where nothing louder is in force (see levelOf).
constexpr CurvePoint kCurve[] = {
    {"pppppp", 5, 0, false}, {"ppppp", 8, 0, false},   {"pppp", 12, 0, false},
    {"ppp", 20, 0, false},   {"pp", 35, 0, false},     {"p", 50, 0, false},
    {"mp", 65, 0, false},    {"mf", 80, 0, false},     {"pf", 72, 0, false},
    {"f", 95, 0, false},     {"ff", 110, 0, false},    {"fff", 122, 0, false},
    {"ffff", 127, 0, false}, {"fffff", 127, 0, false}, {"ffffff", 127, 0, false},
    {"n", 3, 0, false},      {"sf", 100, 0, true},     {"sfz", 105, 0, true},
    {"fz", 100, 0, true},    {"rf", 95, 0, true},      {"rfz", 100, 0, true},
    {"sffz", 118, 0, true},  {"fp", 95, 50, true},     {"sfp", 100, 50, true},
    {"sfpp", 100, 35, true}, {"sfzp", 105, 50, true},
};

const CurvePoint* curvePoint(const std::string& mark) {
    for (const CurvePoint& p : kCurve) {
        if (mark == p.mark) {
            return &p;
        }
    }
    return nullptr;
}

int clampVelocity(long value) {
    return static_cast<int>(std::clamp<long>(value, 1, 127));
}

// A percentage of the forte velocity (90), as <sound dynamics> and a note's dynamics attribute
// give it; 0 when the text is no number.
int percentVelocity(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    const double percent = std::strtod(text, &end);
    if (end == text || !std::isfinite(percent) || percent < 0.0 || percent > 1000.0) {
        return 0;
    }
    return clampVelocity(std::lround(percent * 0.9));
}

std::string trimmedText(pugi::xml_node node) {
    std::string text = node.text().get();
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

int staffOf(pugi::xml_node direction) {
    const int staff = std::atoi(trimmedText(direction.child("staff")).c_str());
    return staff >= 1 && staff <= 99 ? staff : 0;
}

// ---- Reading ----

// The dynamic marks in a <dynamics> element, in order: each child names one (<p/>, <sfz/>,
// <other-dynamics>mf</other-dynamics>).
std::vector<std::string> dynamicNames(pugi::xml_node dynamics) {
    std::vector<std::string> names;
    for (pugi::xml_node child : dynamics.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        std::string name = child.name();
        if (name == "other-dynamics") {
            name = trimmedText(child);
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (curvePoint(name) != nullptr) {
            names.push_back(name);
        }
    }
    return names;
}

int damperValue(const char* text) {
    const std::string value = text == nullptr ? "" : text;
    if (value == "yes") {
        return 127;
    }
    if (value == "no") {
        return 0;
    }
    char* end = nullptr;
    const double percent = std::strtod(value.c_str(), &end);
    if (value.empty() || end == value.c_str() || !std::isfinite(percent)) {
        return -1;
    }
    return static_cast<int>(std::clamp(std::lround(percent * 1.27), 0L, 127L));
}

void soundMarks(pugi::xml_node sound, size_t measure, int64_t at, int staff,
                const std::string& mark, MarkSet* set) {
    ReadMark base;
    base.measure = measure;
    base.offset = at;
    base.staff = staff;
    if (pugi::xml_attribute dynamics = sound.attribute("dynamics")) {
        const int velocity = percentVelocity(dynamics.value());
        if (velocity > 0) {
            // The sound the notation program states for the mark beside it replaces the curve's.
            bool given = false;
            for (auto it = set->marks.rbegin(); it != set->marks.rend(); ++it) {
                if (it->kind == MarkKind::Level && it->measure == measure && it->offset == at &&
                    it->staff == staff && it->velocity == 0 && !mark.empty() && it->mark == mark) {
                    it->velocity = velocity;
                    given = true;
                    break;
                }
            }
            if (!given) {
                ReadMark level = base;
                level.kind = MarkKind::Level;
                level.velocity = velocity;
                set->marks.push_back(level);
            }
        }
    }
    if (pugi::xml_attribute damper = sound.attribute("damper-pedal")) {
        const int value = damperValue(damper.value());
        if (value >= 0) {
            ReadMark pedal = base;
            pedal.kind = MarkKind::Pedal;
            pedal.pedal = value;
            set->marks.push_back(pedal);
        }
    }
}
}  // namespace

int markVelocity(const std::string& mark) {
    const CurvePoint* p = curvePoint(mark);
    return p == nullptr ? 0 : p->velocity;
}

int markVelocityAfter(const std::string& mark) {
    const CurvePoint* p = curvePoint(mark);
    return p == nullptr ? 0 : p->after;
}

bool markIsAccent(const std::string& mark) {
    const CurvePoint* p = curvePoint(mark);
    return p != nullptr && p->accent;
}

void readDirectionMarks(pugi::xml_node direction, size_t measure, int64_t at, MarkSet* set) {
    const int staff = staffOf(direction);
    ReadMark base;
    base.measure = measure;
    base.offset = at;
    base.staff = staff;
    std::string lastMark;
    for (pugi::xml_node type : direction.children("direction-type")) {
        for (pugi::xml_node child : type.children()) {
            const char* name = child.name();
            if (std::strcmp(name, "dynamics") == 0) {
                for (const std::string& mark : dynamicNames(child)) {
                    ReadMark level = base;
                    level.mark = mark;
                    set->marks.push_back(level);
                    lastMark = mark;
                }
            } else if (std::strcmp(name, "wedge") == 0) {
                const std::string kind = child.attribute("type").value();
                std::string number = child.attribute("number").value();
                number = number.empty() ? "1" : number;
                if (kind == "crescendo" || kind == "diminuendo") {
                    ReadMark wedge = base;
                    wedge.kind = MarkKind::Wedge;
                    wedge.rise = kind == "crescendo" ? 1 : -1;
                    wedge.number = number;
                    set->marks.push_back(wedge);
                } else if (kind == "stop") {
                    ReadMark stop = base;
                    stop.kind = MarkKind::WedgeStop;
                    stop.number = number;
                    set->marks.push_back(stop);
                }
            } else if (std::strcmp(name, "pedal") == 0) {
                const std::string kind = child.attribute("type").value();
                ReadMark pedal = base;
                pedal.kind = MarkKind::Pedal;
                if (kind == "start" || kind == "resume") {
                    pedal.pedal = 127;
                } else if (kind == "stop" || kind == "discontinue") {
                    pedal.pedal = 0;
                } else if (kind == "change") {
                    pedal.pedal = kPedalChange;
                } else {
                    continue;  // continue: the line goes on; sostenuto is another pedal
                }
                set->marks.push_back(pedal);
            }
        }
    }
    for (pugi::xml_node sound : direction.children("sound")) {
        soundMarks(sound, measure, at, staff, lastMark, set);
    }
}

void readSoundMarks(pugi::xml_node sound, size_t measure, int64_t at, int staff, MarkSet* set) {
    soundMarks(sound, measure, at, staff, "", set);
}

void readNoteMarks(pugi::xml_node note, size_t sourceIndex, size_t measure, int64_t onset,
                   int staff, MarkSet* set, bool hasNotations) {
    NoteMark mark;
    mark.staff = std::max(1, staff);
    mark.measure = measure;
    mark.offset = onset;
    mark.velocity = percentVelocity(note.attribute("dynamics").value());
    for (pugi::xml_node notations = hasNotations ? note.child("notations") : pugi::xml_node();
         notations; notations = notations.next_sibling("notations")) {
        for (pugi::xml_node articulations : notations.children("articulations")) {
            if (articulations.child("strong-accent")) {
                mark.lift = std::max(mark.lift, 2 * kDynamicStep);
            } else if (articulations.child("accent")) {
                mark.lift = std::max(mark.lift, kDynamicStep);
            }
        }
        for (pugi::xml_node dynamics : notations.children("dynamics")) {
            const std::vector<std::string> names = dynamicNames(dynamics);
            if (!names.empty()) {
                mark.notationMark = names.front();
            }
        }
    }
    if (set->slot.size() <= sourceIndex) {
        set->slot.resize(sourceIndex + 1, 0);
    }
    uint32_t& slot = set->slot[sourceIndex];
    if (slot == 0) {
        set->notes.emplace_back(sourceIndex, std::move(mark));  // its staff decides its lane
        slot = static_cast<uint32_t>(set->notes.size());
    } else if (mark.velocity > 0 || mark.lift > 0 || !mark.notationMark.empty()) {
        set->notes[slot - 1].second = std::move(mark);
    }
}

// ---- Placing ----

int markLane(int part, int staff) {
    return part * 100 + std::max(1, staff);
}

void placeMarks(const MarkSet& set, int part, const std::function<int64_t(size_t, int64_t)>& at,
                PlacedMarks* placed) {
    for (const ReadMark& m : set.marks) {
        PlacedMark p;
        p.mark = m;
        p.tick = at(m.measure, m.offset);
        p.lane = m.staff > 0 ? markLane(part, m.staff) : 0;
        p.part = part;
        placed->marks.push_back(p);
    }
    size_t size = placed->notes.size();
    for (const auto& entry : set.notes) {
        size = std::max(size, entry.first + 1);
    }
    placed->notes.resize(size);
    for (const auto& [index, note] : set.notes) {
        PlacedNote p;
        p.velocity = note.velocity;
        p.lift = note.lift;
        p.lane = markLane(part, note.staff);
        placed->notes[index] = p;
        if (!note.notationMark.empty()) {
            PlacedMark mark;
            mark.mark.kind = MarkKind::Level;
            mark.mark.mark = note.notationMark;
            mark.tick = at(note.measure, note.offset);
            mark.lane = p.lane;
            mark.part = part;
            placed->marks.push_back(mark);
        }
    }
}

void scaleMarks(PlacedMarks* placed, const std::function<int64_t(int64_t)>& scale) {
    for (PlacedMark& m : placed->marks) {
        m.tick = scale(m.tick);
    }
}

namespace {

// ---- The level of one lane over time ----

// Wedges open at once in one staff beyond any real score's; more are not played, so that a file
// of endless unclosed wedges cannot make the reading slow.
constexpr size_t kOpenWedges = 16;

struct Ramp {
    int64_t start, end;  // ticks, end > start
    int from, to;
};

struct LaneLevels {
    std::vector<std::pair<int64_t, int>> steps;  // (tick, level from there), by tick
    std::vector<Ramp> ramps;                     // by start
    std::map<int64_t, int> accents;              // tick -> loudness of the notes struck there
};

bool isLevelKind(const PlacedMark& m) {
    return m.mark.kind == MarkKind::Level || m.mark.kind == MarkKind::Wedge ||
           m.mark.kind == MarkKind::WedgeStop;
}

// The level at `tick`: the last step at or before it, unless a wedge started since then still
// runs. Both lists are by tick, so a score with any number of marks is read in log time.
int levelAt(const LaneLevels& levels, int64_t tick) {
    int level = kDefaultVelocity;
    int64_t since = -1;
    auto step =
        std::upper_bound(levels.steps.begin(), levels.steps.end(), tick,
                         [](int64_t t, const std::pair<int64_t, int>& s) { return t < s.first; });
    if (step != levels.steps.begin()) {
        level = (step - 1)->second;
        since = (step - 1)->first;
    }
    auto ramp = std::upper_bound(levels.ramps.begin(), levels.ramps.end(), tick,
                                 [](int64_t t, const Ramp& r) { return t < r.start; });
    if (ramp != levels.ramps.begin()) {
        const Ramp& r = *(ramp - 1);
        if (tick < r.end && r.start >= since) {
            const double t =
                static_cast<double>(tick - r.start) / static_cast<double>(r.end - r.start);
            return clampVelocity(std::lround(r.from + (r.to - r.from) * t));
        }
    }
    return level;
}

// The velocity of a mark: what the source states for it, else the curve's.
int markLevel(const PlacedMark& m) {
    return m.mark.velocity > 0 ? m.mark.velocity : markVelocity(m.mark.mark);
}

// `marks` are one lane's, sorted by tick (reading order kept among equal ticks). `window` is
// how far after a wedge's end its closing mark may stand (a quarter note).
LaneLevels levelsOf(const std::vector<const PlacedMark*>& marks, int64_t window, int64_t end) {
    LaneLevels levels;
    int level = kDefaultVelocity;
    struct Open {
        int64_t tick;
        int rise;
        int from;
    };
    std::map<std::string, Open> open;
    // The first level mark from index i on, within `until`: its position in `marks`, or -1.
    auto nextLevel = [&](size_t i, int64_t until) -> long {
        for (size_t j = i; j < marks.size() && marks[j]->tick <= until; ++j) {
            const PlacedMark& m = *marks[j];
            if (m.mark.kind == MarkKind::Level && markLevel(m) > 0 &&
                (!markIsAccent(m.mark.mark) || markVelocityAfter(m.mark.mark) > 0)) {
                return static_cast<long>(j);
            }
        }
        return -1;
    };
    auto closeWedge = [&](const Open& w, int64_t stop, size_t from) {
        const long j = nextLevel(from, stop + window);
        int to = w.from + w.rise * kDynamicStep;
        if (j >= 0) {
            const PlacedMark& m = *marks[static_cast<size_t>(j)];
            const int next = markLevel(m);
            if ((w.rise > 0 && next > w.from) || (w.rise < 0 && next < w.from)) {
                to = next;
            }
        }
        to = clampVelocity(to);
        if (stop > w.tick) {
            levels.ramps.push_back({w.tick, stop, w.from, to});
        }
        levels.steps.emplace_back(stop, to);
        level = to;
    };
    for (size_t i = 0; i < marks.size(); ++i) {
        const PlacedMark& m = *marks[i];
        if (m.mark.kind == MarkKind::Level) {
            const int value = markLevel(m);
            if (value <= 0) {
                continue;
            }
            if (markIsAccent(m.mark.mark)) {
                // A sforzando is struck loud where nothing louder is in force, and always above
                // the level; fp is forte, whatever came before.
                const int now = levelAt(levels, m.tick);
                levels.accents[m.tick] = m.mark.mark == "fp" || m.mark.velocity > 0
                                             ? value
                                             : clampVelocity(std::max(value, now + kDynamicStep));
                const int after = markVelocityAfter(m.mark.mark);
                if (after > 0) {
                    levels.steps.emplace_back(m.tick, after);
                    level = after;
                }
            } else {
                levels.steps.emplace_back(m.tick, value);
                level = value;
            }
        } else if (m.mark.kind == MarkKind::Wedge) {
            // A wedge still open at a new one of the same number ends there.
            auto it = open.find(m.mark.number);
            if (it != open.end()) {
                closeWedge(it->second, m.tick, i);
                open.erase(it);
            }
            if (open.size() < kOpenWedges) {
                open[m.mark.number] = {m.tick, m.mark.rise, levelAt(levels, m.tick)};
            }
        } else if (m.mark.kind == MarkKind::WedgeStop) {
            auto it = open.find(m.mark.number);
            if (it == open.end() && !open.empty()) {
                it = open.begin();  // a stop that names another number closes the open one
            }
            if (it != open.end()) {
                closeWedge(it->second, m.tick, i + 1);
                open.erase(it);
            }
        }
    }
    // A wedge never closed runs to the next level mark after it, or to the end of the music.
    for (const auto& [number, w] : open) {
        int64_t stop = end;
        for (const PlacedMark* m : marks) {
            if (m->tick > w.tick && m->mark.kind == MarkKind::Level && markLevel(*m) > 0) {
                stop = m->tick;
                break;
            }
        }
        if (stop > w.tick) {
            levels.ramps.push_back(
                {w.tick, stop, w.from, clampVelocity(w.from + w.rise * kDynamicStep)});
        }
    }
    (void)level;
    std::stable_sort(levels.steps.begin(), levels.steps.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::stable_sort(levels.ramps.begin(), levels.ramps.end(),
                     [](const Ramp& a, const Ramp& b) { return a.start < b.start; });
    return levels;
}

void applyPedal(const PlacedMarks& placed, Piece* piece) {
    std::vector<const PlacedMark*> pedal;
    for (const PlacedMark& m : placed.marks) {
        if (m.mark.kind == MarkKind::Pedal) {
            pedal.push_back(&m);
        }
    }
    std::stable_sort(pedal.begin(), pedal.end(),
                     [](const PlacedMark* a, const PlacedMark* b) { return a->tick < b->tick; });
    piece->pedal.clear();
    int value = 0;
    for (const PlacedMark* m : pedal) {
        const int32_t tick = static_cast<int32_t>(std::clamp<int64_t>(m->tick, 0, piece->endTick));
        if (m->mark.pedal == kPedalChange) {
            // Up and down again: the notes held by the pedal stop, the ones struck now are held.
            if (value > 0) {
                piece->pedal.push_back({tick, 0.0, 0});
            }
            piece->pedal.push_back({tick, 0.0, 127});
            value = 127;
        } else if (m->mark.pedal != value) {
            // The same move twice (a pedal line and its <sound> beside it) is one move.
            if (!piece->pedal.empty() && piece->pedal.back().tick == tick &&
                piece->pedal.back().value != 0 && m->mark.pedal != 0 && value != 0) {
                piece->pedal.back().value = m->mark.pedal;
            } else {
                piece->pedal.push_back({tick, 0.0, m->mark.pedal});
            }
            value = m->mark.pedal;
        }
    }
    for (PiecePedal& p : piece->pedal) {
        p.seconds = pieceSeconds(*piece, p.tick);
    }
}
}  // namespace

void applyMarks(const PlacedMarks& placed, const std::vector<PreparedNote>& notes, Piece* piece) {
    // Lanes: a staff follows its own marks (and those written for its whole part); a staff that
    // carries none in the whole piece follows the marks of every staff: a mark written once
    // between the staves is for both hands.
    std::set<int> lanes;
    for (const PlacedNote& note : placed.notes) {
        if (note.lane != 0) {
            lanes.insert(note.lane);
        }
    }
    std::set<int> withOwn;
    for (const PlacedMark& m : placed.marks) {
        for (int lane : lanes) {
            if (isLevelKind(m) && (m.lane == lane || (m.lane == 0 && m.part == lane / 100))) {
                withOwn.insert(lane);
            }
        }
    }
    const int64_t window = std::max<int32_t>(1, piece->divisions);
    std::map<int, LaneLevels> levels;
    for (int lane : lanes) {
        const bool own = withOwn.count(lane) > 0;
        std::vector<const PlacedMark*> marks;
        for (const PlacedMark& m : placed.marks) {
            if (!isLevelKind(m)) {
                continue;
            }
            const bool forLane = m.lane == lane || (m.lane == 0 && m.part == lane / 100);
            if (own ? forLane : true) {
                marks.push_back(&m);
            }
        }
        std::stable_sort(marks.begin(), marks.end(), [](const PlacedMark* a, const PlacedMark* b) {
            return a->tick < b->tick;
        });
        levels[lane] = levelsOf(marks, window, piece->endTick);
    }

    // (tick, hand, key) -> source index, the first note of each: a sorted row searched in log
    // time, without a tree node per note.
    using Place = std::pair<std::tuple<int32_t, int, int32_t>, size_t>;
    std::vector<Place> sourceOf;
    sourceOf.reserve(notes.size());
    for (const PreparedNote& n : notes) {
        sourceOf.push_back({std::make_tuple(n.tick, n.hand, n.key), n.sourceIndex});
    }
    const auto byPlace = [](const Place& a, const Place& b) { return a.first < b.first; };
    if (!std::is_sorted(sourceOf.begin(), sourceOf.end(), byPlace)) {  // the notes come in order
        std::stable_sort(sourceOf.begin(), sourceOf.end(), byPlace);
    }
    for (PieceNote& note : piece->notes) {
        const std::tuple<int32_t, int, int32_t> place{note.tick, note.hand, note.key};
        auto source = std::lower_bound(
            sourceOf.begin(), sourceOf.end(), place,
            [](const Place& a, const std::tuple<int32_t, int, int32_t>& b) { return a.first < b; });
        const PlacedNote* read = nullptr;
        if (source != sourceOf.end() && source->first == place) {
            if (source->second < placed.notes.size() && placed.notes[source->second].lane != 0) {
                read = &placed.notes[source->second];
            }
        }
        const int lane = read != nullptr ? read->lane : markLane(0, note.hand + 1);
        auto lv = levels.find(lane);
        int velocity = kDefaultVelocity;
        if (read != nullptr && read->velocity > 0) {
            velocity = read->velocity;
        } else if (lv != levels.end()) {
            auto accent = lv->second.accents.find(note.tick);
            velocity = accent != lv->second.accents.end() ? accent->second
                                                          : levelAt(lv->second, note.tick);
        }
        note.velocity = clampVelocity(velocity + (read != nullptr ? read->lift : 0));
    }

    piece->dynamics.clear();
    for (const PlacedMark& m : placed.marks) {
        if (m.mark.kind == MarkKind::Level && !m.mark.mark.empty()) {
            piece->dynamics.push_back({static_cast<int32_t>(m.tick), m.mark.mark});
        }
    }
    std::stable_sort(piece->dynamics.begin(), piece->dynamics.end(),
                     [](const PieceDynamic& a, const PieceDynamic& b) { return a.tick < b.tick; });
    applyPedal(placed, piece);
}
