#include "timeline/piece_timing.h"

#include <algorithm>

ScoreTiming timingOfPiece(const Piece& piece) {
    ScoreTiming timing;
    timing.divisions = piece.divisions;
    for (const PieceTempo& tempo : piece.tempo) {
        timing.tempo.push_back(TempoChange{tempo.tick, tempo.quartersPerMinute});
    }
    if (timing.tempo.empty()) {
        timing.tempo.push_back(TempoChange{0, kDefaultQuartersPerMinute});
    }
    for (const PieceMeasure& measure : piece.measures) {
        timing.measures.push_back(MeasureStart{measure.number, measure.tick});
    }
    for (const PieceNote& note : piece.notes) {
        if (note.tiedOn && note.key >= 0 && note.key < 88) {
            timing.tiedOn.push_back(TiedOn{note.key, note.tick});
        }
    }
    std::sort(timing.tiedOn.begin(), timing.tiedOn.end());
    timing.endTick = piece.endTick;
    return timing;
}

std::vector<PieceTempo> tempoOfTiming(const ScoreTiming& timing) {
    std::vector<PieceTempo> tempo;
    for (const TempoChange& change : timing.tempo) {
        tempo.push_back(PieceTempo{change.tick, change.quartersPerMinute});
    }
    return tempo;
}

std::vector<PieceMeasure> measuresOfTiming(const ScoreTiming& timing) {
    Piece piece;
    piece.divisions = timing.divisions;
    piece.endTick = timing.endTick;
    for (const MeasureStart& start : timing.measures) {
        piece.measures.push_back(PieceMeasure{start.number, start.tick, 4, 4});
    }
    signaturesFromLengths(&piece);
    return piece.measures;
}
