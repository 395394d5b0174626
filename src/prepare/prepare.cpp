#include "prepare/prepare.h"

#include <algorithm>
#include <string>

#include "music/titles.h"
#include "prepare/container.h"
#include "prepare/prepare_stages.h"

// Preparation as a pipeline of stages (prepare_stages.h): parse the source, find and choose the
// parts, read their music in a common unit, place the notes on one time line in two hands, put
// tempo and dynamics beside them, rescale, keep what two hands can play, write the document and
// the Piece, and report each kind of change once.

namespace preparation {

namespace {

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
    "notes out of their staff's hand's reach played by the other hand",
    "notes beyond five in one hand moved to the other hand",
    "notes beyond five in one hand dropped as doublings of another",
    "notes beyond five in one hand dropped (no free finger and no doubling)",
    "notes longer than 4999 ticks struck again every 4999 ticks",
    "written pitches of a transposing part played at their sounding pitch",
};

std::string measureList(const ChangeTally& t) {
    std::string text;
    for (size_t i = 0; i < t.measures.size(); ++i) {
        text += (i == 0 ? "" : ", ") + t.measures[i];
    }
    const char* more = t.measures.size() == kNamedMeasures ? ", ..." : "";
    return (t.measures.size() == 1 ? " (measure " : " (measures ") + text + more + ")";
}

std::string joinValues(const std::vector<int64_t>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == values.size() ? " and " : ", ") + std::to_string(values[i]);
    }
    return text;
}

// The report: the part chosen, then one line per kind of change.
void writeReport(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                 const Changes& changes, int64_t divisionsOut, std::vector<std::string>* report) {
    const PartInfo& lead = parts[played[0].part];
    std::vector<std::string>& lines = *report;
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
}

bool prepareParsed(const pugi::xml_document& document, const PrepareOptions& options,
                   PrepareResult* result);

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

    int64_t fallbackDivisions = 0;
    const int64_t unit = commonUnit(parts, played, options, &changes, &fallbackDivisions);
    Walker walker;
    walker.unit = unit;
    walker.changes = &changes;
    walker.played = false;
    walker.ornaments = options.ornaments;
    const std::vector<PartMusic> music = readParts(parts, played, fallbackDivisions, &walker);

    Measures measures = measureStarts(parts, played, music);
    std::vector<Note> notes =
        placeNotes(parts, played, music, measures, unit, &changes, &marks, &fermatas);
    dropOutsideKeyboard(&notes, measures, &changes);
    reachAcrossStaves(&notes, measures, &changes);
    if (notes.empty()) {
        const PartInfo& lead = parts[played[0].part];
        result->error = "no piano music: no note of " +
                        (played.size() == 2 ? describe(parts[played[0].part]) + " and " +
                                                  describe(parts[played[1].part])
                                            : "part " + describe(lead)) +
                        " can be played on the keyboard";
        return false;
    }
    std::vector<Tempo> tempo = collectTempo(parts, played, music, walker.sawSoundTempo, measures);
    PlacedMarks placedMarks = placeDynamics(music, played, measures);
    if (options.ornaments) {
        playMarks(&notes, marks, std::move(fermatas), unit, &tempo, &changes);
    }
    int64_t divisionsOut = 0;
    if (!scaleToDivisions(unit, &notes, &measures, &tempo, &placedMarks, &changes, &divisionsOut,
                          &result->error)) {
        return false;
    }
    keepPlayable(&notes, measures, &changes);
    const std::vector<Note> final = splitLongNotes(notes, measures, &changes);

    const std::vector<int64_t>& starts = measures.starts;
    const std::vector<std::string>& numbers = measures.numbers;
    if (options.strictText) {
        result->xml = writeDocument(final, starts, numbers, tempo, divisionsOut);
    }
    result->notes.clear();
    result->notes.reserve(final.size());
    for (const Note& n : final) {
        result->notes.push_back({n.sourceIndex, n.hand, static_cast<int32_t>(n.onset),
                                 static_cast<int32_t>(n.end - n.onset), n.key, n.finger});
    }
    result->piece = preparedPiece(final, starts, numbers, tempo, divisionsOut);
    readScoreTitles(document.document_element(), &result->piece.title, &result->piece.composer);
    applyMarks(placedMarks, result->notes, &result->piece);
    writeReport(parts, played, changes, divisionsOut, &result->changes);
    return true;
}

// Clears what a failed preparation may have left half made.
bool failed(PrepareResult* result) {
    result->xml.clear();
    result->notes.clear();
    result->changes.clear();
    return false;
}

}  // namespace

}  // namespace preparation

bool prepareScoreTree(const pugi::xml_document& document, const PrepareOptions& options,
                      PrepareResult* result) {
    *result = PrepareResult();
    if (!preparation::prepareParsed(document, options, result)) {
        return preparation::failed(result);
    }
    return true;
}

bool prepareScoreText(const std::string& sourceXml, const PrepareOptions& options,
                      PrepareResult* result) {
    *result = PrepareResult();
    if (options.keepSource) {
        result->sourceXml = sourceXml;
    }
    pugi::xml_document document;
    if (!preparation::parseSource(sourceXml, &document, &result->error) ||
        !preparation::prepareParsed(document, options, result)) {
        return preparation::failed(result);
    }
    return true;
}

// The file's text is parsed where it was read; a caller that keeps the source gets a copy made
// before the parser changes it.
bool prepareScore(const std::string& path, const PrepareOptions& options, PrepareResult* result) {
    *result = PrepareResult();
    ScoreText text;
    if (!readScoreText(path, &text, &result->error)) {
        return false;
    }
    if (options.keepSource) {
        result->sourceXml.assign(text.data(), text.size());
    }
    pugi::xml_document document;
    if (!preparation::parseSourceInPlace(text.data(), text.size(), &document, &result->error) ||
        !preparation::prepareParsed(document, options, result)) {
        return preparation::failed(result);
    }
    return true;
}
