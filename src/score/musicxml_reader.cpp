#include "score/musicxml_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "score/dom.h"
#include "score/score_model.h"

namespace {

// Instrument names that mark the piano's entry in the part list, tried in this order.
constexpr const char* kPianoNames[] = {"Acoustic Grand Piano", "Grand Piano", "Piano"};
// The first entry of the part list.
constexpr const char* kFirstEntryQuery = "//part-list[0]/*";
// First half of the report when the file is missing, unreadable or not well-formed XML.
constexpr const char* kLoadFailedLead = "Could not load the score:";
// A clef without a number belongs to staff 1, as in a single-staff part.
constexpr const char* kDefaultClefNumber = "1";
// Longest timeline we build: 2^23 ticks, about 670 MB for both grids, far beyond any real
// piece (over two hours at 1024 ticks per quarter note and 60 beats a minute).
constexpr int32_t kMaxTicks = 1 << 23;
// Farthest the cursor may stray from the timeline before the reading stops: back to -1 - 2^23,
// ahead to twice the longest timeline. Nothing outside could ever be written, and the bound keeps
// repeated backups (or chord notes) of negative or large durations from overflowing the counter.
constexpr int64_t kCursorLowest = -1 - static_cast<int64_t>(kMaxTicks);
constexpr int64_t kCursorHighest = 2 * static_cast<int64_t>(kMaxTicks);
// Semitones in an octave, and what the formula adds per octave besides: 12 * (o - 1) + 2.
constexpr int32_t kOctaveSemitones = 12;
constexpr int32_t kOctaveBias = 2;

// What the reader remembers while it walks the score.
struct ReaderState {
    std::string pianoPartId;  // "id" of the part-list entry that is the piano
    bool gClefSet = false;    // whether a G clef has been seen in the piano part
    std::string gClefStaff;   // its staff number: notes on it are the right hand's
    bool fClefSet = false;    // whether an F clef has been seen in the piano part
    std::string fClefStaff;   // its staff number: notes on it are the left hand's
};

// The last format message printed during the current load, without its newline: the reason
// given for a load that fails after it.
std::string lastFormatMessage;

// Writes `message` on the format-error channel. errno is kept as it was: perror itself may
// change it (glibc's perror sets EINVAL when standard error is opened for writing only, as with
// `2>file`), and the next message must not report that stale error.
void reportFormat(const char* message) {
    const int saved = errno;
    if (holdFormatMessages) {
        heldFormatMessages.push_back(std::string(message) + ": " + std::strerror(saved) + "\n");
    } else {
        std::perror(message);
    }
    errno = saved;
    lastFormatMessage = message;
    while (!lastFormatMessage.empty() &&
           (lastFormatMessage.back() == '\n' || lastFormatMessage.back() == ' ')) {
        lastFormatMessage.pop_back();
    }
}

// Reports a problem with the score's content on the format-error channel; always false, so a
// caller can `return formatError(...)`.
bool formatError(const char* message) {
    reportFormat(message);
    return false;
}

// The first letter of a name in lower case. The walks below look at it before comparing the
// whole name, so that each element costs one comparison rather than one per candidate.
char initialOf(const DomText& name) {
    const char c = name.c_str()[0];
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isPianoName(const DomText& name) {
    for (const char* piano : kPianoNames) {
        if (domTextEquals(name, piano)) {
            return true;
        }
    }
    return false;
}

// Appends one tick to both grids: `slot` in the first slot of the playing hand's record, an
// empty record for the other hand.
bool appendTick(std::vector<NoteEvent>& hand, std::vector<NoteEvent>& other, NoteSlot slot) {
    if (rightNotes.size() >= static_cast<size_t>(kMaxTicks)) {
        return formatError("Unexpected Format: score too long (more than 8388608 ticks)\n");
    }
    NoteEvent event = kEmptyEvent;
    event.slot[0] = slot;
    hand.push_back(event);
    other.push_back(kEmptyEvent);
    return true;
}

// Moves the cursor back by `duration` ticks (forward when negative). Moving before the start is
// caught by the next note or forward; only a cursor so far off that nothing could bring it to the
// timeline again ends the reading here.
bool moveCursorBack(int32_t duration) {
    const int64_t moved = static_cast<int64_t>(currentTick) - duration;
    if (moved < kCursorLowest || moved > kCursorHighest) {
        return formatError("Unexpected Format: hand count overflow\n");
    }
    currentTick = static_cast<int32_t>(moved);
    return true;
}

// Places a note of `duration` ticks ending at currentTick + duration (or, for a chord note,
// ending where the note before it ended) into `hand`.
bool placeNote(bool rightHand, int32_t key, int32_t duration, bool chord) {
    std::vector<NoteEvent>& hand = rightHand ? rightNotes : leftNotes;
    std::vector<NoteEvent>& other = rightHand ? leftNotes : rightNotes;
    if (chord && !moveCursorBack(duration)) {
        return false;
    }
    for (int32_t i = 0; i < duration; ++i) {
        const NoteSlot slot = {key, i == duration - 1 ? 1 : 0};
        // Compared as unsigned, so a tick before the start counts as beyond the end.
        const uint64_t t = static_cast<uint64_t>(static_cast<int64_t>(currentTick) + 1);
        const uint64_t length = rightNotes.size();
        if (t == length) {
            if (!appendTick(hand, other, slot)) {
                return false;
            }
        } else if (t < length) {
            NoteSlot* free = nullptr;
            for (NoteSlot& candidate : hand[t].slot) {
                if (candidate.key == kNoKey) {
                    free = &candidate;
                    break;
                }
            }
            if (free == nullptr) {
                return formatError(
                    rightHand
                        ? "Unexpected Format: unplayable format: not enough fingers (right hand)\n"
                        : "Unexpected Format: unplayable format: not enough fingers (left hand)\n");
            }
            *free = slot;
        } else {
            return formatError("Unexpected Format: hand count overflow\n");
        }
        ++currentTick;
    }
    return true;
}

// key + change, held within +-kKeyLimit: a pitch may repeat its alter or octave any number of
// times, and the sum must not overflow on the way to being played as a rest.
int32_t addToKey(int32_t key, int32_t change) {
    constexpr int64_t kKeyLimit = 1 << 30;
    const int64_t sum = static_cast<int64_t>(key) + change;
    return static_cast<int32_t>(sum < -kKeyLimit ? -kKeyLimit : sum > kKeyLimit ? kKeyLimit : sum);
}

bool readPitch(const DomNode& cNode3, int32_t* key) {
    DomNode cNode4;
    if (!HRCALL(domFirstChild(cNode3, &cNode4), "firstChild", "cNode3->get_firstChild(&cNode4)")) {
        return false;
    }
    while (cNode4) {
        DomText bstr;
        if (!HRCALL(domNodeName(cNode4, &bstr), "nodename", "cNode4->get_nodeName(&bstr)")) {
            return false;
        }
        const char initial = initialOf(bstr);
        const bool step = initial == 's' && domTextEquals(bstr, "step");
        const bool alter = initial == 'a' && domTextEquals(bstr, "alter");
        const bool octave = initial == 'o' && domTextEquals(bstr, "octave");
        if (step || alter || octave) {
            DomText val2;
            if (!HRCALL(domTypedValue(cNode4, &val2), "nodeTypedValue",
                        "cNode4->get_nodeTypedValue(&val2)")) {
                return false;
            }
            if (step) {
                *key = stepOffset(val2.c_str());
            } else if (alter) {
                *key = addToKey(*key, textToInt(val2.c_str()));
            } else {
                *key =
                    addToKey(*key, kOctaveSemitones * (textToInt(val2.c_str()) - 1) + kOctaveBias);
            }
        }
        if (domNextSibling(cNode4, &cNode4) != kDomOk) {
            break;
        }
    }
    return true;
}

// Reads the text of the staff element `cNode3` and places the note on that staff's hand.
bool placeOnStaff(const DomNode& cNode3, const ReaderState& state, bool pitched, int32_t key,
                  int32_t duration, bool chord) {
    DomText val2;
    if (!HRCALL(domTypedValue(cNode3, &val2), "nodeTypedValue",
                "cNode3->get_nodeTypedValue(&val2)")) {
        return false;
    }
    bool rightHand;
    if (state.gClefSet && domTextEquals(val2, state.gClefStaff.c_str())) {
        rightHand = true;
    } else if (state.fClefSet && domTextEquals(val2, state.fClefStaff.c_str())) {
        rightHand = false;
    } else {
        return formatError("Unexpected Format: unexpected clef\n");
    }
    if (pitched && duration > 0 && (key < 0 || key >= kKeyCount)) {
        // No key to press: keep the note's time as a rest so the rest of the piece stays in step.
        char message[128];
        std::snprintf(message, sizeof message,
                      "Note outside the keyboard played as a rest: key %d (the keys run from 0, "
                      "A0, to 87, C8)\n",
                      key);
        reportFormat(message);
        key = kNoKey;
    }
    return placeNote(rightHand, key, duration, chord);
}

bool readNote(const DomNode& cNode2, const ReaderState& state) {
    int32_t key = kNoKey;
    bool chord = false;
    int32_t duration = 0;
    bool pitched = false;
    DomNode cNode3;
    if (!HRCALL(domFirstChild(cNode2, &cNode3), "firstChild", "cNode2->get_firstChild(&cNode3)")) {
        return false;
    }
    while (cNode3) {
        DomText bstr;
        if (!HRCALL(domNodeName(cNode3, &bstr), "nodename", "cNode3->get_nodeName(&bstr)")) {
            return false;
        }
        const char initial = initialOf(bstr);
        if (initial == 'p' && domTextEquals(bstr, "pitch")) {
            pitched = true;
            if (!readPitch(cNode3, &key)) {
                return false;
            }
        } else if (initial == 'c' && domTextEquals(bstr, "chord")) {
            chord = true;
        } else if (initial == 'd' && domTextEquals(bstr, "duration")) {
            DomText val2;
            if (!HRCALL(domTypedValue(cNode3, &val2), "nodeTypedValue",
                        "cNode3->get_nodeTypedValue(&val2)")) {
                return false;
            }
            duration = textToInt(val2.c_str());
        } else if (initial == 's' && domTextEquals(bstr, "staff")) {
            // The staff places the note; what follows it in the note is not looked at.
            return placeOnStaff(cNode3, state, pitched, key, duration, chord);
        }
        if (domNextSibling(cNode3, &cNode3) != kDomOk) {
            break;
        }
    }
    return true;  // a note without a staff is not placed
}

// Moves the cursor on by `duration` ticks, appending empty ticks to both grids at the end of
// the timeline.
bool moveForward(int32_t duration) {
    for (int32_t i = 0; i < duration; ++i) {
        const uint64_t t = static_cast<uint64_t>(static_cast<int64_t>(currentTick) + 1);
        const uint64_t length = rightNotes.size();
        if (t == length) {
            if (!appendTick(rightNotes, leftNotes, kEmptyEvent.slot[0])) {
                return false;
            }
        } else if (t > length) {
            return formatError("Unexpected Format: hand count overflow: forward declaration\n");
        }
        ++currentTick;
    }
    return true;
}

// Walks a backup or forward element and applies every duration child it holds, in order, each
// with the bounds of a single move.
bool readMove(const DomNode& cNode2, bool (*move)(int32_t duration)) {
    DomNode cNode3;
    if (!HRCALL(domFirstChild(cNode2, &cNode3), "firstChild", "cNode2->get_firstChild(&cNode3)")) {
        return false;
    }
    while (cNode3) {
        DomText bstr;
        if (!HRCALL(domNodeName(cNode3, &bstr), "nodename", "cNode3->get_nodeName(&bstr)")) {
            return false;
        }
        if (domTextEquals(bstr, "duration")) {
            DomText val2;
            if (!HRCALL(domTypedValue(cNode3, &val2), "nodeTypedValue",
                        "cNode3->get_nodeTypedValue(&val2)")) {
                return false;
            }
            if (!move(textToInt(val2.c_str()))) {
                return false;
            }
        }
        if (domNextSibling(cNode3, &cNode3) != kDomOk) {
            break;
        }
    }
    return true;
}

bool readClef(const DomNode& cNode3, ReaderState& state) {
    DomAttributeMap x;
    if (!HRCALL(domAttributes(cNode3, &x), "dom->get_attributes: ", "cNode3->get_attributes(&x)")) {
        return false;
    }
    DomAttribute attr;
    if (!HRCALL(domNamedItem(x, "number", &attr), "getNamedItem", "x->getNamedItem(bstr, &attr)")) {
        return false;
    }
    std::string number = kDefaultClefNumber;
    if (attr) {
        DomText attrVal2;
        if (!HRCALL(domAttributeValue(attr, &attrVal2), "nodeVal",
                    "attr->get_nodeValue(&attrVal2)")) {
            return false;
        }
        number = attrVal2.c_str();
    }
    DomNode cNode4;
    if (!HRCALL(domFirstChild(cNode3, &cNode4), "getfirstchild",
                "cNode3->get_firstChild(&cNode4)")) {
        return false;
    }
    if (!cNode4) {
        return formatError("Unexpected Format: clef without sign\n");
    }
    DomText cleftype;
    if (!HRCALL(domTypedValue(cNode4, &cleftype), "clefType",
                "cNode4->get_nodeTypedValue(&cleftype)")) {
        return false;
    }
    if (domTextEquals(cleftype, "F")) {
        if (state.fClefSet) {
            return formatError("Unexpected Format: duplicate F clef\n");
        }
        state.fClefSet = true;
        state.fClefStaff = number;
    } else if (domTextEquals(cleftype, "G")) {
        if (state.gClefSet) {
            return formatError("Unexpected Format: duplicate G clef\n");
        }
        state.gClefSet = true;
        state.gClefStaff = number;
    }
    return true;  // any other sign is accepted; its staff's notes match no hand
}

bool readAttributes(const DomNode& cNode2, ReaderState& state) {
    DomNode cNode3;
    if (!HRCALL(domFirstChild(cNode2, &cNode3), "firstChild", "cNode2->get_firstChild(&cNode3)")) {
        return false;
    }
    while (cNode3) {
        DomText bstr;
        if (!HRCALL(domNodeName(cNode3, &bstr), "nodename", "cNode3->get_nodeName(&bstr)")) {
            return false;
        }
        const char initial = initialOf(bstr);
        if (initial == 'd' && domTextEquals(bstr, "divisions")) {
            DomText val2;
            if (!HRCALL(domTypedValue(cNode3, &val2), "nodeTypedValue",
                        "cNode3->get_nodeTypedValue(&val2)")) {
                return false;
            }
            if (divisions != 0) {
                return formatError("Unexpected Format: Divisions already defined\n");
            }
            divisions = textToInt(val2.c_str());
        } else if (initial == 'c' && domTextEquals(bstr, "clef")) {
            if (!readClef(cNode3, state)) {
                return false;
            }
        }
        if (domNextSibling(cNode3, &cNode3) != kDomOk) {
            break;
        }
    }
    return true;
}

bool readMeasure(const DomNode& cNode, ReaderState& state) {
    DomNode cNode2;
    if (!HRCALL(domFirstChild(cNode, &cNode2), "firstChild", "cNode->get_firstChild(&cNode2)")) {
        return false;
    }
    while (cNode2) {
        DomText bstr;
        if (!HRCALL(domNodeName(cNode2, &bstr), "nodename", "cNode2->get_nodeName(&bstr)")) {
            return false;
        }
        bool ok = true;
        const char initial = initialOf(bstr);
        if (initial == 'n' && domTextEquals(bstr, "note")) {
            ok = readNote(cNode2, state);
        } else if (initial == 'b' && domTextEquals(bstr, "backup")) {
            ok = readMove(cNode2, moveCursorBack);
        } else if (initial == 'f' && domTextEquals(bstr, "forward")) {
            ok = readMove(cNode2, moveForward);
        } else if (initial == 'a' && domTextEquals(bstr, "attributes")) {
            ok = readAttributes(cNode2, state);
        }
        if (!ok) {
            return false;
        }
        if (domNextSibling(cNode2, &cNode2) != kDomOk) {
            break;
        }
    }
    return true;
}

bool readPart(const DomNode& pNode, ReaderState& state) {
    state.gClefSet = false;
    state.gClefStaff.clear();
    state.fClefSet = false;
    state.fClefStaff.clear();
    DomNode cNode;
    if (!HRCALL(domFirstChild(pNode, &cNode), "firstChild", "pNode->get_firstChild(&cNode)")) {
        return false;
    }
    while (cNode) {
        DomText bstr;
        if (!HRCALL(domNodeName(cNode, &bstr), "nodename", "cNode->get_nodeName(&bstr)")) {
            return false;
        }
        if (domTextEquals(bstr, "measure") && !readMeasure(cNode, state)) {
            return false;
        }
        if (domNextSibling(cNode, &cNode) != kDomOk) {
            break;
        }
    }
    return true;
}

// Steps 5 to 7: leaves pNode on the part-list entry of the piano and fills pianoPartId.
bool findPianoPart(const DomDocument& pXMLDom, DomNode& pNode, ReaderState& state) {
    if (!HRCALL(domSelectSingleNode(pXMLDom, kFirstEntryQuery, &pNode),
                "dom->selectSingleNode: ", "pXMLDom->selectSingleNode(bstr, &pNode)")) {
        return false;
    }
    if (!pNode) {
        return formatError(domHasElement(pXMLDom, "part-list")
                               ? "Unexpected Format: the part-list is empty\n"
                               : "Unexpected Format: the score has no part-list\n");
    }
    while (pNode) {
        DomAttributeMap x;
        if (!HRCALL(domAttributes(pNode, &x),
                    "dom->get_attributes: ", "pNode->get_attributes(&x)")) {
            return false;
        }
        DomAttribute attr;
        if (!HRCALL(domNamedItem(x, "id", &attr), "getNamedItem", "x->getNamedItem(bstr, &attr)")) {
            return false;
        }
        if (attr) {
            DomText attrVal;
            if (!HRCALL(domAttributeValue(attr, &attrVal), "nodeVal",
                        "attr->get_nodeValue(&attrVal)")) {
                return false;
            }
            DomNode cNode;
            if (!HRCALL(domFirstChild(pNode, &cNode), "firstChild",
                        "pNode->get_firstChild(&cNode)")) {
                return false;
            }
            while (cNode) {
                DomText bstr;
                if (!HRCALL(domNodeName(cNode, &bstr), "get_nodeName",
                            "cNode->get_nodeName(&bstr)")) {
                    return false;
                }
                if (domTextEquals(bstr, "score-instrument")) {
                    DomNode cNode2;
                    if (!HRCALL(domFirstChild(cNode, &cNode2), "firstChild",
                                "cNode->get_firstChild(&cNode2)")) {
                        return false;
                    }
                    if (cNode2) {  // an empty score-instrument names nothing
                        DomText name;
                        if (!HRCALL(domTypedValue(cNode2, &name), "nodeTypedValue",
                                    "cNode2->get_nodeTypedValue(&attrVal)")) {
                            return false;
                        }
                        if (isPianoName(name)) {
                            state.pianoPartId = attrVal.c_str();
                            return true;
                        }
                    }
                }
                if (domNextSibling(cNode, &cNode) != kDomOk) {
                    break;
                }
            }
        } else {
            // Part groups carry no id and are passed over; a score-part must have one.
            DomText bstr;
            if (!HRCALL(domNodeName(pNode, &bstr), "get_nodeName", "pNode->get_nodeName(&bstr)")) {
                return false;
            }
            if (domTextEquals(bstr, "score-part")) {
                return formatError("Unexpected Format: score-part without id\n");
            }
        }
        if (domNextSibling(pNode, &pNode) != kDomOk) {
            break;
        }
    }
    return formatError("Piano Part ID could not be found: Program exited\n");
}

// Steps 8 and 9: reads every part whose id is the piano's.
bool readPianoParts(DomNode& pNode, ReaderState& state) {
    if (!HRCALL(domParentNode(pNode, &pNode), "parentNode", "pNode->get_parentNode(&pNode)")) {
        return false;
    }
    while (pNode && domNextSibling(pNode, &pNode) == kDomOk) {
        DomText bstr;
        if (!HRCALL(domNodeName(pNode, &bstr), "getNodName", "pNode->get_nodeName(&bstr)")) {
            return false;
        }
        if (!domTextEquals(bstr, "part")) {
            continue;
        }
        DomAttributeMap x;
        if (!HRCALL(domAttributes(pNode, &x),
                    "dom->get_attributes: ", "pNode->get_attributes(&x)")) {
            return false;
        }
        DomAttribute attr;
        if (!HRCALL(domNamedItem(x, "id", &attr), "getNamedItem", "x->getNamedItem(bstr, &attr)")) {
            return false;
        }
        if (!attr) {
            return formatError("Unexpected Format: part without id\n");
        }
        DomText attrVal;
        if (!HRCALL(domAttributeValue(attr, &attrVal), "nodeVal",
                    "attr->get_nodeValue(&attrVal)")) {
            return false;
        }
        if (domTextEquals(attrVal, state.pianoPartId.c_str()) && !readPart(pNode, state)) {
            return false;
        }
    }
    return true;
}

}  // namespace

int32_t textToInt(const char* text) {
    const char* p = text != nullptr ? text : "";
    const bool negative = *p == '-';
    const char* digit = p + (negative ? 1 : 0);
    int32_t value = 0;
    int count = 0;
    // Five digits are more than any accepted value has; stopping there keeps value in range.
    while (*digit >= '0' && *digit <= '9' && count < 5) {
        value = value * 10 + (*digit - '0');
        ++digit;
        ++count;
    }
    if (*digit == '\0' && count > 0) {
        value = negative ? -value : value;
        if (value >= -2 && value <= 4999) {
            // Only the text the integer-to-text conversion itself writes is accepted, which
            // rules out leading zeros, "-0" and a plus sign.
            char canonical[8];
            domIntToText(static_cast<int16_t>(value), canonical);
            if (std::strcmp(canonical, p) == 0) {
                return value;
            }
        }
    }
    reportFormat("Error converting BSTR to int value.\n");
    return -1;
}

int32_t stepOffset(const char* text) {
    static constexpr struct {
        const char* letter;
        int32_t offset;
    } kSteps[] = {{"C", 1}, {"D", 3}, {"E", 5}, {"F", 6}, {"G", 8}, {"A", 10}, {"B", 12}};
    for (const auto& step : kSteps) {
        if (domTextEquals(text, step.letter)) {
            return step.offset;
        }
    }
    reportFormat("Error converting BSTR to pitch value.\n");
    return -1;
}

namespace {

// Set for the length of one quiet load: the progress and totals are not printed.
bool quietLoad = false;

// Creates the document and loads it from the file at `path`, or, when `path` is null, from the
// `size` bytes at `data`; then reads the piano part. `shownPath` is printed as the file's name
// (null: no File line).
int32_t readScoreFrom(const char* path, const char* data, size_t size, const char* shownPath,
                      std::shared_ptr<const pugi::xml_document>* tree) {
    if (!quietLoad) {
        std::printf("Loading MusicXML file...\n");
        std::fflush(stdout);
    }

    DomDocument pXMLDom = createDomDocument();
    if (!pXMLDom) {
        return -1;
    }
    if (shownPath != nullptr && !quietLoad) {
        std::printf("File : %s\n", shownPath);
        std::fflush(stdout);
    }
    bool loaded = false;
    const DomStatus status = path != nullptr ? domLoad(pXMLDom, path, &loaded)
                                             : domLoadBuffer(pXMLDom, data, size, &loaded);
    if (!HRCALL(status, "dom->load(): ", "pXMLDom->load(var, &status)")) {
        return -1;
    }
    if (!loaded) {
        reportParseError(pXMLDom, kLoadFailedLead, &lastLoadError);
        lastLoadUnparsed = true;
        return -1;
    }
    // Whatever the file access left in errno says nothing about the score's content, which is
    // all the format-error channel reports from here on.
    errno = 0;

    ReaderState state;
    DomNode pNode;
    if (!findPianoPart(pXMLDom, pNode, state) || !readPianoParts(pNode, state)) {
        return -1;
    }
    if (divisions <= 0) {
        formatError("Unexpected Format: divisions missing or not positive\n");
        return -1;
    }
    if (rightNotes.empty()) {
        formatError("Unexpected Format: the piano part has no notes\n");
        return -1;
    }

    if (!quietLoad) {
        std::printf("\n");
        std::fflush(stdout);
        std::printf("Total duration: %d\n", currentTick);
        std::fflush(stdout);
        std::printf("Divisions : %d\n", divisions);
        std::fflush(stdout);
        std::printf("Quarter Note Count : %f\n",
                    static_cast<double>(currentTick) / static_cast<double>(divisions));
        std::fflush(stdout);
    }
    scanLength = 4 * divisions;
    if (tree != nullptr) {
        *tree = domTakeTree(pXMLDom);
    }
    return 0;
}

// readScoreFrom, keeping the reason of a failure in lastLoadError.
int32_t loadScoreFrom(const char* path, const char* data, size_t size, const char* shownPath,
                      bool quiet = false,
                      std::shared_ptr<const pugi::xml_document>* tree = nullptr) {
    quietLoad = quiet;
    quietReports = quiet;
    lastLoadError.clear();
    lastLoadUnparsed = false;
    lastFormatMessage.clear();
    if (tree != nullptr) {
        tree->reset();
    }
    const int32_t result = readScoreFrom(path, data, size, shownPath, tree);
    quietLoad = false;
    quietReports = false;
    if (result == 0) {
        lastLoadError.clear();
    } else if (lastLoadError.empty()) {
        lastLoadError =
            !lastFormatMessage.empty() ? lastFormatMessage : "the XML parser failed on it";
    }
    return result;
}

}  // namespace

std::string lastLoadError;
bool lastLoadUnparsed = false;
bool holdFormatMessages = false;
std::vector<std::string> heldFormatMessages;

int32_t loadScore(int argc, char** argv) {
    if (argc >= 2 && argv != nullptr && argv[1] != nullptr) {
        return loadScoreFrom(argv[1], nullptr, 0, argv[1]);
    }
    return loadScoreFrom(kDefaultScorePath, nullptr, 0, nullptr);
}

int32_t loadScoreFile(const char* path, const char* shownPath, bool quiet) {
    return loadScoreFrom(path, nullptr, 0, shownPath, quiet);
}

int32_t loadScoreFromBuffer(const char* data, size_t size, const char* shownPath, bool quiet) {
    return loadScoreFrom(nullptr, data, size, shownPath, quiet);
}

int32_t loadScoreFileKeepingTree(const char* path, const char* shownPath,
                                 std::shared_ptr<const pugi::xml_document>* tree) {
    return loadScoreFrom(path, nullptr, 0, shownPath, false, tree);
}
