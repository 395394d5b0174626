#include "fingering/optimal_annotate.h"

#include <cstdio>
#include <pugixml.hpp>
#include <sstream>
#include <vector>

#include "animation/performance.h"
#include "fingering/optimal_planner.h"
#include "music/piece.h"
#include "score/score_model.h"

namespace {

// Children of <note> that MusicXML puts after <notations>: a new notations element goes before
// the first of them.
constexpr const char* kAfterNotations[] = {"lyric", "play", "listen"};

// The prepared piece into the grids, as the reader would fill them from the prepared document;
// nothing is printed, for standard output is where a caller of this tool may be writing the score.
bool fillGrids(const Piece& piece) {
    setStartValues();
    return fillStrictGrids(piece);
}

// The finger (1..5) planned for `note`, or 0 when the grid does not hold it.
int plannedFinger(const PreparedNote& note) {
    const std::vector<NoteEvent>& grid = note.hand == 0 ? rightNotes : leftNotes;
    if (note.tick < 0 || static_cast<size_t>(note.tick) >= grid.size()) {
        return 0;
    }
    for (int k = 0; k < kSlotCount; ++k) {
        if (grid[note.tick].slot[k].key == note.key) {
            return k + 1;
        }
    }
    return 0;
}

pugi::xml_node notationsOf(pugi::xml_node note) {
    pugi::xml_node notations = note.child("notations");
    if (notations) {
        return notations;
    }
    for (const char* name : kAfterNotations) {
        if (pugi::xml_node later = note.child(name)) {
            return note.insert_child_before("notations", later);
        }
    }
    return note.append_child("notations");
}

void writeFinger(pugi::xml_node note, int finger) {
    pugi::xml_node notations = notationsOf(note);
    pugi::xml_node technical = notations.child("technical");
    if (!technical) {
        technical = notations.append_child("technical");
    }
    pugi::xml_node fingering = technical.child("fingering");
    if (!fingering) {
        fingering = technical.append_child("fingering");
    }
    fingering.text().set(finger);
}

bool hasFingering(pugi::xml_node note) {
    for (pugi::xml_node notations : note.children("notations")) {
        for (pugi::xml_node technical : notations.children("technical")) {
            if (technical.child("fingering")) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool annotateFingering(const std::string& path, const PrepareOptions& options, bool replace,
                       std::string* output, size_t* fingered, size_t* kept, std::string* error,
                       std::vector<std::string>* partLines) {
    PrepareResult prepared;
    PrepareOptions keeping = options;
    keeping.keepSource = true;  // the fingers are written into the source's own text
    if (!prepareScore(path, keeping, &prepared)) {
        *error = prepared.error;
        return false;
    }
    if (partLines != nullptr) {
        for (const std::string& line : prepared.changes) {
            if (line.rfind("parts:", 0) == 0) {
                partLines->push_back(line);
            }
        }
    }
    if (!fillGrids(prepared.piece)) {
        *error = "the prepared score could not be read";
        return false;
    }
    createKeyStates();
    std::vector<PrintedFinger> printed;
    for (const PreparedNote& n : prepared.notes) {
        if (!replace && n.printedFinger >= 1 && n.printedFinger <= 5) {
            printed.push_back({n.hand, n.tick, n.key, n.printedFinger - 1});
        }
    }
    // Where the measures start, so that a measure played again is fingered as before: the
    // preparation's own measures, in the prepared document's ticks.
    std::vector<int32_t> measureStarts;
    for (const PieceMeasure& m : prepared.piece.measures) {
        if (measureStarts.empty() || m.tick > measureStarts.back()) {
            measureStarts.push_back(m.tick);
        }
    }
    planHandsOptimal(printed, measureStarts);

    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(prepared.sourceXml.data(), prepared.sourceXml.size(),
                        pugi::parse_full | pugi::parse_ws_pcdata, pugi::encoding_utf8);
    if (!parsed) {
        *error = std::string("the score's MusicXML text is not XML: ") + parsed.description();
        return false;
    }
    const pugi::xpath_node_set notes = doc.select_nodes("//note");
    std::vector<bool> done(notes.size(), false);
    *fingered = 0;
    *kept = 0;
    for (const PreparedNote& n : prepared.notes) {
        if (n.sourceIndex >= notes.size() || done[n.sourceIndex]) {
            continue;
        }
        done[n.sourceIndex] = true;
        const pugi::xml_node note = notes[n.sourceIndex].node();
        if (!replace && hasFingering(note)) {
            ++*kept;
            continue;
        }
        const int finger = plannedFinger(n);
        if (finger > 0) {
            writeFinger(note, finger);
            ++*fingered;
        }
    }
    // Only the root element is written anew; what stands before and after it (declaration,
    // document type, comments, line breaks) is copied as it was.
    const std::string& source = prepared.sourceXml;
    const pugi::xml_node root = doc.document_element();
    const std::string name = root.name();
    const size_t start = source.find("<" + name);
    const size_t close = source.rfind("</" + name);
    const size_t end = close == std::string::npos ? std::string::npos : source.find('>', close);
    std::ostringstream text;
    root.print(text, "", pugi::format_raw, pugi::encoding_utf8);
    if (start == std::string::npos || end == std::string::npos) {
        *output = text.str();  // an empty root element: nothing to keep around it
    } else {
        *output = source.substr(0, start) + text.str() + source.substr(end + 1);
    }
    return true;
}
