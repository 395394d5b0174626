#include "midi/midi_file.h"

#include <smf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "midi/hand_split.h"

// Sections: libsmf's messages; reading (events, time resolution, measures, hands); writing;
// key names.

namespace {
// MIDI note numbers of the piano's lowest key and the drum channel (10, counted from 1).
constexpr int kLowestMidiNote = 21;
constexpr int kDrumChannel = 9;
constexpr int kSustainController = 64;
// Grids longer than this would take hundreds of megabytes: a file that needs more is refused.
constexpr int64_t kLongestGrid = 8000000;
// libsmf counts ticks in an int: a track stays well within it.
constexpr int64_t kLongestTrack = int64_t{1} << 30;
// Largest ticks per quarter note a file can state.
constexpr int kLargestPpqn = 32767;

// ---- libsmf's messages ----

// libsmf reports through GLib's log; while it works we keep its first complaint as the reason
// rather than letting it print, so a bad file gives one line of ours.
struct LibraryMessages {
    std::string first;
    GLogFunc previous = nullptr;
    gpointer previousData = nullptr;

    static void keep(const gchar*, GLogLevelFlags level, const gchar* message, gpointer self) {
        LibraryMessages* messages = static_cast<LibraryMessages*>(self);
        if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0 &&
            messages->first.empty() && message != nullptr) {
            messages->first = message;
        }
    }
    LibraryMessages() { previous = g_log_set_default_handler(keep, this); }
    ~LibraryMessages() { g_log_set_default_handler(previous, previousData); }
    std::string reason() const {
        std::string text = first.empty() ? "the file is malformed" : first;
        std::replace(text.begin(), text.end(), '\n', ' ');
        while (!text.empty() && (text.back() == '.' || text.back() == ' ')) {
            text.pop_back();
        }
        return text;
    }
};

// libsmf deletes a track's events one by one, each found by a scan of the track's array from
// its start: quadratic, minutes for a long file. The events (a malloc'ed record holding a
// malloc'ed message) are freed here in one pass and the arrays emptied before smf_delete.
struct SmfDeleter {
    void operator()(smf_t* smf) const {
        for (int t = 1; t <= smf->number_of_tracks; ++t) {
            smf_track_t* track = smf_get_track_by_number(smf, t);
            if (track == nullptr || track->events_array == nullptr) {
                continue;
            }
            for (guint i = 0; i < track->events_array->len; ++i) {
                smf_event_t* event =
                    static_cast<smf_event_t*>(g_ptr_array_index(track->events_array, i));
                free(event->midi_buffer);
                free(event);
            }
            g_ptr_array_set_size(track->events_array, 0);
            track->number_of_events = 0;
        }
        smf_delete(smf);
    }
};
using SmfHandle = std::unique_ptr<smf_t, SmfDeleter>;

// ---- Reading ----

struct RawNote {
    int track;
    int channel;
    int midiKey;
    int velocity;
    int64_t on;
    int64_t off;  // -1 while sounding
};

struct RawTempo {
    int64_t pulse;
    int microsPerQuarter;
};

struct RawSignature {
    int64_t pulse;
    int beats;
    int beatType;
};

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// The hand a track's name gives: 0 right, 1 left, -1 none.
int handOfName(const std::string& name) {
    const std::string text = lowered(name);
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    for (std::string w : words) {
        while (!w.empty() && w.back() == '.') {
            w.pop_back();
        }
        if (w == "right" || w == "rh" || w == "r.h" || w == "treble" || w == "upper") {
            return 0;
        }
        if (w == "left" || w == "lh" || w == "l.h" || w == "bass" || w == "lower") {
            return 1;
        }
    }
    return -1;
}

int64_t gcd64(int64_t a, int64_t b) {
    return std::gcd(a < 0 ? -a : a, b < 0 ? -b : b);
}

