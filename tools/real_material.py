#!/usr/bin/env python3
"""Writes our own small piano pieces as MusicXML, each built around one thing notation programs
write in their own way (scales, chords, two voices in a staff, clef changes, ties over barlines,
tuplets, a pickup measure, changing divisions, the hands as two parts), then has musescore3
import each one and export it as compressed MusicXML (.mxl), plain MusicXML and MIDI.

    tools/real_material.py [OUTPUT_DIR [PIECE ...]]     (default: tests/data/real, every piece)

The sources go to OUTPUT_DIR/source/, the exports beside them. The tests compare the notes the
program reads from each export with the notes of the MIDI export of the same piece.
"""

import os
import subprocess
import sys

STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
TYPES = {16: "whole", 8: "half", 4: "quarter", 2: "eighth", 1: "16th"}


def pitch(name):
    """'C#4' -> (step, alter, octave)."""
    step = name[0]
    alter = name.count("#") - name.count("b")
    return step, alter, int(name.lstrip("ABCDEFG#b"))


class Note:
    """A note, chord or rest of one voice: pitches ([] = rest), length in sixteenths times the
    tuplet ratio, and how it is tied."""

    def __init__(self, pitches, sixteenths, tie="", tuplet=None, staff=None):
        self.pitches = pitches.split() if isinstance(pitches, str) else pitches
        self.sixteenths = sixteenths  # as written (the type), before any tuplet
        self.tie = tie  # "", "start", "stop" or "both"
        self.tuplet = tuplet  # None or (actual, normal, "start"/"stop"/"")
        self.staff = staff  # the staff it is printed on when not its voice's (a cross-staff note)


def note_xml(n, divisions, voice, staff):
    written = n.sixteenths * divisions / 4
    dots = 0
    base = n.sixteenths
    if base not in TYPES:
        base = base * 2 // 3
        dots = 1
    duration = written
    if n.tuplet:
        duration = written * n.tuplet[1] / n.tuplet[0]
    assert duration == int(duration), "divisions too coarse"
    out = []
    for i, p in enumerate(n.pitches or [None]):
        x = "<note>"
        if i > 0:
            x += "<chord/>"
        if p is None:
            x += "<rest/>"
        else:
            step, alter, octave = pitch(p)
            x += "<pitch><step>%s</step>" % step
            if alter:
                x += "<alter>%d</alter>" % alter
            x += "<octave>%d</octave></pitch>" % octave
        x += "<duration>%d</duration>" % duration
        if n.tie in ("stop", "both"):
            x += '<tie type="stop"/>'
        if n.tie in ("start", "both"):
            x += '<tie type="start"/>'
        x += "<voice>%d</voice><type>%s</type>" % (voice, TYPES[base])
        x += "<dot/>" * dots
        if n.tuplet:
            x += ("<time-modification><actual-notes>%d</actual-notes>"
                  "<normal-notes>%d</normal-notes></time-modification>" % n.tuplet[:2])
        x += "<staff>%d</staff>" % (n.staff or staff)
        notations = ""
        if n.tie in ("stop", "both"):
            notations += '<tied type="stop"/>'
        if n.tie in ("start", "both"):
            notations += '<tied type="start"/>'
        if n.tuplet and n.tuplet[2] and i == 0:
            notations += '<tuplet type="%s"/>' % n.tuplet[2]
        if notations:
            x += "<notations>%s</notations>" % notations
        x += "</note>"
        out.append(x)
    return "".join(out), int(duration)


def part_xml(part_id, measures, staves, clefs, divisions, time, tempo, pickup=False):
    """measures: list of dicts {(staff, voice): [Note...], "clef": {staff: sign}, "divisions": d}.
    clefs: {staff: sign} at the start."""
    out = ['<part id="%s">' % part_id]
    for number, measure in enumerate(measures, start=0 if pickup else 1):
        implicit = ' implicit="yes"' if pickup and number == 0 else ""
        out.append('<measure number="%d"%s>' % (number, implicit))
        first = number == (0 if pickup else 1)
        d = measure.get("divisions", divisions)
        if first or "clef" in measure or "divisions" in measure:
            attributes = ""
            if first or "divisions" in measure:
                attributes += "<divisions>%d</divisions>" % d
            if first:
                attributes += "<key><fifths>0</fifths></key>"
                attributes += "<time><beats>%d</beats><beat-type>%d</beat-type></time>" % time
                if staves > 1:
                    attributes += "<staves>%d</staves>" % staves
            for staff, sign in sorted((clefs if first else measure.get("clef", {})).items()):
                line = 2 if sign == "G" else 4
                number_attr = ' number="%d"' % staff if staves > 1 else ""
                attributes += '<clef%s><sign>%s</sign><line>%d</line></clef>' % (
                    number_attr, sign, line)
            out.append("<attributes>%s</attributes>" % attributes)
        if first and tempo:
            out.append('<direction placement="above"><direction-type><metronome>'
                       '<beat-unit>quarter</beat-unit><per-minute>%d</per-minute></metronome>'
                       '</direction-type><staff>1</staff><sound tempo="%d"/></direction>'
                       % (tempo, tempo))
        lanes = [key for key in measure if isinstance(key, tuple)]
        for index, (staff, voice) in enumerate(lanes):
            total = 0
            for n in measure[(staff, voice)]:
                text, duration = note_xml(n, d, voice, staff)
                out.append(text)
                total += duration
            if index + 1 < len(lanes):
                out.append("<backup><duration>%d</duration></backup>" % total)
        out.append("</measure>")
    out.append("</part>")
    return "\n".join(out)


