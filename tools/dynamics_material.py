#!/usr/bin/env python3
"""Writes a small two-staff piece of our own whose staves carry dynamics of their own (marks,
wedges closed by marks, sforzandi) and a pedal in the sign form, then has musescore3 play
every piece of tests/data/performance into MIDI (NAME.mid) and export it as compressed MusicXML
(NAME_export.mxl), so that the tests can set our velocities and pedal beside a notation
program's own playback.

    tools/dynamics_material.py [FOLDER]     (default: tests/data/performance)
"""

import glob
import os
import subprocess
import sys

STEPS = "CDEFGAB"


def note(name, duration, staff, voice, kind, extra=""):
    step, octave = name[0], name[1:]
    return ("<note><pitch><step>%s</step><octave>%s</octave></pitch><duration>%d</duration>"
            "<voice>%d</voice><type>%s</type><staff>%d</staff>%s</note>"
            % (step, octave, duration, voice, kind, staff, extra))


def direction(staff, inner, offset=None, sound=""):
    off = "" if offset is None else "<offset>%d</offset>" % offset
    return ('<direction placement="below"><direction-type>%s</direction-type>%s<staff>%d</staff>'
            "%s</direction>" % (inner, off, staff, sound))


def dyn(mark):
    return "<dynamics><%s/></dynamics>" % mark


def scale(start, count):
    """`count` pitches rising by step from `start` (a name such as C5)."""
    i = STEPS.index(start[0])
    octave = int(start[1:])
    out = []
    for _ in range(count):
        out.append("%s%d" % (STEPS[i], octave))
        i += 1
        if i == 7:
            i, octave = 0, octave + 1
    return out


def staff_dynamics():
    """Eight measures of 4/4 at two divisions: eighths in the right hand, quarters in the left,
    each staff with its own marks."""
    right = {  # measure -> [(eighth, direction)]
        1: [(0, direction(1, dyn("pp")))],
        2: [(0, direction(1, '<wedge type="crescendo" number="1"/>'))],
        3: [(0, direction(1, '<wedge type="stop" number="1"/>')), (0, direction(1, dyn("ff")))],
        4: [(0, direction(1, '<wedge type="diminuendo" number="1"/>')),
            (7, direction(1, '<wedge type="stop" number="1"/>'))],
        5: [(0, direction(1, dyn("p")))],
        6: [(4, direction(1, dyn("sfz")))],
        7: [(0, direction(1, dyn("mf"))), (4, direction(1, dyn("mp")))],
        8: [(0, direction(1, dyn("f")))],
    }
    left = {
        1: [(0, direction(2, dyn("mf")))],
        3: [(0, direction(2, dyn("p")))],
        5: [(0, direction(2, '<wedge type="crescendo" number="1"/>'))],
        6: [(0, direction(2, '<wedge type="stop" number="1"/>')), (0, direction(2, dyn("f")))],
        7: [(0, direction(2, dyn("pp")))],
        8: [(0, direction(2, dyn("ff")))],
    }
    pedal = {  # measure -> [(quarter, type)]
        1: [(0, "start")], 2: [(0, "stop")], 3: [(0, "start")], 4: [(0, "stop")],
        5: [(0, "start")], 7: [(0, "stop")], 8: [(0, "start")],
    }
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<score-partwise version="3.1"><work><work-title>Staff dynamics</work-title></work>'
           '<part-list><score-part id="P1"><part-name>Piano</part-name></score-part></part-list>'
           '<part id="P1">']
    starts = ["C5", "D5", "E5", "F5", "G5", "E5", "D5", "C5"]
    lows = ["C3", "D3", "E3", "F3", "G3", "E3", "D3", "C3"]
    for m in range(1, 9):
        out.append('<measure number="%d">' % m)
        if m == 1:
            out.append('<attributes><divisions>2</divisions><key><fifths>0</fifths></key><time>'
                       '<beats>4</beats><beat-type>4</beat-type></time><staves>2</staves>'
                       '<clef number="1"><sign>G</sign><line>2</line></clef><clef number="2">'
                       '<sign>F</sign><line>4</line></clef></attributes>')
            out.append('<direction placement="above"><direction-type><metronome><beat-unit>'
                       'quarter</beat-unit><per-minute>96</per-minute></metronome>'
                       '</direction-type><sound tempo="96"/></direction>')
        marks = dict()
        for at, text in right.get(m, []):
            marks.setdefault(at, []).append(text)
        pitches = scale(starts[m - 1], 8)
        for e in range(8):
            out.extend(marks.get(e, []))
            accent = ""
            if m == 8 and e in (2, 6):
                accent = "<notations><articulations><accent/></articulations></notations>"
            out.append(note(pitches[e], 1, 1, 1, "eighth", accent))
        out.append("<backup><duration>8</duration></backup>")
        marks = dict()
        for at, text in left.get(m, []):
            marks.setdefault(at, []).append(text)
        for q, kind in pedal.get(m, []):
            marks.setdefault(2 * q, []).append(
                direction(2, '<pedal type="%s" sign="yes"/>' % kind))
        lowp = scale(lows[m - 1], 4)
        for q in range(4):
            out.extend(marks.get(2 * q, []))
            out.append(note(lowp[q], 2, 2, 5, "quarter"))
        out.append("</measure>")
    out.append("</part></score-partwise>")
    return "\n".join(out) + "\n"


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "tests/data/performance"
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "staff_dynamics.xml"), "w") as f:
        f.write(staff_dynamics())
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
        stem = path[:-4]
        for out in (stem + ".mid", stem + "_export.mxl"):
            subprocess.run(["mscore3", "-o", out, path], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return 0


if __name__ == "__main__":
    sys.exit(main())