// The measures the time signatures make, as pulses of their starts, up to `end`.
std::vector<std::pair<int64_t, RawSignature>> measureStarts(
    const std::vector<RawSignature>& signatures, int ppqn, int64_t end) {
    std::vector<std::pair<int64_t, RawSignature>> starts;
    for (size_t i = 0; i < signatures.size(); ++i) {
        const RawSignature& sig = signatures[i];
        const int64_t until = i + 1 < signatures.size() ? signatures[i + 1].pulse : end;
        const double length = 4.0 * ppqn * sig.beats / sig.beatType;
        for (int64_t n = 0;; ++n) {
            const int64_t at = sig.pulse + std::llround(static_cast<double>(n) * length);
            // The first signature always makes a first measure, even of an empty piece.
            if (at >= until && !(n == 0 && i == 0)) {
                break;
            }
            starts.push_back({at, sig});
            if (static_cast<int64_t>(starts.size()) > kLongestGrid) {
                return starts;
            }
        }
    }
    return starts;
}

// Text of a meta event, or "".
std::string eventText(smf_event_t* event) {
    char* text = smf_event_extract_text(event);
    if (text == nullptr) {
        return "";
    }
    std::string out(text);
    free(text);
    return out;
}

// libsmf trusts the structure of what it parses (a track without its end, or an event running
// past its chunk, stops it on an assertion), so the chunks and events are walked once here,
// within bounds, before it sees them. "" when the file holds together, else why not.
std::string structureFault(const std::string& bytes) {
    const size_t size = bytes.size();
    auto byteAt = [&](size_t at) { return static_cast<unsigned char>(bytes[at]); };
    auto number = [&](size_t at, int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 8) | byteAt(at + static_cast<size_t>(i));
        }
        return value;
    };
    const uint32_t headerLength = number(4, 4);
    if (headerLength < 6 || headerLength > size - 8) {
        return "the header chunk is cut short";
    }
    const uint32_t tracks = number(10, 2);
    if (tracks == 0) {
        return "the header names no track";
    }
    if (number(8, 2) == 0 && tracks != 1) {
        return "a format 0 file holds one track, not " + std::to_string(tracks);
    }
    size_t at = 8 + headerLength;
    uint32_t found = 0;
    while (found < tracks) {
        if (size - at < 8) {
            return "the file ends before track " + std::to_string(found + 1) + " of " +
                   std::to_string(tracks);
        }
        const uint32_t length = number(at + 4, 4);
        const bool track = bytes.compare(at, 4, "MTrk") == 0;
        at += 8;
        if (length > size - at) {
            return "track " + std::to_string(found + 1) + " is cut short";
        }
        const size_t end = at + length;
        if (!track) {
            at = end;  // a chunk of another kind is skipped
            continue;
        }
        ++found;
        const std::string where = "track " + std::to_string(found) + ": ";
        int running = 0;
        bool ended = false;
        auto varying = [&](size_t* p, uint32_t* value) {
            *value = 0;
            for (int i = 0; i < 4 && *p < end; ++i) {
                const unsigned char b = byteAt((*p)++);
                *value = (*value << 7) | (b & 0x7F);
                if ((b & 0x80) == 0) {
                    return true;
                }
            }
            return false;
        };
        size_t p = at;
        int64_t trackTicks = 0;
        while (p < end && !ended) {
            uint32_t delta = 0;
            if (!varying(&p, &delta) || p >= end) {
                return where + "an event is cut short";
            }
            trackTicks += delta;
            if (trackTicks > kLongestTrack) {
                return where + "it lasts more ticks than a file can count";
            }
            unsigned char status = byteAt(p);
            if (status == 0xF7) {
                return where + "an escaped system-exclusive message (F7), which is not supported";
            }
            if (status == 0xFF || status == 0xF0) {
                ++p;
                if (status == 0xFF) {
                    if (p >= end) {
                        return where + "a meta event is cut short";
                    }
                    ended = byteAt(p) == 0x2F;
                    ++p;
                }
                uint32_t length = 0;
                if (!varying(&p, &length) || length > end - p) {
                    return where + "an event is cut short";
                }
                p += length;
                running = 0;  // libsmf takes no running status across these
                continue;
            }
            if (status >= 0xF0) {
                return where + "a system message that a file cannot hold";
            }
            if (status >= 0x80) {
                running = status;
                ++p;
            } else if (running == 0) {
                return where + "data without a status byte";
            }
            const int kind = running & 0xF0;
            const size_t data = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
            if (data > end - p) {
                return where + "an event is cut short";
            }
            for (size_t i = 0; i < data; ++i) {
                if (byteAt(p + i) >= 0x80) {
                    return where + "a data byte out of range";
                }
            }
            p += data;
        }
        if (!ended) {
            return where + "no end of track";
        }
        at = end;
    }
    return "";
}
}  // namespace

