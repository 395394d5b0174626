#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

Layers, lowest first; a file may include its own layer and those listed for it. The folder a
file sits in is its layer; main.cpp and *_main.cpp are program entries above every layer.

  scripts/check-layers.py [--root SRC]   check SRC (default: src/ of this repository)
  scripts/check-layers.py --plant        prove the check fails on planted wrong-way includes
"""
import os
import re
import shutil
import sys
import tempfile

CORE = ["score", "music", "midi", "prepare", "animation", "geometry", "fingering", "timeline",
        "look"]
ALLOWED = {
    # Helpers every layer shares: the I/O layers' fault-injection counter, the bounded file reader.
    "base": [],
    "score": [],
    "music": ["score"],
    "midi": ["music", "score"],
    "prepare": ["music", "score"],
    "animation": ["geometry", "score"],
    "geometry": ["score"],
    # The fingering writer prepares the score it fingers, as the planners read a Piece.
    "fingering": ["prepare", "music", "geometry", "animation", "score"],
    "timeline": ["music", "fingering", "geometry", "animation", "score"],
    # The new look's pure part: the frame of a moment (lane, lit keys, poses) and its cameras.
    "look": ["timeline", "music", "fingering", "geometry", "animation", "score"],
    "render": ["look", "geometry", "animation", "music", "score"],
    "audio": CORE,
    "export": CORE + ["render", "audio"],
    "app": CORE + ["render", "audio", "export"],
    "entry": CORE + ["render", "audio", "export", "app"],  # main.cpp, *_main.cpp
}

# Every layer may use the shared helpers.
for _layer, _below in ALLOWED.items():
    if _layer != "base":
        _below.append("base")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+/[^"]+)"', re.M)


def layer_of(relative):
    name = os.path.basename(relative)
    if name == "main.cpp" or name.endswith("_main.cpp"):
        return "entry"
    return relative.split("/", 1)[0]


def check(root):
    faults = []
    for folder, _, files in os.walk(root):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            own = layer_of(relative)
            if own not in ALLOWED:
                faults.append(f"{relative}: folder of no known layer")
                continue
            with open(path, encoding="utf-8", errors="replace") as source:
                text = source.read()
            for header in INCLUDE.findall(text):
                other = layer_of(header)
                if other == own or other in ALLOWED[own]:
                    continue
                faults.append(f"{relative}: includes {header} ({own} may not include {other})")
    for fault in faults:
        print(f"check-layers: {fault}", flush=True)
    return not faults


def plant(root):
    """The check passes on a copy of the sources and fails on each planted wrong-way include."""
    plants = [
        ("score/score_model.h", '#include "prepare/prepare.h"\n'),
        ("timeline/timeline.h", '#include "render/scene_gl.h"\n'),
        ("fingering/planner.h", '#include "app/session.h"\n'),
        ("render/keyboard_gl.h", '#include "app/options.h"\n'),
        ("geometry/solvers.h", '#include "render/scene_gl.h"\n'),
        ("animation/animation.cpp", '#include "app/state.h"\n'),
        ("geometry/hand_model.h", '#include "fingering/planner.h"\n'),
        ("export/export.h", '#include "app/options.h"\n'),
        ("base/fault_counter.h", '#include "score/dom.h"\n'),
    ]
    ok = True
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "src")
        shutil.copytree(root, copy)
        if not check(copy):
            print("check-layers --plant: the unplanted copy fails", flush=True)
            return False
        for relative, line in plants:
            target = os.path.normpath(os.path.join(copy, relative))
            with open(target, encoding="utf-8") as f:
                before = f.read()
            with open(target, "w", encoding="utf-8") as f:
                f.write(before + line)
            if check(copy):
                print(f"check-layers --plant: {relative} + {line.strip()} was not caught", flush=True)
                ok = False
            with open(target, "w", encoding="utf-8") as f:
                f.write(before)
    if ok:
        print(f"check-layers --plant: all {len(plants)} planted includes caught", flush=True)
    return ok


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.join(here, "..", "src")
    args = sys.argv[1:]
    if "--root" in args:
        root = args[args.index("--root") + 1]
    if "--plant" in args:
        return 0 if plant(root) else 1
    if check(root):
        print("check-layers: every include runs down the layers", flush=True)
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
