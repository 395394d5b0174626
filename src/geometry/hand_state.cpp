#include "geometry/hand_state.h"

HandState rightHand;
HandState leftHand;

HandPlan rightPlan;
HandPlan leftPlan;
