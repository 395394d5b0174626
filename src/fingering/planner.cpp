#include "fingering/planner.h"

HandPlan rightPlan;
HandPlan leftPlan;

// TODO(planner)
void planRightHand() {}
void planLeftHand() {}