def score_xml(title, parts):
    """parts: list of (id, name, part_xml)."""
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<!DOCTYPE score-partwise PUBLIC "-//Recordare//DTD MusicXML 3.1 Partwise//EN" '
            '"http://www.musicxml.org/dtds/partwise.dtd">\n<score-partwise version="3.1">\n'
            "<work><work-title>%s</work-title></work>\n<part-list>\n" % title)
    for part_id, name, _ in parts:
        head += ('<score-part id="%s"><part-name>%s</part-name><score-instrument id="%s-I1">'
                 "<instrument-name>Piano</instrument-name></score-instrument></score-part>\n"
                 % (part_id, name, part_id))
    head += "</part-list>\n"
    return head + "\n".join(p for _, _, p in parts) + "\n</score-partwise>\n"


def piano(title, measures, divisions=4, time=(4, 4), tempo=96, pickup=False,
          clefs=None):
    return score_xml(title, [("P1", "Piano", part_xml(
        "P1", measures, 2, clefs or {1: "G", 2: "F"}, divisions, time, tempo, pickup))])


N = Note


def pieces():
    yield "scales", piano("Scales", [
        {(1, 1): [N(p, 2) for p in "C4 D4 E4 F4 G4 A4 B4 C5".split()],
         (2, 5): [N(p, 4) for p in "C3 E3 G3 E3".split()]},
        {(1, 1): [N(p, 2) for p in "C5 B4 A4 G4 F4 E4 D4 C4".split()],
         (2, 5): [N(p, 4) for p in "F3 D3 G2 C3".split()]},
    ], divisions=2, tempo=112)

    yield "chords", piano("Chords", [
        {(1, 1): [N("C4 E4 G4", 8), N("F4 A4 C5", 8)],
         (2, 5): [N("C3 G3", 16)]},
        {(1, 1): [N("G4 B4 D5", 4), N("G4 B4 F5", 4), N("C4 E4 G4 C5", 8)],
         (2, 5): [N("G2 D3", 8), N("C3 G3", 8)]},
    ], divisions=1, tempo=80)

    yield "twovoices", piano("Two voices", [
        {(1, 1): [N("E5", 4), N("D5", 4), N("C5", 4), N("D5", 4)],
         (1, 2): [N("C5", 8), N("G4", 8)],
         (2, 5): [N("C3", 16)]},
        {(1, 1): [N("E5", 4), N("E5", 4), N("E5", 8)],
         (1, 2): [N("G4", 8), N("C5", 8)],
         (2, 5): [N("G2", 8), N("C3", 8)]},
    ], divisions=2, tempo=100)

    yield "clefchange", piano("Clef change", [
        {(1, 1): [N("G5", 4), N("F5", 4), N("E5", 4), N("D5", 4)],
         (2, 5): [N("C3", 8), N("G3", 8)]},
        {"clef": {2: "G"},
         (1, 1): [N("C5", 4), N("D5", 4), N("E5", 8)],
         (2, 5): [N("C4", 4), N("E4", 4), N("G4", 8)]},
        {"clef": {2: "F"},
         (1, 1): [N("C5", 16)],
         (2, 5): [N("C3 C2", 16)]},
    ], divisions=1, tempo=90)

    yield "ties", piano("Ties over the barline", [
        {(1, 1): [N("C5", 8), N("E5", 8, tie="start")],
         (2, 5): [N("C3", 8), N("G2", 8)]},
        {(1, 1): [N("E5", 4, tie="stop"), N("D5", 4), N("G4 B4", 8, tie="start")],
         (2, 5): [N("G2", 16, tie="start")]},
        {(1, 1): [N("G4 B4", 8, tie="stop"), N("C5", 8)],
         (2, 5): [N("G2", 8, tie="stop"), N("C3", 8)]},
    ], divisions=2, tempo=72)

    triplet = [N("C5", 2, tuplet=(3, 2, "start")), N("D5", 2, tuplet=(3, 2, "")),
               N("E5", 2, tuplet=(3, 2, "stop"))]
    triplet2 = [N("F5", 2, tuplet=(3, 2, "start")), N("E5", 2, tuplet=(3, 2, "")),
                N("D5", 2, tuplet=(3, 2, "stop"))]
    yield "tuplets", piano("Triplets", [
        {(1, 1): triplet + triplet2 + [N("C5", 4), N("G4", 4)],
         (2, 5): [N(p, 4) for p in "C3 G3 E3 G3".split()]},
        {(1, 1): [N("E4", 2, tuplet=(3, 2, "start")), N("G4", 2, tuplet=(3, 2, "")),
                  N("C5", 2, tuplet=(3, 2, "stop")), N("E5", 12)],
         (2, 5): [N("C3", 16)]},
    ], divisions=6, tempo=88)

    yield "pickup", piano("Pickup", [
        {(1, 1): [N("G4", 4)],
         (2, 5): [N([], 4)]},
        {(1, 1): [N("C5", 8), N("B4", 4)],
         (2, 5): [N("C3 G3", 12)]},
        {(1, 1): [N("A4", 4), N("G4", 4), N("F4", 4)],
         (2, 5): [N("F2", 4), N("C3", 4), N("A3", 4)]},
        {(1, 1): [N("E4", 12)],
         (2, 5): [N("C3 G3", 12)]},
    ], divisions=2, time=(3, 4), tempo=120, pickup=True)

    yield "divisions", piano("Changing divisions", [
        {(1, 1): [N("C4", 4), N("E4", 4), N("G4", 8)],
         (2, 5): [N("C3", 16)]},
        {"divisions": 4,
         (1, 1): [N(p, 1) for p in "C5 B4 A4 G4 F4 E4 D4 C4".split()] + [N("C4 E4", 8)],
         (2, 5): [N("G2", 4), N("G3", 2), N("F3", 2), N("C3", 8)]},
    ], divisions=1, tempo=104)

    right = part_xml("P1", [
        {(1, 1): [N("E5", 4), N("G5", 4), N("C6", 8)]},
        {(1, 1): [N("B5", 4), N("G5", 4), N("D5", 4), N("B4", 4)]},
        {(1, 1): [N("C5 E5", 16)]},
    ], 1, {1: "G"}, 2, (4, 4), 100)
    left = part_xml("P2", [
        {(1, 1): [N("C3", 8), N("E3", 8)]},
        {(1, 1): [N("G2", 8), N("G3", 8)]},
        {(1, 1): [N("C2 C3", 16)]},
    ], 1, {1: "F"}, 2, (4, 4), 0)
    yield "twoparts", score_xml("Hands as two parts", [
        ("P1", "Piano (right)", right), ("P2", "Piano (left)", left)])

    # The right hand's broken chords run down into the bass staff (printed there, still the right
    # hand's voice) while the left hand holds its octave two octaves below.
    def broken(chord, staff=None):
        return [N(p, 2, staff=staff) for p in (chord.split() * 2)[:4]]
    yield "crossstaff", piano("Across the staves", [
        {(1, 1): broken("E4 G4 C5") + broken("F4 A4 C5"),
         (2, 5): [N("C2 C3", 16)]},
        {(1, 1): broken("E3 G3 C4", 2) + broken("D3 F3 B3", 2),
         (2, 5): [N("C2 C3", 8), N("G1 G2", 8)]},
        {(1, 1): broken("C4 E4 G4") + [N("C5", 8)],
         (2, 5): [N("C2 C3", 16)]},
    ], divisions=2, tempo=84)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "real")
    only = set(sys.argv[2:])  # names of pieces to write again; all when none
    source_dir = os.path.join(out, "source")
    os.makedirs(source_dir, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for name, xml in pieces():
        if only and name not in only:
            continue
        source = os.path.join(source_dir, name + ".musicxml")
        with open(source, "w", encoding="utf-8") as f:
            f.write(xml)
        for extension in ("mxl", "musicxml", "mid"):
            target = os.path.join(out, name + "." + extension)
            run = subprocess.run(["mscore3", "-o", target, source], env=env,
                                 capture_output=True, text=True, timeout=300)
            if run.returncode != 0 or not os.path.exists(target):
                sys.exit("musescore3 could not export %s: %s" % (target, run.stderr[-500:]))
        print(name, flush=True)


if __name__ == "__main__":
    main()
