"""The benchmark's images: their shape, their generated files, and the check
that a built image holds exactly those files."""
import argparse
import filecmp
import json
import math
import os
import random
import re
import shutil
from dataclasses import dataclass

from benchutil import BenchError

GENERATOR_VERSION = 1
RAW_PATTERN = '*-raw.bin'


@dataclass
class Image:
    name: str
    files: int
    size: int
    parts: int
    raw_fraction: float

    @property
    def raw_files(self):
        return sum(self.is_raw(i) for i in range(self.files))

    @property
    def part_size(self):
        return max(1, math.ceil(self.size / self.parts))

    def describe(self):
        return '%d files of %s, %d parts each, %d packed / %d raw' % (
            self.files, format_size(self.size), self.parts, self.files - self.raw_files, self.raw_files)

    def is_raw(self, i):
        # Spread evenly, so that both kinds come early and late in the list.
        return math.floor((i + 1) * self.raw_fraction + 1e-9) > math.floor(i * self.raw_fraction + 1e-9)

    def file_names(self):
        """(kind, name) in list order; RAW_PATTERN matches the raw ones."""
        names = []
        for i in range(self.files):
            kind = 'raw' if self.is_raw(i) else 'packed'
            names.append((kind, '%03d-%s.bin' % (i, kind)))
        return names


PRESETS = {
    'big': Image('big', 8, 32 << 20, 4, 0.5),
    'small': Image('small', 50, 20 << 10, 4, 0.5),
}


def parse_size(text):
    match = re.fullmatch(r'(\d+)([KkMmGg]?)(i?B)?', text)
    if not match:
        raise argparse.ArgumentTypeError('not a size: %r (bytes, or with K, M or G)' % text)
    return int(match.group(1)) << {'': 0, 'k': 10, 'm': 20, 'g': 30}[match.group(2).lower()]


def format_size(n):
    for unit, shift in (('GiB', 30), ('MiB', 20), ('KiB', 10)):
        if n >= 1 << shift and n % (1 << shift) == 0:
            return '%d %s' % (n >> shift, unit)
    return '%d bytes' % n


def text_like(rng, size):
    """Lines of words with a skewed frequency: packs about as well as game text or scripts do."""
    vocabulary = [''.join(rng.choices('etaoinshrdlucmfwypvbgkqjxz', k=rng.randint(2, 11))) for _ in range(3000)]
    weights = [1 / (rank + 1) for rank in range(len(vocabulary))]
    out = bytearray()
    line = 0
    while len(out) < size:
        words = rng.choices(vocabulary, weights, k=20000)
        lines = [' '.join(words[i:i + 12]) for i in range(0, len(words), 12)]
        for text in lines:
            out += b'%06d %s.\n' % (line, text.encode())
            line += 1
    return bytes(out[:size])


def generate_source(image, folder, seed):
    """Writes the image's files, or keeps the ones a previous run made with the same values."""
    stamp = folder + '.json'
    wanted = json.dumps({'image': image.__dict__, 'seed': seed, 'version': GENERATOR_VERSION}, sort_keys=True)
    if os.path.isdir(folder) and os.path.exists(stamp) and open(stamp).read() == wanted:
        return False
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for kind, name in image.file_names():
        rng = random.Random('%d/%s/%s' % (seed, image.name, name))
        data = rng.randbytes(image.size) if kind == 'raw' else text_like(rng, image.size)
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    with open(stamp, 'w') as f:
        f.write(wanted)
    return True


def compare_image(source, image_folder, what):
    """Fails loudly unless image_folder holds exactly the source files, byte for byte."""
    expected = sorted(os.path.relpath(os.path.join(d, n), source) for d, _, ns in os.walk(source) for n in ns)
    actual = sorted(os.path.relpath(os.path.join(d, n), image_folder)
                    for d, _, ns in os.walk(image_folder) for n in ns) if os.path.isdir(image_folder) else []
    missing, extra = sorted(set(expected) - set(actual)), sorted(set(actual) - set(expected))
    differ = [n for n in expected if n in actual and
              not filecmp.cmp(os.path.join(source, n), os.path.join(image_folder, n), shallow=False)]
    if missing or extra or differ:
        raise BenchError('%s: the image in %s is not the source: %d missing %s, %d extra %s, %d differ %s' % (
            what, image_folder, len(missing), missing[:5], len(extra), extra[:5], len(differ), differ[:5]))
