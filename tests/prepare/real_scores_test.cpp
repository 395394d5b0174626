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
#include "support/grid_quarters.h"
#include "support/midi_notes.h"

namespace {

// The notes of a standard MIDI file per track, and its first tempo.
struct Midi {
    std::vector<PlayedNote> notes;  // hand: the index of the track among those holding notes
    double quartersPerMinute = 120.0;
    std::string error;
};

Midi readMidi(const std::string& path) {
    const MidiFile file = readMidiFile(path);
    Midi midi;
    midi.quartersPerMinute = file.quartersPerMinute;
    midi.error = file.error;
    for (const MidiNote& note : file.notes) {
        midi.notes.push_back({note.track, note.key, note.onset, note.end});
    }
    return midi;
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
                              "pickup", "divisions", "twoparts", "crossstaff"}) {
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

            const std::vector<PlayedNote> read = gridNotesInQuarters();
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
    EXPECT_EQ(compared, 20);
}
