// Scores as a notation program writes them: our own pieces (tools/real_material.py), each
// imported into musescore3 and exported as .mxl, .musicxml and MIDI. Every MusicXML export goes
// through preparation and the strict reader; the notes in the grids must be the notes of the
// MIDI export of the same piece (hand, key, onset and end in quarter notes) and the prepared
// tempo its tempo.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

struct PlayedNote {
    int hand;      // 0 right, 1 left
    int key;       // 0..87
    double onset;  // quarter notes from the start
    double end;
};

bool operator<(const PlayedNote& a, const PlayedNote& b) {
    return a.onset != b.onset ? a.onset < b.onset
           : a.key != b.key   ? a.key < b.key
                              : a.hand < b.hand;
}

// ---- A small reader of standard MIDI files: notes per track, and the first tempo. ----
struct Midi {
    std::vector<PlayedNote> notes;  // hand: the index of the track among those holding notes
    double quartersPerMinute = 120.0;
    std::string error;
};

struct Bytes {
    const std::string& data;
    size_t at = 0;
    bool ok = true;
    int byte() {
        if (at >= data.size()) {
            ok = false;
            return 0;
        }
        return static_cast<unsigned char>(data[at++]);
    }
    uint32_t number(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 8) | static_cast<uint32_t>(byte());
        }
        return value;
    }
    uint32_t varying() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int b = byte();
            value = (value << 7) | static_cast<uint32_t>(b & 0x7F);
            if ((b & 0x80) == 0) {
                return value;
            }
        }
        ok = false;
        return value;
    }
};

Midi readMidi(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string data = buffer.str();
    Midi midi;
    Bytes bytes{data};
    if (bytes.number(4) != 0x4D546864 || bytes.number(4) != 6) {
        midi.error = "no MThd header";
        return midi;
    }
    bytes.number(2);  // format
    const uint32_t tracks = bytes.number(2);
    const uint32_t perQuarter = bytes.number(2);
    if (perQuarter == 0 || (perQuarter & 0x8000) != 0) {
        midi.error = "not counted in ticks per quarter note";
        return midi;
    }
    bool tempoSeen = false;
    int noteTrack = 0;
    for (uint32_t track = 0; track < tracks && bytes.ok; ++track) {
        if (bytes.number(4) != 0x4D54726B) {
            midi.error = "no MTrk chunk";
            return midi;
        }
        const uint32_t length = bytes.number(4);
        const size_t end = bytes.at + length;
        uint64_t tick = 0;
        int status = 0;
        std::map<int, std::vector<uint64_t>> sounding;  // channel * 128 + note -> onsets
        bool holdsNotes = false;
        while (bytes.ok && bytes.at < end) {
            tick += bytes.varying();
            int first = bytes.byte();
            if (first == 0xFF) {
                const int type = bytes.byte();
                const uint32_t length = bytes.varying();
                if (type == 0x51 && length == 3 && !tempoSeen) {
                    midi.quartersPerMinute = 60e6 / bytes.number(3);
                    tempoSeen = true;
                } else {
                    bytes.at += length;
                }
                continue;
            }
            if (first == 0xF0 || first == 0xF7) {
                bytes.at += bytes.varying();
                continue;
            }
            if (first & 0x80) {
                status = first;
                first = bytes.byte();
            }
            const int kind = status & 0xF0;
            const int second = kind == 0xC0 || kind == 0xD0 ? 0 : bytes.byte();
            const int id = (status & 0x0F) * 128 + first;
            if (kind == 0x90 && second > 0) {
                sounding[id].push_back(tick);
            } else if ((kind == 0x80 || kind == 0x90) && !sounding[id].empty()) {
                const uint64_t onset = sounding[id].front();
                sounding[id].erase(sounding[id].begin());
                midi.notes.push_back({noteTrack, first - 21,
                                      static_cast<double>(onset) / perQuarter,
                                      static_cast<double>(tick) / perQuarter});
                holdsNotes = true;
            }
        }
        bytes.at = end;
        noteTrack += holdsNotes ? 1 : 0;
    }
    if (!bytes.ok) {
        midi.error = "the file ends inside an event";
    }
    return midi;
}

// The notes the strict reader put in the grids, in quarter notes.
std::vector<PlayedNote> gridNotes() {
    std::vector<PlayedNote> notes;
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
        std::map<int, size_t> open;  // key -> first tick
        for (size_t t = 0; t < grid.size(); ++t) {
            for (const NoteSlot& slot : grid[t].slot) {
                if (slot.key < 0) {
                    continue;
                }
                open.emplace(slot.key, t);  // kept when the note already sounds
                if (slot.lastTick == 1) {
                    notes.push_back({hand, slot.key,
                                     static_cast<double>(open[slot.key]) / divisions,
                                     static_cast<double>(t + 1) / divisions});
                    open.erase(slot.key);
                }
            }
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

double firstSoundTempo(const std::string& xml) {
    pugi::xml_document document;
    document.load_buffer(xml.data(), xml.size());
    const pugi::xpath_node sound = document.select_node("//sound[@tempo]");
    return sound ? sound.node().attribute("tempo").as_double() : -1.0;
}

std::string describe(const PlayedNote& n) {
    std::ostringstream text;
    text << (n.hand == 0 ? "right" : "left") << " key " << n.key << " " << n.onset << ".." << n.end;
    return text.str();
}

}  // namespace

TEST(RealScores, EveryExportPlaysTheNotesOfItsMidiExport) {
    const std::string dir = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/real/";
    // The MIDI export ends each note a tick (1/480 of a quarter) early: a fiftieth of a quarter
    // is far below any written value and far above that tick.
    constexpr double kTolerance = 0.02;
    int compared = 0;
    for (const char* piece : {"scales", "chords", "twovoices", "clefchange", "ties", "tuplets",
                              "pickup", "divisions", "twoparts"}) {
        Midi midi = readMidi(dir + piece + ".mid");
        ASSERT_EQ(midi.error, "") << piece;
        ASSERT_FALSE(midi.notes.empty()) << piece;
        std::sort(midi.notes.begin(), midi.notes.end());
        for (const char* extension : {".mxl", ".musicxml"}) {
            const std::string path = dir + piece + extension;
            SCOPED_TRACE(path);
            PrepareResult prepared;
            ASSERT_TRUE(prepareScore(path, PrepareOptions{}, &prepared)) << prepared.error;
            rightNotes.clear();
            leftNotes.clear();
            currentTick = -1;
            divisions = 0;
            testing::internal::CaptureStdout();
            const int32_t result =
                loadScoreFromBuffer(prepared.xml.data(), prepared.xml.size(), path.c_str());
            const std::string out = testing::internal::GetCapturedStdout();
            ASSERT_EQ(result, 0) << out;

            const std::vector<PlayedNote> read = gridNotes();
            ASSERT_EQ(read.size(), midi.notes.size());
            for (size_t i = 0; i < read.size(); ++i) {
                const PlayedNote& a = read[i];
                const PlayedNote& b = midi.notes[i];
                EXPECT_TRUE(a.hand == b.hand && a.key == b.key &&
                            std::fabs(a.onset - b.onset) < kTolerance &&
                            std::fabs(a.end - b.end) < kTolerance)
                    << "read " << describe(a) << ", MIDI " << describe(b);
            }
            EXPECT_NEAR(firstSoundTempo(prepared.xml), midi.quartersPerMinute, 0.01);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 18);
}
