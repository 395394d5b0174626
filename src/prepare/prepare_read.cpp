#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "prepare/prepare_stages.h"

// Reading the source: parsing it, the common unit, and each part's music as written (notes,
// tempo, clefs, marks) in that unit, relative to its measures.
//
// Sections: parsing; the common unit; a note's parts; notes and tempo; a part; every part.

namespace preparation {

namespace {

constexpr unsigned kParse = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                            pugi::parse_wconv_attribute | pugi::parse_trim_pcdata |
                            pugi::parse_embed_pcdata;

bool parsed(const pugi::xml_parse_result& result, std::string* error) {
    if (!result) {
        *error = std::string("not well-formed XML: ") + result.description() + " at byte " +
                 std::to_string(result.offset);
        return false;
    }
    return true;
}

}  // namespace

bool parseSource(const std::string& sourceXml, pugi::xml_document* document, std::string* error) {
    return parsed(document->load_buffer(sourceXml.data(), sourceXml.size(), kParse), error);
}

bool parseSourceInPlace(char* text, size_t size, pugi::xml_document* document, std::string* error) {
    // The terminator is parsed as part of the text, as in a parse of a copy (which ends its copy
    // with one), so that a text cut short is reported at the same byte either way.
    text[size] = '\0';
    return parsed(document->load_buffer_inplace(text, size + 1, kParse), error);
}

int64_t commonUnit(const std::vector<PartInfo>& parts, const std::vector<Played>& played,
                   const PrepareOptions& options, Changes* changes, int64_t* fallbackDivisions) {
    int64_t unit = 1;
    int64_t fallback = 0;
    for (const PartInfo& p : parts) {
        for (int64_t d : p.divisionsStated) {
            fallback = fallback == 0 ? d : fallback;
            const int64_t next = unit / std::gcd(unit, d) * d;
            if (next <= kLcmLimit) {
                unit = next;
            }
        }
    }
    if (fallback == 0) {
        fallback = 1;
        changes->add(kNoDivisions, parts[played[0].part].numbers[0]);
    }
    if (options.ornaments && unit / std::gcd(unit, int64_t{32}) * 32 <= kLcmLimit) {
        unit = unit / std::gcd(unit, int64_t{32}) * 32;  // ornament notes down to a 128th
    }

    *fallbackDivisions = fallback;
    return unit;
}

namespace {

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
    pugi::xml_node voice;
    bool chord = false;
    bool cue = false;
    bool unpitched = false;
    bool tieStart = false;
    bool tieStop = false;
};

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
            case 'v':
                if (!parts.voice && isName(name, "voice")) {
                    parts.voice = child;
                }
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
    // One walk of the pitch's children finds the first step, alter and octave.
    pugi::xml_node stepNode;
    pugi::xml_node alterNode;
    pugi::xml_node octaveNode;
    for (pugi::xml_node child : parts.pitch.children()) {
        const char* name = child.name();
        if (!stepNode && isName(name, "step")) {
            stepNode = child;
        } else if (!alterNode && isName(name, "alter")) {
            alterNode = child;
        } else if (!octaveNode && isName(name, "octave")) {
            octaveNode = child;
        }
    }
    const std::string step = trimmed(stepNode.text().get());
    const char* at = step.size() == 1 ? std::strchr(kSteps, std::toupper(step[0])) : nullptr;
    double alter = 0;
    double octave = 0;
    const bool alterOk = !alterNode || readNumber(alterNode.text().get(), &alter);
    if (at == nullptr || *at == '\0' || !alterOk || !readNumber(octaveNode.text().get(), &octave) ||
        std::fabs(alter) > 100 || std::fabs(octave) > 100) {
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
    raw.voice = trimmed(parts.voice.text().get());
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
    readNoteMarks(note, sourceIndex, m, onset, raw.staff, &music->marks, bool(parts.notations));
    // Without notations and with no grace notes waiting, a note carries no ornament mark and no
    // fermata: the ornament reading would find nothing, so it is not done.
    if (w.ornaments && (parts.notations || !w.graces.empty())) {
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
    // Sized once from the survey: measures played again by repeats only add to it.
    music.notes.reserve(w.played ? part.notesWritten : 0);
    music.extent.reserve(part.measures.size());
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
            if (isName(name, "note")) {
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

}  // namespace

std::vector<PartMusic> readParts(const std::vector<PartInfo>& parts,
                                 const std::vector<Played>& played, int64_t fallbackDivisions,
                                 Walker* walker) {
    std::vector<PartMusic> music(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        walker->played =
            std::any_of(played.begin(), played.end(), [i](const Played& p) { return p.part == i; });
        music[i] = readPart(*walker, parts[i], fallbackDivisions);
    }
    return music;
}

}  // namespace preparation
