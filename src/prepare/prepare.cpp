#include "prepare/prepare.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <numeric>
#include <pugixml.hpp>
#include <queue>
#include <set>
#include <sstream>
#include <unordered_map>

#include "prepare/container.h"
#include "prepare/dynamics.h"
#include "prepare/ornaments.h"
#include "prepare/repeats.h"

namespace {

// Largest duration or divisions value the reader converts.
constexpr int64_t kMaxValue = 4999;
// Longest grid the reader builds, in ticks.
constexpr int64_t kMaxTicks = int64_t{1} << 23;
// Common tick unit while reading: the least common multiple of the divisions stated, as long as
// it stays below this; a divisions value beyond it is rounded to the unit instead.
constexpr int64_t kLcmLimit = int64_t{1} << 20;
// Positions are kept within this bound so that no sum overflows, whatever the durations say.
constexpr int64_t kPositionLimit = int64_t{1} << 50;
// Ticks per quarter note when the exact unit is beyond what the reader converts: divisible by
// every tuplet up to ten.
constexpr int64_t kRoundedDivisions = 2520;
// Fingers of one hand.
constexpr int kFingers = 5;
// Measures named per change line.
constexpr size_t kNamedMeasures = 3;
// Keys of the keyboard, A0..C8.
constexpr int kKeys = 88;

// ---- changes, one line per kind -------------------------------------------------------------

enum ChangeKind {
    kNoDivisions,
    kEarlyNotes,
    kRounded,
    kClefChange,
    kNoStaff,
    kBackupClamped,
    kShortVoice,
    kGrace,
    kCue,
    kUnpitched,
    kUnreadablePitch,
    kNoDuration,
    kOutsideKeyboard,
    kTied,
    kUnison,
    kMovedHand,
    kDroppedDoubling,
    kDroppedCrowded,
    kRestruck,
    kTransposed,
    kChangeKindCount
};

const char* const kChangeText[kChangeKindCount] = {
    "no divisions stated: durations read as quarter notes of 1 tick",
    "notes before the first divisions read with the first value stated",
    "positions rounded to 2520 ticks per quarter note",
    "clef changes dropped",
    "notes without a staff put on staff 1",
    "backups past the start of their measure stopped there",
    "voices shorter than their measure padded",
    "grace notes not played",
    "cue notes not played",
    "unpitched notes not played",
    "notes with an unreadable pitch not played",
    "notes without a duration not played",
    "notes outside the keyboard (A0..C8) dropped",
    "tied notes merged into held notes",
    "a key struck again while it sounds in the same hand is let go first",
    "notes beyond five in one hand moved to the other hand",
    "notes beyond five in one hand dropped as doublings of another",
    "notes beyond five in one hand dropped (no free finger and no doubling)",
    "notes longer than 4999 ticks struck again every 4999 ticks",
    "written pitches of a transposing part played at their sounding pitch",
};

struct ChangeTally {
    int64_t count = 0;
    std::vector<std::string> measures;  // the first few measure numbers, each once
};

struct Changes {
    ChangeTally tally[kChangeKindCount];
    std::vector<std::string> lines;  // lines made elsewhere (part choice, hands, divisions)

    void add(ChangeKind kind, const std::string& measure, int64_t count = 1) {
        ChangeTally& t = tally[kind];
        t.count += count;
        if (t.measures.size() < kNamedMeasures &&
            std::find(t.measures.begin(), t.measures.end(), measure) == t.measures.end()) {
            t.measures.push_back(measure);
        }
    }
};

// ---- small text helpers ---------------------------------------------------------------------

std::string trimmed(const char* text) {
    const char* begin = text;
    while (*begin != '\0' && std::isspace(static_cast<unsigned char>(*begin))) {
        ++begin;
    }
    const char* end = begin + std::strlen(begin);
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1]))) {
        --end;
    }
    return std::string(begin, end);
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// `text` as valid UTF-8 that XML allows: any other byte becomes '?', a control character a
// space. Measure numbers and part names are copied into the prepared document and the report.
std::string cleanText(const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            clean += c < 0x20 ? ' ' : static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        uint32_t code = length == 4 ? c & 0x07u : length == 3 ? c & 0x0Fu : c & 0x1Fu;
        bool valid = length > 0 && c <= 0xF4 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3Fu);
        }
        valid = valid && !(length == 3 && code < 0x800) && !(length == 4 && code < 0x10000) &&
                code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE &&
                code != 0xFFFF;
        if (valid) {
            clean.append(text, i, length);
            i += length;
        } else {
            clean += '?';
            ++i;
        }
    }
    return clean;
}

// The number written as `text` (white space around it allowed); false when it is not one.
bool readNumber(const char* text, double* value) {
    // Plain digits, as editors write durations and octaves, without the general conversion.
    int64_t whole = 0;
    const char* digit = text;
    while (*digit >= '0' && *digit <= '9' && digit - text < 15) {
        whole = whole * 10 + (*digit - '0');
        ++digit;
    }
    if (*digit == '\0' && digit != text) {
        *value = static_cast<double>(whole);
        return true;
    }
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) {
        return false;
    }
    while (std::isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    *value = v;
    return true;
}

// The first run of digits in `text` as a number up to 9 digits; -1 when there is none.
int firstDigits(const char* text) {
    while (*text != '\0' && !std::isdigit(static_cast<unsigned char>(*text))) {
        ++text;
    }
    if (*text == '\0') {
        return -1;
    }
    int value = 0;
    for (int n = 0; n < 9 && std::isdigit(static_cast<unsigned char>(*text)); ++n, ++text) {
        value = value * 10 + (*text - '0');
    }
    return value;
}

int64_t clampPosition(int64_t value) {
    return std::min(std::max(value, -kPositionLimit), kPositionLimit);
}

// `text` inside a double-quoted attribute. Character references rather than the named entities:
// the reader's guard against entity expansion refuses even the predefined ones.
void appendEscaped(std::string* out, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '&':
                *out += "&#38;";
                break;
            case '<':
                *out += "&#60;";
                break;
            case '>':
                *out += "&#62;";
                break;
            case '"':
                *out += "&#34;";
                break;
            default:
                *out += c;
        }
    }
}

// ---- the parts of the score -----------------------------------------------------------------

// One part: its entry in the part list and its measures.
struct PartInfo {
    std::string id;
    std::string shownName;                 // part-name, or the id, for messages
    std::vector<std::string> names;        // part-name, abbreviation, instrument names, lower case
    bool exactPiano = false;               // score-instrument named Piano, Grand Piano, ...
    bool pianoLike = false;                // any name or the MIDI program says keyboard
    int handHint = -1;                     // 0 right, 1 left when a name says so
    std::vector<pugi::xml_node> measures;  // the nodes holding each measure's music
    std::vector<std::string> numbers;      // each measure's number attribute
    std::vector<size_t> noteBase;  // each measure's first <note> among all of the document's
    // What a first look at the music found.
    int staves = 1;
    int64_t pitched = 0;
    int64_t unpitched = 0;
    bool percussion = false;  // a percussion clef, or unpitched notes only
    int64_t firstDivisions = 0;
    std::vector<int64_t> divisionsStated;  // distinct values, in order
};

