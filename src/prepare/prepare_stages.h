#pragma once

// The stages of score preparation and what they hand each other: the parts found in the source,
// each part's music as written, the notes placed on the common time line, and the document and
// piece written from them. prepare.cpp runs them in order.
//
// Sections: limits; changes, one line per kind; small text helpers; the parts of the score;
// a part's music as written; the prepared notes; the stages.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <utility>
#include <vector>

#include "prepare/dynamics.h"
#include "prepare/ornaments.h"
#include "prepare/prepare.h"

namespace preparation {

// ---- limits ---------------------------------------------------------------------------------

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
    kOutOfReach,
    kMovedHand,
    kDroppedDoubling,
    kDroppedCrowded,
    kRestruck,
    kTransposed,
    kChangeKindCount
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
// ---- small text helpers (prepare_text.cpp) --------------------------------------------------

std::string trimmed(const char* text);
std::string lowered(std::string text);
// Whether an element's name is `wanted`: most names differ in their first letter, which turns
// them away without a whole comparison (the tree walks do this for every child of a measure).
inline bool isName(const char* name, const char* wanted) {
    return name[0] == wanted[0] && std::strcmp(name, wanted) == 0;
}
// `text` as valid UTF-8 that XML allows: any other byte becomes '?', a control character a
// space. Measure numbers and part names are copied into the prepared document and the report.
std::string cleanText(const std::string& text);
// The number written as `text` (white space around it allowed); false when it is not one.
bool readNumber(const char* text, double* value);
// The first run of digits in `text` as a number up to 9 digits; -1 when there is none.
int firstDigits(const char* text);
int64_t clampPosition(int64_t value);
// `text` inside a double-quoted attribute, with character references.
void appendEscaped(std::string* out, const std::string& text);

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
    size_t notesWritten = 0;               // <note> elements in its measures, each counted once
};

struct Played {
    size_t part;
    int hand;  // 0 or 1: every note to that hand; -1: by staff
};

// ---- a part's music as written --------------------------------------------------------------

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

struct Walker {
    int64_t unit = 1;  // common ticks per quarter note
    Changes* changes = nullptr;
    bool played = false;  // count changes only for the parts that are played
    bool sawSoundTempo = false;
    bool ornaments = false;         // read the marks and the grace notes to play them
    int fifths = 0;                 // key signature in force in the part being read
    std::vector<GraceNote> graces;  // read, waiting for the note they lead into
};

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
    // The hand came from the note's staff (a piano part of two staves), not from its part.
    bool byStaff = false;
};

struct Tempo {
    int64_t tick;
    double quartersPerMinute;
};

// Where each measure starts on the common time line (one more start: the end of the last), and
// its number as printed.
struct Measures {
    std::vector<int64_t> starts;
    std::vector<std::string> numbers;
};

// The index and the number of the measure `tick` falls in.
size_t measureIndexAt(const Measures& measures, int64_t tick);
const std::string& measureAt(const Measures& measures, int64_t tick);

// ---- the stages -----------------------------------------------------------------------------

// Reading (prepare_read.cpp).
// Parses the source text; false with the parser's reason when it is not well-formed XML.
bool parseSource(const std::string& sourceXml, pugi::xml_document* document, std::string* error);
// The same over text the caller keeps alive and lets the parser change, with one more byte at
// text[size] for a terminator: no copy is made, and the tree points into `text` until the
// document goes.
bool parseSourceInPlace(char* text, size_t size, pugi::xml_document* document, std::string* error);
// The common unit: the least common multiple of every divisions value stated anywhere (finer when
// ornaments are played); `fallbackDivisions` is the first value stated, for notes before any.
int64_t commonUnit(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                   const PrepareOptions& options, Changes* changes, int64_t* fallbackDivisions);
// Every part's music as written, in the walker's unit; changes counted for the played parts.
std::vector<PartMusic> readParts(const std::vector<PartInfo>& parts,
                                 const std::vector<Played>& played, int64_t fallbackDivisions,
                                 Walker* walker);

// The parts (prepare_parts.cpp).
// The parts of a part-wise or time-wise score, with their measures.
bool collectParts(pugi::xml_node root, std::vector<PartInfo>* parts, std::string* error);
// The piano part, or the right- and left-hand parts, as the options or the part names say.
bool chooseParts(const std::vector<PartInfo>& parts, const PrepareOptions& options,
                 std::vector<Played>* played, std::string* error);
// Every part's measures in the order the lead part's repeats, endings and jumps play them.
void playInPerformanceOrder(std::vector<PartInfo>* parts, size_t lead, Changes* changes);
std::string describe(const PartInfo& p);

// The notes (prepare_notes.cpp).
// Each measure starts where the one before ended, at the furthest position reached in it.
Measures measureStarts(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                       const std::vector<PartMusic>& music);
// The played notes on the time line, in hands, ties merged; their ornament marks and the
// fermatas gathered for playMarks.
std::vector<Note> placeNotes(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                             const std::vector<PartMusic>& music, const Measures& measures,
                             int64_t unit, Changes* changes, std::vector<NoteMarks>* marks,
                             std::vector<std::pair<int64_t, int64_t>>* fermatas);
// Drops the notes outside the keyboard.
void dropOutsideKeyboard(std::vector<Note>* notes, const Measures& measures, Changes* changes);
// A staff's other voices that its hand cannot reach, in a measure where the other hand can, are
// played by the other hand.
void reachAcrossStaves(std::vector<Note>* notes, const Measures& measures, Changes* changes);
// Tempo from every part, the played parts first.
std::vector<Tempo> collectTempo(const std::vector<PartInfo>& parts,
                                const std::vector<Played>& played,
                                const std::vector<PartMusic>& music, bool sawSoundTempo,
                                const Measures& measures);
// Dynamics and pedal of the played parts on the time line.
PlacedMarks placeDynamics(const std::vector<PartMusic>& music, const std::vector<Played>& played,
                          const Measures& measures);
// Plays out the ornament marks on the notes and the tempo map.
void playMarks(std::vector<Note>* notes, const std::vector<NoteMarks>& marks,
               std::vector<std::pair<int64_t, int64_t>> fermatas, int64_t unit,
               std::vector<Tempo>* tempo, Changes* changes);
// Everything from the common unit into the smallest number of divisions that keeps it exact (or
// rounded where that is beyond the reader); false when the score is too long to play.
bool scaleToDivisions(int64_t unit, std::vector<Note>* notes, Measures* measures,
                      std::vector<Tempo>* tempo, PlacedMarks* placedMarks, Changes* changes,
                      int64_t* divisionsOut, std::string* error);
// A key struck again while it sounds in one hand lets go first; no hand holds more than five.
void keepPlayable(std::vector<Note>* notes, const Measures& measures, Changes* changes);
// Notes too long for one duration as pieces tied to each other, by (onset, hand, key).
std::vector<Note> splitLongNotes(const std::vector<Note>& notes, const Measures& measures,
                                 Changes* changes);

// Writing (prepare_write.cpp).
// The prepared music as a Piece, from what the document is written from.
Piece preparedPiece(const std::vector<Note>& notes, const std::vector<int64_t>& starts,
                    const std::vector<std::string>& numbers, const std::vector<Tempo>& tempo,
                    int64_t divisionsOut);
// The strict-form document.
std::string writeDocument(const std::vector<Note>& notes, const std::vector<int64_t>& starts,
                          const std::vector<std::string>& numbers, const std::vector<Tempo>& tempo,
                          int64_t divisionsOut);

}  // namespace preparation
