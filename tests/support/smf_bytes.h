#pragma once

// Standard MIDI Files made byte by byte for tests, without the library the program reads them
// with: tracks of (tick, raw event bytes) in order, delta times and an end of track added.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SmfTrack {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> events;  // absolute ticks, in order
    void add(uint32_t tick, std::vector<uint8_t> bytes) { events.push_back({tick, bytes}); }
    void note(uint32_t on, uint32_t off, int midiKey, int velocity, int channel = 0) {
        add(on, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(midiKey),
                 static_cast<uint8_t>(velocity)});
        add(off, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(midiKey), 0});
    }
    void name(const std::string& text) {
        std::vector<uint8_t> bytes = {0xFF, 0x03, static_cast<uint8_t>(text.size())};
        bytes.insert(bytes.end(), text.begin(), text.end());
        add(0, bytes);
    }
    void tempo(uint32_t tick, uint32_t microsPerQuarter) {
        add(tick,
            {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsPerQuarter >> 16),
             static_cast<uint8_t>(microsPerQuarter >> 8), static_cast<uint8_t>(microsPerQuarter)});
    }
    void signature(uint32_t tick, int beats, int power) {
        add(tick,
            {0xFF, 0x58, 0x04, static_cast<uint8_t>(beats), static_cast<uint8_t>(power), 24, 8});
    }
};

inline void putNumber(std::string* out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

inline void putVarying(std::string* out, uint32_t value) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    for (int i = count - 1; i >= 0; --i) {
        out->push_back(static_cast<char>(groups[i] | (i > 0 ? 0x80 : 0)));
    }
}

// Events of a track are sorted by tick (stable) before writing.
inline std::string smfBytes(int format, int ppqn, std::vector<SmfTrack> tracks) {
    std::string out = "MThd";
    putNumber(&out, 6, 4);
    putNumber(&out, static_cast<uint32_t>(format), 2);
    putNumber(&out, static_cast<uint32_t>(tracks.size()), 2);
    putNumber(&out, static_cast<uint32_t>(ppqn), 2);
    for (SmfTrack& track : tracks) {
        std::stable_sort(track.events.begin(), track.events.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string body;
        uint32_t at = 0;
        for (const auto& event : track.events) {
            putVarying(&body, event.first - at);
            at = event.first;
            body.append(event.second.begin(), event.second.end());
        }
        putVarying(&body, 0);
        body += "\xFF\x2F";
        body.push_back('\0');
        out += "MTrk";
        putNumber(&out, static_cast<uint32_t>(body.size()), 4);
        out += body;
    }
    return out;
}
