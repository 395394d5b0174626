#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>

#include "base/text.h"
#include "music/titles.h"
#include "timeline/score_tree.h"
#include "timeline/timeline.h"

namespace {
// Tempo marks outside this range (quarter notes a minute) are held at its ends: slower would
// stretch a piece over days, faster would blur every note into one frame.
constexpr double kSlowestTempo = 1.0;
constexpr double kFastestTempo = 1000.0;
// The piano's instrument names the reader accepts, in its order.
const char* const kPianoNames[] = {"Acoustic Grand Piano", "Grand Piano", "Piano"};
// The reader's integers run from -2 to 4999; anything else reads as -1.
constexpr int32_t kLowestInt = -2;
constexpr int32_t kHighestInt = 4999;
// A cursor kept within this many ticks of 0 cannot overflow, whatever the document repeats.
constexpr int64_t kCursorBound = int64_t{1} << 40;

// Text with the white space around it removed, as the reader's comparisons see it.
std::string trimmed(const char* text) {
    return trimmedText(text);
}

// Whole-text comparison that folds ASCII letters only.
bool sameText(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) {
            return false;
        }
    }
    return true;
}

bool named(const pugi::xml_node& node, const char* name) {
    return node.type() == pugi::node_element && sameText(node.name(), name);
}

std::string attribute(const pugi::xml_node& node, const char* name) {
    for (const pugi::xml_attribute& a : node.attributes()) {
        if (sameText(a.name(), name)) {
            return trimmed(a.value());
        }
    }
    return std::string();
}

// The text of an element: its first text child, trimmed.
std::string textOf(const pugi::xml_node& node) {
    return trimmed(node.text().get());
}

// An integer the way the reader converts it: the exact decimal text of -2..4999, else -1.
int32_t readerInt(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size() || text.size() - i > 4 || (text[i] == '0' && text.size() - i > 1)) {
        return -1;
    }
    int32_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    if (negative) {
        value = -value;
    }
    if (value < kLowestInt || value > kHighestInt || (negative && value == 0)) {
        return -1;
    }
    return value;
}

// The first number in a text ("132", "c. 132", "132-144" give 132); false when there is none.
bool firstNumber(const std::string& text, double* value) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) ||
            (text[i] == '.' && i + 1 < text.size() &&
             std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
            char* end = nullptr;
            const double v = std::strtod(text.c_str() + i, &end);
            if (end != text.c_str() + i && std::isfinite(v)) {
                *value = v;
                return true;
            }
            return false;
        }
    }
    return false;
}

