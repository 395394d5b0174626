#!/usr/bin/env python3
"""Writes the fingered exercises of this folder as strict-form MusicXML: the notes of well-known
public-domain exercises with the fingerings the method books print for them (1 thumb .. 5 little
finger). Both hands play together, the left hand two octaves (or one) below. Run it here to
rebuild the files."""

STEPS = ['C', 'C', 'D', 'D', 'E', 'F', 'F', 'G', 'G', 'A', 'A', 'B']
SHARP = [0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0]


def pitch(midi, flats):
    """MusicXML pitch of a MIDI note number, spelt with flats or sharps."""
    pc, octave = midi % 12, midi // 12 - 1
    if SHARP[pc] and flats:
        return STEPS[pc + 1], -1, octave
    return STEPS[pc], 1 if SHARP[pc] else 0, octave


def note_xml(midi, fing, staff, flats, chord=False):
    step, alter, octave = pitch(midi, flats)
    alter_xml = '<alter>%d</alter>' % alter if alter else ''
    return ('<note>%s<pitch><step>%s</step>%s<octave>%d</octave></pitch><duration>1</duration>'
            '<voice>%d</voice><type>eighth</type><staff>%d</staff><notations><technical>'
            '<fingering>%d</fingering></technical></notations></note>' %
            ('<chord/>' if chord else '', step, alter_xml, octave, staff, staff, fing))


def write(name, right, left, flats=False, per_measure=8):
    """right, left: lists of (midi, finger); both hands of equal length."""
    measures = []
    for m in range(0, len(right), per_measure):
        body = []
        if m == 0:
            body.append('<attributes><divisions>2</divisions><staves>2</staves>'
                        '<clef number="1"><sign>G</sign><line>2</line></clef>'
                        '<clef number="2"><sign>F</sign><line>4</line></clef></attributes>')
        r, l = right[m:m + per_measure], left[m:m + per_measure]
        body += [note_xml(k, f, 1, flats) for k, f in r]
        body.append('<backup><duration>%d</duration></backup>' % len(r))
        body += [note_xml(k, f, 2, flats) for k, f in l]
        measures.append('<measure number="%d">%s</measure>' % (m // per_measure + 1, ''.join(body)))
    xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<score-partwise version="3.1"><part-list>'
           '<score-part id="P1"><part-name>Piano</part-name><score-instrument id="P1-I1">'
           '<instrument-name>Piano</instrument-name></score-instrument></score-part></part-list>'
           '<part id="P1">%s</part></score-partwise>\n' % ''.join(measures))
    with open(name, 'w') as f:
        f.write(xml)


def up_down(seq):
    return seq + seq[-2::-1]


def fingers(text):
    return [int(c) for c in text]


MAJOR = [2, 2, 1, 2, 2, 2, 1]

# Two-octave major scales, up and down: (tonic MIDI for the right hand, flats, right, left).
SCALES = [
    ('c', 60, False, '123123412312345', '543213214321321'),
    ('g', 67, False, '123123412312345', '543213214321321'),
    ('d', 62, False, '123123412312345', '543213214321321'),
    ('a', 69, False, '123123412312345', '543213214321321'),
    ('e', 64, False, '123123412312345', '543213214321321'),
    ('b', 71, False, '123123412312345', '432143213214321'),
    ('f', 65, True, '123412312341234', '543213214321321'),
    ('bflat', 70, True, '412312341231234', '321432132143213'),
]


def scale_keys(tonic):
    keys = [tonic]
    for i in range(14):
        keys.append(keys[-1] + MAJOR[i % 7])
    return keys


def main():
    for name, tonic, flats, rf, lf in SCALES:
        keys = scale_keys(tonic)
        right = list(zip(up_down(keys), up_down(fingers(rf))))
        left = list(zip(up_down([k - 24 for k in keys]), up_down(fingers(lf))))
        write('scale_%s_major.xml' % name, right, left, flats)
    # Root-position arpeggios over two octaves, up and down.
    for name, tonic, third, rf, lf in [('c_major', 60, 4, '1231235', '5421421'),
                                       ('g_major', 67, 4, '1231235', '5421421'),
                                       ('a_minor', 69, 3, '1231235', '5421421'),
                                       ('f_major', 65, 4, '1231235', '5421421')]:
        keys = [tonic, tonic + third, tonic + 7, tonic + 12, tonic + 12 + third, tonic + 19,
                tonic + 24]
        right = list(zip(up_down(keys), up_down(fingers(rf))))
        left = list(zip(up_down([k - 24 for k in keys]), up_down(fingers(lf))))
        write('arpeggio_%s.xml' % name, right, left, False, per_measure=13)
    # The first exercise of the classic virtuoso-pianist drills: an eight-note figure climbing
    # by step from C, right hand 1 2 3 4 5 4 3 2, left hand 5 4 3 2 1 2 3 4 two octaves lower.
    right, left = [], []
    white = [0, 2, 4, 5, 7, 9, 11]
    def white_key(i):
        return 60 + 12 * (i // 7) + white[i % 7]
    for start in range(14):
        figure = [white_key(start + d) for d in (0, 2, 3, 4, 5, 4, 3, 2)]
        right += list(zip(figure, [1, 2, 3, 4, 5, 4, 3, 2]))
        left += list(zip([k - 24 for k in figure], [5, 4, 3, 2, 1, 2, 3, 4]))
    write('drill_figure_climbing.xml', right, left)
    # Broken chords in C: C-E-G-C', up and down, through the three inversions.
    right, left = [], []
    for shape, rf, lf in [((0, 4, 7, 12), '1235', '5421'), ((4, 7, 12, 16), '1245', '5321'),
                          ((7, 12, 16, 19), '1245', '5421')]:
        figure = [60 + s for s in shape]
        right += list(zip(up_down(figure), up_down(fingers(rf))))
        left += list(zip(up_down([k - 24 for k in figure]), up_down(fingers(lf))))
    write('broken_chords_c.xml', right, left, False, per_measure=7)
    # Chromatic scale from C over one octave, up and down.
    keys = list(range(60, 73))
    right = list(zip(up_down(keys), up_down(fingers('1313123131312'))))
    left = list(zip(up_down([k - 24 for k in keys]), up_down(fingers('1313213131321'))))
    write('chromatic_c.xml', right, left)


if __name__ == '__main__':
    main()
