#!/usr/bin/env python3
"""Whole-run benchmark: the real WrenStarter.exe against a plain download script.

For each image it generates the game files, publishes them with wren-publish,
serves the part files with a real HTTP server (nginx when installed, else
Python's) and the list with wren-fileinfo-server, all on 127.0.0.1. Each run
then builds the image twice from the same server:

  ours      the real exe under Wine + Xvfb, walked through the wizard with its
            defaults by wren-demo-walk, from the start of the build run to the
            finish page (the exe's trace, WREN_TRACE; without a trace, the
            walker's whole wall time);
  pipeline  what a plain script would do: curl per part, inflate with zlib,
            CRC-32 of every part, join into a temporary file, CRC-32 of it,
            copy into place, delete the parts.

Both images are compared with the source files byte for byte after each run,
and every run starts from nothing (no image, no parts, no settings).

--signed publishes with the demo publisher's key (tools/demo/demo-publisher.key)
and times the demo build of the starter, which checks the signed manifest,
instead; everything else stays the same, so its ratio sits beside the plain
starter's ratio of a run without --signed.

Images: big = 8 files of 32 MiB, small = 50 files of 20 KiB; both 4 parts a
file, half packed (text-like) and half raw (random bytes). --files, --size,
--parts and --raw-fraction change the chosen preset's images; without --preset
they make one image of their own (from the small preset's values).

  bench/run/run_bench.py                         # both images, 3 runs each
  bench/run/run_bench.py --preset small --runs 1 --trace
  bench/run/run_bench.py --files 5 --size 1M --runs 1 --work /tmp/wren-bench
  bench/run/run_bench.py --preset small --signed

The settings file it writes for each run turns the installer launch off
(BootInstaller=0): Finish then ends the starter at once, and the generated
installer name is not a program. Everything it starts is stopped at the end,
also on an error or Ctrl-C. Needs the native build (wren-publish,
wren-fileinfo-server) and the windows build (WrenStarter.exe, wren-demo-walk).
"""
import argparse
import filecmp
import json
import math
import os
import random
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib
from dataclasses import dataclass, field, replace

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
WINE_RUN = os.path.join(ROOT, 'cmake', 'wine-run')
BINARIES = {
    'starter': 'build/windows/src/app/WrenStarter.exe',
    'walker': 'build/windows/tools/demo/wren-demo-walk.exe',
    'publish': 'build/native/tools/publish/wren-publish',
    'fileinfo': 'build/native/tools/fileinfo_server/wren-fileinfo-server',
}
SIGNED_STARTER = 'build/windows/demo/WrenStarter.exe'  # carries the demo publisher's public key
DEMO_KEY = os.path.join(ROOT, 'tools', 'demo', 'demo-publisher.key')
PACKED_MAGIC = 0x1A43574D
PACKED_HEADER = 12
RAW_BIT = 0x40
GENERATOR_VERSION = 1
RAW_PATTERN = '*-raw.bin'
SERVER_START_LIMIT = 15  # seconds for a server to answer
PART_LIMIT = 120         # seconds for one curl


class BenchError(Exception):
    pass


# ---- images ------------------------------------------------------------------

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


# ---- the file list -------------------------------------------------------------

@dataclass
class Part:
    raw: bool
    crc: int
    size: int
    packed_crc: int
    packed_size: int
    remote: str


@dataclass
class ListFile:
    name: str  # '\' between folders
    crc: int
    size: int
    creation: int
    last_write: int
    parts: list = field(default_factory=list)


class ListReader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise BenchError('the file list ends early')
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

    def text(self):
        raw = self.take(self.compact())
        return raw.split(b'\0', 1)[0].decode('cp932')


def unpack_container(data):
    magic, unpacked, packed = struct.unpack_from('<III', data)
    if magic != PACKED_MAGIC or len(data) != PACKED_HEADER + packed:
        raise BenchError('not a packed container')
    out = zlib.decompress(data[PACKED_HEADER:])
    if len(out) != unpacked:
        raise BenchError('a packed container holds %d bytes, not %d' % (len(out), unpacked))
    return out


