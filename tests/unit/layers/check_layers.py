#!/usr/bin/env python3
"""Checks that the folders under src/ include only the folders below them.

The layers, lowest first; a folder may include its own files and those of
any folder listed before it, never one listed after it. The include graph
between folders therefore has no cycle.
"""
import pathlib
import re
import sys

LAYERS = [
    "platform",
    "common",
    "trust",
    "net",
    "engine",
    "settings",
    "framework",
    "fileinfo",
    "install",
    "run",
    "wizard",
    "app",
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/')


def arrows(src):
    """(from folder, to folder, file, line) for every include between folders."""
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match and match.group(1) != folder and (src / match.group(1)).is_dir():
                yield folder, match.group(1), path.relative_to(src), number


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[3] / "src")
    rank = {name: i for i, name in enumerate(LAYERS)}
    folders = sorted(p.name for p in src.iterdir() if p.is_dir())
    faults = [f"src/{name}/ is not in the list of layers" for name in folders if name not in rank]
    for source, target, path, number in arrows(src):
        if source in rank and target in rank and rank[target] > rank[source]:
            faults.append(f"src/{path}:{number}: {source}/ includes {target}/, a layer above it")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) against the layers" if faults else "layers: every include points down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