// A decimal number; false when the text is not one.
bool decimal(const std::string& text, double* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

int64_t bounded(int64_t cursor) {
    return std::clamp(cursor, -kCursorBound, kCursorBound);
}

int32_t toTick(double position) {
    if (!(position > 0.0)) {
        return 0;
    }
    if (position >= static_cast<double>(INT32_MAX)) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(std::llround(position));
}

// Length of a beat unit in quarter notes; 0 for a name that is not one.
double beatUnitQuarters(const std::string& unit) {
    static const struct {
        const char* name;
        double quarters;
    } kUnits[] = {{"maxima", 32.0},     {"long", 16.0},        {"breve", 8.0},
                  {"whole", 4.0},       {"half", 2.0},         {"quarter", 1.0},
                  {"eighth", 0.5},      {"16th", 0.25},        {"32nd", 0.125},
                  {"64th", 0.0625},     {"128th", 0.03125},    {"256th", 0.015625},
                  {"512th", 0.0078125}, {"1024th", 0.00390625}};
    for (const auto& u : kUnits) {
        if (sameText(unit, u.name)) {
            return u.quarters;
        }
    }
    return 0.0;
}

struct FoundTempo {
    int32_t tick;
    double quartersPerMinute;
};

// Everything gathered while walking the document.
struct Walk {
    std::vector<FoundTempo> sounds;      // from <sound tempo>
    std::vector<FoundTempo> metronomes;  // from <metronome>
};

void addTempo(std::vector<FoundTempo>* list, double position, double quartersPerMinute) {
    if (!(quartersPerMinute > 0.0) || !std::isfinite(quartersPerMinute)) {
        return;
    }
    list->push_back(
        {toTick(position), std::clamp(quartersPerMinute, kSlowestTempo, kFastestTempo)});
}

// Quarter notes a minute of a metronome mark, 0 when it states no plain beat = number.
double metronomeTempo(const pugi::xml_node& metronome) {
    double unit = 0.0;
    int units = 0;
    int dots = 0;
    double perMinute = 0.0;
    bool hasPerMinute = false;
    for (const pugi::xml_node& c : metronome.children()) {
        if (named(c, "beat-unit")) {
            ++units;
            unit = beatUnitQuarters(textOf(c));
        } else if (named(c, "beat-unit-dot") && units == 1) {
            ++dots;
        } else if (named(c, "per-minute")) {
            hasPerMinute = firstNumber(textOf(c), &perMinute);
        }
    }
    // Two beat units are a change of beat (quarter = dotted quarter), not a speed.
    if (units != 1 || !hasPerMinute || unit <= 0.0) {
        return 0.0;
    }
    const double dotted = unit * (2.0 - std::ldexp(1.0, -std::min(dots, 8)));
    return perMinute * dotted;
}

// A <sound> and the <metronome> marks of a <direction> at `position` (ticks from tick 0, in
// the piano's ticks); `ticksPerDivision` turns the direction's own offset into those ticks.
void readDirection(const pugi::xml_node& direction, double position, double ticksPerDivision,
                   Walk* walk) {
    double offset = 0.0;
    for (const pugi::xml_node& c : direction.children()) {
        if (named(c, "offset")) {
            if (decimal(textOf(c), &offset)) {
                offset *= ticksPerDivision;
            } else {
                offset = 0.0;
            }
        }
    }
    const double at = position + offset;
    for (const pugi::xml_node& c : direction.children()) {
        if (named(c, "sound")) {
            double q = 0.0;
            if (decimal(attribute(c, "tempo"), &q)) {
                addTempo(&walk->sounds, at, q);
            }
        } else if (named(c, "direction-type")) {
            for (const pugi::xml_node& m : c.children()) {
                if (named(m, "metronome")) {
                    addTempo(&walk->metronomes, at, metronomeTempo(m));
                }
            }
        }
    }
}

void readSound(const pugi::xml_node& sound, double position, Walk* walk) {
    double q = 0.0;
    if (decimal(attribute(sound, "tempo"), &q)) {
        addTempo(&walk->sounds, position, q);
    }
}

// The piano part, with the reader's own cursor: it starts at -1 and a note's first tick is the
// cursor plus one; only a note with a <staff> moves it; a chord note first steps back by its own
// duration; backup and forward move it by each of their durations.
struct PianoWalk {
    int64_t cursor = -1;
    int64_t furthest = -1;
    int32_t divisions = 0;
    // The staves of the part's first G and F clefs, as the reader assigns the hands.
    bool gClefSet = false;
    bool fClefSet = false;
    std::string gClefStaff;
    std::string fClefStaff;
    std::vector<PrintedMark>* printed = nullptr;  // where printed fingers go; null: not wanted
};

// The text an element opens with: its own text when the parse embedded one, else the text of
// its first child element.
std::string leadingText(const pugi::xml_node& node) {
    if (node.value()[0] != '\0') {
        return trimmed(node.value());
    }
    const pugi::xml_node first = node.first_child();
    return first.type() == pugi::node_element ? textOf(first) : trimmed(first.value());
}

// The first child element called `name`, letters compared as the reader compares them.
pugi::xml_node childNamed(const pugi::xml_node& node, const char* name) {
    for (const pugi::xml_node& c : node.children()) {
        if (named(c, name)) {
            return c;
        }
    }
    return pugi::xml_node();
}

// The finger printed on a note (<notations><technical><fingering>, the first of "4-1" or
// "4 1"); 0 when none is, or it is not 1..5.
int printedFingerOf(const pugi::xml_node& note) {
    const pugi::xml_node fingering =
        childNamed(childNamed(childNamed(note, "notations"), "technical"), "fingering");
    const int finger = fingering ? std::atoi(textOf(fingering).c_str()) : 0;
    return finger >= 1 && finger <= 5 ? finger : 0;
}

void readClefs(const pugi::xml_node& attributes, PianoWalk* piano) {
    for (const pugi::xml_node& clef : attributes.children()) {
        if (!named(clef, "clef")) {
            continue;
        }
        std::string number = "1";
        for (const pugi::xml_attribute& a : clef.attributes()) {
            if (sameText(a.name(), "number")) {
                number = trimmed(a.value());
            }
        }
        const std::string sign = leadingText(clef);
        if (sameText(sign, "G") && !piano->gClefSet) {
            piano->gClefSet = true;
            piano->gClefStaff = number;
        } else if (sameText(sign, "F") && !piano->fClefSet) {
            piano->fClefSet = true;
            piano->fClefStaff = number;
        }
    }
}

// Key (0 = A0) of a <pitch>; -1 when it is not a plain one.
int32_t pitchKey(const pugi::xml_node& pitch) {
    static const char kSteps[] = "CDEFGAB";
    static const int kSemitones[] = {0, 2, 4, 5, 7, 9, 11};
    int step = -1;
    double alter = 0.0;
    double octave = -100.0;
    for (const pugi::xml_node& c : pitch.children()) {
        const std::string text = textOf(c);
        if (named(c, "step") && text.size() == 1 && std::strchr(kSteps, text[0]) != nullptr &&
            text[0] != '\0') {
            step = static_cast<int>(std::strchr(kSteps, text[0]) - kSteps);
        } else if (named(c, "alter")) {
            decimal(text, &alter);
        } else if (named(c, "octave")) {
            decimal(text, &octave);
        }
    }
    if (step < 0 || std::fabs(alter) > 2 || octave < -1 || octave > 9) {
        return -1;
    }
    return kSemitones[step] + static_cast<int32_t>(std::lround(alter)) +
           12 * static_cast<int32_t>(std::lround(octave)) - 9;
}

void readPianoNote(const pugi::xml_node& note, PianoWalk* piano, ScoreTiming* timing) {
    bool chord = false;
    bool tieStop = false;
    int32_t duration = 0;
    int32_t key = -1;
    for (const pugi::xml_node& c : note.children()) {
        if (named(c, "chord")) {
            chord = true;
        } else if (named(c, "duration")) {
            duration = readerInt(textOf(c));
        } else if (named(c, "pitch")) {
            key = pitchKey(c);
        } else if (named(c, "tie")) {
            tieStop = tieStop || attribute(c, "type") == "stop";
        } else if (named(c, "staff")) {
            if (chord) {
                piano->cursor = bounded(piano->cursor - duration);
            }
            if (piano->printed != nullptr && key >= 0 && key < 88 && duration > 0) {
                const std::string staff = textOf(c);
                const int hand = piano->gClefSet && sameText(staff, piano->gClefStaff.c_str()) ? 0
                                 : piano->fClefSet && sameText(staff, piano->fClefStaff.c_str())
                                     ? 1
                                     : -1;
                const int finger = hand >= 0 ? printedFingerOf(note) : 0;
                if (finger > 0) {
                    piano->printed->push_back(
                        {hand, toTick(static_cast<double>(piano->cursor + 1)), key, finger});
                }
            }
            if (tieStop && key >= 0 && key < 88 && duration > 0) {
                timing->tiedOn.push_back({key, toTick(static_cast<double>(piano->cursor + 1))});
            }
            if (duration > 0) {
                piano->cursor = bounded(piano->cursor + duration);
                piano->furthest = std::max(piano->furthest, piano->cursor);
            }
            return;
        }
    }
}

void readPianoPart(const pugi::xml_node& part, PianoWalk* piano, ScoreTiming* timing, Walk* walk) {
    piano->gClefSet = false;
    piano->fClefSet = false;
    for (const pugi::xml_node& measure : part.children()) {
        if (!named(measure, "measure")) {
            continue;
        }
        timing->measures.push_back(
            {attribute(measure, "number"), toTick(static_cast<double>(piano->cursor + 1))});
        for (const pugi::xml_node& c : measure.children()) {
            const double here = static_cast<double>(piano->cursor + 1);
            if (named(c, "note")) {
                readPianoNote(c, piano, timing);
            } else if (named(c, "backup") || named(c, "forward")) {
                const bool back = named(c, "backup");
                for (const pugi::xml_node& d : c.children()) {
                    if (!named(d, "duration")) {
                        continue;
                    }
                    const int32_t n = readerInt(textOf(d));
                    if (back) {
                        piano->cursor = bounded(piano->cursor - n);
                    } else if (n > 0) {
                        piano->cursor = bounded(piano->cursor + n);
                        piano->furthest = std::max(piano->furthest, piano->cursor);
                    }
                }
            } else if (named(c, "attributes")) {
                for (const pugi::xml_node& a : c.children()) {
                    if (named(a, "divisions") && piano->divisions == 0) {
                        piano->divisions = readerInt(textOf(a));
                    }
                }
                readClefs(c, piano);
            } else if (named(c, "direction")) {
                readDirection(c, here, 1.0, walk);
            } else if (named(c, "sound")) {
                readSound(c, here, walk);
            }
        }
    }
}

// Any other part: its own cursor in quarter notes, by MusicXML's usual rules (every note with
// a duration moves it unless it is a chord note), turned into the piano's ticks.
void readOtherPart(const pugi::xml_node& part, int32_t pianoDivisions, Walk* walk) {
    double quarters = 0.0;
    double partDivisions = pianoDivisions;
    const double bound = static_cast<double>(kCursorBound);
    for (const pugi::xml_node& measure : part.children()) {
        if (!named(measure, "measure")) {
            continue;
        }
        for (const pugi::xml_node& c : measure.children()) {
            const double here = quarters * pianoDivisions;
            const double ticksPerDivision = pianoDivisions / partDivisions;
            if (named(c, "note") || named(c, "backup") || named(c, "forward")) {
                bool chord = false;
                double duration = 0.0;
                for (const pugi::xml_node& d : c.children()) {
                    double v = 0.0;
                    if (named(d, "chord")) {
                        chord = true;
                    } else if (named(d, "duration") && decimal(textOf(d), &v)) {
                        duration += v;
                    }
                }
                const double move = duration / partDivisions;
                if (named(c, "backup")) {
                    quarters -= move;
                } else if (!chord && move > 0.0) {
                    quarters += move;
                }
                quarters = std::clamp(quarters, -bound, bound);
            } else if (named(c, "attributes")) {
                for (const pugi::xml_node& a : c.children()) {
                    double v = 0.0;
                    if (named(a, "divisions") && decimal(textOf(a), &v) && v > 0.0) {
                        partDivisions = v;
                    }
                }
            } else if (named(c, "direction")) {
                readDirection(c, here, ticksPerDivision, walk);
            } else if (named(c, "sound")) {
                readSound(c, here, walk);
            }
        }
    }
}

// The first element of the document with this name, in document order.
pugi::xml_node findFirst(const pugi::xml_node& root, const char* name) {
    for (pugi::xml_node n = root.first_child(); n;) {
        if (named(n, name)) {
            return n;
        }
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && !n.next_sibling() && n != root) {
            n = n.parent();
        }
        if (!n || n == root) {
            break;
        }
        n = n.next_sibling();
    }
    return pugi::xml_node();
}

