#!/usr/bin/env python3
"""Reads a MusicXML score the way Quorvel's reader does and reports everything that would
stop it or make the performance look wrong.

It follows the reader's own rules: find the piano in the part list, take the staff numbers
of the G and F clefs, place every note when its staff element is met (a chord note first
moves the cursor back by its own duration), let backup and forward move the cursor, and give
each hand at most five notes per tick. On top of that it checks what makes the score pleasant
to watch: keys inside 1..87, no key held twice by one hand, chords that a hand can span, and
voices that fill their measure so both hands stay in step.

Usage: python3 debug/check_sonata.py [--dump grid.txt] [score.xml]   (default: the sonata)
With --dump it also writes the two grids as the reader should leave them, one tick a line.
Exit status 0 when the score is clean, 1 otherwise.
"""

import os
import re
import sys
import xml.etree.ElementTree as ET

PIANO_NAMES = ("acoustic grand piano", "grand piano", "piano")
STEP_OFFSET = {"c": 1, "d": 3, "e": 5, "f": 6, "g": 8, "a": 10, "b": 12}
SLOTS = 5
WIDEST_SPAN = 12  # keys from lowest to highest note one hand holds at once
INT_TEXT = re.compile(r"^(0|-?[1-9][0-9]*)$")


def keys_of(slots):
    """The keys held in one tick record, empty slots left out."""
    return [k for k, _ in slots if k != -1]


class Checker:
    def __init__(self):
        self.problems = []
        # Per tick, five [key, lastTick] slots, filled as the reader fills them.
        self.right = []
        self.left = []
        self.current = -1
        self.divisions = 0
        self.g_staff = None
        self.f_staff = None
        self.measure = 0

    def problem(self, text):
        self.problems.append("measure %d: %s" % (self.measure, text))

    def to_int(self, text):
        text = text if text is not None else ""
        if INT_TEXT.match(text) and -2 <= int(text) <= 4999:
            return int(text)
        self.problem("the reader cannot convert %r to an integer" % text)
        return -1

    # ---- the reader's placing rules ----

    def place(self, hand, key, duration, chord):
        grid = self.right if hand == "right" else self.left
        other = self.left if hand == "right" else self.right
        if chord:
            self.current -= duration
        for i in range(max(duration, 0)):
            slot = [key, 1 if i == duration - 1 else 0]
            t = self.current + 1
            if t == len(self.right):
                grid.append([slot] + [[-1, 1] for _ in range(SLOTS - 1)])
                other.append([[-1, 1] for _ in range(SLOTS)])
            elif 0 <= t < len(self.right):
                free = [s for s in grid[t] if s[0] == -1]
                if not free:
                    self.problem("not enough fingers (%s hand) at tick %d" % (hand, t))
                    return False
                free[0][:] = slot
            else:
                self.problem("hand count overflow at tick %d" % t)
                return False
            self.current += 1
        return True

    def forward(self, n):
        for _ in range(max(n, 0)):
            t = self.current + 1
            if t == len(self.right):
                self.right.append([[-1, 1] for _ in range(SLOTS)])
                self.left.append([[-1, 1] for _ in range(SLOTS)])
            elif not 0 <= t < len(self.right):
                self.problem("hand count overflow: forward declaration at tick %d" % t)
                return False
            self.current += 1
        return True

    def read_note(self, note, last_in_voice):
        key, chord, duration, grace = -1, False, 0, False
        for child in note:
            name = child.tag.lower()
            if name == "grace":
                grace = True
            elif name == "pitch":
                for p in child:
                    pname = p.tag.lower()
                    if pname == "step":
                        key = STEP_OFFSET.get((p.text or "").lower(), -1)
                        if key == -1:
                            self.problem("bad step %r" % p.text)
                    elif pname == "alter":
                        key += self.to_int(p.text)
                    elif pname == "octave":
                        key += 12 * (self.to_int(p.text) - 1) + 2
            elif name == "chord":
                chord = True
            elif name == "duration":
                duration = self.to_int(child.text)
            elif name == "staff":
                return self.place_note(note, child.text, key, chord, duration, grace,
                                       last_in_voice)
        self.problem("a note without a staff element is never placed")
        return True

    def place_note(self, note, staff, key, chord, duration, grace, last_in_voice):
        has_pitch = note.find("pitch") is not None
        if staff == self.g_staff:
            hand = "right"
        elif staff == self.f_staff:
            hand = "left"
        else:
            self.problem("unexpected clef: staff %r" % staff)
            return False
        if has_pitch and not 1 <= key <= 87:
            self.problem("key %d is outside 1..87" % key)
        if grace and duration != 0:
            self.problem("a grace note with a duration")
        if not grace and duration <= 0:
            self.problem("a note without a duration")
        if chord and last_in_voice is not None and last_in_voice != duration:
            self.problem("a chord note of %d ticks after a note of %d" % (duration,
                                                                        last_in_voice))
        return self.place(hand, key if has_pitch else -1, duration, chord)

    # ---- walking the document ----

    def find_piano(self, root):
        part_list = next(root.iter("part-list"), None)
        if part_list is None or len(part_list) == 0:
            self.problem("no part list")
            return None
        for entry in part_list:
            if entry.get("id") is None:
                self.problem("a part-list entry without id before the piano")
                return None
            for child in entry:
                if child.tag.lower() != "score-instrument":
                    continue
                if len(child) == 0 or (child.text or "").strip():
                    self.problem("score-instrument's first child is not an element")
                    continue
                if (child[0].text or "").lower() in PIANO_NAMES:
                    if child[0].tag != "instrument-name":
                        self.problem("the piano's name is not in instrument-name")
                    return entry.get("id")
        self.problem("Piano Part ID could not be found")
        return None

    def attributes(self, attrs):
        for child in attrs:
            name = child.tag.lower()
            if name == "divisions":
                if self.divisions != 0:
                    self.problem("divisions already defined")
                    return False
                self.divisions = self.to_int(child.text)
            elif name == "clef":
                number = child.get("number")
                if number is None or len(child) == 0:
                    self.problem("a clef without number or sign")
                    return False
                sign = (child[0].text or "").upper()
                if sign == "F":
                    if self.f_staff is not None:
                        self.problem("duplicate F clef")
                        return False
                    self.f_staff = number
                elif sign == "G":
                    if self.g_staff is not None:
                        self.problem("duplicate G clef")
                        return False
                    self.g_staff = number
        return True

    def read_part(self, part):
        self.g_staff = self.f_staff = None
        for measure in part:
            if measure.tag.lower() != "measure":
                continue
            self.measure += 1
            measure_start = self.current
            last_in_voice = None
            for child in measure:
                name = child.tag.lower()
                if name == "note":
                    if not self.read_note(child, last_in_voice):
                        return False
                    if child.find("grace") is None:
                        last_in_voice = self.to_int(child.findtext("duration"))
                elif name in ("backup", "forward"):
                    n = self.to_int(child.findtext("duration"))
                    if name == "backup":
                        # Every voice fills its measure, so both hands stay in step.
                        measure_end = measure_start + 4 * max(self.divisions, 1)
                        if self.current != measure_end:
                            self.problem("a voice ends at tick %d, not at the measure's end %d"
                                         % (self.current, measure_end))
                        self.current -= n
                        last_in_voice = None
                    elif not self.forward(n):
                        return False
                elif name == "attributes":
                    if not self.attributes(child):
                        return False
            measure_end = measure_start + 4 * max(self.divisions, 1)
            if self.current != measure_end:
                self.problem("the measure ends at tick %d, not %d" % (self.current, measure_end))
        return True

    def check_order(self, root):
        """The reader stops at staff: pitch, chord and duration must come before it."""
        for note in root.iter("note"):
            names = [c.tag for c in note]
            if "staff" not in names:
                continue
            before = names[: names.index("staff")]
            for needed in ("pitch", "rest", "chord", "duration"):
                if needed in names and needed not in before:
                    self.problem("%s after staff in a note" % needed)

    def check_hands(self):
        for hand, grid in (("right", self.right), ("left", self.left)):
            for t, slots in enumerate(grid):
                keys = keys_of(slots)
                if len(set(keys)) != len(keys):
                    self.problems.append("tick %d: the %s hand holds a key twice" % (t, hand))
                if keys and max(keys) - min(keys) > WIDEST_SPAN:
                    self.problems.append("tick %d: the %s hand spans %d keys"
                                         % (t, hand, max(keys) - min(keys) + 1))

    def run(self, path):
        root = ET.parse(path).getroot()
        piano = self.find_piano(root)
        if piano is None:
            return
        self.check_order(root)
        for part in root:
            if part.tag.lower() == "part" and part.get("id") == piano:
                if not self.read_part(part):
                    return
        self.check_hands()
        if self.divisions <= 0:
            self.problem("no divisions")