const char* const kExactPianoNames[] = {"acoustic grand piano", "grand piano", "piano"};
const char* const kPianoWords[] = {"piano",       "pno",     "klavier", "clavier", "keyboard",
                                   "harpsichord", "cembalo", "flügel",  "flugel",  "kbd"};
const char* const kLeftWords[] = {"left", "l.h", "lh)", "links", "sinistra", "m.g."};
const char* const kRightWords[] = {"right", "r.h", "rh)", "rechts", "destra", "m.d."};

bool containsAny(const std::string& text, const char* const* words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (text.find(words[i]) != std::string::npos) {
            return true;
        }
    }
    return false;
}

PartInfo partFromEntry(pugi::xml_node entry) {
    PartInfo part;
    part.id = entry.attribute("id").value();
    part.shownName = cleanText(trimmed(entry.child("part-name").text().get()));
    if (part.shownName.empty()) {
        part.shownName = cleanText(part.id);
    }
    for (pugi::xml_node child : entry.children()) {
        const std::string name = child.name();
        if (name == "part-name" || name == "part-abbreviation") {
            part.names.push_back(lowered(trimmed(child.text().get())));
        } else if (name == "score-instrument") {
            const std::string instrument =
                lowered(trimmed(child.child("instrument-name").text().get()));
            part.names.push_back(instrument);
            for (const char* exact : kExactPianoNames) {
                part.exactPiano = part.exactPiano || instrument == exact;
            }
        } else if (name == "midi-instrument") {
            const int program = firstDigits(child.child("midi-program").text().get());
            part.pianoLike = part.pianoLike || (program >= 1 && program <= 8);
        }
    }
    for (const std::string& name : part.names) {
        part.pianoLike = part.pianoLike || containsAny(name, kPianoWords, std::size(kPianoWords));
        if (containsAny(name, kLeftWords, std::size(kLeftWords))) {
            part.handHint = 1;
        } else if (containsAny(name, kRightWords, std::size(kRightWords))) {
            part.handHint = 0;
        }
    }
    part.pianoLike = part.pianoLike || part.exactPiano;
    return part;
}

// Adds a measure to a part, with a first look at its music: staves, pitched notes, percussion,
// divisions stated. Measures come in document order, and `notes` counts the notes before them.
void addMeasure(PartInfo* part, pugi::xml_node measure, const char* number, size_t* notes) {
    part->measures.push_back(measure);
    part->numbers.push_back(cleanText(trimmed(number)));
    part->noteBase.push_back(*notes);
    {
        for (pugi::xml_node child : measure.children()) {
            const char* name = child.name();
            if (std::strcmp(name, "note") == 0) {
                ++*notes;
                for (pugi::xml_node inner : child.children()) {
                    if (inner.name()[0] == 'p' && std::strcmp(inner.name(), "pitch") == 0) {
                        ++part->pitched;
                        break;
                    }
                    if (inner.name()[0] == 'u' && std::strcmp(inner.name(), "unpitched") == 0) {
                        ++part->unpitched;
                        break;
                    }
                }
            } else if (std::strcmp(name, "attributes") == 0) {
                for (pugi::xml_node a : child.children()) {
                    if (std::strcmp(a.name(), "divisions") == 0) {
                        double v = 0;
                        if (readNumber(a.text().get(), &v) && v >= 1 && v <= 1e9) {
                            const int64_t d = static_cast<int64_t>(std::llround(v));
                            if (part->firstDivisions == 0) {
                                part->firstDivisions = d;
                            }
                            if (std::find(part->divisionsStated.begin(),
                                          part->divisionsStated.end(),
                                          d) == part->divisionsStated.end()) {
                                part->divisionsStated.push_back(d);
                            }
                        }
                    } else if (std::strcmp(a.name(), "staves") == 0) {
                        part->staves = std::max(part->staves, firstDigits(a.text().get()));
                    } else if (std::strcmp(a.name(), "clef") == 0) {
                        const std::string sign = lowered(trimmed(a.child("sign").text().get()));
                        part->percussion = part->percussion || sign == "percussion";
                    }
                }
            }
        }
    }
}

void finishSurvey(PartInfo* part) {
    part->percussion = part->percussion || (part->unpitched > 0 && part->pitched == 0);
}

// ---- reading a part's music -----------------------------------------------------------------

// A note as written, in the common unit, its onset relative to its measure.
struct RawNote {
    size_t sourceIndex;
    size_t measure;
    int64_t onset;
    int64_t length;
    int staff;
    std::string voice;  // as written; "" when none
    int32_t key;
    int finger;
    bool tieStart;
    bool tieStop;
    int marks = -1;  // index into PartMusic::marks; -1 none
};

// A note or rest under a fermata, its onset relative to its measure.
struct RawSpan {
    size_t measure;
    int64_t onset;
    int64_t length;
};

struct RawTempo {
    size_t measure;
    int64_t offset;
    double quartersPerMinute;
    bool metronome;  // from a metronome mark rather than a sound element
};

struct PartMusic {
    std::vector<RawNote> notes;
    std::vector<int64_t> extent;  // per measure: the furthest position reached
    std::vector<RawTempo> tempo;
    std::vector<std::pair<int, std::string>> firstClefs;  // staff, sign (lower case)
    int32_t transpose = 0;  // semitones from written to sounding pitch, from <transpose>
    MarkSet marks;          // dynamics, wedges, accents and pedal of a played part
    std::vector<NoteMarks> ornamentMarks;  // ornaments and articulation, when they are played
    std::vector<RawSpan> fermatas;
};

// Quarter notes in a beat unit of a metronome mark, dots included; 0 when unknown.
double beatUnitQuarters(pugi::xml_node metronome) {
    static const std::pair<const char*, double> kUnits[] = {
        {"maxima", 32}, {"long", 16},    {"breve", 8},   {"whole", 4},    {"half", 2},
        {"quarter", 1}, {"eighth", 0.5}, {"16th", 0.25}, {"32nd", 0.125}, {"64th", 0.0625}};
    const std::string unit = lowered(trimmed(metronome.child("beat-unit").text().get()));
    double quarters = 0;
    for (const auto& [name, value] : kUnits) {
        if (unit == name) {
            quarters = value;
        }
    }
    double dot = quarters / 2;
    bool seenUnit = false;
    for (pugi::xml_node child : metronome.children()) {
        if (std::strcmp(child.name(), "beat-unit") == 0) {
            if (seenUnit) {
                break;  // a second beat unit: a metric modulation, not a tempo
            }
            seenUnit = true;
        } else if (std::strcmp(child.name(), "beat-unit-dot") == 0) {
            quarters += dot;
            dot /= 2;
        }
    }
    return quarters;
}

struct Walker {
    int64_t unit = 1;  // common ticks per quarter note
    Changes* changes = nullptr;
    bool played = false;  // count changes only for the parts that are played
    bool sawSoundTempo = false;
    bool ornaments = false;         // read the marks and the grace notes to play them
    int fifths = 0;                 // key signature in force in the part being read
    std::vector<GraceNote> graces;  // read, waiting for the note they lead into
};