// The id of the first part-list entry whose instrument is a piano; "" when none is.
std::string pianoPartId(const pugi::xml_node& partList) {
    for (const pugi::xml_node& entry : partList.children()) {
        if (entry.type() != pugi::node_element) {
            continue;
        }
        const std::string id = attribute(entry, "id");
        for (const pugi::xml_node& c : entry.children()) {
            if (!named(c, "score-instrument")) {
                continue;
            }
            const std::string name = leadingText(c);
            for (const char* piano : kPianoNames) {
                if (sameText(name, piano) && !id.empty()) {
                    return id;
                }
            }
        }
    }
    return std::string();
}

// Sorted by tick; of several at one tick the first found stands.
std::vector<TempoChange> tempoMap(std::vector<FoundTempo> found) {
    std::stable_sort(found.begin(), found.end(),
                     [](const FoundTempo& a, const FoundTempo& b) { return a.tick < b.tick; });
    std::vector<TempoChange> map;
    for (const FoundTempo& f : found) {
        if (!map.empty() && map.back().tick == f.tick) {
            continue;
        }
        map.push_back({f.tick, f.quartersPerMinute});
    }
    if (map.empty() || map.front().tick > 0) {
        map.insert(map.begin(), {0, kDefaultQuartersPerMinute});
    }
    return map;
}

