#include "export/faults.h"

#include <mutex>

FaultCounter exportFaults;
long& exportCallsMade = exportFaults.made;
long& exportFailCallNumber = exportFaults.failAt;

namespace {
// The drawing and the encoding thread both make fallible calls: each call counts exactly once.
std::mutex counting;
}  // namespace

bool exportCallFails() {
    std::lock_guard<std::mutex> lock(counting);
    return exportFaults.fails();
}
