#!/usr/bin/env python3
"""Writes the small ornament and articulation pieces of tests/data/ornaments: one file per kind
of mark, 4/4 at 120 quarter notes a minute, 8 divisions a quarter, so that every note the
performance plays out can be listed by hand in quarter notes; and one short piece with a mark of
each kind that musescore3 exports (.mxl) and plays (.mid) for comparison."""

import os
import subprocess
import sys

STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def pitch(name):
    """'F#4' -> pitch element."""
    step, rest = name[0], name[1:]
    alter = 0
    while rest and rest[0] in "#b":
        alter += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    text = "<pitch><step>%s</step>" % step
    if alter:
        text += "<alter>%d</alter>" % alter
    return text + "<octave>%s</octave></pitch>" % rest


TYPES = {32: "whole", 16: "half", 8: "quarter", 4: "eighth", 2: "16th", 1: "32nd"}


def note(name, duration, staff=1, voice=1, chord=False, notations="", tie=""):
    """A note of `duration` divisions (8 a quarter); name None is a rest."""
    text = "<note>" + ("<chord/>" if chord else "")
    text += pitch(name) if name else "<rest/>"
    text += "<duration>%d</duration>" % duration
    if tie:
        text += '<tie type="%s"/>' % tie
    text += "<voice>%d</voice><type>%s</type><staff>%d</staff>" % (
        voice, TYPES.get(duration, "quarter"), staff)
    if notations:
        text += "<notations>%s</notations>" % notations
    return text + "</note>"


def grace(name, slash, kind="eighth", chord=False):
    return ('<note><grace%s/>%s%s<voice>1</voice><type>%s</type><staff>1</staff></note>' %
            (' slash="yes"' if slash else "", "<chord/>" if chord else "", pitch(name), kind))


def score(title, measures, fifths=0, staves=1):
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<score-partwise version="3.1"><work><work-title>%s</work-title></work>'
            '<part-list><score-part id="P1"><part-name>Piano</part-name>'
            '<score-instrument id="P1-I1"><instrument-name>Piano</instrument-name>'
            '</score-instrument></score-part></part-list><part id="P1">\n' % title)
    body = ""
    for i, content in enumerate(measures):
        body += '<measure number="%d">' % (i + 1)
        if i == 0:
            body += ("<attributes><divisions>8</divisions><key><fifths>%d</fifths></key>"
                     "<time><beats>4</beats><beat-type>4</beat-type></time><staves>%d</staves>"
                     '<clef number="1"><sign>G</sign><line>2</line></clef>' % (fifths, staves))
            if staves == 2:
                body += '<clef number="2"><sign>F</sign><line>4</line></clef>'
            body += ('</attributes><direction placement="above"><direction-type><words>'
                     '</words></direction-type><sound tempo="120"/></direction>')
        body += content + "</measure>\n"
    return head + body + "</part></score-partwise>\n"


def BASS(name, fermata=False):
    """A left hand of four quarter notes under a measure of the right hand."""
    return ("<backup><duration>32</duration></backup>" +
            note(name, 8, staff=2, voice=5) * 3 +
            note(name, 8, staff=2, voice=5, notations="<fermata/>" if fermata else ""))


def orn(text):
    return "<ornaments>%s</ornaments>" % text


def art(text):
    return "<articulations>%s</articulations>" % text