int64_t ticksOf(pugi::xml_node element, double unitPerDivision) {
    double v = 0;
    if (!readNumber(element.child("duration").text().get(), &v) || v <= 0) {
        return 0;
    }
    return clampPosition(static_cast<int64_t>(std::llround(std::min(v * unitPerDivision, 1e15))));
}

// The parts of a note element the preparation looks at, found in one walk over its children.
struct NoteParts {
    pugi::xml_node pitch;
    pugi::xml_node duration;
    pugi::xml_node staff;
    pugi::xml_node notations;  // the first; others are looked up only when it is there
    pugi::xml_node grace;
    bool chord = false;
    bool cue = false;
    bool unpitched = false;
    bool tieStart = false;
    bool tieStop = false;
};

bool isName(const char* name, const char* wanted) {
    return name[0] == wanted[0] && std::strcmp(name, wanted) == 0;
}

void markTie(pugi::xml_node tie, NoteParts* parts) {
    const std::string type = trimmed(tie.attribute("type").value());
    parts->tieStart = parts->tieStart || type == "start";
    parts->tieStop = parts->tieStop || type == "stop";
}

NoteParts partsOf(pugi::xml_node note) {
    NoteParts parts;
    for (pugi::xml_node child : note.children()) {
        const char* name = child.name();
        switch (name[0]) {
            case 'p':
                if (!parts.pitch && isName(name, "pitch")) {
                    parts.pitch = child;
                }
                break;
            case 'd':
                if (!parts.duration && isName(name, "duration")) {
                    parts.duration = child;
                }
                break;
            case 's':
                if (!parts.staff && isName(name, "staff")) {
                    parts.staff = child;
                }
                break;
            case 'n':
                if (!parts.notations && isName(name, "notations")) {
                    parts.notations = child;
                }
                break;
            case 'g':
                if (!parts.grace && isName(name, "grace")) {
                    parts.grace = child;
                }
                break;
            case 'c':
                parts.chord = parts.chord || isName(name, "chord");
                parts.cue = parts.cue || isName(name, "cue");
                break;
            case 'u':
                parts.unpitched = parts.unpitched || isName(name, "unpitched");
                break;
            case 't':
                if (isName(name, "tie")) {
                    markTie(child, &parts);
                }
                break;
            default:
                break;
        }
    }
    return parts;
}

// Step, alteration (rounded) and octave of a <pitch>; false when they cannot be read.
bool readWrittenPitch(pugi::xml_node pitch, int32_t transpose, WrittenPitch* written) {
    static const char kSteps[] = "CDEFGAB";
    const std::string step = trimmed(pitch.child("step").text().get());
    const char* at = step.size() == 1 ? std::strchr(kSteps, std::toupper(step[0])) : nullptr;
    double alter = 0;
    double octave = 0;
    pugi::xml_node alterNode = pitch.child("alter");
    if (at == nullptr || *at == '\0' ||
        (alterNode && !readNumber(alterNode.text().get(), &alter)) ||
        !readNumber(pitch.child("octave").text().get(), &octave) || std::fabs(alter) > 100 ||
        std::fabs(octave) > 100) {
        return false;
    }
    written->step = static_cast<int>(at - kSteps);
    written->alter = static_cast<int>(std::lround(alter));
    written->octave = static_cast<int>(std::lround(octave));
    written->transpose = transpose;
    return true;
}

int64_t ticksOfDuration(pugi::xml_node duration, double unitPerDivision) {
    double v = 0;
    if (!duration || !readNumber(duration.text().get(), &v) || v <= 0) {
        return 0;
    }
    return clampPosition(static_cast<int64_t>(std::llround(std::min(v * unitPerDivision, 1e15))));
}

void readNote(Walker& w, pugi::xml_node note, size_t sourceIndex, size_t m,
              const std::string& number, double factor, int64_t* pos, int64_t* lastOnset,
              int64_t* extent, PartMusic* music) {
    NoteParts parts = partsOf(note);
    if (parts.grace) {
        WrittenPitch written;
        if (w.ornaments && parts.pitch && w.played && !parts.cue &&
            readWrittenPitch(parts.pitch, music->transpose, &written)) {
            GraceNote g;
            g.key = keyOfPitch(written.step, written.alter, written.octave, written.transpose);
            g.slash = trimmed(parts.grace.attribute("slash").value()) == "yes";
            g.chord = parts.chord;
            g.written = writtenTicks(note, w.unit);
            w.graces.push_back(g);
        } else if (parts.pitch && w.played) {
            w.changes->add(kGrace, number);
        }
        return;
    }
    const int64_t length = ticksOfDuration(parts.duration, factor);
    const int64_t onset = parts.chord ? *lastOnset : *pos;
    if (!parts.chord) {
        *lastOnset = *pos;
        *pos = clampPosition(*pos + length);
    }
    // The measure is as long as the cursor goes. A chord note longer than the note it is stacked
    // on sounds past the cursor, and past the barline when it is written at the end, without
    // moving the next measure: counting its end would start every later measure late.
    *extent = std::max(*extent, *pos);
    if (!w.played) {
        return;  // only its time matters
    }
    if (!parts.pitch) {
        if (parts.unpitched) {
            w.changes->add(kUnpitched, number);
        }
        if (w.ornaments) {
            if (length > 0 && hasFermata(note)) {
                music->fermatas.push_back({m, onset, length});
            }
            if (!parts.chord && !w.graces.empty()) {
                w.changes->add(kGrace, number, static_cast<int64_t>(w.graces.size()));
                w.graces.clear();  // graces before a rest lead nowhere
            }
        }
        return;
    }
    if (parts.cue) {
        w.changes->add(kCue, number);
        return;
    }
    if (length <= 0) {
        w.changes->add(kNoDuration, number);
        return;
    }
    static const char kSteps[] = "CDEFGAB";
    static const int kSemitones[] = {0, 2, 4, 5, 7, 9, 11};
    const std::string step = trimmed(parts.pitch.child("step").text().get());
    const char* at = step.size() == 1 ? std::strchr(kSteps, std::toupper(step[0])) : nullptr;
    double alter = 0;
    double octave = 0;
    pugi::xml_node alterNode = parts.pitch.child("alter");
    const bool alterOk = !alterNode || readNumber(alterNode.text().get(), &alter);
    if (at == nullptr || *at == '\0' || !alterOk ||
        !readNumber(parts.pitch.child("octave").text().get(), &octave) || std::fabs(alter) > 100 ||
        std::fabs(octave) > 100) {
        w.changes->add(kUnreadablePitch, number);
        return;
    }
    RawNote raw{};
    raw.sourceIndex = sourceIndex;
    raw.measure = m;
    raw.onset = onset;
    raw.length = length;
    raw.key = kSemitones[at - kSteps] + static_cast<int32_t>(std::lround(alter)) +
              12 * static_cast<int32_t>(std::lround(octave)) - 9 + music->transpose;
    if (music->transpose != 0) {
        w.changes->add(kTransposed, number);
    }
    // 0 tells a missing staff apart from a written 1 until the part's staves are known.
    raw.staff = parts.staff ? std::max(1, firstDigits(parts.staff.text().get())) : 0;
    raw.voice = trimmed(note.child("voice").text().get());
    if (parts.notations) {
        for (pugi::xml_node notations : note.children("notations")) {
            for (pugi::xml_node tied : notations.children("tied")) {
                markTie(tied, &parts);
            }
            for (pugi::xml_node technical : notations.children("technical")) {
                for (pugi::xml_node fingering : technical.children("fingering")) {
                    const int finger = firstDigits(fingering.text().get());
                    if (raw.finger == 0 && finger >= 1 && finger <= kFingers) {
                        raw.finger = finger;
                    }
                }
            }
        }
    }
    raw.tieStart = parts.tieStart;
    raw.tieStop = parts.tieStop;
    readNoteMarks(note, sourceIndex, m, onset, raw.staff, &music->marks);
    if (w.ornaments) {
        WrittenPitch written;
        written.transpose = music->transpose;
        readWrittenPitch(parts.pitch, music->transpose, &written);
        NoteMarks marks;
        if (readNoteMarks(note, written, w.fifths, &marks)) {
            music->fermatas.push_back({m, onset, length});
        }
        marks.graces.swap(w.graces);
        if (marks.any()) {
            raw.marks = static_cast<int>(music->ornamentMarks.size());
            music->ornamentMarks.push_back(std::move(marks));
        }
    }
    music->notes.push_back(raw);
}

