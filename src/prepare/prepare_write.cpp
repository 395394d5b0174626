#include <algorithm>
#include <charconv>
#include <cstdio>
#include <queue>

#include "prepare/prepare_stages.h"

// Writing the prepared music: the strict-form document the reader loads, and the same music as
// a Piece.

namespace preparation {

namespace {

struct Writer {
    std::string out;

    void number(int64_t value) {
        char text[24];
        const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
        out.append(text, written.ptr);
    }
    // A backup or forward of `ticks`, split into steps the reader converts.
    void move(const char* element, int64_t ticks) {
        while (ticks > 0) {
            const int64_t step = std::min(ticks, kMaxValue);
            out += "<";
            out += element;
            out += "><duration>";
            number(step);
            out += "</duration></";
            out += element;
            out += ">\n";
            ticks -= step;
        }
    }
    // A note; a chord note starts and ends with the note written before it.
    void note(const Note& n, bool chord) {
        static const char* const kStep[12] = {"C", "C", "D", "D", "E", "F",
                                              "F", "G", "G", "A", "A", "B"};
        static const int kAlter[12] = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
        const int32_t midi = n.key + 21;
        out += chord ? "<note><chord/><pitch><step>" : "<note><pitch><step>";
        out += kStep[midi % 12];
        out += "</step>";
        if (kAlter[midi % 12] != 0) {
            out += "<alter>1</alter>";
        }
        out += "<octave>";
        number(midi / 12 - 1);
        out += "</octave></pitch><duration>";
        number(n.end - n.onset);
        out += "</duration>";
        if (n.tiedOn) {
            out += "<tie type=\"stop\"/>";
        }
        if (n.tiesOn) {
            out += "<tie type=\"start\"/>";
        }
        out += "<staff>";
        number(n.hand + 1);
        out += "</staff>";
        if (n.finger > 0 || n.tiedOn || n.tiesOn) {
            out += "<notations>";
            if (n.tiedOn) {
                out += "<tied type=\"stop\"/>";
            }
            if (n.tiesOn) {
                out += "<tied type=\"start\"/>";
            }
            if (n.finger > 0) {
                out += "<technical><fingering>";
                number(n.finger);
                out += "</fingering></technical>";
            }
            out += "</notations>";
        }
        out += "</note>\n";
    }
};

}  // namespace

Piece preparedPiece(const std::vector<Note>& notes, const std::vector<int64_t>& starts,
                    const std::vector<std::string>& numbers, const std::vector<Tempo>& tempo,
                    int64_t divisionsOut) {
    Piece piece;
    piece.divisions = static_cast<int32_t>(divisionsOut);
    piece.tempo.reserve(tempo.size());
    piece.measures.reserve(numbers.size());
    for (const Tempo& t : tempo) {
        piece.tempo.push_back(PieceTempo{static_cast<int32_t>(t.tick), t.quartersPerMinute});
    }
    for (size_t m = 0; m < numbers.size() && m + 1 < starts.size(); ++m) {
        piece.measures.push_back(PieceMeasure{numbers[m], static_cast<int32_t>(starts[m]), 4, 4});
    }
    piece.endTick = starts.empty() ? 0 : static_cast<int32_t>(starts.back());
    piece.notes.reserve(notes.size());
    for (const Note& n : notes) {
        PieceNote note;
        note.hand = n.hand;
        note.key = static_cast<int32_t>(n.key);
        note.tick = static_cast<int32_t>(n.onset);
        note.endTick = static_cast<int32_t>(n.end);
        note.printedFinger = n.finger;
        note.staff = n.hand + 1;
        note.tiedOn = n.tiedOn;
        piece.notes.push_back(note);
    }
    signaturesFromLengths(&piece);
    settlePiece(&piece);
    return piece;
}

std::string writeDocument(const std::vector<Note>& notes, const std::vector<int64_t>& starts,
                          const std::vector<std::string>& numbers, const std::vector<Tempo>& tempo,
                          int64_t divisionsOut) {
    Writer w;
    w.out.reserve(notes.size() * 120 + starts.size() * 64 + 1024);
    w.out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">\n"
        "<part-list><score-part id=\"P1\"><part-name>Piano</part-name><score-instrument "
        "id=\"P1-I1\"><instrument-name>Piano</instrument-name></score-instrument></score-part>"
        "</part-list>\n<part id=\"P1\">\n";
    const size_t measureCount = numbers.size();
    size_t next = 0;       // first note not yet written
    size_t nextTempo = 0;  // first tempo not yet written
    std::vector<const Note*> hand[2];
    for (size_t m = 0; m < measureCount; ++m) {
        const int64_t start = starts[m];
        const int64_t end = starts[m + 1];
        w.out += "<measure number=\"";
        appendEscaped(&w.out, numbers[m]);
        w.out += "\">\n";
        while (nextTempo < tempo.size() && (m + 1 == measureCount || tempo[nextTempo].tick < end)) {
            char q[64];
            std::snprintf(q, sizeof q, "%.10g", tempo[nextTempo].quartersPerMinute);
            w.out += "<direction><direction-type><words/></direction-type><offset>";
            w.number(tempo[nextTempo].tick - start);
            w.out += "</offset><sound tempo=\"";
            w.out += q;
            w.out += "\"/></direction>\n";
            ++nextTempo;
        }
        if (m == 0) {
            w.out += "<attributes><divisions>";
            w.number(divisionsOut);
            w.out +=
                "</divisions><staves>2</staves><clef number=\"1\"><sign>G</sign><line>2</line>"
                "</clef><clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>\n";
        }
        hand[0].clear();
        hand[1].clear();
        // A note belongs to the measure it starts in; the last measure takes what is left.
        while (next < notes.size() && (m + 1 == measureCount || notes[next].onset < end)) {
            hand[notes[next].hand].push_back(&notes[next]);
            ++next;
        }
        // Each hand's strokes (notes of one onset and one end, written as a chord) in lanes in
        // which no two strokes overlap; every lane starts at the measure's start, so the reader's
        // cursor walks each lane forward only.
        using Stroke = std::pair<const Note* const*, size_t>;  // first note, notes
        std::vector<std::vector<Stroke>> lanes;
        for (int h = 0; h < 2; ++h) {
            std::vector<const Note*>& mine = hand[h];
            std::stable_sort(mine.begin(), mine.end(), [](const Note* a, const Note* b) {
                return a->onset != b->onset ? a->onset < b->onset : a->end < b->end;
            });
            using Free = std::pair<int64_t, size_t>;  // lane end, lane
            std::priority_queue<Free, std::vector<Free>, std::greater<Free>> free;
            for (size_t k = 0; k < mine.size();) {
                size_t count = 1;
                while (k + count < mine.size() && mine[k + count]->onset == mine[k]->onset &&
                       mine[k + count]->end == mine[k]->end) {
                    ++count;
                }
                const Stroke stroke{&mine[k], count};
                const int64_t strokeEnd = mine[k]->end;
                if (!free.empty() && free.top().first <= mine[k]->onset) {
                    const size_t lane = free.top().second;
                    free.pop();
                    lanes[lane].push_back(stroke);
                    free.push({strokeEnd, lane});
                } else {
                    lanes.push_back({stroke});
                    free.push({strokeEnd, lanes.size() - 1});
                }
                k += count;
            }
        }
        if (lanes.empty()) {
            w.move("forward", end - start);
        }
        for (size_t l = 0; l < lanes.size(); ++l) {
            int64_t at = start;
            for (const Stroke& stroke : lanes[l]) {
                const Note& first = *stroke.first[0];
                w.move("forward", first.onset - at);
                for (size_t c = 0; c < stroke.second; ++c) {
                    w.note(*stroke.first[c], c > 0);
                }
                at = first.end;
            }
            if (l + 1 < lanes.size()) {
                w.move("backup", at - start);
            } else if (at <= end) {
                w.move("forward", end - at);
            } else {
                w.move("backup", at - end);
            }
        }
        w.out += "</measure>\n";
    }
    w.out += "</part>\n</score-partwise>\n";
    return std::move(w.out);
}

}  // namespace preparation
