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
    std::vector<PieceMeasure> measures;
    const int32_t perQuarter = std::max<int32_t>(timing.divisions, 1);
    for (size_t i = 0; i < timing.measures.size(); ++i) {
        PieceMeasure measure;
        measure.number = timing.measures[i].number;
        measure.tick = timing.measures[i].tick;
        const int32_t end =
            i + 1 < timing.measures.size() ? timing.measures[i + 1].tick : timing.endTick;
        const int64_t length = std::max<int64_t>(end - measure.tick, 0);
        measure.beats = 4;
        measure.beatType = 4;
        for (int type : {4, 8, 16}) {
            if (length > 0 && (length * type) % (4 * perQuarter) == 0) {
                measure.beats = static_cast<int>(length * type / (4 * perQuarter));
                measure.beatType = type;
                break;
            }
        }
        if (measure.beats < 1 || measure.beats > 255) {
            measure.beats = 4;
            measure.beatType = 4;
        }
        measures.push_back(measure);
    }
    return measures;
}
