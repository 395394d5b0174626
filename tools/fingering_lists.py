#!/usr/bin/env python3
"""Repairs two faults of the Mutopia note lists of data/fingering-train that their making left:
the hand of notes written in the other hand's staff, and chords whose printed fingers were read
in the wrong order.

    tools/fingering_lists.py [--check] [DIR]      (default: data/fingering-train)

Both repairs look only at keys, written lengths and the printed fingers, never at a planner.

Hands. The lists' hands were decided by staff (upper staff = right hand), but engravers write a
hand's notes in the other staff where they run low or high (the Moonlight sonata's triplets
descend into the bass staff while the left hand holds its octaves), and the editor's fingers on
them are that hand's: compared with the staff's hand, they count as misses of notes no hand of
the staff's could play, in training and in the figures alike. In each measure and staff, the
staff's other voices (every voice but the one most of the staff's notes are in), together and
then one by one, go to the other hand when
  1. while they sound, the staff's hand would hold keys more than 15 semitones apart (wider
     than thumb to little finger, the widest the planner's hand spans),
  2. without them it would not,
  3. the other hand, taking them, would not either, and
  4. they lie wholly on the other hand's side of the keys the staff's hand keeps.

Chords. Digits written after a whole chord were given to its notes in stacking order, which
some engravers write the other way round: a right hand's third fingered 4 below and 2 above, a
left hand's 3 below and 5 above, which no hand can strike. A chord of one voice (its notes
struck together in one staff and voice, every one of them fingered) whose fingers run wholly
against the hand's order (the right hand's rise with the keys, the left hand's fall) gets them
in the reverse order; a chord whose fingers are merely out of order is left as printed.

A piece that was repaired gets a line in SOURCES.tsv's notes saying how much. Files are replaced
only by a complete new one (written beside it, then renamed over it, mode kept). --check
changes nothing and exits 1 if anything would be repaired.
"""

import bisect
import csv
import os
import sys
import tempfile
from fractions import Fraction

REACH = 15  # semitones: the widest a hand holds, thumb to little finger
FIELDS = ["onset_q", "duration_q", "key", "hand", "staff", "voice", "finger", "measure"]
# What SOURCES.tsv's notes of a repaired piece say, after the count.
MARK_HANDS = "moved to the other hand by reach"
MARK_CHORDS = "put in the hand's order"


def counted(count, thing):
    return f"{count} {thing}" + ("" if count == 1 else "s")


def reachable(notes):
    """Whether at every onset among `notes` the keys they sound lie within REACH."""
    for t in {n["on"] for n in notes}:
        keys = [n["key"] for n in notes if n["on"] <= t < n["off"]]
        if keys and max(keys) - min(keys) > REACH:
            return False
    return True


def move_if_out_of_reach(rows, onsets, longest, voices):
    """Moves `voices` (notes of one staff, one hand) to the other hand under the four
    conditions above; True when it did. `rows` are the piece's notes in onset order, `onsets`
    their onsets and `longest` the longest note's length."""
    hand = voices[0]["hand"]
    other = "R" if hand == "L" else "L"
    start = min(n["on"] for n in voices)
    end = max(n["off"] for n in voices)
    # rows are in onset order: only those starting within the longest note before `start` and
    # before `end` can sound between them
    first = bisect.bisect_left(onsets, start - longest)
    last = bisect.bisect_left(onsets, end)
    around = [n for n in rows[first:last] if n["off"] > start]
    mine = [n for n in around if n["hand"] == hand]
    taken = {id(n) for n in voices}
    kept = [n for n in mine if id(n) not in taken]
    theirs = [n for n in around if n["hand"] == other]
    if reachable(mine) or not reachable(kept) or not reachable(theirs + voices):
        return False
    if kept:
        low, high = min(n["key"] for n in voices), max(n["key"] for n in voices)
        if (hand == "L" and low < max(n["key"] for n in kept)) or (
            hand == "R" and high > min(n["key"] for n in kept)
        ):
            return False
    for n in voices:
        n["hand"] = other
    return True


