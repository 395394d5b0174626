#!/usr/bin/env python3
"""Writes debug/OrlundePianoSonata.xml, the score Quorvel opens when no path is given.

The "Orlunde Piano Sonata" is a short sonata movement written for this project: a singing
melody in G major over an Alberti bass, a running transition to D major, a lyrical second
theme with an inner voice, a minor-key development whose arpeggios carry both hands across
the keyboard, a recapitulation in G and a coda that climbs high before the final cadence.

The music is written below in a compact text form, one string per voice and measure:

    G4:4        a note: pitch name (step, optional # or b, octave) and duration in ticks
    [G4,B4]:4   a chord: all its notes share the duration
    r:4         a rest
    f:8         a forward step: the voice is silent and not drawn
    G4:4~       a note tied to the next note of the same pitch in the same voice
    g:F#5       a grace note before the next note (it takes no time)

One tick is a sixteenth note (divisions 4), so a 4/4 measure lasts 16 ticks.

Run from anywhere: python3 debug/generate_sonata.py
It reads the score back with check_sonata.py's rules, stops on any problem, and writes the
grids the reader should build to debug/OrlundePianoSonata.grid.
"""

import os
import sys
from xml.sax.saxutils import escape

DIVISIONS = 4
MEASURE_TICKS = 4 * DIVISIONS
KEY_FIFTHS = 1  # G major: F sharp
TEMPO_BPM = 112

STEPS = "CDEFGAB"
STEP_SEMITONE = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
KEY_SIGNATURE = {"F": 1}  # the alterations of G major

NOTE_TYPES = {
    1: ("16th", 0),
    2: ("eighth", 0),
    3: ("eighth", 1),
    4: ("quarter", 0),
    6: ("quarter", 1),
    8: ("half", 0),
    12: ("half", 1),
    16: ("whole", 0),
}

ACCIDENTAL_NAMES = {-1: "flat", 0: "natural", 1: "sharp"}


# ---- pitch names --------------------------------------------------------------------------


def parse_pitch(name):
    """'F#4' -> ('F', 1, 4); 'Bb3' -> ('B', -1, 3)."""
    step = name[0]
    rest = name[1:]
    alter = 0
    while rest and rest[0] in "#b":
        alter += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    if step not in STEP_SEMITONE or not rest.isdigit():
        raise ValueError("bad pitch name " + name)
    return step, alter, int(rest)


def pitch_name(step, alter, octave):
    return step + ("#" * alter if alter > 0 else "b" * -alter) + str(octave)


def midi_of(name):
    step, alter, octave = parse_pitch(name)
    return STEP_SEMITONE[step] + alter + 12 * (octave + 1)


def transpose(name, steps, semitones):
    """Moves a pitch by a number of letter steps and semitones, keeping the spelling right
    (D major up a fourth by letters and five semitones gives G major)."""
    step, alter, octave = parse_pitch(name)
    index = STEPS.index(step) + steps
    new_octave = octave + index // 7
    new_step = STEPS[index % 7]
    target = midi_of(name) + semitones
    natural = STEP_SEMITONE[new_step] + 12 * (new_octave + 1)
    return pitch_name(new_step, target - natural, new_octave)


def transpose_voice(text, steps, semitones):
    out = []
    for token in text.split():
        head, _, tail = token.partition(":")
        if head == "g":
            out.append("g:" + transpose(tail, steps, semitones))
            continue
        if head in ("r", "f"):
            out.append(token)
            continue
        if head.startswith("["):
            names = head[1:-1].split(",")
            head = "[" + ",".join(transpose(n, steps, semitones) for n in names) + "]"
        else:
            head = transpose(head, steps, semitones)
        out.append(head + ":" + tail)
    return " ".join(out)


# ---- the bass patterns ----------------------------------------------------------------------