double ticksPerQuarter(const ScoreTiming& timing) {
    return timing.divisions > 0 ? timing.divisions : 1.0;
}
}  // namespace

namespace {
// The timing of a parsed document, with its printed fingers when `printed` is given.
bool readTimingOfTree(const pugi::xml_document& doc, ScoreTiming* timing,
                      std::vector<PrintedMark>* printed, std::string* error) {
    *timing = ScoreTiming();
    const pugi::xml_node partList = findFirst(doc, "part-list");
    const std::string pianoId = partList ? pianoPartId(partList) : std::string();
    if (pianoId.empty()) {
        *error = "the score has no piano part";
        return false;
    }
    Walk walk;
    PianoWalk piano;
    piano.printed = printed;
    for (pugi::xml_node part = partList.next_sibling(); part; part = part.next_sibling()) {
        if (named(part, "part") && sameText(attribute(part, "id"), pianoId.c_str())) {
            readPianoPart(part, &piano, timing, &walk);
        }
    }
    if (piano.divisions <= 0) {
        *error = "the piano part states no divisions";
        timing->measures.clear();
        return false;
    }
    for (pugi::xml_node part = partList.next_sibling(); part; part = part.next_sibling()) {
        if (named(part, "part") && !sameText(attribute(part, "id"), pianoId.c_str())) {
            readOtherPart(part, piano.divisions, &walk);
        }
    }
    timing->divisions = piano.divisions;
    std::sort(timing->tiedOn.begin(), timing->tiedOn.end());
    timing->endTick = toTick(static_cast<double>(piano.furthest + 1));
    // Metronome marks stand in for the tempo only where the score has no sound tempo at all.
    timing->tempo = tempoMap(walk.sounds.empty() ? walk.metronomes : walk.sounds);
    return true;
}

}  // namespace

