#include "export/faults.h"

long exportCallsMade = 0;
long exportFailCallNumber = 0;

bool exportCallFails() {
    ++exportCallsMade;
    return exportFailCallNumber != 0 && exportCallsMade == exportFailCallNumber;
}