void readTempo(Walker& w, pugi::xml_node sound, size_t m, int64_t at, PartMusic* music) {
    double q = 0;
    if (pugi::xml_attribute tempo = sound.attribute("tempo")) {
        if (readNumber(tempo.value(), &q) && q > 0 && q < 1e6) {
            music->tempo.push_back({m, at, q, false});
            w.sawSoundTempo = true;
        }
    }
}

PartMusic readPart(Walker& w, const PartInfo& part, int64_t fallbackDivisions) {
    PartMusic music;
    w.fifths = 0;
    w.graces.clear();
    int64_t divisionsNow = part.firstDivisions > 0 ? part.firstDivisions : fallbackDivisions;
    bool divisionsSeen = false;
    std::vector<std::pair<int, std::string>> lastClef;  // staff, sign + line
    for (size_t m = 0; m < part.measures.size(); ++m) {
        const std::string& number = part.numbers[m];
        double factor = static_cast<double>(w.unit) / static_cast<double>(divisionsNow);
        int64_t pos = 0;
        int64_t lastOnset = 0;
        size_t sourceIndex = part.noteBase[m];
        int64_t extent = 0;
        bool shortVoice = false;
        for (pugi::xml_node child : part.measures[m].children()) {
            const char* name = child.name();
            if (std::strcmp(name, "note") == 0) {
                if (!divisionsSeen && part.firstDivisions > 0 && w.played &&
                    child.child("duration")) {
                    w.changes->add(kEarlyNotes, number);
                }
                readNote(w, child, sourceIndex++, m, number, factor, &pos, &lastOnset, &extent,
                         &music);
            } else if (std::strcmp(name, "backup") == 0) {
                shortVoice = shortVoice || pos < extent;
                pos -= ticksOf(child, factor);
                if (pos < 0) {
                    pos = 0;
                    if (w.played) {
                        w.changes->add(kBackupClamped, number);
                    }
                }
                lastOnset = pos;
            } else if (std::strcmp(name, "forward") == 0) {
                pos = clampPosition(pos + ticksOf(child, factor));
                extent = std::max(extent, pos);
            } else if (std::strcmp(name, "attributes") == 0) {
                for (pugi::xml_node a : child.children()) {
                    if (std::strcmp(a.name(), "divisions") == 0) {
                        double v = 0;
                        if (readNumber(a.text().get(), &v) && v >= 1 && v <= 1e9) {
                            divisionsNow = static_cast<int64_t>(std::llround(v));
                            divisionsSeen = true;
                            factor =
                                static_cast<double>(w.unit) / static_cast<double>(divisionsNow);
                        }
                    } else if (std::strcmp(a.name(), "key") == 0) {
                        double fifths = 0;
                        if (readNumber(a.child("fifths").text().get(), &fifths) &&
                            std::fabs(fifths) <= 7) {
                            w.fifths = static_cast<int>(std::lround(fifths));
                        }
                    } else if (std::strcmp(a.name(), "transpose") == 0) {
                        // A clarinet in A or a trumpet in B flat is written above the pitch it
                        // sounds; the performance plays what is heard.
                        double chromatic = 0;
                        double octaves = 0;
                        readNumber(a.child("chromatic").text().get(), &chromatic);
                        readNumber(a.child("octave-change").text().get(), &octaves);
                        if (std::fabs(chromatic) <= 24 && std::fabs(octaves) <= 4) {
                            music.transpose = static_cast<int32_t>(std::lround(chromatic)) +
                                              12 * static_cast<int32_t>(std::lround(octaves));
                        }
                    } else if (std::strcmp(a.name(), "clef") == 0) {
                        const int staff = std::max(1, firstDigits(a.attribute("number").value()));
                        const std::string sign = lowered(trimmed(a.child("sign").text().get()));
                        const std::string shape =
                            sign + "/" + trimmed(a.child("line").text().get());
                        auto same = [staff](const auto& entry) { return entry.first == staff; };
                        auto known = std::find_if(lastClef.begin(), lastClef.end(), same);
                        if (known == lastClef.end()) {
                            lastClef.emplace_back(staff, shape);
                            music.firstClefs.emplace_back(staff, sign);
                        } else if (known->second != shape) {
                            known->second = shape;
                            if (w.played) {
                                w.changes->add(kClefChange, number);
                            }
                        }
                    }
                }
            } else if (std::strcmp(name, "direction") == 0) {
                double offset = 0;
                int64_t at = pos;
                if (readNumber(child.child("offset").text().get(), &offset)) {
                    at = clampPosition(pos + static_cast<int64_t>(std::llround(std::max(
                                                 -1e15, std::min(offset * factor, 1e15)))));
                }
                at = std::max<int64_t>(at, 0);
                for (pugi::xml_node sound : child.children("sound")) {
                    readTempo(w, sound, m, at, &music);
                }
                if (w.played) {
                    readDirectionMarks(child, m, at, &music.marks);
                }
                for (pugi::xml_node type : child.children("direction-type")) {
                    for (pugi::xml_node metronome : type.children("metronome")) {
                        const double quarters = beatUnitQuarters(metronome);
                        double perMinute = 0;
                        const int digits = firstDigits(metronome.child("per-minute").text().get());
                        if (digits > 0) {
                            readNumber(metronome.child("per-minute").text().get(), &perMinute);
                            perMinute = perMinute > 0 ? perMinute : digits;
                        }
                        if (quarters > 0 && perMinute > 0 && perMinute < 1e5) {
                            music.tempo.push_back({m, at, perMinute * quarters, true});
                        }
                    }
                }
            } else if (std::strcmp(name, "sound") == 0) {
                readTempo(w, child, m, pos, &music);
                if (w.played) {
                    readSoundMarks(child, m, pos, 0, &music.marks);
                }
            }
        }
        shortVoice = shortVoice || pos < extent;
        if (shortVoice && w.played) {
            w.changes->add(kShortVoice, number);
        }
        music.extent.push_back(extent);
    }
    return music;
}

