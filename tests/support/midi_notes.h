#pragma once

// A small reader of standard MIDI files: every note of every track, in quarter notes. Enough to
// compare what a notation program plays with what our grids hold.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct MidiNote {
    int track;     // index of the track among those holding notes
    int key;       // MIDI pitch - 21
    double onset;  // quarter notes from the start
    double end;
};

struct MidiFile {
    std::vector<MidiNote> notes;
    int tracks = 0;                    // tracks holding notes
    double quartersPerMinute = 120.0;  // the first tempo event, MIDI's default without one
    std::string error;
};

struct MidiBytes {
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

inline MidiFile readMidiFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string data = buffer.str();
    MidiFile midi;
    MidiBytes bytes{data};
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
                    midi.quartersPerMinute = 60e6 / std::max<uint32_t>(1, bytes.number(3));
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
                midi.notes.push_back({midi.tracks, first - 21,
                                      static_cast<double>(onset) / perQuarter,
                                      static_cast<double>(tick) / perQuarter});
                holdsNotes = true;
            }
        }
        bytes.at = end;
        midi.tracks += holdsNotes ? 1 : 0;
    }
    if (!bytes.ok) {
        midi.error = "the file ends inside an event";
    }
    return midi;
}