def write_grids(checker, path):
    """One line per tick: the right hand's five slots as key and lastTick, then the left
    hand's five."""
    with open(path, "w") as f:
        for r, l in zip(checker.right, checker.left):
            f.write(" ".join("%d %d" % (k, last) for k, last in r + l) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    args = sys.argv[1:]
    dump = None
    if len(args) >= 2 and args[0] == "--dump":
        dump = args[1]
        args = args[2:]
    path = args[0] if args else os.path.join(here, "OrlundePianoSonata.xml")
    checker = Checker()
    checker.run(path)
    for text in checker.problems:
        print("problem: " + text)
    ticks = len(checker.right)
    right_notes = sum(len(keys_of(s)) for s in checker.right)
    left_notes = sum(len(keys_of(s)) for s in checker.left)
    print("measures: %d" % checker.measure)
    print("ticks: %d (right hand %d, left hand %d records)"
          % (ticks, len(checker.right), len(checker.left)))
    print("Total duration: %d" % checker.current)
    print("Divisions : %d" % checker.divisions)
    if checker.divisions:
        print("Quarter Note Count : %f" % (checker.current / checker.divisions))
    all_keys = [k for grid in (checker.right, checker.left) for s in grid for k in keys_of(s)]
    if all_keys:
        print("keys used: %d..%d; note-ticks: right %d, left %d"
              % (min(all_keys), max(all_keys), right_notes, left_notes))
    print("most notes in one tick: right %d, left %d"
          % (max((len(keys_of(s)) for s in checker.right), default=0),
             max((len(keys_of(s)) for s in checker.left), default=0)))
    if dump:
        write_grids(checker, dump)
    print("OK" if not checker.problems else "%d problem(s)" % len(checker.problems))
    sys.exit(1 if checker.problems else 0)


if __name__ == "__main__":
    main()