PIECES = {
    "graces": score("Grace notes", [
        grace("D4", True) + note("C4", 8) + note("E4", 8) + grace("F4", True) + note("G4", 8) +
        grace("A4", False) + note("B4", 8),
        note(None, 8) + grace("C5", True, "16th") + grace("D5", True, "16th") + note("E5", 16) +
        grace("G4", False, "quarter") + note("C5", 8),
    ]),
    "articulation": score("Articulation", [
        note("C4", 8, notations=art("<staccato/>")) +
        note("D4", 8, notations=art("<staccatissimo/>")) +
        note("E4", 8, notations=art("<spiccato/>")) + note("F4", 8, notations=art("<tenuto/>")),
        note("G4", 8, notations=art("<staccato/><tenuto/>")) +
        note("A4", 8, notations=art("<detached-legato/>")) + note("B4", 16),
    ]),
    "fermata": score("Fermata", [
        note("C4", 8) + note("D4", 8, notations="<fermata/>") +
        note(None, 8, notations="<fermata/>") + note("E4", 8) +
        "<backup><duration>32</duration></backup>" + note("C3", 32, staff=2, voice=5),
    ], staves=2),
    "arpeggiate": score("Rolled chords", [
        note("C4", 16, notations="<arpeggiate/>") +
        note("E4", 16, chord=True, notations="<arpeggiate/>") +
        note("G4", 16, chord=True, notations="<arpeggiate/>") +
        note("D4", 16, notations='<arpeggiate direction="down"/>') +
        note("F4", 16, chord=True, notations='<arpeggiate direction="down"/>') +
        note("A4", 16, chord=True, notations='<arpeggiate direction="down"/>') +
        "<backup><duration>32</duration></backup>" + note(None, 32, staff=2, voice=5),
        note("C4", 32, notations='<arpeggiate number="1"/>') +
        note("E4", 32, chord=True, notations='<arpeggiate number="1"/>') +
        "<backup><duration>32</duration></backup>" +
        note("C3", 32, staff=2, voice=5, notations='<arpeggiate number="1"/>') +
        note("G3", 32, staff=2, voice=5, chord=True, notations='<arpeggiate number="1"/>'),
        note("C4", 32, notations='<non-arpeggiate type="bottom"/>') +
        note("G4", 32, chord=True, notations='<non-arpeggiate type="top"/>') +
        "<backup><duration>32</duration></backup>" + note(None, 32, staff=2, voice=5),
    ], staves=2),
    "trills": score("Trills, mordents and turns", [
        note("E4", 16, notations=orn("<trill-mark/>")) +
        note("E4", 16, notations=orn("<trill-mark/><accidental-mark>natural</accidental-mark>")),
        note("G4", 16, tie="start",
             notations='<tied type="start"/>' + orn('<trill-mark/><wavy-line type="start"/>')) +
        note("G4", 16, tie="stop", notations='<tied type="stop"/>' +
             orn('<wavy-line type="stop"/>')),
        note("A4", 8, notations=orn("<mordent/>")) +
        note("B4", 8, notations=orn("<inverted-mordent/>")) +
        note("C5", 8, notations=orn("<turn/>")) + note("D5", 8, notations=orn("<inverted-turn/>")),
        note("G4", 16, notations=orn("<delayed-turn/>")) + note(None, 16),
    ], fifths=1),
    "tremolo": score("Tremolos", [
        note("C4", 16, notations=orn('<tremolo type="single">2</tremolo>')) +
        note("E4", 8, notations=orn('<tremolo type="start">2</tremolo>')) +
        note("G4", 8, notations=orn('<tremolo type="stop">2</tremolo>')),
    ]),
    "glissando": score("Glissandos", [
        note("C4", 16, notations='<glissando type="start" line-type="wavy">gliss.</glissando>') +
        note("A4", 16, notations='<glissando type="stop" line-type="wavy"/>'),
        note("C5", 16, notations='<slide type="start" line-type="solid"/>') +
        note("F5", 16, notations='<slide type="stop" line-type="solid"/>'),
    ]),
    # A short piece with one mark of each kind over a plain left hand, for musescore3 to export
    # and to play (ornate_export.mxl, ornate.mid). No mordent: musescore3's reader stops reading
    # the measure at one.
    "ornate": score("Ornate", [
        note("C5", 8, notations=art("<staccato/>")) + note("D5", 8, notations=art("<staccato/>")) +
        grace("F5", True) + note("E5", 8) + note("G5", 8, notations=art("<tenuto/>")) +
        BASS("C3"),
        note("E5", 16, notations=orn("<trill-mark/>")) +
        note("D5", 8) + note("C5", 8, notations=orn("<turn/>")) +
        BASS("G2"),
        note("C4", 16, notations='<arpeggiate direction="up"/>') +
        note("E4", 16, chord=True, notations='<arpeggiate direction="up"/>') +
        note("G4", 16, chord=True, notations='<arpeggiate direction="up"/>') +
        grace("A4", False) + note("G4", 8) +
        note("E4", 8, notations=orn('<tremolo type="single">2</tremolo>')) + BASS("C3"),
        note("C4", 16, notations='<glissando type="start" line-type="wavy">gliss.</glissando>') +
        note("C5", 16, notations='<glissando type="stop" line-type="wavy"/>' + "<fermata/>") +
        BASS("C3", fermata=True),
    ], staves=2),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "tests", "data", "ornaments")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for name, text in PIECES.items():
        path = os.path.join(out, name + ".musicxml")
        with open(path, "w") as f:
            f.write(text)
        if name == "ornate":
            for suffix in (".mid", "_export.mxl"):
                subprocess.run(["mscore3", "-o", os.path.join(out, name + suffix), path],
                               env=env, check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