def parse_file_list(data):
    """The base URL and the files of a filelist.dat."""
    if data[:4] == struct.pack('<I', PACKED_MAGIC):
        data = unpack_container(data)
    r = ListReader(data)
    r.compact()  # leading number
    base = r.text()
    r.text()  # installer
    files = []
    for _ in range(r.compact()):
        flags = r.u8()
        f = ListFile(crc=r.u32(), size=r.compact(), creation=r.u64(), last_write=r.u64(), name=r.text())
        count = flags & 0x3F
        if count == 0:  # one part with the file's flags, CRC and size
            f.parts.append(Part(bool(flags & RAW_BIT), f.crc, f.size, r.u32(), r.compact(), r.text()))
        for _ in range(count):
            part_flags = r.u8()
            f.parts.append(Part(bool(part_flags & RAW_BIT), r.u32(), r.compact(), r.u32(), r.compact(), r.text()))
        files.append(f)
    return base, files


# ---- processes -----------------------------------------------------------------

class Processes:
    """Every long-running process the benchmark starts, each in a group of its own."""

    def __init__(self):
        self.procs = []

    def start(self, args, **kwargs):
        proc = subprocess.Popen(args, start_new_session=True, **kwargs)
        self.procs.append(proc)
        return proc

    def stop(self, proc, grace=5):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait(timeout=grace)
        if proc in self.procs:
            self.procs.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.procs)):
            self.stop(proc)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, what):
    deadline = time.monotonic() + SERVER_START_LIMIT
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise BenchError('%s ended at start (exit code %d)' % (what, proc.returncode))
        try:
            socket.create_connection(('127.0.0.1', port), timeout=0.5).close()
            return
        except OSError:
            time.sleep(0.1)
    raise BenchError('%s did not answer on 127.0.0.1:%d within %d s' % (what, port, SERVER_START_LIMIT))


def find_nginx():
    return shutil.which('nginx') or next((p for p in ('/usr/sbin/nginx',) if os.access(p, os.X_OK)), None)


def start_http_server(procs, kind, www, folder):
    """Serves www on a free 127.0.0.1 port; returns (port, description)."""
    os.makedirs(folder, exist_ok=True)
    nginx = find_nginx() if kind in ('auto', 'nginx') else None
    if kind == 'nginx' and not nginx:
        raise BenchError('nginx is not installed (scripts/setup installs it)')
    port = free_port()
    if nginx:
        temp = os.path.join(folder, 'temp')
        os.makedirs(temp, exist_ok=True)
        conf = os.path.join(folder, 'nginx.conf')
        with open(conf, 'w') as f:
            f.write(NGINX_CONF % {
                'user': 'user root root;' if os.geteuid() == 0 else '',
                'folder': folder, 'temp': temp, 'port': port, 'www': www})
        proc = procs.start([nginx, '-p', folder + '/', '-c', conf, '-e', os.path.join(folder, 'error.log')],
                           stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, 'stderr.log'), 'w'))
        version = subprocess.run([nginx, '-v'], capture_output=True, text=True).stderr.strip()
        what = version.replace('nginx version: ', '') or 'nginx'
    else:
        proc = procs.start([sys.executable, '-m', 'http.server', str(port), '--bind', '127.0.0.1', '--directory', www],
                           stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, 'http.log'), 'w'))
        what = "Python's http.server"
    wait_for_port(port, proc, what)
    return port, what


NGINX_CONF = '''daemon off;
%(user)s
worker_processes 1;
pid %(folder)s/nginx.pid;
error_log %(folder)s/error.log warn;
events { worker_connections 256; }
http {
    access_log %(folder)s/access.log;
    client_body_temp_path %(temp)s/body;
    proxy_temp_path %(temp)s/proxy;
    fastcgi_temp_path %(temp)s/fastcgi;
    uwsgi_temp_path %(temp)s/uwsgi;
    scgi_temp_path %(temp)s/scgi;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 65;
    server {
        listen 127.0.0.1:%(port)d;
        root %(www)s;
    }
}
'''