def alberti(chord, ticks=8, step=2):
    """Low, high, middle, high over a close three-note chord, in notes of `step` ticks."""
    low, mid, high = chord.split()
    order = [low, high, mid, high]
    return " ".join("%s:%d" % (order[i % 4], step) for i in range(ticks // step))


def broken(chord, ticks=8, step=2):
    """Low, middle, high, middle: a rocking broken chord."""
    low, mid, high = chord.split()
    order = [low, mid, high, mid]
    return " ".join("%s:%d" % (order[i % 4], step) for i in range(ticks // step))


def octaves(low, ticks=16, step=2):
    """A broken octave on `low`, alternating the two notes."""
    step_, alter, octave = parse_pitch(low)
    high = pitch_name(step_, alter, octave + 1)
    order = [low, high]
    return " ".join("%s:%d" % (order[i % 2], step) for i in range(ticks // step))


# Close-position chords for the left hand (low, middle, high), kept inside an octave.
LH = {
    "G": "G2 B2 D3",
    "D7": "F#2 A2 C3",
    "C": "G2 C3 E3",
    "D": "F#2 A2 D3",
}


# ---- the score ------------------------------------------------------------------------------
# Each measure: (right-hand voices, left-hand voices, directions). Directions are
# (placement, kind, text): kind "words" or "dynamics"; a tempo mark also sets the tempo.


def m(rh, lh, directions=()):
    if isinstance(rh, str):
        rh = [rh]
    if isinstance(lh, str):
        lh = [lh]
    return {"rh": list(rh), "lh": list(lh), "dir": list(directions)}


def theme_a():
    """The first theme in G major: eight measures, a question and its answer."""
    return [
        m("G4:4 B4:2 D5:2 G5:6 F#5:1 E5:1", alberti(LH["G"]) + " " + alberti(LH["G"])),
        m("D5:4 C5:2 A4:2 F#4:4 A4:4", alberti(LH["D7"]) + " " + alberti(LH["D7"])),
        m("B4:3 C5:1 D5:2 B4:2 E5:4 C5:4", alberti(LH["G"]) + " " + alberti(LH["C"])),
        m("B4:2 A4:2 G4:2 F#4:2 A4:8", alberti(LH["G"]) + " " + alberti(LH["D"])),
        m("G4:4 B4:2 D5:2 G5:6 F#5:1 E5:1", alberti(LH["G"]) + " " + alberti(LH["G"])),
        m("D5:4 C5:2 A4:2 F#5:4 A5:4", alberti(LH["D7"]) + " " + alberti(LH["D7"])),
        m("E5:2 G5:2 E5:2 C5:2 A4:3 B4:1 C5:2 F#4:2", alberti(LH["C"]) + " " + alberti(LH["D7"])),
        m("G4:8 r:4 D5:4", "[G2,B2,D3]:4 D2:4 G1:8"),
    ]


# The second theme, written in D major: melody, inner voice, rocking bass.
THEME_B_D = [
    (["A5:6 F#5:2 D5:4 E5:2 F#5:2", "D5:8 A4:8"],
     broken("D3 F#3 A3") + " " + broken("D3 F#3 A3")),
    (["G5:4 F#5:4 E5:8~", "D5:8 B4:8~"],
     broken("B2 D3 F#3") + " " + broken("E3 G3 B3")),
    (["E5:4 D5:2 E5:2 B5:6 A5:2", "B4:8 D5:8"],
     broken("G2 D3 G3") + " " + broken("G2 D3 G3")),
    (["G5:3 F#5:1 E5:4 C#5:4 A4:4", "f:16"],
     broken("A2 E3 G3") + " " + broken("A2 E3 G3")),
    (["A5:6 F#5:2 D6:4 A5:4", "D5:8 F#5:8"],
     broken("D3 F#3 A3") + " " + broken("D3 F#3 A3")),
    (["B5:4 A5:2 F#5:2 G5:4 E5:4", "D5:8 B4:8"],
     broken("B2 D3 F#3") + " " + broken("E3 G3 B3")),
    (["F#5:4 A5:4 E5:6 D5:1 E5:1", "D5:8 G4:8"],
     broken("A2 D3 F#3") + " " + broken("A2 E3 G3")),
    (["D5:12 r:4", "[F#4,A4]:12 r:4"], "D3:2 A2:2 F#2:2 A2:2 D2:8"),
]

# The closing phrase in D major: thirds in the right hand over a quick bass.
CLOSING_D = [
    ("[D5,F#5]:2 [E5,G5]:2 [F#5,A5]:4 [G5,B5]:2 [F#5,A5]:2 [E5,G5]:4",
     alberti("D3 F#3 A3") + " " + alberti("D3 G3 B3")),
    ("[C#5,E5]:2 [D5,F#5]:2 [E5,G5]:4 [F#5,A5]:4 [D5,F#5]:4",
     alberti("C#3 E3 G3") + " " + alberti("D3 F#3 A3")),
    ("[G5,B5]:4 [E5,G5]:4 [C#5,E5,A5]:4 [C#5,E5,G5]:4",
     alberti("G2 B2 D3") + " " + alberti("A2 C#3 G3")),
]


def theme_b(steps, semitones):
    return [
        m([transpose_voice(v, steps, semitones) for v in rh], transpose_voice(lh, steps, semitones))
        for rh, lh in THEME_B_D
    ]


def closing(steps, semitones):
    return [
        m(transpose_voice(rh, steps, semitones), transpose_voice(lh, steps, semitones))
        for rh, lh in CLOSING_D
    ]


def build_score():
    measures = []

    # Exposition: first theme.
    measures += theme_a()
    measures[0]["dir"] = [("above", "tempo", "Allegro moderato"), ("below", "dynamics", "p")]

    # Transition: running figures that lead to the dominant key.
    measures += [
        m("B5:4 G5:1 A5:1 B5:1 G5:1 D5:4 B4:1 C5:1 D5:1 B4:1", octaves("G2"),
          [("below", "dynamics", "f")]),
        m("G5:4 E5:1 F#5:1 G5:1 E5:1 B4:4 G4:1 A4:1 B4:1 G4:1", octaves("E2")),
        m("C#5:1 D5:1 E5:1 F#5:1 G5:1 A5:1 G5:1 E5:1 C#5:4 A4:4", octaves("A2")),
        m("D5:1 E5:1 F#5:1 G5:1 A5:1 B5:1 C#6:1 D6:1 A5:4 F#5:4", octaves("D3")),
        m("B5:4 F#5:2 D5:2 B4:4 D5:2 F#5:2", octaves("B1")),
        m("G#5:4 E5:2 D5:2 B4:4 G#4:2 B4:2", octaves("E2")),
        m("A4:1 B4:1 C#5:1 D5:1 E5:1 F#5:1 G5:1 A5:1 B5:1 A5:1 G5:1 F#5:1 E5:1 D5:1 C#5:1 B4:1",
          octaves("A1")),
        m("[C#5,E5,A5]:4 r:2 [C#5,E5,A5]:2 [C#5,E5,G5,A5]:4 r:4",
          "[A2,E3,A3]:4 r:2 [A2,E3,A3]:2 [A2,E3,G3]:4 r:4"),
    ]

    # Second theme in D major, then the closing phrase.
    b = theme_b(0, 0)
    b[0]["dir"] = [("above", "words", "dolce"), ("below", "dynamics", "p")]
    measures += b
    c = closing(0, 0)
    c[0]["dir"] = [("below", "dynamics", "f")]
    measures += c
    measures.append(m("[D5,F#5,A5,D6]:8 [D5,F#5,A5,D6]:4 r:4", "[D2,D3]:8 [D2,D3]:4 r:4"))
    exposition_end = len(measures)

    # Development: E minor, the first theme's head in the minor, arpeggios that range wide.
    measures += [
        m("E4:4 G4:2 B4:2 E5:6 D5:1 C5:1",
          ["G2:2 B2:2 E3:2 B2:2 G2:2 B2:2 E3:2 B2:2", "E2:16"],
          [("above", "words", "agitato"), ("below", "dynamics", "mf")]),
        m("B4:4 A4:2 F#4:2 D#4:4 F#4:4",
          ["A2:2 B2:2 D#3:2 B2:2 A2:2 B2:2 D#3:2 B2:2", "F#2:16"]),
        m("C5:4 E5:2 G5:2 C6:6 B5:1 A5:1", alberti("C2 E2 G2") + " " + alberti("C2 E2 G2")),
        m("A5:4 G5:2 E5:2 D#5:4 F#5:4", alberti("A2 C3 E3") + " " + alberti("B2 D#3 F#3")),
        m("E5:1 G5:1 B5:1 E6:1 F#5:1 A5:1 D6:1 A5:1 G5:1 C6:1 E6:1 C6:1 F#5:1 B5:1 D#6:1 B5:1",
          "[E2,E3]:4 [D2,D3]:4 [C2,C3]:4 [B1,B2]:4", [("below", "words", "cresc.")]),
        m("A5:1 C6:1 E6:1 A6:1 E6:1 C6:1 A5:1 E5:1 D#5:1 F#5:1 A5:1 B5:1 A5:1 F#5:1 D#5:1 B4:1",
          "[A1,A2]:4 [C2,C3]:4 [B1,B2]:8"),
        m(["G5:6 F#5:2 E5:4 B4:4", "f:8 [E4,G4]:8"],
          alberti("E2 G2 B2") + " " + alberti("E2 G2 B2"), [("below", "dynamics", "f")]),
        m("A4:2 C5:2 E5:2 A5:2 F#5:2 D#5:2 B4:2 A4:2", "[A2,C3,E3]:8 [B2,D#3,F#3,A3]:8"),
        m("G4:2 B4:2 E5:2 G5:2 G5:2 E5:2 C5:2 G4:2",
          "E2:2 B2:2 G2:2 B2:2 C2:2 G2:2 E2:2 G2:2"),
        m("F#4:2 A4:2 C5:2 D5:2 F#5:2 A5:2 C6:2 A5:2",
          ["A2:2 C3:2 A2:2 C3:2 A2:2 C3:2 A2:2 C3:2", "D2:16"], [("below", "dynamics", "pp")]),
        m("D6:4 C6:2 A5:2 F#5:4 D5:4",
          ["A2:2 C3:2 A2:2 C3:2 A2:2 C3:2 A2:2 C3:2", "D2:16"]),
        m("[F#4,A4,C5,D5]:4 r:4 D5:2 C5:2 B4:2 A4:2", "[D2,A2,C3]:4 r:4 D2:8",
          [("above", "words", "rit.")]),
    ]

    # Recapitulation: the first theme again, a transition that stays at home.
    a = theme_a()
    a[0]["dir"] = [("above", "tempo", "a tempo"), ("below", "dynamics", "p")]
    measures += a
    measures += [
        m("B5:4 G5:1 A5:1 B5:1 G5:1 D5:4 B4:1 C5:1 D5:1 B4:1", octaves("G2"),
          [("below", "dynamics", "f")]),
        m("G5:4 E5:1 F#5:1 G5:1 E5:1 B4:4 G4:1 A4:1 B4:1 G4:1", octaves("E2")),
        m("F#5:1 G5:1 A5:1 B5:1 C6:1 D6:1 C6:1 A5:1 F#5:4 D5:4", octaves("D2")),
        m("[F#4,A4,D5]:4 r:2 [F#4,A4,D5]:2 [F#4,A4,C5,D5]:4 r:4",
          "[D2,A2,D3]:4 r:2 [D2,A2,D3]:2 [D2,A2,C3]:4 r:4"),
    ]

    # The second theme comes home to G, a fifth lower than before.
    b = theme_b(-4, -7)
    b[0]["dir"] = [("above", "words", "dolce"), ("below", "dynamics", "p")]
    measures += b

    # Coda: the closing phrase in G, the first theme's head up high, and the final cadence.
    c = closing(-4, -7)
    c[0]["dir"] = [("below", "dynamics", "f")]
    measures += c
    measures += [
        m("G5:4 B5:2 D6:2 G6:6 F#6:1 E6:1", alberti(LH["G"]) + " " + alberti(LH["G"]),
          [("below", "dynamics", "ff")]),
        m("D6:2 B5:2 G5:2 B5:2 g:B5 A5:4 F#5:4",
          "D2:2 D3:2 B2:2 D3:2 D2:2 C3:2 A2:2 C3:2"),
        m("g:F#5 [B4,D5,G5]:2 r:2 [G4,B4,D5,G5]:8 r:4", "[G1,G2]:2 r:2 [G1,D2,G2]:8 r:4"),
    ]
    return measures, exposition_end


# ---- MusicXML output ------------------------------------------------------------------------


class Writer:
    def __init__(self):
        self.lines = []
        self.depth = 0

    def line(self, text):
        self.lines.append("  " * self.depth + text)

    def open(self, text):
        self.line(text)
        self.depth += 1

    def close(self, text):
        self.depth -= 1
        self.line(text)


def parse_voice(text):
    """Turns a voice string into events: dicts with kind note/rest/forward, pitches,
    duration, tie and grace flags."""
    events = []
    pending_grace = []
    for token in text.split():
        head, _, tail = token.partition(":")
        if head == "g":
            events.append({"kind": "grace", "pitches": [tail], "duration": 0, "tie": False})
            pending_grace.append(tail)
            continue
        tie = tail.endswith("~")
        duration = int(tail.rstrip("~"))
        if head == "r":
            events.append({"kind": "rest", "pitches": [], "duration": duration, "tie": False})
        elif head == "f":
            events.append({"kind": "forward", "pitches": [], "duration": duration, "tie": False})
        else:
            names = head[1:-1].split(",") if head.startswith("[") else [head]
            events.append({"kind": "note", "pitches": names, "duration": duration, "tie": tie})
    return events


def beam_states(events):
    """Beam marks per event index: beats group notes shorter than a quarter."""
    marks = {}
    tick = 0
    groups = {}
    for i, ev in enumerate(events):
        if ev["kind"] == "grace":
            continue
        beat = tick // DIVISIONS
        end_beat = (tick + ev["duration"] - 1) // DIVISIONS
        if ev["kind"] == "note" and ev["duration"] < DIVISIONS and beat == end_beat:
            groups.setdefault(beat, []).append(i)
        else:
            groups.setdefault(beat, []).append(None)
        tick += ev["duration"]
    for members in groups.values():
        # Only runs of beamable notes with nothing else in the beat get a beam.
        if len(members) < 2 or None in members:
            continue
        durations = [events[i]["duration"] for i in members]
        for pos, i in enumerate(members):
            level1 = "begin" if pos == 0 else ("end" if pos == len(members) - 1 else "continue")
            beams = [(1, level1)]
            if durations[pos] == 1:
                prev16 = pos > 0 and durations[pos - 1] == 1
                next16 = pos < len(members) - 1 and durations[pos + 1] == 1
                if prev16 and next16:
                    beams.append((2, "continue"))
                elif next16:
                    beams.append((2, "begin"))
                elif prev16:
                    beams.append((2, "end"))
                else:
                    beams.append((2, "backward hook" if pos > 0 else "forward hook"))
            marks[i] = beams
    return marks


def write_direction(w, placement, kind, text, staff):
    w.open('<direction placement="%s">' % placement)
    w.open("<direction-type>")
    if kind == "dynamics":
        w.line("<dynamics><%s/></dynamics>" % text)
    else:
        w.line("<words>%s</words>" % escape(text))
    w.close("</direction-type>")
    w.line("<staff>%d</staff>" % staff)
    if kind == "tempo" and text == "Allegro moderato":
        w.line('<sound tempo="%d"/>' % TEMPO_BPM)
    w.close("</direction>")


def write_voice(w, events, voice, staff, accidentals, ties, stem=None):
    """Writes one voice of one measure; `stem` fixes the stem direction where two voices
    share a staff. `accidentals` maps (staff, step, octave) to the
    alteration in force in this measure; `ties` holds the (voice, pitch) pairs whose tie
    started earlier and ends on the next note of that pitch."""
    marks = beam_states(events)
    for i, ev in enumerate(events):
        if ev["kind"] == "forward":
            w.open("<forward>")
            w.line("<duration>%d</duration>" % ev["duration"])
            w.line("<voice>%d</voice>" % voice)
            w.line("<staff>%d</staff>" % staff)
            w.close("</forward>")
            continue
        if ev["kind"] == "rest":
            type_name, dots = NOTE_TYPES[ev["duration"]]
            w.open("<note>")
            w.line("<rest/>")
            w.line("<duration>%d</duration>" % ev["duration"])
            w.line("<voice>%d</voice>" % voice)
            w.line("<type>%s</type>" % type_name)
            for _ in range(dots):
                w.line("<dot/>")
            w.line("<staff>%d</staff>" % staff)
            w.close("</note>")
            continue
        for n, name in enumerate(ev["pitches"]):
            step, alter, octave = parse_pitch(name)
            w.open("<note>")
            if ev["kind"] == "grace":
                w.line('<grace slash="yes"/>')
            if n > 0:
                w.line("<chord/>")
            w.open("<pitch>")
            w.line("<step>%s</step>" % step)
            if alter:
                w.line("<alter>%d</alter>" % alter)
            w.line("<octave>%d</octave>" % octave)
            w.close("</pitch>")
            tie_stop = (voice, name) in ties
            tie_start = ev["tie"]
            if ev["kind"] != "grace":
                w.line("<duration>%d</duration>" % ev["duration"])
                if tie_stop:
                    w.line('<tie type="stop"/>')
                if tie_start:
                    w.line('<tie type="start"/>')
            w.line("<voice>%d</voice>" % voice)
            if ev["kind"] == "grace":
                w.line("<type>eighth</type>")
            else:
                type_name, dots = NOTE_TYPES[ev["duration"]]
                w.line("<type>%s</type>" % type_name)
                for _ in range(dots):
                    w.line("<dot/>")
            in_force = accidentals.get((staff, step, octave), KEY_SIGNATURE.get(step, 0))
            if alter != in_force and not tie_stop:
                w.line("<accidental>%s</accidental>" % ACCIDENTAL_NAMES[alter])
                accidentals[(staff, step, octave)] = alter
            if stem and ev["kind"] != "grace" and ev["duration"] < 16:
                w.line("<stem>%s</stem>" % stem)
            w.line("<staff>%d</staff>" % staff)
            if n == 0 and i in marks:
                for number, state in marks[i]:
                    w.line('<beam number="%d">%s</beam>' % (number, state))
            if tie_stop or tie_start:
                w.open("<notations>")
                if tie_stop:
                    w.line('<tied type="stop"/>')
                if tie_start:
                    w.line('<tied type="start"/>')
                w.close("</notations>")
            w.close("</note>")
            if ev["kind"] != "grace":
                ties.discard((voice, name))
                if tie_start:
                    ties.add((voice, name))


def voice_ticks(events):
    return sum(ev["duration"] for ev in events)


def write_score(path):
    measures, exposition_end = build_score()
    w = Writer()
    w.line('<?xml version="1.0" encoding="UTF-8" standalone="no"?>')
    w.line('<!DOCTYPE score-partwise PUBLIC "-//Recordare//DTD MusicXML 3.1 Partwise//EN" '
           '"http://www.musicxml.org/dtds/partwise.dtd">')
    w.open('<score-partwise version="3.1">')
    w.open("<work>")
    w.line("<work-title>Orlunde Piano Sonata</work-title>")
    w.close("</work>")
    w.line("<movement-title>Orlunde Piano Sonata</movement-title>")
    w.open("<identification>")
    w.line('<creator type="composer">The Quorvel developers</creator>')
    w.open("<encoding>")
    w.line("<software>debug/generate_sonata.py</software>")
    w.close("</encoding>")
    w.close("</identification>")
    # The instrument name is kept on one line with its parent: it must be the first child.
    w.open("<part-list>")
    w.open('<score-part id="P1">')
    w.line("<part-name>Piano</part-name>")
    w.line('<score-instrument id="P1-I1"><instrument-name>Piano</instrument-name>'
           "</score-instrument>")
    w.close("</score-part>")
    w.close("</part-list>")
    w.open('<part id="P1">')

    ties = set()
    for number, measure in enumerate(measures, start=1):
        w.open('<measure number="%d">' % number)
        if number == 1:
            w.open('<barline location="left">')
            w.line("<bar-style>heavy-light</bar-style>")
            w.line('<repeat direction="forward"/>')
            w.close("</barline>")
            w.open("<attributes>")
            w.line("<divisions>%d</divisions>" % DIVISIONS)
            w.line("<key><fifths>%d</fifths><mode>major</mode></key>" % KEY_FIFTHS)
            w.line("<time><beats>4</beats><beat-type>4</beat-type></time>")
            w.line("<staves>2</staves>")
            w.line('<clef number="1"><sign>G</sign><line>2</line></clef>')
            w.line('<clef number="2"><sign>F</sign><line>4</line></clef>')
            w.close("</attributes>")
        for placement, kind, text in measure["dir"]:
            write_direction(w, placement, kind, text, 1)
        accidentals = {}
        hands = [(measure["rh"], 1, 1), (measure["lh"], 2, 5)]
        first = True
        for voices, staff, first_voice in hands:
            for k, text in enumerate(voices):
                events = parse_voice(text)
                ticks = voice_ticks(events)
                if ticks != MEASURE_TICKS:
                    sys.exit("measure %d staff %d voice %d lasts %d ticks, not %d"
                             % (number, staff, k + 1, ticks, MEASURE_TICKS))
                if not first:
                    w.open("<backup>")
                    w.line("<duration>%d</duration>" % MEASURE_TICKS)
                    w.close("</backup>")
                first = False
                stem = None if len(voices) == 1 else ("up" if k == 0 else "down")
                write_voice(w, events, first_voice + k, staff, accidentals, ties, stem)
        if number == exposition_end:
            w.open('<barline location="right">')
            w.line("<bar-style>light-heavy</bar-style>")
            w.line('<repeat direction="backward"/>')
            w.close("</barline>")
        elif number == len(measures):
            w.open('<barline location="right">')
            w.line("<bar-style>light-heavy</bar-style>")
            w.close("</barline>")
        w.close("</measure>")
    if ties:
        sys.exit("ties left open at the end: %s" % sorted(ties))
    w.close("</part>")
    w.close("</score-partwise>")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(w.lines) + "\n")
    return len(measures)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = os.path.join(here, "OrlundePianoSonata.xml")
    count = write_score(path)
    print("wrote %s: %d measures, %d ticks" % (path, count, count * MEASURE_TICKS))
    # Read the file back with the reader's rules; the grids it yields are kept next to the
    # score so that the program's own reader can be compared with them tick by tick.
    sys.path.insert(0, here)
    sys.dont_write_bytecode = True
    import check_sonata

    checker = check_sonata.Checker()
    checker.run(path)
    if checker.problems:
        sys.exit("\n".join(checker.problems))
    grid = os.path.join(here, "OrlundePianoSonata.grid")
    check_sonata.write_grids(checker, grid)
    print("wrote %s: the grids the reader should build" % grid)


if __name__ == "__main__":
    main()
