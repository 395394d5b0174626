#!/usr/bin/env python3
"""Checks tools/fingering_lists.py, which repairs the fingered note lists: the hands of notes a
staff's hand cannot reach and chords whose fingers were read in the wrong order. On the
repository's own lists (their hands put back to the staves' and repaired again, which must give
the committed files byte for byte) and on small pieces written to show where the rules must
repair and where they must leave the lists as they are."""

import csv
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
from fractions import Fraction

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOL = os.path.join(ROOT, "tools", "fingering_lists.py")
DATA = os.path.join(ROOT, "data", "fingering-train")
MARK = "inner-voice notes moved to the other hand by reach"  # the hands' repair, after its count
HEADER = "onset_q\tduration_q\tkey\thand\tstaff\tvoice\tfinger\tmeasure\n"


def run(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def by_staff_pieces(sources):
    """The pieces SOURCES.tsv says were handed by staff, with the count it says moved."""
    pieces = {}
    for line in sources.split("\n")[1:]:
        cells = line.split("\t")
        if len(cells) >= 8 and cells[6].startswith("hand by staff"):
            moved = [p for p in cells[6].split("; ") if p.endswith(MARK)]
            pieces[cells[0]] = int(moved[0].split()[0]) if moved else 0
    return pieces


class RepositoryLists(unittest.TestCase):
    def test_the_committed_lists_are_the_staves_repaired(self):
        sources = read(os.path.join(DATA, "SOURCES.tsv"))
        pieces = by_staff_pieces(sources)
        self.assertGreater(len(pieces), 40)
        self.assertEqual(run("--check", DATA).returncode, 0, "a committed list still needs moving")
        with tempfile.TemporaryDirectory() as tmp:
            copy = os.path.join(tmp, "data")
            shutil.copytree(DATA, copy)
            # Back to the hands of the staves, and SOURCES.tsv without the repair's notes.
            for piece in pieces:
                path = os.path.join(copy, piece)
                text = [HEADER]
                for n in rows(path):
                    n["hand"] = "R" if n["staff"] == "1" else "L"
                    text.append("\t".join(n.values()) + "\n")
                with open(path, "w", encoding="utf-8") as f:
                    f.write("".join(text))
            lines = [line.split("\t") for line in sources.split("\n")]
            for cells in lines[1:]:
                if len(cells) >= 8:
                    cells[6] = "; ".join(p for p in cells[6].split("; ") if not p.endswith(MARK))
            stripped = "\n".join("\t".join(cells) for cells in lines)
            with open(os.path.join(copy, "SOURCES.tsv"), "w", encoding="utf-8") as f:
                f.write(stripped)

            before = {p: read(os.path.join(copy, p)) for p in pieces}
            check = run("--check", copy)
            self.assertEqual(check.returncode, 1)
            self.assertEqual({p: read(os.path.join(copy, p)) for p in pieces}, before,
                             "--check changed a file")

            repair = run(copy)
            self.assertEqual(repair.returncode, 0, repair.stderr)
            said = dict(line.rsplit(": ", 1) for line in repair.stdout.splitlines())
            self.assertEqual(said, {p: f"{n} {MARK}" for p, n in pieces.items() if n})
            # The Moonlight sonata's triplets in the bass staff are the case the rule is for.
            self.assertGreaterEqual(pieces["pieces/mutopia-beethovenlv-moonlight1.tsv"], 100)
            for name in ["SOURCES.tsv"] + list(pieces):
                self.assertEqual(read(os.path.join(copy, name)), read(os.path.join(DATA, name)),
                                 f"{name}: the staves repaired differ from the committed list")
            self.assertEqual(run("--check", copy).returncode, 0, "a second run would move more")
            self.assertEqual(sorted(os.listdir(copy)), sorted(os.listdir(DATA)),
                             "a temporary was left behind")

    def test_moved_fingers_read_as_the_hand_they_moved_to(self):
        # Two printed single notes in a row, a quarter apart at most, neither on the thumb: in the
        # right hand the finger rises with the key, in the left it falls. Moved notes that broke
        # this for their new hand would mean the rule gave them to the wrong hand.
        moved_fingered = 0
        for piece in by_staff_pieces(read(os.path.join(DATA, "SOURCES.tsv"))):
            notes = rows(os.path.join(DATA, piece))
            for hand in "RL":
                line = sorted((Fraction(n["onset_q"]), int(n["key"]), int(n["finger"]),
                               n["staff"] != ("1" if hand == "R" else "2"))
                              for n in notes if n["hand"] == hand and n["finger"])
                onsets = [t for t, *_ in line]
                single = [n for n in line if onsets.count(n[0]) == 1]
                moved_fingered += sum(1 for n in single if n[3])
                for a, b in zip(single, single[1:]):
                    if not (a[3] and b[3]) or b[0] - a[0] > 1 or 1 in (a[2], b[2]):
                        continue
                    rising = (b[1] - a[1]) * (b[2] - a[2]) * (1 if hand == "R" else -1)
                    self.assertGreaterEqual(rising, 0, f"{piece}: {hand} {a} then {b}")
        self.assertGreater(moved_fingered, 20)


def write_piece(folder, notes, mode=0o644):
    """A folder with one piece handed by staff: notes are (onset, length, key, staff, voice)."""
    os.makedirs(os.path.join(folder, "pieces"))
    with open(os.path.join(folder, "SOURCES.tsv"), "w", encoding="utf-8") as f:
        f.write("file\trepository\tpath\tcommit\tlicence\tattribution\tnotes\tfingered notes\n")
        f.write("pieces/p.tsv\tr\tp\tc\tl\ta\thand by staff (upper staff = R)\t0\n")
    path = os.path.join(folder, "pieces", "p.tsv")
    with open(path, "w", encoding="utf-8") as f:
        f.write(HEADER)
        for onset, length, key, staff, voice in notes:
            f.write(f"{onset}\t{length}\t{key}\t{'R' if staff == 1 else 'L'}\t{staff}\t{voice}\t\t1\n")
    os.chmod(path, mode)
    return path


class WrittenPieces(unittest.TestCase):
    def hands(self, notes, mode=0o644):
        with tempfile.TemporaryDirectory() as tmp:
            path = write_piece(os.path.join(tmp, "d"), notes, mode)
            result = run(os.path.join(tmp, "d"))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode)
            return "".join(n["hand"] for n in rows(path))

    def test_an_inner_voice_out_of_reach_goes_to_the_free_hand(self):
        # The left hand plays its bass; its staff's second voice climbs to middle C and E, where
        # the right hand holds only a G after it: the triplet is the right hand's.
        bass = [(0, 1, 36, 2, 1), (1, 1, 31, 2, 1), (2, 1, 36, 2, 1), (3, 1, 31, 2, 1)]
        triplet = [(0, "1/3", 55, 2, 2), ("1/3", "1/3", 60, 2, 2), ("2/3", "1/3", 64, 2, 2)]
        self.assertEqual(self.hands(bass + triplet + [(1, 1, 67, 1, 1)]), "LLLLRRRR")

    def test_notes_stay_with_their_staff_where_the_other_hand_cannot_take_them(self):
        bass = [(0, 1, 36, 2, 1), (1, 1, 31, 2, 1), (2, 1, 36, 2, 1), (3, 1, 31, 2, 1)]
        arpeggio = [(0, "1/2", 48, 2, 2), ("1/2", "1/2", 55, 2, 2), (1, "1/2", 60, 2, 2)]
        # The right hand plays two octaves higher: the left hand's arpeggio stays.
        self.assertEqual(self.hands(bass + arpeggio + [(0, 2, 84, 1, 1), (0, 2, 91, 1, 1)]),
                         "LLLLLLLRR")
        # With the right hand free, the same arpeggio is the right hand's.
        self.assertEqual(self.hands(bass + arpeggio), "LLLLRRR")
        # Within the hand's reach nothing moves, whatever the other hand does.
        self.assertEqual(self.hands([(0, 2, 48, 2, 1), (0, 1, 55, 2, 2), (1, 1, 60, 2, 2)]),
                         "LLL")
        # An inner voice below notes the right hand keeps is not the left hand's to take.
        self.assertEqual(self.hands([(0, 2, 60, 1, 1), (0, 2, 64, 1, 1), (0, 2, 79, 1, 2)]),
                         "RRR")

    def test_a_chord_fingered_against_the_hand_is_read_the_other_way_round(self):
        def fingers(notes):
            with tempfile.TemporaryDirectory() as tmp:
                path = write_piece(os.path.join(tmp, "d"), [n[:5] for n in notes])
                text = read(path).split("\n")
                for i, n in enumerate(notes, start=1):  # the fingers, as printed
                    cells = text[i].split("\t")
                    cells[6] = str(n[5])
                    text[i] = "\t".join(cells)
                with open(path, "w", encoding="utf-8") as f:
                    f.write("\n".join(text))
                self.assertEqual(run(os.path.join(tmp, "d")).returncode, 0)
                return "".join(n["finger"] for n in rows(path))

        # A right hand's third 4 below and 2 above, a left hand's sixth 1 below and 5 above:
        # no hand strikes them so, and the reverse is what the editor printed.
        self.assertEqual(fingers([(0, 1, 65, 1, 1, 4), (0, 1, 69, 1, 1, 2),
                                  (0, 1, 43, 2, 1, 1), (0, 1, 52, 2, 1, 5)]), "2451")
        # Three fingers merely out of order, two voices struck together, a finger missing: as
        # printed.
        self.assertEqual(fingers([(0, 1, 60, 1, 1, 1), (0, 1, 64, 1, 1, 5), (0, 1, 67, 1, 1, 3),
                                  (1, 1, 60, 1, 1, 3), (1, 1, 64, 1, 2, 1),
                                  (2, 1, 48, 2, 1, 1), (2, 1, 52, 2, 1, "")]), "153311")

    def test_a_linked_list_is_written_through_its_link(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = write_piece(os.path.join(tmp, "d"),
                               [(0, 4, 36, 2, 1), (0, 1, 60, 2, 2), (0, 1, 64, 1, 1)], 0o640)
            target = os.path.join(tmp, "elsewhere.tsv")
            shutil.move(path, target)
            os.symlink(target, path)
            self.assertEqual(run(os.path.join(tmp, "d")).returncode, 0)
            self.assertTrue(os.path.islink(path))
            self.assertEqual([n["hand"] for n in rows(target)], ["L", "R", "R"])
            self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
            self.assertEqual(sorted(os.listdir(tmp)), ["d", "elsewhere.tsv"])
            self.assertEqual(sorted(os.listdir(os.path.join(tmp, "d", "pieces"))), ["p.tsv"])


if __name__ == "__main__":
    unittest.main()
