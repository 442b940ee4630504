"""Helpers of the Python tools in bench/ and tests/: the file-list format
(reader and writer), free ports, waiting for a server, starting
wren-fileinfo-server and stopping what a tool started.

The tools are started by path, so each puts the repository root at the front
of sys.path before it imports this.
"""
import os
import re
import signal
import socket
import struct
import subprocess
import threading
import time
import zlib
from dataclasses import dataclass, field


class ToolError(Exception):
    """Bytes that are not what they should be, or a server that did not start."""


# ---- the file list -------------------------------------------------------------

MAGIC = b'MWC\x1a'
HEADER = 12         # magic, unpacked size, packed size
PART_COUNT = 0x3F   # record flags: number of part entries; 0 = the record is its own one part
RAW = 0x40          # record and part flags: stored unpacked


@dataclass
class Part:
    flags: int        # RAW; other bits kept as read
    crc: int          # of the part's bytes
    size: int
    packed_crc: int   # of the part file as served
    packed_size: int
    remote: bytes     # its name below the download base

    @property
    def raw(self):
        return bool(self.flags & RAW)


@dataclass
class Record:
    """A target file. A record without part entries (flags & PART_COUNT == 0)
    still has one part: its flags, CRC and size are the record's."""
    flags: int
    crc: int
    size: int
    creation: int     # FILETIME
    last_write: int
    name: bytes       # code page 932, '\' between folders
    parts: list = field(default_factory=list)


@dataclass
class FileList:
    lead: int
    base: bytes       # '/host/path/': a part's URL is 'http:/' + base + its remote name
    installer: bytes
    records: list = field(default_factory=list)


def pack(data, level=9):
    """data in a packed container."""
    body = zlib.compress(data, level)
    return MAGIC + struct.pack('<II', len(data), len(body)) + body


def unpack(blob):
    """The bytes a packed container holds."""
    if len(blob) < HEADER or blob[:4] != MAGIC:
        raise ToolError('not a packed container')
    unpacked, packed = struct.unpack_from('<II', blob, 4)
    if len(blob) != HEADER + packed:
        raise ToolError('a packed container of %d bytes says %d' % (len(blob), HEADER + packed))
    try:
        data = zlib.decompress(blob[HEADER:])
    except zlib.error as e:
        raise ToolError('a packed container does not inflate: %s' % e) from None
    if len(data) != unpacked:
        raise ToolError('a packed container holds %d bytes, not %d' % (len(data), unpacked))
    return data


def list_text(raw):
    """A name or the base as the starter reads it: up to a NUL, code page 932."""
    return raw.split(b'\0', 1)[0].decode('cp932')


class _Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ToolError('the file list ends inside a field at byte %d' % self.pos)
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u32(self):
        return struct.unpack('<I', self.take(4))[0]

    def u64(self):
        return struct.unpack('<Q', self.take(8))[0]

    def compact(self):
        v = self.u8()
        if v != 0xFF:
            return v
        v = struct.unpack('<H', self.take(2))[0]
        return v if v != 0xFFFF else self.u32()

    def counted(self):
        return self.take(self.compact())


def parse_list(data):
    """The FileList of unpacked file-list bytes; every byte must belong to it."""
    r = _Reader(data)
    lst = FileList(r.compact(), r.counted(), r.counted())
    for _ in range(r.compact()):
        rec = Record(r.u8(), r.u32(), r.compact(), r.u64(), r.u64(), r.counted())
        if rec.flags & PART_COUNT == 0:
            rec.parts.append(Part(rec.flags, rec.crc, rec.size, r.u32(), r.compact(), r.counted()))
        for _ in range(rec.flags & PART_COUNT):
            rec.parts.append(Part(r.u8(), r.u32(), r.compact(), r.u32(), r.compact(), r.counted()))
        lst.records.append(rec)
    if r.pos != len(data):
        raise ToolError('the file list has %d bytes after its last record' % (len(data) - r.pos))
    return lst


def _compact(v):
    if v < 0xFF:
        return bytes([v])
    if v < 0xFFFF:
        return b'\xff' + struct.pack('<H', v)
    return b'\xff\xff\xff' + struct.pack('<I', v)


