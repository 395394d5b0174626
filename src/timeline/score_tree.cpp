#include "timeline/score_tree.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "timeline/piece_timing.h"

Piece pieceOfLoadedScore(const ScoreTreeReading& reading) {
    Piece piece = pieceFromClassicGrids(tempoOfTiming(reading.timing),
                                        measuresOfTiming(reading.timing), false);
    piece.title = reading.title;
    piece.composer = reading.composer;
    // A note takes the first finger written on it.
    std::map<std::tuple<int, int32_t, int32_t>, int> printed;
    for (const PrintedMark& mark : reading.printed) {
        printed.emplace(std::make_tuple(mark.hand, mark.tick, mark.key), mark.finger);
    }
    for (PieceNote& note : piece.notes) {
        const auto found = printed.find({note.hand, note.tick, note.key});
        if (found != printed.end()) {
            note.printedFinger = found->second;
        }
    }
    const std::vector<TiedOn>& tied = reading.timing.tiedOn;  // sorted
    for (PieceNote& note : piece.notes) {
        note.tiedOn = std::binary_search(tied.begin(), tied.end(), TiedOn{note.key, note.tick});
    }
    return piece;
}
