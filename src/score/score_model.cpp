#include "score/score_model.h"

std::vector<NoteEvent> rightNotes;
std::vector<NoteEvent> leftNotes;

int32_t currentTick = -1;
int32_t divisions = 0;
int32_t scanLength = 0;
