#pragma once

// The fault-injection hook of an I/O layer: the layer counts each fallible call it is about to
// make, and a test that sets failAt makes the call with that number fail as the library or the
// system would, so that every failure path can be walked one call at a time. The program leaves
// failAt at 0. Each layer owns one counter (the DOM, the archive reader, the synthesiser, the
// exporter); a layer whose calls come from several threads counts under its own lock.
struct FaultCounter {
    long made = 0;    // fallible calls made so far
    long failAt = 0;  // the call with this 1-based number fails; 0 none

    // Counts one fallible call; true when the hook wants it to fail instead.
    bool fails() {
        ++made;
        return failAt != 0 && made == failAt;
    }
};