bool looksLikeMidi(const std::string& path, const std::string& bytes) {
    if (bytes.size() >= 4 && bytes.compare(0, 4, "MThd") == 0) {
        return true;
    }
    const std::string name = lowered(path);
    auto endsWith = [&](const char* tail) {
        const std::string t(tail);
        return name.size() >= t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0;
    };
    return endsWith(".mid") || endsWith(".midi");
}

bool readMidi(const std::string& bytes, const MidiReadOptions& options, Piece* piece,
              MidiReadReport* report, std::string* error) {
    *piece = Piece();
    if (bytes.size() < 14 || bytes.compare(0, 4, "MThd") != 0) {
        *error = "not a Standard MIDI File (no MThd header)";
        return false;
    }
    const int format =
        (static_cast<unsigned char>(bytes[8]) << 8) | static_cast<unsigned char>(bytes[9]);
    const int division =
        (static_cast<unsigned char>(bytes[12]) << 8) | static_cast<unsigned char>(bytes[13]);
    if (format == 2) {
        *error = "a format 2 MIDI file (independent sequences) cannot be played as one piece";
        return false;
    }
    if (format > 2) {
        *error = "unknown MIDI file format " + std::to_string(format);
        return false;
    }
    if ((division & 0x8000) != 0) {
        *error = "the file counts time in SMPTE frames, not in ticks per quarter note";
        return false;
    }
    if (division == 0) {
        *error = "the file states zero ticks per quarter note";
        return false;
    }
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
        *error = "the file is too large";
        return false;
    }
    const std::string fault = structureFault(bytes);
    if (!fault.empty()) {
        *error = "malformed MIDI file: " + fault;
        return false;
    }
    SmfHandle smf;
    {
        LibraryMessages messages;
        smf.reset(smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size())));
        if (!smf) {
            *error = "malformed MIDI file: " + messages.reason();
            return false;
        }
    }
    const int ppqn = smf->ppqn;

    // Events in time order over all tracks.
    std::vector<RawNote> raw;
    std::map<std::tuple<int, int, int>, std::vector<size_t>> sounding;  // FIFO per key
    std::map<int, std::string> trackNames;
    std::vector<PiecePedal> pedal;
    size_t drumNotes = 0;
    int64_t lastPulse = 0;
    {
        LibraryMessages messages;
        // Track by track, each in its own order (notes pair within their track, and the pedal
        // is put in time order below): libsmf's merged walk over all tracks slows down on long
        // files, its arrays of events do not.
        std::vector<smf_event_t*> events;
        for (int t = 1; t <= smf->number_of_tracks; ++t) {
            smf_track_t* track = smf_get_track_by_number(smf.get(), t);
            for (int e = 1; track != nullptr && e <= track->number_of_events; ++e) {
                smf_event_t* event = smf_track_get_event_by_number(track, e);
                if (event != nullptr) {
                    events.push_back(event);
                }
            }
        }
        for (smf_event_t* event : events) {
            const unsigned char* data = event->midi_buffer;
            const int length = event->midi_buffer_length;
            const int64_t pulse = event->time_pulses;
            lastPulse = std::max(lastPulse, pulse);
            if (data == nullptr || length < 1) {
                continue;
            }
            if (data[0] == 0xFF) {
                if (length >= 2 && data[1] == 0x03 && trackNames.count(event->track_number) == 0) {
                    trackNames[event->track_number] = eventText(event);
                }
                continue;
            }
            const int status = data[0] & 0xF0;
            const int channel = data[0] & 0x0F;
            if (length < 3 || data[0] < 0x80 || data[0] >= 0xF0) {
                continue;
            }
            if (status == 0xB0 && data[1] == kSustainController && channel != kDrumChannel) {
                pedal.push_back(PiecePedal{static_cast<int32_t>(pulse), 0.0, data[2]});
                continue;
            }
            const bool on = status == 0x90 && data[2] > 0;
            const bool off = status == 0x80 || (status == 0x90 && data[2] == 0);
            if (!on && !off) {
                continue;
            }
            if (channel == kDrumChannel) {
                drumNotes += on ? 1 : 0;
                continue;
            }
            const auto where = std::make_tuple(event->track_number, channel, data[1] & 0x7F);
            if (on) {
                sounding[where].push_back(raw.size());
                raw.push_back(
                    RawNote{event->track_number, channel, data[1] & 0x7F, data[2], pulse, -1});
            } else {
                std::vector<size_t>& open = sounding[where];
                if (!open.empty()) {
                    raw[open.front()].off = pulse;
                    open.erase(open.begin());
                }
            }
        }
        if (!messages.first.empty()) {
            *error = "malformed MIDI file: " + messages.reason();
            return false;
        }
    }
    const int64_t songEnd = std::max<int64_t>(lastPulse, smf_get_length_pulses(smf.get()));
    size_t unended = 0;
    size_t offPiano = 0;
    std::vector<RawNote> played;
    for (RawNote& note : raw) {
        if (note.off < 0) {
            note.off = songEnd;
            ++unended;
        }
        if (note.off <= note.on) {
            note.off = note.on + 1;
        }
        const int key = note.midiKey - kLowestMidiNote;
        if (key < 0 || key >= 88) {
            ++offPiano;
            continue;
        }
        played.push_back(note);
    }
    if (played.empty()) {
        *error = drumNotes > 0 ? "the file has no notes to play but drums (channel 10)"
                               : "the file has no notes to play";
        return false;
    }

    // Tempo and time signatures, as libsmf collects them (one entry per change of either).
    std::vector<RawTempo> tempi;
    std::vector<RawSignature> signatures;
    for (int i = 0;; ++i) {
        smf_tempo_t* tempo = smf_get_tempo_by_number(smf.get(), i);
        if (tempo == nullptr) {
            break;
        }
        if (tempo->microseconds_per_quarter_note > 0 &&
            (tempi.empty() ||
             tempi.back().microsPerQuarter != tempo->microseconds_per_quarter_note)) {
            tempi.push_back(RawTempo{tempo->time_pulses, tempo->microseconds_per_quarter_note});
        }
        if (tempo->numerator > 0 && tempo->denominator > 0 &&
            (signatures.empty() || signatures.back().beats != tempo->numerator ||
             signatures.back().beatType != tempo->denominator)) {
            signatures.push_back(
                RawSignature{tempo->time_pulses, tempo->numerator, tempo->denominator});
        }
    }
    if (tempi.empty() || tempi.front().pulse != 0) {
        tempi.insert(tempi.begin(),
                     RawTempo{0, tempi.empty() ? 500000 : tempi.front().microsPerQuarter});
    }
    if (signatures.empty() || signatures.front().pulse != 0) {
        signatures.insert(signatures.begin(), RawSignature{0, 4, 4});
    }
    int64_t end = 0;
    for (const RawNote& note : played) {
        end = std::max(end, note.off);
    }
    const auto measures = measureStarts(signatures, ppqn, end);

    // Time resolution: the file's own ticks divided by what all times share, so onsets stay
    // exact; when that is still finer than a millisecond at the fastest tempo, ticks of about a
    // millisecond (every time rounded to the nearest, tempo segments keeping their length).
    int64_t shared = ppqn;
    for (const RawNote& note : played) {
        shared = gcd64(gcd64(shared, note.on), note.off);
    }
    for (const RawTempo& tempo : tempi) {
        shared = gcd64(shared, tempo.pulse);
    }
    for (const auto& measure : measures) {
        shared = gcd64(shared, measure.first);
    }
    int smallestMicros = tempi.front().microsPerQuarter;
    for (const RawTempo& tempo : tempi) {
        smallestMicros = std::min(smallestMicros, tempo.microsPerQuarter);
    }
    const int64_t exact = ppqn / std::max<int64_t>(shared, 1);
    const int64_t millisecond = std::max<int64_t>(1, (smallestMicros + 999) / 1000);
    const bool exactTicks = exact <= millisecond;
    const int64_t perQuarter = exactTicks ? exact : millisecond;
    auto tick = [&](int64_t pulse) -> int64_t {
        if (exactTicks) {
            return pulse / std::max<int64_t>(shared, 1);
        }
        return static_cast<int64_t>(std::llround(static_cast<double>(pulse) * perQuarter / ppqn));
    };
    if (tick(end) > kLongestGrid) {
        *error = "the piece is too long to play (more than " + std::to_string(kLongestGrid) +
                 " ticks of a millisecond)";
        return false;
    }
    piece->divisions = static_cast<int32_t>(perQuarter);
    for (size_t i = 0; i < tempi.size(); ++i) {
        const int64_t at = tick(tempi[i].pulse);
        double qpm = 60.0e6 / tempi[i].microsPerQuarter;
        if (!exactTicks && i + 1 < tempi.size()) {
            // The segment keeps its length in seconds on the rounded ticks.
            const double seconds = static_cast<double>(tempi[i + 1].pulse - tempi[i].pulse) / ppqn *
                                   tempi[i].microsPerQuarter / 1.0e6;
            const int64_t ticks = tick(tempi[i + 1].pulse) - at;
            if (ticks <= 0) {
                continue;
            }
            qpm = static_cast<double>(ticks) / perQuarter * 60.0 / seconds;
        }
        if (!piece->tempo.empty() && piece->tempo.back().tick == at) {
            piece->tempo.back().quartersPerMinute = qpm;
        } else {
            piece->tempo.push_back(PieceTempo{static_cast<int32_t>(at), qpm});
        }
    }
    for (size_t i = 0; i < measures.size(); ++i) {
        const int32_t at = static_cast<int32_t>(tick(measures[i].first));
        if (!piece->measures.empty() && piece->measures.back().tick >= at) {
            continue;
        }
        piece->measures.push_back(PieceMeasure{std::to_string(piece->measures.size() + 1), at,
                                               measures[i].second.beats,
                                               measures[i].second.beatType});
    }
    for (PiecePedal& event : pedal) {
        event.tick = static_cast<int32_t>(tick(event.tick));
    }
    std::stable_sort(pedal.begin(), pedal.end(),
                     [](const PiecePedal& a, const PiecePedal& b) { return a.tick < b.tick; });
    for (const PiecePedal& event : pedal) {
        // The same pedal stated on several channels at once is one pedal.
        if (!piece->pedal.empty() && piece->pedal.back().tick == event.tick &&
            piece->pedal.back().value == event.value) {
            continue;
        }
        piece->pedal.push_back(event);
    }
    if (smf->format == 1 && trackNames.count(1) != 0) {
        piece->title = trackNames[1];
    }

    // Notes, and their hands.
    std::map<std::pair<int, int>, std::vector<size_t>> groups;  // (track, channel) -> notes
    for (const RawNote& note : played) {
        PieceNote out;
        out.key = note.midiKey - kLowestMidiNote;
        out.tick = static_cast<int32_t>(tick(note.on));
        out.endTick = std::max<int32_t>(static_cast<int32_t>(tick(note.off)), out.tick + 1);
        out.velocity = std::clamp(note.velocity, 1, 127);
        out.voice = note.channel + 1;
        groups[{note.track, note.channel}].push_back(piece->notes.size());
        piece->notes.push_back(out);
    }
    std::vector<size_t> unsplit;
    std::string how;
    if (options.splitKey >= 0) {
        for (PieceNote& note : piece->notes) {
            note.hand = note.key >= options.splitKey ? 0 : 1;
        }
        how = "hands split at the key given";
    } else {
        std::vector<std::pair<std::pair<int, int>, int>> named;  // group -> hand by name
        std::vector<std::pair<int, int>> unnamed;
        for (const auto& group : groups) {
            const int hand = trackNames.count(group.first.first) != 0
                                 ? handOfName(trackNames[group.first.first])
                                 : -1;
            if (hand >= 0) {
                named.push_back({group.first, hand});
            } else {
                unnamed.push_back(group.first);
            }
        }
        for (const auto& group : named) {
            for (size_t i : groups[group.first]) {
                piece->notes[i].hand = group.second;
            }
        }
        auto meanKey = [&](const std::pair<int, int>& group) {
            double sum = 0.0;
            for (size_t i : groups[group]) {
                sum += piece->notes[i].key;
            }
            return sum / static_cast<double>(groups[group].size());
        };
        if (unnamed.empty()) {
            how = "hands from the track names";
        } else if (groups.size() == 2 && named.size() == 1) {
            for (size_t i : groups[unnamed.front()]) {
                piece->notes[i].hand = 1 - named.front().second;
            }
            how = "hands from the track names";
        } else if (groups.size() == 2 && unnamed.size() == 2) {
            const bool firstHigher = meanKey(unnamed[0]) >= meanKey(unnamed[1]);
            for (size_t g = 0; g < 2; ++g) {
                const int hand = (g == 0) == firstHigher ? 0 : 1;
                for (size_t i : groups[unnamed[g]]) {
                    piece->notes[i].hand = hand;
                }
            }
            how = "hands from the two tracks or channels, the higher one to the right hand";
        } else {
            for (const auto& group : unnamed) {
                unsplit.insert(unsplit.end(), groups[group].begin(), groups[group].end());
            }
            splitHands(&piece->notes, unsplit);
            how = "hands split by the hand planner";
        }
    }
    report->changes.push_back(how);
    if (drumNotes > 0) {
        report->changes.push_back(std::to_string(drumNotes) +
                                  " drum notes (channel 10) not played");
    }
    if (offPiano > 0) {
        report->changes.push_back(std::to_string(offPiano) +
                                  " notes outside the piano's keys left out");
    }
    if (unended > 0) {
        report->changes.push_back(std::to_string(unended) +
                                  " notes never let go, held to the end of the file");
    }
    if (!exactTicks) {
        report->changes.push_back(
            "times rounded to ticks of " +
            std::to_string(smallestMicros / 1000.0 / perQuarter).substr(0, 5) +
            " ms at the fastest tempo");
    }
    settlePiece(piece);
    return true;
}

