#!/usr/bin/env python3
"""Makes the sample game folder and publishes it.

OUT/game     a few MiB of game files: one file split into several parts, one
             incompressible file that stays raw, an empty file, a Japanese name
             (表示.txt) and the installer MarloSetup.exe
OUT/publish  the publish folder made from it by wren-publish

The installer is the Windows build's MarloSetup.exe when it exists; until then a
placeholder stands in its place (it cannot be launched). The files are made
from fixed seeds and rewritten only when their bytes change, so running this
again publishes again only when something changed.

Options after "--" go to wren-publish as they are (--sign KEYFILE, --serial N,
--raw PATTERN, --lead N, ...).
"""
import argparse
import os
import random
import shutil
import subprocess
import sys

PART_SIZE = "1M"


def compressible(seed, size):
    """Text-like bytes: a 16-letter alphabet, so zlib packs them to about half."""
    table = bytes((b" etaoinshrdlucmw"[i % 16] for i in range(256)))
    return random.Random(seed).randbytes(size).translate(table)


def game_files(installer):
    files = {
        "data/world.pak": compressible(1, 2 * 1024 * 1024 + 512 * 1024),  # three packed parts
        "data/maps/field01.map": compressible(2, 300 * 1024),
        "data/music/theme.ogg": random.Random(3).randbytes(768 * 1024),  # does not pack: kept raw
        "data/empty.cfg": b"",
        "表示.txt": "表示のテストです。\r\n".encode("cp932"),
        "readme.txt": b"Marlo sample image: made by tools/sample/make_sample.py\r\n",
    }
    if installer and os.path.isfile(installer):
        with open(installer, "rb") as f:
            files["MarloSetup.exe"] = f.read()
    else:
        print("make_sample: %s not built yet; MarloSetup.exe is a placeholder "
              "(tools/sample/build-sample.sh builds both)" % (installer or "the installer"), file=sys.stderr)
        files["MarloSetup.exe"] = b"placeholder: build the windows preset to get the sample installer\r\n"
    return files


# Every sample file carries the same time on every machine and every make, so
# two images made from this script are the same to the last file time.
SAMPLE_TIME = 1767225600  # 2026-01-01 00:00:00 UTC


def write_if_changed(path, data):
    same = False
    if os.path.isfile(path):
        with open(path, "rb") as f:
            same = f.read() == data
    if same and int(os.path.getmtime(path)) == SAMPLE_TIME:
        return False
    if not same:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.utime(path, (SAMPLE_TIME, SAMPLE_TIME))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--publish", required=True, help="the wren-publish program")
    parser.add_argument("--out", required=True, help="folder that receives game/ and publish/")
    parser.add_argument("--installer", default="", help="the Windows build's MarloSetup.exe")
    parser.add_argument("--host", default="127.0.0.1:8080", help="HTTP server of the part files")
    parser.add_argument("--path", default="/", help="where publish/ is served on it")
    argv = sys.argv[1:]
    cut = argv.index("--") if "--" in argv else len(argv)
    args = parser.parse_args(argv[:cut])
    publish_options = argv[cut + 1:]

    game = os.path.join(args.out, "game")
    publish = os.path.join(args.out, "publish")
    files = game_files(args.installer)
    changed = False
    for name, data in files.items():
        changed |= write_if_changed(os.path.join(game, name), data)
    # Files of an earlier version of this script must not be published.
    for root, _, names in os.walk(game):
        for name in names:
            path = os.path.join(root, name)
            if os.path.relpath(path, game).replace(os.sep, "/") not in files:
                os.remove(path)
                changed = True

    settings = " ".join([args.publish, args.host, args.path, PART_SIZE] + publish_options)
    stamp = os.path.join(args.out, "publish.settings")
    if not changed and os.path.isfile(os.path.join(publish, "filelist.dat")) and os.path.isfile(stamp):
        with open(stamp) as f:
            if f.read() == settings and os.path.getmtime(stamp) >= os.path.getmtime(args.publish):
                return 0
    subprocess.run([args.publish, "--host", args.host, "--path", args.path, "--installer", "MarloSetup.exe",
                    "--part-size", PART_SIZE] + publish_options + [game, publish], check=True)
    with open(stamp, "w") as f:
        f.write(settings)
    return 0


if __name__ == "__main__":
    sys.exit(main())