// ---- choosing the piano part ----------------------------------------------------------------

struct Played {
    size_t part;
    int hand;  // 0 or 1: every note to that hand; -1: by staff
};

bool eligible(const PartInfo& p) {
    return !p.measures.empty() && p.pitched > 0 && !p.percussion;
}

std::string describe(const PartInfo& p) {
    return cleanText(p.id) + " \"" + p.shownName + "\"";
}

// The part `value` names: its id, or its 1-based position. -1 when none.
long partNamed(const std::vector<PartInfo>& parts, const std::string& value) {
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].id == value) {
            return static_cast<long>(i);
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        if (lowered(parts[i].id) == lowered(value)) {
            return static_cast<long>(i);
        }
    }
    if (!value.empty() && value.size() < 9 &&
        value.find_first_not_of("0123456789") == std::string::npos) {
        const long position = std::atol(value.c_str());
        if (position >= 1 && static_cast<size_t>(position) <= parts.size()) {
            return position - 1;
        }
    }
    return -1;
}

void choose(std::vector<Played>* played, Played first, Played second = {0, -2}) {
    played->clear();
    played->push_back(first);
    if (second.hand != -2) {
        played->push_back(second);
    }
}

bool choosePartsByName(const std::vector<PartInfo>& parts, std::vector<Played>* played) {
    auto first = [&](auto test) -> long {
        for (size_t i = 0; i < parts.size(); ++i) {
            if (eligible(parts[i]) && test(parts[i])) {
                return static_cast<long>(i);
            }
        }
        return -1;
    };
    long i = first([](const PartInfo& p) { return p.exactPiano && p.staves >= 2; });
    if (i < 0) {
        i = first([](const PartInfo& p) { return p.pianoLike && p.staves >= 2; });
    }
    if (i >= 0) {
        choose(played, {static_cast<size_t>(i), -1});
        return true;
    }
    // Hands written as two one-staff parts: named right and left, or two piano parts in a row.
    auto oneStaffPiano = [](const PartInfo& p) {
        return eligible(p) && p.pianoLike && p.staves < 2;
    };
    const long right =
        first([&](const PartInfo& p) { return oneStaffPiano(p) && p.handHint == 0; });
    const long left = first([&](const PartInfo& p) { return oneStaffPiano(p) && p.handHint == 1; });
    if (right >= 0 && left >= 0) {
        choose(played, {static_cast<size_t>(right), 0}, {static_cast<size_t>(left), 1});
        return true;
    }
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
        if (oneStaffPiano(parts[k]) && oneStaffPiano(parts[k + 1])) {
            choose(played, {k, 0}, {k + 1, 1});
            return true;
        }
    }
    i = first([](const PartInfo& p) { return p.exactPiano; });
    if (i < 0) {
        i = first([](const PartInfo& p) { return p.pianoLike; });
    }
    if (i < 0) {
        i = first([](const PartInfo& p) { return p.staves >= 2; });
    }
    if (i < 0) {
        i = first([](const PartInfo&) { return true; });
    }
    if (i < 0) {
        return false;
    }
    choose(played, {static_cast<size_t>(i), -1});
    return true;
}

std::string partList(const std::vector<PartInfo>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(i + 1) + " " + describe(parts[i]);
    }
    return text;
}

bool chooseParts(const std::vector<PartInfo>& parts, const PrepareOptions& options,
                 std::vector<Played>* played, std::string* error) {
    if (options.parts.size() > 2) {
        *error = "--part may be given at most twice (right hand, then left hand)";
        return false;
    }
    if (options.parts.empty()) {
        if (!choosePartsByName(parts, played)) {
            *error = "no piano music: the score has no part with pitched notes";
            return false;
        }
        return true;
    }
    played->clear();
    for (size_t k = 0; k < options.parts.size(); ++k) {
        const long i = partNamed(parts, options.parts[k]);
        if (i < 0) {
            *error = "--part " + options.parts[k] + ": no such part (the parts are " +
                     partList(parts) + ")";
            return false;
        }
        if (!played->empty() && played->front().part == static_cast<size_t>(i)) {
            *error = "--part names " + describe(parts[i]) + " twice";
            return false;
        }
        if (parts[i].pitched == 0) {
            *error = "no piano music: part " + describe(parts[i]) + " has no pitched notes";
            return false;
        }
        played->push_back({static_cast<size_t>(i), options.parts.size() == 2 ? int(k) : -1});
    }
    return true;
}

// ---- the prepared notes ---------------------------------------------------------------------

struct Note {
    size_t sourceIndex;
    int hand;
    int64_t onset;
    int64_t end;
    int32_t key;
    int finger;
    bool alive;
    // Pieces of one note longer than a duration the reader takes: tied to the next piece, tied
    // on from the one before.
    bool tiesOn = false;
    bool tiedOn = false;
    // Where the ornaments look for the notes around it: its staff and voice as written, and its
    // marks (an index into the marks of all played parts; -1 none).
    int staff = 0;
    const std::string* voice = nullptr;
    int marks = -1;
};

std::string measureList(const ChangeTally& t) {
    std::string text;
    for (size_t i = 0; i < t.measures.size(); ++i) {
        text += (i == 0 ? "" : ", ") + t.measures[i];
    }
    const char* more = t.measures.size() == kNamedMeasures ? ", ..." : "";
    return (t.measures.size() == 1 ? " (measure " : " (measures ") + text + more + ")";
}

int64_t gcd64(int64_t a, int64_t b) {
    return std::gcd(a < 0 ? -a : a, b < 0 ? -b : b);
}

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
    std::vector<int64_t> cuts;
    cuts.reserve(2 * notes->size());
    for (const Note& n : *notes) {
        cuts.push_back(n.onset);
        cuts.push_back(n.end);
    }
    std::sort(cuts.begin(), cuts.end());
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

struct Tempo {
    int64_t tick;
    double quartersPerMinute;
};

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

// ---- writing the prepared document ----------------------------------------------------------

struct Writer {
    std::string out;