def start_fileinfo_server(procs, exe, filelist, log_path):
    proc = procs.start([exe, '--bind', '127.0.0.1', '--port', '0', filelist],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    first = []
    got_first = threading.Event()

    def drain():  # keeps its log flowing so that it never blocks on a full pipe
        with open(log_path, 'w') as log:
            for line in proc.stdout:
                if not first:
                    first.append(line)
                    got_first.set()
                log.write(line)
                log.flush()
        got_first.set()

    threading.Thread(target=drain, daemon=True).start()
    got_first.wait(SERVER_START_LIMIT)
    match = re.search(r' on [0-9.]+:(\d+)', first[0]) if first else None
    if not match:
        raise BenchError('wren-fileinfo-server did not start: %r (see %s)' % (first[0] if first else '', log_path))
    port = int(match.group(1))
    wait_for_port(port, proc, 'wren-fileinfo-server')
    return proc, port


# ---- binaries ------------------------------------------------------------------

def snapshot_binaries(binaries, bin_folder, wait_limit):
    """Copies the four programs once, so a rebuild during the benchmark changes no run.
    A program that is missing (being rebuilt) is waited for, up to wait_limit seconds."""
    os.makedirs(bin_folder, exist_ok=True)
    deadline = time.monotonic() + wait_limit
    copies = {}
    for key, relative in binaries.items():
        source = os.path.join(ROOT, relative)
        announced = False
        while True:
            try:
                before = os.stat(source)
                time.sleep(1)  # a linker still writing it changes its size or time
                after = os.stat(source)
                if (before.st_size, before.st_mtime_ns) == (after.st_size, after.st_mtime_ns) and after.st_size:
                    break
            except FileNotFoundError:
                pass
            if time.monotonic() > deadline:
                raise BenchError('%s is missing: build the %s preset' % (
                    relative, 'windows' if relative.startswith('build/windows') else 'native'))
            if not announced:
                print('bench: waiting for %s (being built?)' % relative, flush=True)
                announced = True
            time.sleep(10)
        copies[key] = os.path.join(bin_folder, os.path.basename(source))
        shutil.copy2(source, copies[key])
    return copies


# ---- Wine ----------------------------------------------------------------------

def win_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class Wine:
    """The benchmark's own Wine prefix, made and used through cmake/wine-run."""

    def __init__(self, build_dir):
        self.build_dir = build_dir
        self.prefix = os.path.join(build_dir, 'wineprefix')

    def env(self, **extra):
        # A prefix of its own that lasts between runs (wine-run gives every
        # start a fresh copy otherwise, and the Server value would be lost).
        env = dict(os.environ, WREN_BUILD_DIR=self.build_dir, WREN_WINEPREFIX=self.prefix)
        env.pop('WREN_TRACE', None)
        env.update(extra)
        return env

    def reg_set_server(self, address):
        result = subprocess.run([WINE_RUN, 'reg', 'add', r'HKCU\Software\Quillmere\Marlo\Login', '/v', 'Server',
                                 '/t', 'REG_SZ', '/d', address, '/f'],
                                env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        if result.returncode != 0:
            raise BenchError('cannot set the Server value in %s' % self.prefix)

    def user_folders(self, *relative):
        users = os.path.join(self.prefix, 'drive_c', 'users')
        names = [n for n in sorted(os.listdir(users)) if n != 'Public'] if os.path.isdir(users) else []
        return [os.path.join(users, n, *relative) for n in names]

    def temp_folders(self):
        return [p for p in self.user_folders('AppData', 'Local', 'Temp') + self.user_folders('Temp')
                if os.path.isdir(p)]

    def reset_user_state(self):
        """No settings but one that keeps Finish from launching the installer, no parts, no temporary files."""
        for temp in self.temp_folders():
            for entry in os.listdir(temp):
                remove(os.path.join(temp, entry))
        for documents in self.user_folders('Documents'):
            remove(os.path.join(documents, 'Quillmere'))
            marlo = os.path.join(documents, 'Quillmere', 'Marlo')
            os.makedirs(marlo)
            with open(os.path.join(marlo, 'MarloStarter.ini'), 'w', newline='\r\n') as f:
                f.write('[Main]\nBootInstaller=0\n')

    def leftovers(self):
        return [os.path.join(t, e) for t in self.temp_folders() for e in os.listdir(t)]

    def wineserver(self, flag, timeout=60):
        if not os.path.isdir(self.prefix):
            return
        try:
            subprocess.run(['wineserver', flag], env=dict(os.environ, WINEPREFIX=self.prefix), timeout=timeout,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (subprocess.TimeoutExpired, FileNotFoundError):
            pass


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


# ---- the trace -----------------------------------------------------------------

@dataclass
class Trace:
    events: list   # (ms, name, detail)
    summary: dict  # category -> [total ms, count]

    def first(self, name):
        return next((ms for ms, n, _ in self.events if n == name), None)

    def last(self, name):
        return next((ms for ms, n, _ in reversed(self.events) if n == name), None)

    def run_seconds(self):
        start, end = self.first('run-start'), self.last('run-end')
        return (end - start) / 1000 if start is not None and end is not None else None


def read_trace(path):
    if not os.path.exists(path):
        return None
    events, summary = [], {}
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f:
            fields = line.rstrip('\r\n').split('\t')
            try:
                if fields[0] == 'T' and len(fields) >= 3:
                    events.append((int(fields[1]), fields[2], fields[3] if len(fields) > 3 else ''))
                elif fields[0] == 'S' and len(fields) >= 4:
                    total = summary.setdefault(fields[1], [0, 0])
                    total[0] += int(fields[2])
                    total[1] += int(fields[3])
            except ValueError:
                pass  # a line cut off by a killed process
    return Trace(events, summary)


def print_trace(trace, indent='    '):
    if trace is None:
        print(indent + 'no trace: the exe wrote none (it has no WREN_TRACE support yet?)')
        return
    seconds = trace.run_seconds()
    print(indent + ('run-start to run-end %.3f s' % seconds if seconds is not None
                    else 'no run-start/run-end events in the trace'))
    for name, (ms, count) in sorted(trace.summary.items(), key=lambda item: -item[1][0]):
        print('%s  %-14s %9d ms %7d x' % (indent, name, ms, count))
    if seconds is not None and trace.summary:
        rest = seconds * 1000 - sum(ms for ms, _ in trace.summary.values())
        print('%s  %-14s %9d ms   (run time less the categories, while they do not overlap)' % (
            indent, '(rest)', rest))
    start = trace.first('run-start') or 0
    seen = {}
    for ms, name, _ in trace.events:
        seen.setdefault(name, []).append(ms - start)
    if seen:
        print(indent + '  events (ms after run-start: first .. last, count):')
        for name, times in seen.items():
            span = '%d' % times[0] if len(times) == 1 else '%d .. %d' % (times[0], times[-1])
            print('%s    %-20s %s (%d)' % (indent, name, span, len(times)))


# ---- one image, one run ----------------------------------------------------------

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


def run_ours(ctx, image, source, fileinfo_port, index):
    """Builds the image with the real exe; returns (seconds, 'trace' or 'walker', walker seconds, trace)."""
    folder = os.path.join(ctx.work, image.name)
    starter = os.path.join(folder, 'starter')
    shots = os.path.join(folder, 'shots-%d' % index)
    trace_path = os.path.join(folder, 'trace-%d.txt' % index)
    logs = os.path.join(folder, 'logs')
    for path in (starter, shots, trace_path):
        remove(path)
    os.makedirs(starter)
    os.makedirs(logs, exist_ok=True)
    exe = os.path.join(starter, 'WrenStarter.exe')
    shutil.copy2(ctx.bins['starter'], exe)
    ctx.wine.reg_set_server('127.0.0.1:%d' % fileinfo_port)  # also makes the prefix on first use
    ctx.wine.reset_user_state()

    command = ['xvfb-run', '-a', '-s', '-screen 0 1280x1024x24', WINE_RUN, ctx.bins['walker'], exe, shots,
               str(ctx.limit)]
    walk_log = os.path.join(logs, 'walk-%d.log' % index)
    with open(os.path.join(logs, 'starter-%d.log' % index), 'w') as err, open(walk_log, 'w') as out:
        started = time.monotonic()
        proc = ctx.procs.start(command, env=ctx.wine.env(WREN_TRACE=win_path(trace_path)), stdout=out, stderr=err)
        try:
            code = proc.wait(timeout=ctx.limit + 120)
        except subprocess.TimeoutExpired:
            code = None
        walker_seconds = time.monotonic() - started
        ctx.procs.stop(proc)
    if code != 0:
        ctx.wine.wineserver('-k')
        raise BenchError('%s run %d: the walker %s (see %s and %s, screenshots in %s)' % (
            image.name, index, 'did not end in time' if code is None else 'ended with %d' % code,
            walk_log, err.name, shots))

    compare_image(source, os.path.join(starter, 'MarloInstaller'), '%s run %d (ours)' % (image.name, index))
    leftovers = ctx.wine.leftovers()
    if leftovers:
        print('    note: the download folder still holds %d entries after the run, e.g. %s' % (
            len(leftovers), os.path.basename(leftovers[0])))
    trace = read_trace(trace_path)
    seconds = trace.run_seconds() if trace else None
    if seconds is None:
        return walker_seconds, 'walker', walker_seconds, trace
    return seconds, 'trace', walker_seconds, trace


def fetch(url, path):
    result = subprocess.run(['curl', '-s', '-f', '--max-time', str(PART_LIMIT), '-o', path, url],
                            timeout=PART_LIMIT + 10)
    if result.returncode != 0:
        raise BenchError('pipeline: curl %s ended with %d' % (url, result.returncode))


def crc_of_file(path):
    crc = 0
    with open(path, 'rb') as f:
        while block := f.read(1 << 20):
            crc = zlib.crc32(block, crc)
    return crc


def filetime_to_unix(filetime):
    return filetime / 1e7 - 11644473600


def run_pipeline(http_port, image, folder):
    """The plain script's way over the same server; returns its seconds and the image folder."""
    downloads = os.path.join(folder, 'downloads')
    target = os.path.join(folder, 'image')
    os.makedirs(downloads)
    started = time.monotonic()
    list_path = os.path.join(downloads, 'filelist.dat')
    fetch('http://127.0.0.1:%d/%s/filelist.dat' % (http_port, image.name), list_path)
    with open(list_path, 'rb') as f:
        base, files = parse_file_list(f.read())
    os.remove(list_path)
    for entry in files:
        temp = os.path.join(downloads, 'join.tmp')
        parts = []
        with open(temp, 'wb') as joined:
            for part in entry.parts:
                local = os.path.join(downloads, part.remote.rsplit('/', 1)[-1])
                fetch('http:/' + base + part.remote, local)
                parts.append(local)
                with open(local, 'rb') as f:
                    data = f.read()
                if len(data) != part.packed_size or zlib.crc32(data) != part.packed_crc:
                    raise BenchError('pipeline: %s arrived damaged' % part.remote)
                if not part.raw:
                    data = unpack_container(data)
                if len(data) != part.size or zlib.crc32(data) != part.crc:
                    raise BenchError('pipeline: %s does not hold its part of %s' % (part.remote, entry.name))
                joined.write(data)
        if os.path.getsize(temp) != entry.size or crc_of_file(temp) != entry.crc:
            raise BenchError('pipeline: the joined %s is not the file' % entry.name)
        destination = os.path.join(target, *entry.name.split('\\'))
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(temp, destination)
        os.utime(destination, (filetime_to_unix(entry.last_write),) * 2)
        os.remove(temp)
        for local in parts:
            os.remove(local)
    seconds = time.monotonic() - started
    return seconds, target


@dataclass
class RunResult:
    ours: float
    how: str
    walker: float
    pipeline: float
    trace: object

    @property
    def ratio(self):
        return self.ours / self.pipeline


def bench_image(ctx, image):
    folder = os.path.join(ctx.work, image.name)
    os.makedirs(folder, exist_ok=True)
    source = os.path.join(ctx.work, 'source', image.name)
    os.makedirs(os.path.dirname(source), exist_ok=True)
    print('%s: %s' % (image.name, image.describe()), flush=True)
    if generate_source(image, source, ctx.seed):
        print('  generated the files in %s' % source, flush=True)
    publish = os.path.join(ctx.www, image.name)
    sign = ['--sign', DEMO_KEY] if ctx.signed else []
    result = subprocess.run([ctx.bins['publish'], '--host', '127.0.0.1:%d' % ctx.http_port, '--path',
                             '/%s/' % image.name, '--installer', image.file_names()[0][1],
                             '--part-size', str(image.part_size), '--raw', RAW_PATTERN] + sign + [source, publish],
                            capture_output=True, text=True, timeout=1800)
    if result.returncode != 0:
        raise BenchError('wren-publish failed: %s' % result.stderr.strip())
    print('  ' + result.stdout.splitlines()[0], flush=True)
    with open(os.path.join(publish, 'filelist.dat'), 'rb') as f:
        _, files = parse_file_list(f.read())
    if len(files) != image.files or any(len(f.parts) != image.parts for f in files):
        print('  note: the publish has %d files in %d parts (asked for %d parts each)' % (
            len(files), sum(len(f.parts) for f in files), image.parts))
    server, port = start_fileinfo_server(ctx.procs, ctx.bins['fileinfo'], os.path.join(publish, 'filelist.dat'),
                                         os.path.join(folder, 'fileinfo-server.log'))
    results = []
    for index in range(1, ctx.runs + 1):
        ours, how, walker, trace = run_ours(ctx, image, source, port, index)
        pipeline_folder = os.path.join(folder, 'pipeline')
        remove(pipeline_folder)
        pipeline, pipeline_image = run_pipeline(ctx.http_port, image, pipeline_folder)
        compare_image(source, pipeline_image, '%s run %d (pipeline)' % (image.name, index))
        run = RunResult(ours, how, walker, pipeline, trace)
        results.append(run)
        print('  run %d/%d: ours %.2f s (%s), pipeline %.2f s, ratio %.2f; walker wall time %.2f s' % (
            index, ctx.runs, run.ours, 'trace run-start..run-end' if how == 'trace' else 'walker wall time',
            run.pipeline, run.ratio, run.walker), flush=True)
        if ctx.trace:
            print_trace(trace)
        if not ctx.keep or index < ctx.runs:
            remove(os.path.join(folder, 'starter'))
            remove(pipeline_folder)
            ctx.wine.reset_user_state()
    ctx.procs.stop(server)
    return results


def summarize(image, results, want_trace):
    median = statistics.median
    ours, pipeline = median(r.ours for r in results), median(r.pipeline for r in results)
    overhead = median((r.ours - r.pipeline) / image.files * 1000 for r in results)
    hows = sorted(set(r.how for r in results))
    print('%s: median of %d: ours %.2f s, pipeline %.2f s, ratio %.2f, per-file overhead %.0f ms'
          '  (ours timed by %s; walker wall time %.2f s)' % (
              image.name, len(results), ours, pipeline, median(r.ratio for r in results), overhead,
              ' and '.join('the trace' if h == 'trace' else 'the walker wall time' for h in hows),
              median(r.walker for r in results)))
    if want_trace:
        traced = [r.trace for r in results if r.trace]
        categories = set(c for t in traced for c in t.summary)
        if traced and categories:
            print('  median per category over %d traced runs:' % len(traced))
            medians = {c: median(t.summary.get(c, [0, 0])[0] for t in traced) for c in categories}
            for c in sorted(categories, key=lambda c: -medians[c]):
                print('    %-14s %9.0f ms' % (c, medians[c]))
        elif not traced:
            print('  no run wrote a trace')


# ---- main ------------------------------------------------------------------------

@dataclass
class Context:
    work: str
    www: str
    bins: dict
    wine: Wine
    procs: Processes
    http_port: int
    runs: int
    limit: int
    seed: int
    trace: bool
    keep: bool
    signed: bool


def images_from(args):
    overrides = {k: v for k, v in (('files', args.files), ('size', args.size), ('parts', args.parts),
                                   ('raw_fraction', args.raw_fraction)) if v is not None}
    if args.preset is None and ('files' in overrides or 'size' in overrides):
        return [replace(PRESETS['small'], name='custom', **overrides)]
    names = ['big', 'small'] if (args.preset or 'both') == 'both' else [args.preset]
    return [replace(PRESETS[n], **overrides) for n in names]


def parse_args(argv):
    p = argparse.ArgumentParser(description='Times the real exe against a plain download script, side by side.',
                                formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    p.add_argument('--preset', choices=('big', 'small', 'both'),
                   help='big: 8 x 32 MiB, small: 50 x 20 KiB, both (default)')
    p.add_argument('--files', type=int, help='number of files')
    p.add_argument('--size', type=parse_size, help='size of each file (bytes, or with K, M or G)')
    p.add_argument('--parts', type=int, help='parts per file (default 4)')
    p.add_argument('--raw-fraction', type=float, help='share of files kept unpacked (default 0.5)')
    p.add_argument('--runs', type=int, default=3, help='runs per image; the summary is their median (default 3)')
    p.add_argument('--trace', action='store_true', help="print where each run's time went, from the exe's trace")
    p.add_argument('--keep', action='store_true', help='keep the work folder and the last run\'s images')
    p.add_argument('--work', help='work folder, kept and reused (default: a new one under /tmp, removed)')
    p.add_argument('--http', choices=('auto', 'nginx', 'python'), default='auto',
                   help='HTTP server for the parts (default: nginx when installed)')
    p.add_argument('--limit', type=int, default=900, help='seconds one walk of the wizard may take (default 900)')
    p.add_argument('--seed', type=int, default=1, help='seed of the generated files (default 1)')
    p.add_argument('--signed', action='store_true',
                   help="publish signed with the demo key and time the demo starter (%s)" % SIGNED_STARTER)
    p.add_argument('--wait-binaries', type=int, default=900,
                   help='seconds to wait for a program that is being rebuilt (default 900)')
    args = p.parse_args(argv)
    if args.runs < 1:
        p.error('--runs must be at least 1')
    if args.files is not None and args.files < 1:
        p.error('--files must be at least 1')
    if args.parts is not None and not 1 <= args.parts <= 63:
        p.error('--parts must be 1 to 63')
    if args.raw_fraction is not None and not 0 <= args.raw_fraction <= 1:
        p.error('--raw-fraction must be 0 to 1')
    return args


def main(argv):
    args = parse_args(argv)
    images = images_from(args)
    for tool in ('xvfb-run', 'wine', 'wineserver', 'curl'):
        if not shutil.which(tool):
            raise BenchError('%s is missing: run scripts/setup' % tool)
    if args.work:
        work, made = os.path.abspath(args.work), False
        os.makedirs(work, exist_ok=True)
    else:
        work, made = tempfile.mkdtemp(prefix='wren-bench-run-'), True
    procs = Processes()
    wine = Wine(os.path.join(work, 'wine'))

    def on_term(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGHUP, on_term)
    failed = False
    try:
        print('bench: work folder %s' % work, flush=True)
        binaries = dict(BINARIES, starter=SIGNED_STARTER) if args.signed else BINARIES
        bins = snapshot_binaries(binaries, os.path.join(work, 'bin'), args.wait_binaries)
        stat = os.stat(os.path.join(ROOT, binaries['starter']))
        print('bench: %s of %s%s' % (
            binaries['starter'], time.strftime('%Y-%m-%d %H:%M:%S', time.localtime(stat.st_mtime)),
            ', publications signed with the demo key' if args.signed else ''))
        www = os.path.join(work, 'www')
        os.makedirs(www, exist_ok=True)
        http_port, http_what = start_http_server(procs, args.http, www, os.path.join(work, 'http'))
        print('bench: parts served by %s on 127.0.0.1:%d' % (http_what, http_port), flush=True)
        ctx = Context(work, www, bins, wine, procs, http_port, args.runs, args.limit, args.seed, args.trace, args.keep,
                      args.signed)
        all_results = []
        for image in images:
            all_results.append((image, bench_image(ctx, image)))
        print()
        for image, results in all_results:
            summarize(image, results, args.trace)
        return 0
    except BenchError as e:
        print('bench: FAILED: %s' % e, file=sys.stderr)
        failed = True
        return 1
    except KeyboardInterrupt:
        print('bench: interrupted', file=sys.stderr)
        return 130
    finally:
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)  # let the cleanup finish
        procs.stop_all()
        wine.wineserver('-k')
        if args.keep or failed:
            print('bench: kept %s%s' % (work, ' for a look at its logs; remove it when done' if failed else ''))
        elif made:
            shutil.rmtree(work, ignore_errors=True)
        else:
            for image in images:  # what a later run would make again
                remove(os.path.join(work, image.name))
            remove(os.path.join(work, 'http'))
            print('bench: kept %s (sources, publish folders, Wine prefix) for the next run' % work)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
