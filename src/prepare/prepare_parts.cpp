#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "prepare/prepare_stages.h"
#include "prepare/repeats.h"

// The parts of the score: their entries in the part list, a first look at their music, the
// piano part chosen among them, and their measures in performance order.
//
// Sections: one part's entry and survey; collecting the parts; choosing the piano part; the
// performance order.

namespace preparation {

namespace {

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
            if (isName(name, "note")) {
                ++*notes;
                ++part->notesWritten;
                // Only whether a part has a pitched note matters (and unpitched ones only while
                // it has none): once one is found, the notes are counted and not looked into.
                if (part->pitched > 0) {
                    continue;
                }
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
            } else if (isName(name, "attributes")) {
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

}  // namespace

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

// ---- choosing the piano part ----------------------------------------------------------------

namespace {

bool eligible(const PartInfo& p) {
    return !p.measures.empty() && p.pitched > 0 && !p.percussion;
}

}  // namespace

std::string describe(const PartInfo& p) {
    return cleanText(p.id) + " \"" + p.shownName + "\"";
}

namespace {

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

}  // namespace

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

// ---- the performance order ---------------------------------------------------------------

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

}  // namespace preparation