    void number(int64_t value) {
        char text[24];
        const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
        out.append(text, written.ptr);
    }
    // A backup or forward of `ticks`, split into steps the reader converts.
    void move(const char* element, int64_t ticks) {
        while (ticks > 0) {
            const int64_t step = std::min(ticks, kMaxValue);
            out += "<";
            out += element;
            out += "><duration>";
            number(step);
            out += "</duration></";
            out += element;
            out += ">\n";
            ticks -= step;
        }
    }
    // A note; a chord note starts and ends with the note written before it.
    void note(const Note& n, bool chord) {
        static const char* const kStep[12] = {"C", "C", "D", "D", "E", "F",
                                              "F", "G", "G", "A", "A", "B"};
        static const int kAlter[12] = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
        const int32_t midi = n.key + 21;
        out += chord ? "<note><chord/><pitch><step>" : "<note><pitch><step>";
        out += kStep[midi % 12];
        out += "</step>";
        if (kAlter[midi % 12] != 0) {
            out += "<alter>1</alter>";
        }
        out += "<octave>";
        number(midi / 12 - 1);
        out += "</octave></pitch><duration>";
        number(n.end - n.onset);
        out += "</duration>";
        if (n.tiedOn) {
            out += "<tie type=\"stop\"/>";
        }
        if (n.tiesOn) {
            out += "<tie type=\"start\"/>";
        }
        out += "<staff>";
        number(n.hand + 1);
        out += "</staff>";
        if (n.finger > 0 || n.tiedOn || n.tiesOn) {
            out += "<notations>";
            if (n.tiedOn) {
                out += "<tied type=\"stop\"/>";
            }
            if (n.tiesOn) {
                out += "<tied type=\"start\"/>";
            }
            if (n.finger > 0) {
                out += "<technical><fingering>";
                number(n.finger);
                out += "</fingering></technical>";
            }
            out += "</notations>";
        }
        out += "</note>\n";
    }
};

// The prepared music as a Piece, from what the document is written from.
Piece preparedPiece(const std::vector<Note>& notes, const std::vector<int64_t>& starts,
                    const std::vector<std::string>& numbers, const std::vector<Tempo>& tempo,
                    int64_t divisionsOut) {
    Piece piece;
    piece.divisions = static_cast<int32_t>(divisionsOut);
    for (const Tempo& t : tempo) {
        piece.tempo.push_back(PieceTempo{static_cast<int32_t>(t.tick), t.quartersPerMinute});
    }
    for (size_t m = 0; m < numbers.size() && m + 1 < starts.size(); ++m) {
        piece.measures.push_back(PieceMeasure{numbers[m], static_cast<int32_t>(starts[m]), 4, 4});
    }
    piece.endTick = starts.empty() ? 0 : static_cast<int32_t>(starts.back());
    for (const Note& n : notes) {
        PieceNote note;
        note.hand = n.hand;
        note.key = static_cast<int32_t>(n.key);
        note.tick = static_cast<int32_t>(n.onset);
        note.endTick = static_cast<int32_t>(n.end);
        note.printedFinger = n.finger;
        note.staff = n.hand + 1;
        note.tiedOn = n.tiedOn;
        piece.notes.push_back(note);
    }
    signaturesFromLengths(&piece);
    settlePiece(&piece);
    return piece;
}

std::string writeDocument(const std::vector<Note>& notes, const std::vector<int64_t>& starts,
                          const std::vector<std::string>& numbers, const std::vector<Tempo>& tempo,
                          int64_t divisionsOut) {
    Writer w;
    w.out.reserve(notes.size() * 120 + starts.size() * 64 + 1024);
    w.out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">\n"
        "<part-list><score-part id=\"P1\"><part-name>Piano</part-name><score-instrument "
        "id=\"P1-I1\"><instrument-name>Piano</instrument-name></score-instrument></score-part>"
        "</part-list>\n<part id=\"P1\">\n";
    const size_t measureCount = numbers.size();
    size_t next = 0;       // first note not yet written
    size_t nextTempo = 0;  // first tempo not yet written
    std::vector<const Note*> hand[2];
    for (size_t m = 0; m < measureCount; ++m) {
        const int64_t start = starts[m];
        const int64_t end = starts[m + 1];
        w.out += "<measure number=\"";
        appendEscaped(&w.out, numbers[m]);
        w.out += "\">\n";
        while (nextTempo < tempo.size() && (m + 1 == measureCount || tempo[nextTempo].tick < end)) {
            char q[64];
            std::snprintf(q, sizeof q, "%.10g", tempo[nextTempo].quartersPerMinute);
            w.out += "<direction><direction-type><words/></direction-type><offset>";
            w.number(tempo[nextTempo].tick - start);
            w.out += "</offset><sound tempo=\"";
            w.out += q;
            w.out += "\"/></direction>\n";
            ++nextTempo;
        }
        if (m == 0) {
            w.out += "<attributes><divisions>";
            w.number(divisionsOut);
            w.out +=
                "</divisions><staves>2</staves><clef number=\"1\"><sign>G</sign><line>2</line>"
                "</clef><clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>\n";
        }
        hand[0].clear();
        hand[1].clear();
        // A note belongs to the measure it starts in; the last measure takes what is left.
        while (next < notes.size() && (m + 1 == measureCount || notes[next].onset < end)) {
            hand[notes[next].hand].push_back(&notes[next]);
            ++next;
        }
        // Each hand's strokes (notes of one onset and one end, written as a chord) in lanes in
        // which no two strokes overlap; every lane starts at the measure's start, so the reader's
        // cursor walks each lane forward only.
        using Stroke = std::pair<const Note* const*, size_t>;  // first note, notes
        std::vector<std::vector<Stroke>> lanes;
        for (int h = 0; h < 2; ++h) {
            std::vector<const Note*>& mine = hand[h];
            std::stable_sort(mine.begin(), mine.end(), [](const Note* a, const Note* b) {
                return a->onset != b->onset ? a->onset < b->onset : a->end < b->end;
            });
            using Free = std::pair<int64_t, size_t>;  // lane end, lane
            std::priority_queue<Free, std::vector<Free>, std::greater<Free>> free;
            for (size_t k = 0; k < mine.size();) {
                size_t count = 1;
                while (k + count < mine.size() && mine[k + count]->onset == mine[k]->onset &&
                       mine[k + count]->end == mine[k]->end) {
                    ++count;
                }
                const Stroke stroke{&mine[k], count};
                const int64_t strokeEnd = mine[k]->end;
                if (!free.empty() && free.top().first <= mine[k]->onset) {
                    const size_t lane = free.top().second;
                    free.pop();
                    lanes[lane].push_back(stroke);
                    free.push({strokeEnd, lane});
                } else {
                    lanes.push_back({stroke});
                    free.push({strokeEnd, lanes.size() - 1});
                }
                k += count;
            }
        }
        if (lanes.empty()) {
            w.move("forward", end - start);
        }
        for (size_t l = 0; l < lanes.size(); ++l) {
            int64_t at = start;
            for (const Stroke& stroke : lanes[l]) {
                const Note& first = *stroke.first[0];
                w.move("forward", first.onset - at);
                for (size_t c = 0; c < stroke.second; ++c) {
                    w.note(*stroke.first[c], c > 0);
                }
                at = first.end;
            }
            if (l + 1 < lanes.size()) {
                w.move("backup", at - start);
            } else if (at <= end) {
                w.move("forward", end - at);
            } else {
                w.move("backup", at - end);
            }
        }
        w.out += "</measure>\n";
    }
    w.out += "</part>\n</score-partwise>\n";
    return std::move(w.out);
}