bool readScoreTiming(const char* xml, size_t size, ScoreTiming* timing, std::string* error) {
    *timing = ScoreTiming();
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(xml, size);
    if (!parsed) {
        *error = std::string("the score is not well-formed XML (") + parsed.description() +
                 " at byte " + std::to_string(parsed.offset) + ")";
        return false;
    }
    return readTimingOfTree(doc, timing, nullptr, error);
}

bool readScoreTree(const pugi::xml_document& document, ScoreTreeReading* reading,
                   std::string* error) {
    *reading = ScoreTreeReading();
    if (!readTimingOfTree(document, &reading->timing, &reading->printed, error)) {
        reading->printed.clear();
        return false;
    }
    readScoreTitles(document.document_element(), &reading->title, &reading->composer);
    return true;
}

double tickToSeconds(const ScoreTiming& timing, double tick) {
    return tempoMapSeconds(timing.tempo, ticksPerQuarter(timing), tick);
}

double secondsToTick(const ScoreTiming& timing, double seconds) {
    const double perQuarter = ticksPerQuarter(timing);
    double at = 0.0;
    double from = 0.0;
    double tempo =
        timing.tempo.empty() ? kDefaultQuartersPerMinute : timing.tempo.front().quartersPerMinute;
    for (size_t i = 1; i < timing.tempo.size(); ++i) {
        const double next = at + (timing.tempo[i].tick - from) * 60.0 / (tempo * perQuarter);
        if (next > seconds) {
            break;
        }
        at = next;
        from = timing.tempo[i].tick;
        tempo = timing.tempo[i].quartersPerMinute;
    }
    return from + (seconds - at) * tempo * perQuarter / 60.0;
}

