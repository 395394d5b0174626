#include "export/faults.h"

#include <mutex>

long exportCallsMade = 0;
long exportFailCallNumber = 0;

namespace {
// The drawing and the encoding thread both make fallible calls: each call counts exactly once.
std::mutex counting;
}  // namespace

bool exportCallFails() {
    std::lock_guard<std::mutex> lock(counting);
    ++exportCallsMade;
    return exportFailCallNumber != 0 && exportCallsMade == exportFailCallNumber;
}