// The parts of a part-wise or time-wise score, with their measures.
bool collectParts(pugi::xml_node root, std::vector<PartInfo>* parts, std::string* error) {
    const std::string rootName = root.name();
    const bool timewise = rootName == "score-timewise";
    if (rootName != "score-partwise" && !timewise) {
        *error = rootName.empty() ? "not a MusicXML score: the document has no root element"
                                  : "not a MusicXML score: the root element is <" + rootName + ">";
        return false;
    }
    for (pugi::xml_node entry : root.child("part-list").children("score-part")) {
        parts->push_back(partFromEntry(entry));
    }
    auto partFor = [&](const std::string& id) -> PartInfo& {
        for (PartInfo& p : *parts) {
            if (p.id == id) {
                return p;
            }
        }
        PartInfo unnamed;
        unnamed.id = id;
        unnamed.shownName = cleanText(id);
        parts->push_back(unnamed);
        return parts->back();
    };
    // Notes are counted as they stand in the document: as children of the measures.
    size_t notes = 0;
    if (!timewise) {
        for (pugi::xml_node part : root.children("part")) {
            PartInfo& p = partFor(part.attribute("id").value());
            for (pugi::xml_node measure : part.children("measure")) {
                addMeasure(&p, measure, measure.attribute("number").value(), &notes);
            }
        }
    } else {
        for (pugi::xml_node measure : root.children("measure")) {
            for (pugi::xml_node part : measure.children("part")) {
                addMeasure(&partFor(part.attribute("id").value()), part,
                           measure.attribute("number").value(), &notes);
            }
        }
    }
    for (PartInfo& p : *parts) {
        finishSurvey(&p);
        for (size_t m = 0; m < p.numbers.size(); ++m) {
            if (p.numbers[m].empty()) {
                p.numbers[m] = std::to_string(m + 1);
            }
        }
    }
    return true;
}

// Every part's measures in the order the lead part's repeats, endings and jumps play them: the
// rest of the preparation then reads a measure played twice as two measures, with its number.
void playInPerformanceOrder(std::vector<PartInfo>* parts, size_t lead, Changes* changes) {
    const size_t written = (*parts)[lead].measures.size();
    const std::vector<size_t> order = playOrder(readRepeatMarks((*parts)[lead].measures));
    bool asWritten = order.size() == written;
    for (size_t i = 0; asWritten && i < order.size(); ++i) {
        asWritten = order[i] == i;
    }
    if (asWritten || order.empty()) {
        return;
    }
    const std::vector<std::string> leadNumbers = (*parts)[lead].numbers;
    for (PartInfo& part : *parts) {
        PartInfo played = part;
        played.measures.clear();
        played.numbers.clear();
        played.noteBase.clear();
        for (size_t m : order) {
            const bool has = m < part.measures.size();
            played.measures.push_back(has ? part.measures[m] : pugi::xml_node());
            played.numbers.push_back(has ? part.numbers[m] : leadNumbers[m]);
            played.noteBase.push_back(has ? part.noteBase[m] : 0);
        }
        part = std::move(played);
    }
    changes->lines.push_back("repeats: " + std::to_string(written) + " measures written, " +
                             std::to_string(order.size()) +
                             " played in performance order (--no-repeats plays each once)");
}

std::string joinValues(const std::vector<int64_t>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == values.size() ? " and " : ", ") + std::to_string(values[i]);
    }
    return text;
}

bool prepareParsed(const pugi::xml_document& document, const PrepareOptions& options,
                   PrepareResult* result);

bool prepare(const std::string& sourceXml, const PrepareOptions& options, PrepareResult* result) {
    pugi::xml_document document;
    constexpr unsigned kParse = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                pugi::parse_wconv_attribute | pugi::parse_trim_pcdata |
                                pugi::parse_embed_pcdata;
    const pugi::xml_parse_result parsed =
        document.load_buffer(sourceXml.data(), sourceXml.size(), kParse);
    if (!parsed) {
        result->error = std::string("not well-formed XML: ") + parsed.description() + " at byte " +
                        std::to_string(parsed.offset);
        return false;
    }
    return prepareParsed(document, options, result);
}

