#!/usr/bin/env python3
"""Publishing benchmark: a first publication, then the same image with one file changed.

Generates an image of --size-mib (default 2 GiB) in files of --file-mib
(default 4 MiB; half of them text-like bytes that zlib packs, half random
bytes that stay raw), publishes it with wren-publish into a fresh folder, then
changes the bytes of one file and publishes again into the same folder. For
both it prints the time and the bytes written into the publish folder, counted
from the folder itself (every file that is new or was replaced, by its size),
and checks that the republish wrote less than 1 % of the first's bytes. The
first publish's page cache is dropped neither time: both read a warm source.

usage: bench/publish/bench.py [--size-mib N] [--file-mib N] [--publish PROGRAM] [--keep]
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
TABLE = bytes(b' etaoinshrdlucmw'[i % 16] for i in range(256))


def content(index, size, version=0):
    rng = random.Random(index * 7919 + version)
    data = rng.randbytes(size)
    return data.translate(TABLE) if index % 2 == 0 else data


def make_image(folder, size_mib, file_mib):
    count = max(2, size_mib // file_mib)
    for i in range(count):
        sub = os.path.join(folder, 'data', 'pack%02d' % (i // 64))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, 'chunk%04d.pak' % i), 'wb') as f:
            f.write(content(i, file_mib << 20))
    with open(os.path.join(folder, 'Setup.exe'), 'wb') as f:
        f.write(b'MZ benchmark installer\r\n')
    return count


def snapshot(folder):
    """(inode, mtime, size) of every file below folder, by its path."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            st = os.stat(os.path.join(root, name))
            files[os.path.join(root, name)] = (st.st_ino, st.st_mtime_ns, st.st_size)
    return files


def written(before, after):
    return sum(size for path, (ino, mtime, size) in after.items() if before.get(path, (None,))[:2] != (ino, mtime))


def publish(program, source, output):
    before = snapshot(output) if os.path.isdir(output) else {}
    start = time.monotonic()
    result = subprocess.run([program, '--host', '127.0.0.1:8080', '--installer', 'Setup.exe', source, output],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    seconds = time.monotonic() - start
    if result.returncode != 0:
        sys.exit('bench: wren-publish failed:\n' + result.stdout)
    return seconds, written(before, snapshot(output)), result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--size-mib', type=int, default=2048)
    parser.add_argument('--file-mib', type=int, default=4)
    parser.add_argument('--publish', default=os.path.join(ROOT, 'build', 'native', 'tools', 'publish', 'wren-publish'))
    parser.add_argument('--keep', action='store_true', help='keep the work folder')
    args = parser.parse_args()
    if not os.access(args.publish, os.X_OK):
        sys.exit('bench: no %s (build the native preset)' % args.publish)

    work = tempfile.mkdtemp(prefix='wren-bench-publish-')
    try:
        source, output = os.path.join(work, 'game'), os.path.join(work, 'publish')
        count = make_image(source, args.size_mib, args.file_mib)
        print('image: %d files of %d MiB, %d MiB' % (count, args.file_mib, count * args.file_mib))
        first_s, first_bytes, first_out = publish(args.publish, source, output)
        print('first publish:  %7.1f s, %13d bytes written' % (first_s, first_bytes))
        print('  ' + first_out.strip().replace('\n', '\n  '))

        changed = os.path.join(source, 'data', 'pack00', 'chunk0000.pak')
        with open(changed, 'wb') as f:
            f.write(content(0, args.file_mib << 20, version=1))
        again_s, again_bytes, again_out = publish(args.publish, source, output)
        print('republish:      %7.1f s, %13d bytes written (one %d MiB file changed)' % (
            again_s, again_bytes, args.file_mib))
        print('  ' + again_out.strip().replace('\n', '\n  '))
        share = 100.0 * again_bytes / first_bytes
        print('republish/first: bytes %.3f %%, time %.2f' % (share, again_s / first_s))
        if share >= 1:
            print('bench: the republish wrote 1 % or more of the first publish', file=sys.stderr)
            return 1
        return 0
    finally:
        if args.keep:
            print('bench: kept %s' % work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
