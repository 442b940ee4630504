"""What the relay benchmarks take from the whole-run benchmark (bench/run: images,
servers, Wine and the walk of the starter) and from pytools, under one name."""
import os
import sys
from dataclasses import dataclass, field

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'bench', 'run'))
sys.path.insert(0, ROOT)

from benchutil import BenchError, remove  # noqa: E402,F401
from images import RAW_PATTERN, Image, compare_image, format_size, generate_source, parse_size  # noqa: E402,F401
from pipeline import crc_of_file, filetime_to_unix  # noqa: E402,F401
from pytools.common import MAGIC, parse_list, unpack, wine_path  # noqa: E402
from run_bench import Context  # noqa: E402,F401
from run_trace import print_trace  # noqa: E402,F401
from servers import Processes, start_http_server  # noqa: E402,F401
from servers import start_list_server as start_fileinfo_server  # noqa: E402,F401
from starter import BINARIES, WINE_RUN, Wine, run_ours, snapshot_binaries  # noqa: E402,F401

unpack_container = unpack
win_path = wine_path


@dataclass
class ListPart:
    raw: bool
    crc: int
    size: int
    packed_crc: int
    packed_size: int
    remote: str


@dataclass
class ListFile:
    crc: int
    size: int
    creation: int
    last_write: int
    name: str
    parts: list = field(default_factory=list)


def parse_file_list(data):
    """The base URL and the files of a filelist.dat (names as text)."""
    lst = parse_list(unpack(data) if data[:4] == MAGIC else data)
    files = [ListFile(r.crc, r.size, r.creation, r.last_write, r.name.decode('cp932'),
                      [ListPart(p.raw, p.crc, p.size, p.packed_crc, p.packed_size, p.remote.decode('cp932'))
                       for p in r.parts])
             for r in lst.records]
    return lst.base.decode('cp932'), files