def rehand(rows):
    """Applies the rule to a piece's rows in place; returns how many notes moved."""
    # A staff's own voice: the one most of its notes are written in (the lists number the voices
    # of each staff apart, so every voice is written in one staff only).
    counts = {}
    for n in rows:
        counts[(n["staff"], n["voice"])] = counts.get((n["staff"], n["voice"]), 0) + 1
    own = {}
    for (staff, voice), count in sorted(counts.items(), key=lambda c: (c[0][0], int(c[0][1]))):
        if count > counts.get((staff, own.get(staff)), 0):
            own[staff] = voice
    inner = {}
    for n in rows:
        if n["voice"] != own[n["staff"]]:
            inner.setdefault((int(n["measure"]), n["staff"]), []).append(n)
    ordered = sorted(rows, key=lambda n: n["on"])
    onsets = [n["on"] for n in ordered]
    longest = max((n["off"] - n["on"] for n in rows), default=0)
    moved = 0
    for key in sorted(inner):
        notes = inner[key]
        voices = sorted({n["voice"] for n in notes}, key=int)
        candidates = [notes] + ([[n for n in notes if n["voice"] == v] for v in voices]
                                if len(voices) > 1 else [])
        for candidate in candidates:
            if candidate[0]["hand"] == notes[0]["hand"] and move_if_out_of_reach(
                ordered, onsets, longest, candidate):
                moved += len(candidate)
    return moved


def reorder_chords(rows):
    """Applies the chord repair to a piece's rows in place; returns how many chords changed."""
    chords = {}
    for n in rows:
        chords.setdefault((n["hand"], n["staff"], n["voice"], n["on"]), []).append(n)
    changed = 0
    for (hand, *_), notes in chords.items():
        if len(notes) < 2 or any(not n["finger"] for n in notes):
            continue
        notes.sort(key=lambda n: n["key"])
        fingers = [int(n["finger"]) for n in notes]
        against = sorted(fingers, reverse=(hand == "R"))
        if fingers == against and len(set(fingers)) == len(fingers):
            for n, finger in zip(notes, reversed(fingers)):
                n["finger"] = str(finger)
            changed += 1
    return changed


def read_rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    for n in rows:
        if any(n.get(field) is None for field in FIELDS):
            raise ValueError("a row without every column of " + " ".join(FIELDS))
        n["on"] = Fraction(n["onset_q"])
        n["off"] = n["on"] + Fraction(n["duration_q"])
        n["key"] = int(n["key"])
    return rows


def replace_file(path, text):
    """Writes `text` as the file `path` (through a link to its target) by a complete new file
    renamed over it, keeping its mode."""
    target = os.path.realpath(path)
    fd, temporary = tempfile.mkstemp(dir=os.path.dirname(target), prefix=".hands-")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        os.chmod(temporary, os.stat(target).st_mode & 0o7777)
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise


def piece_text(rows):
    lines = ["\t".join(FIELDS)]
    lines += ["\t".join(str(n[f]) for f in FIELDS) for n in rows]
    return "\n".join(lines) + "\n"


def main(argv):
    check = "--check" in argv
    rest = [a for a in argv if a != "--check"]
    if len(rest) > 1 or any(a.startswith("-") for a in rest):
        print("usage: tools/fingering_lists.py [--check] [DIR]", file=sys.stderr)
        return 2
    folder = rest[0] if rest else os.path.join(os.path.dirname(__file__), "..",
                                               "data", "fingering-train")
    sources_path = os.path.join(folder, "SOURCES.tsv")
    with open(sources_path, encoding="utf-8") as f:
        sources = f.read().split("\n")
    changed = 0
    for i, line in enumerate(sources):
        cells = line.split("\t")
        if len(cells) < 8 or not cells[6].startswith("hand by staff"):
            continue
        path = os.path.join(folder, cells[0])
        try:
            rows = read_rows(path)
        except (ValueError, KeyError, TypeError) as error:
            raise ValueError(f"{path}: not a note list ({error})") from error
        # hands first: the chord repair reads the fingers in the order of the hand playing them
        repairs = [(rehand(rows), "inner-voice note", MARK_HANDS),
                   (reorder_chords(rows), "fingered chord", MARK_CHORDS)]
        done = [f"{counted(count, what)} {mark}" for count, what, mark in repairs if count]
        if not done:
            continue
        changed += 1
        print(f"{cells[0]}: " + ", ".join(done) + (" (--check: not written)" if check else ""),
              flush=True)
        if not check:
            replace_file(path, piece_text(rows))
            cells[6] += "".join("; " + repair for repair in done)
            sources[i] = "\t".join(cells)
    if changed and not check:
        replace_file(sources_path, "\n".join(sources))
    return 1 if check and changed else 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError, csv.Error) as error:
        # one line for a folder that is not a note-list folder or a list that is not a list
        print(f"fingering_lists: {error}", file=sys.stderr)
        sys.exit(1)
