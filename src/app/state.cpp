#include "app/state.h"

#include "fingering/planner.h"
#include "score/musicxml_reader.h"

int startUp(int argc, char** argv) {
    setStartValues();
    if (loadScore(argc, argv) != 0) {
        return -1;
    }
    createKeyStates();
    planRightHand();
    planLeftHand();
    return 0;
}
