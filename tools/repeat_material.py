#!/usr/bin/env python3
"""Writes our own small piano pieces with repeats (repeat barlines with and without `times`,
first and second endings, an ending numbered "1, 2", D.C. al Fine, D.S. al Coda), then has
musescore3 import each one and export it as MIDI and as compressed MusicXML, so that the tests can compare the order and
times the preparation plays with a notation program's own playback.

    tools/repeat_material.py [OUTPUT_DIR]     (default: tests/data/repeats)

Each measure holds four quarter notes in the right hand, the first of them a pitch of its own,
and a half note twice in the left hand, so the measure played at any moment can be told from the
notes alone.
"""

import os
import subprocess
import sys

# Right-hand pitches naming measures 1..12 (first quarter of each measure).
NAMES = ["C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6", "D6", "E6", "F6", "G6"]
STEPS = "CDEFGAB"


def note(name, duration, staff, voice, chord=False):
    step, octave = name[0], name[1:]
    return ("<note>%s<pitch><step>%s</step><octave>%s</octave></pitch><duration>%d</duration>"
            "<voice>%d</voice><type>%s</type><staff>%d</staff></note>"
            % ("<chord/>" if chord else "", step, octave, duration, voice,
               {1: "quarter", 2: "half"}[duration], staff))


def measure(index, marks):
    """marks: set of words: fwd, bwd, bwd3, end1, end1stop, end2, end12, end3, fine, dc, segno,
    tocoda, ds, coda."""
    number = index + 1
    out = ['<measure number="%d">' % number]
    left = []
    if "fwd" in marks:
        left.append('<repeat direction="forward"/>')
    for e, text in (("end1", "1"), ("end2", "2"), ("end12", "1, 2"), ("end3", "3")):
        if e in marks:
            left.append('<ending number="%s" type="start">%s.</ending>' % (text, text))
    if left:
        out.append('<barline location="left">%s</barline>' % "".join(left))
    if index == 0:
        out.append('<attributes><divisions>1</divisions><key><fifths>0</fifths></key><time>'
                   '<beats>4</beats><beat-type>4</beat-type></time><staves>2</staves>'
                   '<clef number="1"><sign>G</sign><line>2</line></clef><clef number="2">'
                   '<sign>F</sign><line>4</line></clef></attributes>')
        out.append('<direction placement="above"><direction-type><metronome><beat-unit>quarter'
                   '</beat-unit><per-minute>100</per-minute></metronome></direction-type>'
                   '<sound tempo="100"/></direction>')
    if "segno" in marks:
        out.append('<direction placement="above"><direction-type><segno/></direction-type>'
                   '<sound segno="segno"/></direction>')
    if "coda" in marks:
        out.append('<direction placement="above"><direction-type><coda/></direction-type>'
                   '<sound coda="coda"/></direction>')
    name = NAMES[index]
    out.append(note(name, 1, 1, 1))
    for k in range(3):
        out.append(note("G4" if k != 1 else "E4", 1, 1, 1))
    out.append("<backup><duration>4</duration></backup>")
    out.append(note("C3", 2, 2, 5))
    out.append(note("G2", 2, 2, 5))
    words = []
    if "fine" in marks:
        words.append(("Fine", 'fine="yes"'))
    if "dc" in marks:
        words.append(("D.C. al Fine", 'dacapo="yes"'))
    if "tocoda" in marks:
        words.append(("To Coda", 'tocoda="coda"'))
    if "ds" in marks:
        words.append(("D.S. al Coda", 'dalsegno="segno"'))
    for text, sound in words:
        out.append('<direction placement="above"><direction-type><words>%s</words>'
                   '</direction-type><sound %s/></direction>' % (text, sound))
    right = []
    for e, text in (("end1stop", "1"), ("end2stop", "2"), ("end12stop", "1, 2"),
                    ("end3stop", "3")):
        if e in marks:
            right.append('<ending number="%s" type="stop"/>' % text)
    if "bwd" in marks:
        right.append('<repeat direction="backward"/>')
    if "bwd3" in marks:
        right.append('<repeat direction="backward" times="3"/>')
    if right:
        out.append('<barline location="right">%s</barline>'
                   % "".join(right))
    out.append("</measure>")
    return "\n".join(out)


def score(measures):
    body = "\n".join(measure(i, m) for i, m in enumerate(measures))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<score-partwise version="3.1">\n'
            '<part-list><score-part id="P1"><part-name>Piano</part-name></score-part>'
            '</part-list>\n<part id="P1">\n%s\n</part>\n</score-partwise>\n' % body)


PIECES = {
    # 1 2 3 1 2 4 | 5 6 5 6 5 6 | 7 8 9 7 8 9 7 8 10
    "voltas": [
        {"fwd"}, set(), {"end1", "end1stop", "bwd"}, {"end2", "end2stop"},
        {"fwd"}, {"bwd3"},
        {"fwd"}, set(), {"end12", "end12stop", "bwd3"}, {"end3", "end3stop"},
    ],
    # 1 2 3 4 3 4 1 2
    "dc_al_fine": [set(), {"fine"}, {"fwd"}, {"bwd", "dc"}],
    # 1 2 3 4 2 3 5 6
    "ds_al_coda": [set(), {"segno"}, {"tocoda"}, {"ds"}, {"coda"}, set()],
}


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "tests/data/repeats"
    os.makedirs(out_dir, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for name, measures in PIECES.items():
        path = os.path.join(out_dir, name + ".musicxml")
        with open(path, "w") as f:
            f.write(score(measures))
        for suffix in (".mid", "_export.mxl"):
            subprocess.run(["mscore3", "-o", os.path.join(out_dir, name + suffix), path],
                           env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