// ---- Writing ----

namespace {
struct OutEvent {
    int32_t tick;
    int order;  // at one tick: note-offs, then the pedal, then note-ons
    std::vector<unsigned char> bytes;
};

bool addEvents(smf_track_t* track, std::vector<OutEvent>* events) {
    std::stable_sort(events->begin(), events->end(), [](const OutEvent& a, const OutEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    for (OutEvent& out : *events) {
        smf_event_t* event =
            smf_event_new_from_pointer(out.bytes.data(), static_cast<int>(out.bytes.size()));
        if (event == nullptr) {
            return false;
        }
        smf_track_add_event_pulses(track, event, out.tick);
    }
    return true;
}

void addName(std::vector<OutEvent>* events, const std::string& name) {
    OutEvent out{0, -1, {0xFF, 0x03}};
    const std::string text = name.substr(0, 127);
    out.bytes.push_back(static_cast<unsigned char>(text.size()));
    out.bytes.insert(out.bytes.end(), text.begin(), text.end());
    events->push_back(out);
}
}  // namespace

bool writeMidi(const Piece& piece, const std::string& path, std::string* error) {
    if (piece.divisions <= 0 || piece.divisions > kLargestPpqn) {
        *error = "a MIDI file counts at most 32767 ticks a quarter note, the piece has " +
                 std::to_string(piece.divisions);
        return false;
    }
    LibraryMessages messages;
    SmfHandle smf(smf_new());
    if (!smf || smf_set_format(smf.get(), 1) != 0 ||
        smf_set_ppqn(smf.get(), piece.divisions) != 0) {
        *error = "cannot start the MIDI file: " + messages.reason();
        return false;
    }
    std::vector<OutEvent> conductor;
    addName(&conductor, piece.title);
    for (const PieceTempo& tempo : piece.tempo) {
        const long micros = std::lround(60.0e6 / std::max(tempo.quartersPerMinute, 1e-3));
        const long value = std::clamp<long>(micros, 1, 0xFFFFFF);
        conductor.push_back(
            OutEvent{std::max(tempo.tick, 0),
                     0,
                     {0xFF, 0x51, 0x03, static_cast<unsigned char>(value >> 16),
                      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)}});
    }
    int lastBeats = 0;
    int lastType = 0;
    for (const PieceMeasure& measure : piece.measures) {
        if (measure.beats == lastBeats && measure.beatType == lastType) {
            continue;
        }
        int power = 0;
        while ((1 << power) < measure.beatType && power < 7) {
            ++power;
        }
        conductor.push_back(OutEvent{
            std::max(measure.tick, 0),
            1,
            {0xFF, 0x58, 0x04, static_cast<unsigned char>(std::clamp(measure.beats, 1, 255)),
             static_cast<unsigned char>(power), 24, 8}});
        lastBeats = measure.beats;
        lastType = measure.beatType;
    }
    std::vector<OutEvent> hands[2];
    addName(&hands[0], "Right hand");
    addName(&hands[1], "Left hand");
    for (const PieceNote& note : piece.notes) {
        const int hand = note.hand == 1 ? 1 : 0;
        const unsigned char key = static_cast<unsigned char>(note.key + kLowestMidiNote);
        const unsigned char velocity =
            static_cast<unsigned char>(std::clamp(note.velocity, 1, 127));
        hands[hand].push_back(OutEvent{note.tick, 2, {0x90, key, velocity}});
        hands[hand].push_back(OutEvent{note.endTick, 0, {0x80, key, 0}});
    }
    for (const PiecePedal& event : piece.pedal) {
        hands[0].push_back(OutEvent{event.tick,
                                    1,
                                    {0xB0, kSustainController,
                                     static_cast<unsigned char>(std::clamp(event.value, 0, 127))}});
    }
    for (std::vector<OutEvent>* events : {&conductor, &hands[0], &hands[1]}) {
        smf_track_t* track = smf_track_new();
        if (track == nullptr) {
            *error = "cannot make a MIDI track";
            return false;
        }
        smf_add_track(smf.get(), track);
        if (!addEvents(track, events)) {
            *error = "cannot make a MIDI event: " + messages.reason();
            return false;
        }
    }
    errno = 0;
    if (smf_save(smf.get(), path.c_str()) != 0) {
        // The system's reason when there is one (libsmf words a failed open as of an input).
        *error = errno != 0               ? std::strerror(errno)
                 : messages.first.empty() ? "cannot write the MIDI file"
                                          : messages.reason();
        return false;
    }
    return true;
}

// ---- Key names ----

int parseKeyName(const std::string& text) {
    if (text.empty()) {
        return -1;
    }
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        if (text.size() > 3) {
            return -1;
        }
        const int number = std::stoi(text);
        return number >= kLowestMidiNote && number < kLowestMidiNote + 88 ? number - kLowestMidiNote
                                                                          : -1;
    }
    static const int kSteps[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G') {
        return -1;
    }
    int semitone = kSteps[letter - 'A'];
    size_t at = 1;
    while (at < text.size() && (text[at] == '#' || text[at] == 'b')) {
        semitone += text[at] == '#' ? 1 : -1;
        ++at;
    }
    const std::string octave = text.substr(at);
    if (octave.empty() || octave.size() > 2 ||
        !std::all_of(octave.begin(), octave.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return -1;
    }
    const int number = (std::stoi(octave) + 1) * 12 + semitone;
    return number >= kLowestMidiNote && number < kLowestMidiNote + 88 ? number - kLowestMidiNote
                                                                      : -1;
}
