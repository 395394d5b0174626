#pragma once

// Helpers of the preparation tests: load a prepared document through the strict reader and read
// the notes back out of the grids it fills.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "prepare/prepare.h"
#include "score/score_support.h"

// A note as the grids hold it: from its first tick to the tick whose lastTick is 1.
struct GridNote {
    int32_t tick;
    int32_t length;
    int hand;
    int32_t key;
    bool operator==(const GridNote& o) const {
        return std::tie(tick, length, hand, key) == std::tie(o.tick, o.length, o.hand, o.key);
    }
    bool operator<(const GridNote& o) const {
        return std::tie(tick, hand, key, length) < std::tie(o.tick, o.hand, o.key, o.length);
    }
};

inline std::ostream& operator<<(std::ostream& out, const GridNote& n) {
    return out << "{tick " << n.tick << ", length " << n.length << ", hand " << n.hand << ", key "
               << n.key << "}";
}

// Every note of both grids, sorted. A key found twice in one record of a hand, or a note still
// sounding at the end, is a failure of the test.
inline std::vector<GridNote> notesInGrids() {
    std::vector<GridNote> notes;
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
        std::vector<int32_t> since(kKeyCount, -1);
        for (size_t t = 0; t < grid.size(); ++t) {
            std::vector<bool> seen(kKeyCount, false);
            for (const NoteSlot& slot : grid[t].slot) {
                if (slot.key == kNoKey) {
                    continue;
                }
                EXPECT_TRUE(slot.key >= 0 && slot.key < kKeyCount) << "key " << slot.key;
                if (slot.key < 0 || slot.key >= kKeyCount) {
                    continue;
                }
                EXPECT_FALSE(seen[slot.key]) << "key " << slot.key << " twice at tick " << t;
                seen[slot.key] = true;
                if (since[slot.key] < 0) {
                    since[slot.key] = static_cast<int32_t>(t);
                }
                if (slot.lastTick == 1) {
                    notes.push_back({since[slot.key], static_cast<int32_t>(t) - since[slot.key] + 1,
                                     hand, slot.key});
                    since[slot.key] = -1;
                }
            }
        }
        for (int32_t key = 0; key < kKeyCount; ++key) {
            EXPECT_EQ(since[key], -1) << "key " << key << " never let go";
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

struct LoadedPrepared {
    int result = -1;
    Captured output;
    std::vector<GridNote> notes;
};

// Loads the prepared document through the strict reader, from memory.
inline LoadedPrepared loadPrepared(const PrepareResult& prepared) {
    LoadedPrepared loaded;
    resetModel();
    loaded.output = capture([&] {
        loaded.result = loadScoreFromBuffer(prepared.xml.data(), prepared.xml.size(), nullptr);
    });
    if (loaded.result == 0) {
        loaded.notes = notesInGrids();
    }
    return loaded;
}

// The notes the preparation says the grids play.
inline std::vector<GridNote> reportedNotes(const PrepareResult& prepared) {
    std::vector<GridNote> notes;
    for (const PreparedNote& n : prepared.notes) {
        notes.push_back({n.tick, n.length, n.hand, n.key});
    }
    return notes;
}

// Key of a pitch name such as "C4", "F#5" or "Bb2".
inline int32_t keyOf(const std::string& name) {
    static const int kSemitone[] = {9, 11, 0, 2, 4, 5, 7};  // A..G
    int32_t key = kSemitone[name[0] - 'A'];
    size_t at = 1;
    for (; at < name.size() && (name[at] == '#' || name[at] == 'b'); ++at) {
        key += name[at] == '#' ? 1 : -1;
    }
    return key + 12 * std::stoi(name.substr(at)) - 9;
}

// An expected note, in a unit of the test's choosing per quarter note.
struct Want {
    const char* pitch;
    int onset;
    int length;
    int hand;
};

// Checks the document against what every prepared document promises: one piano part, one
// divisions, every duration and divisions within the reader's range, staves 1 or 2.
inline void expectStrictForm(const std::string& xml) {
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(xml.data(), xml.size()));
    pugi::xml_node root = document.child("score-partwise");
    ASSERT_TRUE(root);
    EXPECT_EQ(std::distance(root.child("part-list").children().begin(),
                            root.child("part-list").children().end()),
              1);
    EXPECT_STREQ(root.child("part-list").child("score-part").attribute("id").value(), "P1");
    EXPECT_EQ(std::distance(root.children("part").begin(), root.children("part").end()), 1);
    int divisionsStated = 0;
    for (pugi::xpath_node found : document.select_nodes("//divisions | //duration")) {
        const int value = found.node().text().as_int();
        EXPECT_TRUE(value >= 1 && value <= 4999) << found.node().name() << " " << value;
        divisionsStated += std::strcmp(found.node().name(), "divisions") == 0 ? 1 : 0;
    }
    EXPECT_EQ(divisionsStated, 1);
    for (pugi::xpath_node found : document.select_nodes("//note")) {
        const std::string staff = found.node().child("staff").text().get();
        EXPECT_TRUE(staff == "1" || staff == "2") << staff;
    }
}

// Loads the prepared score and compares the grids with `wants` (in `unit` per quarter note) and
// with the notes the preparation reported.
inline void expectMusic(const PrepareResult& prepared, int unit, const std::vector<Want>& wants) {
    expectStrictForm(prepared.xml);
    const LoadedPrepared loaded = loadPrepared(prepared);
    ASSERT_EQ(loaded.result, 0) << loaded.output.err << prepared.xml;
    EXPECT_EQ(loaded.notes, reportedNotes(prepared));
    std::vector<GridNote> inUnit;
    for (const GridNote& n : loaded.notes) {
        EXPECT_EQ(int64_t{n.tick} * unit % divisions, 0) << n;
        EXPECT_EQ(int64_t{n.length} * unit % divisions, 0) << n;
        inUnit.push_back({static_cast<int32_t>(int64_t{n.tick} * unit / divisions),
                          static_cast<int32_t>(int64_t{n.length} * unit / divisions), n.hand,
                          n.key});
    }
    std::sort(inUnit.begin(), inUnit.end());
    std::vector<GridNote> expected;
    for (const Want& w : wants) {
        expected.push_back({w.onset, w.length, w.hand, keyOf(w.pitch)});
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(inUnit, expected) << prepared.xml;
}

// The change line that starts with `start`, or "" when there is none.
inline std::string changeLine(const PrepareResult& prepared, const std::string& start) {
    for (const std::string& line : prepared.changes) {
        if (line.compare(0, start.size(), start) == 0) {
            return line;
        }
    }
    return "";
}
