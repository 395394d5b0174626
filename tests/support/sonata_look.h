// The bundled sonata as the new look performs it: loaded into the classic grids and planned,
// its timing read from the document, the hands' motion planned; the common set-up of the look's
// tests over a real score.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "geometry/key_layout.h"
#include "look/look_frame.h"
#include "support/classic_load.h"
#include "timeline/timeline.h"

inline ::testing::AssertionResult sonataLookPerformance(LookPerformance* performance) {
    buildKeyLayout();
    const std::string document = documentAt(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml");
    if (loadAndPlanClassic(document) != 0) {
        return ::testing::AssertionFailure() << "the bundled sonata does not load";
    }
    ScoreTiming timing;
    std::string error;
    if (!readScoreTiming(document.data(), document.size(), &timing, &error)) {
        return ::testing::AssertionFailure() << error;
    }
    *performance = lookPerformanceOf(buildTimeline(timing, TimelineOptions()), document);
    return ::testing::AssertionSuccess();
}