def _counted(raw):
    return _compact(len(raw)) + raw


def list_bytes(lst, count=None):
    """The unpacked bytes of lst. count, when given, is stored as the record
    count instead of the number of records (for lists that lie about it)."""
    out = [_compact(lst.lead), _counted(lst.base), _counted(lst.installer),
           _compact(len(lst.records) if count is None else count)]
    for rec in lst.records:
        out += [bytes([rec.flags]), struct.pack('<I', rec.crc), _compact(rec.size),
                struct.pack('<QQ', rec.creation, rec.last_write), _counted(rec.name)]
        for part in rec.parts:
            if rec.flags & PART_COUNT:
                out += [bytes([part.flags]), struct.pack('<I', part.crc), _compact(part.size)]
            out += [struct.pack('<I', part.packed_crc), _compact(part.packed_size), _counted(part.remote)]
    return b''.join(out)


def read_list(path):
    """The FileList of a packed filelist.dat."""
    with open(path, 'rb') as f:
        return parse_list(unpack(f.read()))


def write_list(lst, path, count=None):
    """Writes lst packed, as wren-publish does (see list_bytes for count)."""
    with open(path, 'wb') as f:
        f.write(pack(list_bytes(lst, count)))


# ---- servers and processes -------------------------------------------------------

def free_port():
    """A port that was free on 127.0.0.1 a moment ago, for servers that cannot pick their own."""
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for_port(port, proc=None, seconds=15):
    """True once 127.0.0.1:port accepts a connection; False when the time runs
    out or proc (the server, when given) ends first."""
    deadline = time.monotonic() + seconds
    while proc is None or proc.poll() is None:
        try:
            socket.create_connection(('127.0.0.1', port), timeout=0.2).close()
            return True
        except OSError:
            if time.monotonic() >= deadline:
                return False
            time.sleep(0.05)
    return False


def _signal(proc, signum):
    try:
        # One started in a session of its own is signalled with its whole
        # group, so that the programs it started (xvfb-run, Wine) end too.
        if os.getpgid(proc.pid) == proc.pid:
            os.killpg(proc.pid, signum)
        else:
            proc.send_signal(signum)
    except ProcessLookupError:
        pass


def stop_processes(procs, grace=5):
    """Ends every process of procs that still runs: SIGTERM to them all, up to
    grace seconds for them to end, then SIGKILL."""
    running = [p for p in procs if p.poll() is None]
    for proc in running:
        _signal(proc, signal.SIGTERM)
    deadline = time.monotonic() + grace
    for proc in running:
        try:
            proc.wait(timeout=max(0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            _signal(proc, signal.SIGKILL)
            try:
                proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                pass  # stuck in the kernel: nothing more to do from here


def start_fileinfo_server(exe, args, log_path=None, start=subprocess.Popen, seconds=15):
    """Starts wren-fileinfo-server on a port it picks itself, with args, and
    returns (process, port) once that port answers. Its log is read on (into
    log_path when given), so it never blocks on a full pipe. start: what
    starts the process (subprocess.Popen or a wrapper of the same arguments)."""
    proc = start([exe, '--port', '0'] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                 text=True, errors='replace')
    first = []
    got_first = threading.Event()

    def drain():
        log = open(log_path, 'w') if log_path else None
        try:
            with proc.stdout:
                for line in proc.stdout:
                    if not first:
                        first.append(line.rstrip('\n'))
                        got_first.set()
                    if log:
                        log.write(line)
                        log.flush()
        finally:
            got_first.set()
            if log:
                log.close()

    threading.Thread(target=drain, daemon=True).start()
    got_first.wait(seconds)
    # The first line names the address: "... serving LIST (...) on 127.0.0.1:PORT".
    match = re.search(r' on [0-9.]+:(\d+)$', first[0]) if first else None
    if not match or not wait_for_port(int(match.group(1)), proc, seconds):
        stop_processes([proc])
        raise ToolError('wren-fileinfo-server did not start: %r%s' % (
            first[0] if first else '', ' (see %s)' % log_path if log_path else ''))
    return proc, int(match.group(1))


def wine_path(path):
    """path as Wine sees it, on its Z: drive."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')