// The preparation of a document already parsed (texts trimmed, a leading text embedded in its
// element); it only reads the tree.
bool prepareParsed(const pugi::xml_document& document, const PrepareOptions& options,
                   PrepareResult* result) {
    std::vector<PartInfo> parts;
    if (!collectParts(document.document_element(), &parts, &result->error)) {
        return false;
    }
    if (parts.empty()) {
        result->error = "no piano music: the score has no parts";
        return false;
    }
    std::vector<Played> played;
    if (!chooseParts(parts, options, &played, &result->error)) {
        return false;
    }
    Changes changes;
    std::vector<NoteMarks> marks;  // of every played note that has any, when they are played
    std::vector<std::pair<int64_t, int64_t>> fermatas;
    if (options.repeats) {
        playInPerformanceOrder(&parts, played[0].part, &changes);
    }

    // The common unit: the least common multiple of every divisions value stated anywhere.
    int64_t unit = 1;
    int64_t fallbackDivisions = 0;
    for (const PartInfo& p : parts) {
        for (int64_t d : p.divisionsStated) {
            fallbackDivisions = fallbackDivisions == 0 ? d : fallbackDivisions;
            const int64_t next = unit / std::gcd(unit, d) * d;
            if (next <= kLcmLimit) {
                unit = next;
            }
        }
    }
    if (fallbackDivisions == 0) {
        fallbackDivisions = 1;
        changes.add(kNoDivisions, parts[played[0].part].numbers[0]);
    }
    if (options.ornaments && unit / std::gcd(unit, int64_t{32}) * 32 <= kLcmLimit) {
        unit = unit / std::gcd(unit, int64_t{32}) * 32;  // ornament notes down to a 128th
    }

    Walker walker;
    walker.unit = unit;
    walker.changes = &changes;
    walker.played = false;
    walker.ornaments = options.ornaments;
    std::vector<PartMusic> music(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        walker.played =
            std::any_of(played.begin(), played.end(), [i](const Played& p) { return p.part == i; });
        music[i] = readPart(walker, parts[i], fallbackDivisions);
    }

    // Measures: each starts where the one before ended, at the furthest position the played
    // parts reached in it (or any part, when the piano is silent and names no length).
    const PartInfo& lead = parts[played[0].part];
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

    // Hands: staff 1 right and staff 2 left, unless the clefs at the start say the opposite; a
    // one-staff part to the hand its first clef suggests.
    std::vector<Note> notes;
    std::vector<std::pair<int64_t, const char*>> tiedNotes;
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
            changes.lines.push_back("hands: part " + describe(part) +
                                    " has its F clef on staff 1 and its G clef on staff 2: staff 1 "
                                    "is played by the left hand, staff 2 by the right");
        }
        if (p.hand < 0 && part.staves < 2) {
            changes.lines.push_back("hands: part " + describe(part) +
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
        const int marksBase = static_cast<int>(marks.size());
        marks.insert(marks.end(), pm.ornamentMarks.begin(), pm.ornamentMarks.end());
        for (const RawSpan& f : pm.fermatas) {
            if (f.measure < measureCount) {
                const int64_t at = clampPosition(starts[f.measure] + f.onset);
                fermatas.emplace_back(at, clampPosition(at + f.length));
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
                changes.add(kNoStaff, part.numbers[r.measure]);
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
                changes.add(kTied, part.numbers[r.measure]);
                continue;
            }
            int hand = single;
            if (hand < 0) {
                // Staves beyond the second (a pedal staff) go to the left hand.
                const int staff = std::max(1, r.staff);
                hand = staff == (swapped ? 2 : 1) ? 0 : 1;
            }
            notes.push_back({r.sourceIndex, hand, begin, end, r.key, r.finger, true});
            notes.back().staff = r.staff;
            notes.back().voice = &r.voice;
            notes.back().marks = r.marks >= 0 ? marksBase + r.marks : -1;
            if (r.tieStart) {
                openTies[r.key].push_back({end, notes.size() - 1, r.staff, &r.voice});
            }
        }
    }
    std::vector<Note> kept;
    kept.reserve(notes.size());
    for (const Note& n : notes) {
        if (n.key < 0 || n.key >= kKeys) {
            auto at = std::upper_bound(starts.begin(), starts.end() - 1, n.onset);
            changes.add(kOutsideKeyboard, numbers[std::max<ptrdiff_t>(0, at - starts.begin() - 1)]);
        } else {
            kept.push_back(n);
        }
    }
    notes.swap(kept);
    if (notes.empty()) {
        result->error = "no piano music: no note of " +
                        (played.size() == 2 ? describe(parts[played[0].part]) + " and " +
                                                  describe(parts[played[1].part])
                                            : "part " + describe(lead)) +
                        " can be played on the keyboard";
        return false;
    }

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
                if (t.metronome == walker.sawSoundTempo || t.measure >= measureCount) {
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

    if (options.ornaments) {
        playMarks(&notes, marks, std::move(fermatas), unit, &tempo, &changes);
    }

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
    scaleMarks(&placedMarks, scale);
    auto measureOf = [&](int64_t tick) {
        auto at = std::upper_bound(starts.begin(), starts.end() - 1, tick);
        return numbers[std::max<ptrdiff_t>(0, at - starts.begin() - 1)];
    };
    if (roundedCount > 0) {
        changes.add(kRounded, measureOf(0), roundedCount);
    }

    int64_t ticks = starts.back();
    for (const Note& n : notes) {
        ticks = std::max(ticks, n.end);
    }
    if (ticks > kMaxTicks) {
        result->error = "the score is too long to play: " + std::to_string(ticks) + " ticks at " +
                        std::to_string(divisionsOut) + " per quarter note (at most 8388608)";
        return false;
    }

    // A key sounding twice at once in one hand: the earlier stroke is let go at the later one.
    std::sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) {
        return a.hand != b.hand     ? a.hand < b.hand
               : a.key != b.key     ? a.key < b.key
               : a.onset != b.onset ? a.onset < b.onset
                                    : a.end > b.end;
    });
    for (size_t k = 1, last = 0; k < notes.size(); ++k) {
        Note& before = notes[last];
        Note& n = notes[k];
        if (before.hand != n.hand || before.key != n.key || n.onset >= before.end) {
            last = k;
            continue;
        }
        changes.add(kUnison, measureOf(n.onset));
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
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.onset < b.onset; });
    keepFiveFingers(&notes, &changes, measureOf);

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
            changes.add(kRestruck, measureOf(n.onset));
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
    std::sort(final.begin(), final.end(), [](const Note& a, const Note& b) {
        return a.onset != b.onset ? a.onset < b.onset
               : a.hand != b.hand ? a.hand < b.hand
                                  : a.key < b.key;
    });

    result->xml = writeDocument(final, starts, numbers, tempo, divisionsOut);
    result->notes.clear();
    result->notes.reserve(final.size());
    for (const Note& n : final) {
        result->notes.push_back({n.sourceIndex, n.hand, static_cast<int32_t>(n.onset),
                                 static_cast<int32_t>(n.end - n.onset), n.key, n.finger});
    }
    result->piece = preparedPiece(final, starts, numbers, tempo, divisionsOut);
    applyMarks(placedMarks, result->notes, &result->piece);

    // The report: the part chosen, then one line per kind of change.
    std::vector<std::string>& lines = result->changes;
    if (parts.size() > 1 || played.size() > 1 || !lead.exactPiano) {
        if (played.size() == 2) {
            lines.push_back("parts: " + describe(parts[played[0].part]) + " played as the right " +
                            "hand and " + describe(parts[played[1].part]) + " as the left, " +
                            "merged into one piano part; other parts left out: " +
                            std::to_string(parts.size() - 2));
        } else {
            lines.push_back("parts: " + describe(lead) + " played as the piano part" +
                            (lead.exactPiano ? "" : " (no part is named Piano exactly)") +
                            (parts.size() > 1
                                 ? "; other parts left out: " + std::to_string(parts.size() - 1)
                                 : ""));
        }
    }
    for (const std::string& line : changes.lines) {
        lines.push_back(line);
    }
    std::vector<int64_t> stated;
    for (const Played& p : played) {
        for (int64_t d : parts[p.part].divisionsStated) {
            if (std::find(stated.begin(), stated.end(), d) == stated.end()) {
                stated.push_back(d);
            }
        }
    }
    if (stated.size() > 1 || (stated.size() == 1 && stated[0] != divisionsOut)) {
        lines.push_back("divisions: " + joinValues(stated) + " stated; written once as " +
                        std::to_string(divisionsOut) + " per quarter note, durations rescaled");
    }
    for (int kind = 0; kind < kChangeKindCount; ++kind) {
        const ChangeTally& t = changes.tally[kind];
        if (t.count > 0) {
            lines.push_back(std::string(kChangeText[kind]) + ": " + std::to_string(t.count) +
                            measureList(t));
        }
    }
    return true;
}

}  // namespace

namespace {

// Prepares result->sourceXml.
bool prepareSource(const PrepareOptions& options, PrepareResult* result) {
    if (!prepare(result->sourceXml, options, result)) {
        result->xml.clear();
        result->notes.clear();
        result->changes.clear();
        return false;
    }
    return true;
}

}  // namespace

bool prepareScoreTree(const pugi::xml_document& document, const PrepareOptions& options,
                      PrepareResult* result) {
    *result = PrepareResult();
    if (!prepareParsed(document, options, result)) {
        result->xml.clear();
        result->notes.clear();
        result->changes.clear();
        return false;
    }
    return true;
}

bool prepareScoreText(const std::string& sourceXml, const PrepareOptions& options,
                      PrepareResult* result) {
    *result = PrepareResult();
    result->sourceXml = sourceXml;
    return prepareSource(options, result);
}

bool prepareScore(const std::string& path, const PrepareOptions& options, PrepareResult* result) {
    *result = PrepareResult();
    if (!readScoreText(path, &result->sourceXml, &result->error)) {
        result->sourceXml.clear();
        return false;
    }
    return prepareSource(options, result);
}