namespace {
// The measure `text` names: a number as printed ("12", the first measure so numbered), or
// m followed by one, with :N for the N-th time it is played where repeats play it more than
// once ("m12", "m12:2"). timing.measures.size() when there is none.
size_t findMeasure(const ScoreTiming& timing, const std::string& text) {
    const size_t count = timing.measures.size();
    for (size_t i = 0; i < count; ++i) {
        if (timing.measures[i].number == text) {
            return i;
        }
    }
    std::string number = text;
    if (number.size() > 1 && (number[0] == 'm' || number[0] == 'M')) {
        number.erase(0, 1);
    }
    long pass = 1;
    const size_t colon = number.rfind(':');
    if (colon != std::string::npos && colon > 0 && colon + 1 < number.size() &&
        number.find_first_not_of("0123456789", colon + 1) == std::string::npos &&
        number.size() - colon <= 6) {
        pass = std::strtol(number.c_str() + colon + 1, nullptr, 10);
        number.erase(colon);
    }
    for (size_t i = 0; i < count && pass >= 1; ++i) {
        if (timing.measures[i].number == number && --pass == 0) {
            return i;
        }
    }
    return count;
}
}  // namespace

int32_t measureTick(const ScoreTiming& timing, const std::string& number) {
    const size_t i = findMeasure(timing, number);
    return i < timing.measures.size() ? timing.measures[i].tick : -1;
}

int32_t measureEndTick(const ScoreTiming& timing, const std::string& number) {
    const size_t i = findMeasure(timing, number);
    if (i >= timing.measures.size()) {
        return -1;
    }
    if (i + 1 < timing.measures.size()) {
        return std::max(timing.measures[i + 1].tick, timing.measures[i].tick);
    }
    return std::max(timing.endTick, timing.measures[i].tick);
}

std::string noSuchMeasure(const std::string& number) {
    return "the score has no measure \"" + number + "\"";
}

bool measureRange(const ScoreTiming& timing, const std::string& fromMeasure,
                  const std::string& toMeasure, int32_t* fromTick, int32_t* toTick,
                  std::string* error) {
    *fromTick = 0;
    *toTick = -1;
    if (!fromMeasure.empty()) {
        *fromTick = measureTick(timing, fromMeasure);
        if (*fromTick < 0) {
            *error = noSuchMeasure(fromMeasure);
            return false;
        }
    }
    if (!toMeasure.empty()) {
        *toTick = measureEndTick(timing, toMeasure);
        if (*toTick < 0) {
            *error = noSuchMeasure(toMeasure);
            return false;
        }
        if (*toTick <= *fromTick) {
            *error = "measure \"" + toMeasure + "\" ends before measure \"" +
                     (fromMeasure.empty() ? timing.measures.front().number : fromMeasure) +
                     "\" starts";
            return false;
        }
    }
    return true;
}

std::string measureAt(const ScoreTiming& timing, int32_t tick) {
    std::string number;
    for (const MeasureStart& m : timing.measures) {
        if (m.tick > tick) {
            break;
        }
        number = m.number;
    }
    if (number.empty() && !timing.measures.empty()) {
        number = timing.measures.front().number;
    }
    return number;
}
