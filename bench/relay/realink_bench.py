#!/usr/bin/env python3
"""Real-link benchmark: the real WrenStarter.exe against aria2c -j8 through the latency relay.

For each case it publishes an image with wren-publish whose download base is
the relay (relay.py, in this process), serves the part files with nginx behind
it and the list with wren-fileinfo-server directly (only the parts cross the
"link"), all on 127.0.0.1. Each run then builds the image twice:

  ours      the real exe under Wine + Xvfb, walked through the wizard with its
            defaults by wren-demo-walk (bench/run's walk), timed by its trace
            from run-start to run-end;
  aria2c    aria2c -j8 over the same part URLs through the same relay, then
            the pipeline's inflate, CRC-32 of every part and of the joined
            file, and copy into place;

and prints the relay's floor beside them: the parts' bytes over the bandwidth
plus one round trip. Both images are compared with the source byte for byte.

  bench/relay/realink_bench.py                     # the three cases, median of 3
  bench/relay/realink_bench.py --smoke             # 50 files, RTT 20 ms, 1 run: about a minute
  bench/relay/realink_bench.py --cases small-50 --runs 1 --work /tmp/wren-realink
  bench/relay/realink_bench.py --cases 200x16K@50,4x8Mx2@50/100

A case is a name below or FILESxSIZE[xPARTS]@RTT[/MBIT]: that many files of
that size (K, M, G) in PARTS parts each (default 1), through a relay of RTT ms
limited to MBIT Mbit/s (default no limit).
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import zlib
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, HERE)
import bench_run_parts as rb  # noqa: E402  images, file list, servers, Wine and the walk of bench/run
from relay import Relay  # noqa: E402

ARIA2_LIMIT = 1800  # seconds for one aria2c run


@dataclass
class Case:
    name: str
    image: rb.Image
    rtt: float          # ms
    rate: int = None    # bytes/s, None: no limit

    def describe(self):
        return '%s, RTT %g ms%s' % (self.image.describe(), self.rtt,
                                    ', %g Mbit/s' % (self.rate * 8 / 1e6) if self.rate else ', no bandwidth limit')


SMALL = rb.Image('files2000', 2000, 16 << 10, 1, 0.5)
BIG = rb.Image('big', 8, 32 << 20, 4, 0.5)
CASES = {
    'small-50': Case('small-50', SMALL, 50),
    'small-150': Case('small-150', SMALL, 150),
    'big-50': Case('big-50', BIG, 50, 200_000_000 // 8),
    'smoke': Case('smoke', rb.Image('files50', 50, 16 << 10, 1, 0.5), 20),
}
DEFAULT_CASES = 'small-50,small-150,big-50'


def parse_case(text):
    if text in CASES:
        return CASES[text]
    match = re.fullmatch(r'(\d+)x(\d+[KkMmGg]?)(?:x(\d+))?@(\d+(?:\.\d+)?)(?:/(\d+(?:\.\d+)?))?', text)
    if not match:
        raise argparse.ArgumentTypeError('not a case: %r (one of %s, or FILESxSIZE[xPARTS]@RTT[/MBIT])' % (
            text, ', '.join(CASES)))
    files, size, parts = int(match.group(1)), rb.parse_size(match.group(2)), int(match.group(3) or 1)
    if files < 1 or size < 1 or not 1 <= parts <= 63:
        raise argparse.ArgumentTypeError('not a case: %r' % text)
    name = '%dx%s' % (files, match.group(2)) + ('x%d' % parts if parts > 1 else '')
    rate = int(float(match.group(5)) * 1e6 / 8) if match.group(5) else None
    return Case(text.replace('/', '-'), rb.Image(name, files, size, parts, 0.5), float(match.group(4)), rate)


# ---- publishing ------------------------------------------------------------------

def publish(bins, image, source, output, host):
    """Publishes the source files for the HTTP server at host (HOST:PORT); returns the list's files."""
    result = subprocess.run([bins['publish'], '--host', host, '--path', '/%s/' % image.name,
                             '--installer', image.file_names()[0][1], '--part-size', str(image.part_size),
                             '--raw', rb.RAW_PATTERN, source, output],
                            capture_output=True, text=True, timeout=1800)
    if result.returncode != 0:
        raise rb.BenchError('wren-publish failed: %s' % result.stderr.strip())
    with open(os.path.join(output, 'filelist.dat'), 'rb') as f:
        base, files = rb.parse_file_list(f.read())
    return base, files


# ---- aria2c and the pipeline's installation ----------------------------------------

def install_parts(files, part_path, target):
    """The pipeline's checks and installation over parts already on disk (part_path(part) names
    each): size and CRC-32 of the part as fetched, inflate of packed parts, CRC-32 of the part's
    bytes, join, size and CRC-32 of the file, copy into place, file time, delete the parts."""
    temp = os.path.join(os.path.dirname(target), 'join.tmp')
    for entry in files:
        with open(temp, 'wb') as joined:
            for part in entry.parts:
                with open(part_path(part), 'rb') as f:
                    data = f.read()
                if len(data) != part.packed_size or zlib.crc32(data) != part.packed_crc:
                    raise rb.BenchError('aria2c: %s arrived damaged' % part.remote)
                if not part.raw:
                    data = rb.unpack_container(data)
                if len(data) != part.size or zlib.crc32(data) != part.crc:
                    raise rb.BenchError('aria2c: %s does not hold its part of %s' % (part.remote, entry.name))
                joined.write(data)
        if os.path.getsize(temp) != entry.size or rb.crc_of_file(temp) != entry.crc:
            raise rb.BenchError('aria2c: the joined %s is not the file' % entry.name)
        destination = os.path.join(target, *entry.name.split('\\'))
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(temp, destination)
        os.utime(destination, (rb.filetime_to_unix(entry.last_write),) * 2)
        os.remove(temp)
        for part in entry.parts:
            os.remove(part_path(part))


def run_aria2(base, files, folder):
    """aria2c -j8 over every part URL, then the installation; returns (download s, install s, image folder)."""
    downloads = os.path.join(folder, 'downloads')
    target = os.path.join(folder, 'image')
    os.makedirs(downloads)
    uris = os.path.join(folder, 'uris.txt')
    with open(uris, 'w') as f:
        for entry in files:
            for part in entry.parts:
                f.write('http:/%s%s\n  out=%s\n' % (base, part.remote, part.remote))
    command = ['aria2c', '--no-conf', '-j8', '--input-file', uris, '--dir', downloads, '--quiet',
               '--file-allocation=none', '--allow-overwrite=true', '--auto-file-renaming=false']
    started = time.monotonic()
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                timeout=ARIA2_LIMIT)
    except subprocess.TimeoutExpired:
        raise rb.BenchError('aria2c did not end within %d s' % ARIA2_LIMIT)
    downloaded = time.monotonic()
    if result.returncode != 0:
        raise rb.BenchError('aria2c ended with %d: %s' % (result.returncode, result.stdout.strip()[-500:]))
    install_parts(files, lambda part: os.path.join(downloads, part.remote), target)
    return downloaded - started, time.monotonic() - downloaded, target


# ---- one case ----------------------------------------------------------------------

@dataclass
class Run:
    ours: float
    walker: float
    trace: object
    ours_link: object     # relay Stats of our run
    aria2_download: float
    aria2_install: float
    aria2_link: object

    @property
    def aria2(self):
        return self.aria2_download + self.aria2_install


@dataclass
class Published:
    source: str
    base: str
    files: list
    fileinfo_port: int

    @property
    def bytes(self):
        return sum(p.packed_size for f in self.files for p in f.parts)


def prepare(ctx, relay, image, published):
    """Generates and publishes an image once, and starts its file-information server."""
    if image.name in published:
        return published[image.name]
    source = os.path.join(ctx.work, 'source', image.name)
    os.makedirs(os.path.dirname(source), exist_ok=True)
    print('%s: %s' % (image.name, image.describe()), flush=True)
    if rb.generate_source(image, source, ctx.seed):
        print('  generated the files in %s' % source, flush=True)
    folder = os.path.join(ctx.work, image.name)
    os.makedirs(folder, exist_ok=True)
    base, files = publish(ctx.bins, image, source, os.path.join(ctx.www, image.name), '127.0.0.1:%d' % relay.port)
    _, port = rb.start_fileinfo_server(ctx.procs, ctx.bins['fileinfo'],
                                       os.path.join(ctx.www, image.name, 'filelist.dat'),
                                       os.path.join(folder, 'fileinfo-server.log'))
    published[image.name] = Published(source, base, files, port)
    return published[image.name]


def bench_case(ctx, relay, case, pub):
    print('%s: %s; %d parts, %s through the relay' % (
        case.name, case.describe(), sum(len(f.parts) for f in pub.files), rb.format_size(pub.bytes)), flush=True)
    relay.configure(case.rtt, case.rate)
    folder = os.path.join(ctx.work, case.image.name)
    runs = []
    for index in range(1, ctx.runs + 1):
        relay.take_stats()
        ours, how, walker, trace = rb.run_ours(ctx, case.image, pub.source, pub.fileinfo_port, index)
        if how != 'trace':
            print('    note: no trace; ours is the walker wall time')
        ours_link = relay.take_stats()
        aria2_folder = os.path.join(folder, 'aria2')
        rb.remove(aria2_folder)
        download, install, image = run_aria2(pub.base, pub.files, aria2_folder)
        rb.compare_image(pub.source, image, '%s run %d (aria2c)' % (case.name, index))
        run = Run(ours, walker, trace, ours_link, download, install, relay.take_stats())
        runs.append(run)
        print('  run %d/%d: ours %.2f s (%s), aria2c -j8 %.2f s (download %.2f s, %s; install %.2f s), '
              'ratio %.2f; walker wall time %.2f s' % (
                  index, ctx.runs, run.ours, link_text(run.ours_link), run.aria2, download,
                  link_text(run.aria2_link), install, run.ours / run.aria2, walker), flush=True)
        if ctx.trace:
            rb.print_trace(trace)
        if not ctx.keep or index < ctx.runs:
            rb.remove(os.path.join(folder, 'starter'))
            rb.remove(aria2_folder)
            ctx.wine.reset_user_state()
    return runs


def link_text(stats):
    return '%d conn%s, %s down' % (stats.connections, '' if stats.connections == 1 else 's',
                                   rb.format_size(stats.bytes_down) if stats.bytes_down % 1024 == 0
                                   else '%.1f MB' % (stats.bytes_down / 1e6))


def summarize(results):
    median = statistics.median
    header = ('case', 'ours s', 'aria2c -j8 s', 'ours/aria2c', 'floor s', 'ours/floor', 'conns ours/aria2c')
    rows = []
    for case, floor, runs in results:
        ours, aria2 = median(r.ours for r in runs), median(r.aria2 for r in runs)
        rows.append((case.name, '%.2f' % ours, '%.2f' % aria2, '%.2f' % median(r.ours / r.aria2 for r in runs),
                     '%.2f' % floor, '%.1f' % (ours / floor),
                     '%d/%d' % (median(r.ours_link.connections for r in runs),
                                median(r.aria2_link.connections for r in runs))))
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(len(header))]
    print('median of %s:' % ', '.join(sorted(set(str(len(runs)) for _, _, runs in results))))
    for row in [header] + rows:
        print('  ' + '  '.join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))
    print("ours' trace, median per category (ms):")
    for case, _, runs in results:
        traced = [r.trace for r in runs if r.trace]
        categories = set(c for t in traced for c in t.summary)
        if not categories:
            print('  %s: no trace' % case.name)
            continue
        medians = {c: median(t.summary.get(c, [0, 0])[0] for t in traced) for c in categories}
        print('  %s: %s' % (case.name, ', '.join('%s %d' % (c, medians[c])
                                                  for c in sorted(categories, key=lambda c: -medians[c]))))


# ---- main ----------------------------------------------------------------------------

def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0], epilog=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--cases', default=None, help='comma-separated cases (default %s)' % DEFAULT_CASES)
    p.add_argument('--runs', type=int, default=None, help='runs per case; the table shows medians (default 3)')
    p.add_argument('--smoke', action='store_true', help='the smoke case only, 1 run (unless --cases, --runs)')
    p.add_argument('--trace', action='store_true', help="print each run's whole trace")
    p.add_argument('--keep', action='store_true', help="keep the work folder and the last run's images")
    p.add_argument('--work', help='work folder, kept and reused (default: a new one under /tmp, removed)')
    p.add_argument('--limit', type=int, default=1800, help='seconds one walk of the wizard may take (default 1800)')
    p.add_argument('--seed', type=int, default=1, help='seed of the generated files (default 1)')
    p.add_argument('--wait-binaries', type=int, default=900,
                   help='seconds to wait for a program that is being rebuilt (default 900)')
    args = p.parse_args(argv)
    try:
        args.cases = [parse_case(c) for c in (args.cases or ('smoke' if args.smoke else DEFAULT_CASES)).split(',')]
    except argparse.ArgumentTypeError as e:
        p.error(str(e))
    args.runs = args.runs or (1 if args.smoke else 3)
    if args.runs < 1:
        p.error('--runs must be at least 1')
    return args


def main(argv):
    args = parse_args(argv)
    for tool in ('xvfb-run', 'wine', 'wineserver', 'aria2c'):
        if not shutil.which(tool):
            raise SystemExit('%s is missing: run scripts/setup' % tool)
    if args.work:
        work, made = os.path.abspath(args.work), False
        os.makedirs(work, exist_ok=True)
    else:
        work, made = tempfile.mkdtemp(prefix='wren-realink-'), True
    procs = rb.Processes()
    wine = rb.Wine(os.path.join(work, 'wine'))
    relay = None

    def on_term(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGHUP, on_term)
    failed = False
    try:
        print('realink: work folder %s' % work, flush=True)
        bins = rb.snapshot_binaries(rb.BINARIES, os.path.join(work, 'bin'), args.wait_binaries)
        www = os.path.join(work, 'www')
        os.makedirs(www, exist_ok=True)
        http_port, http_what = rb.start_http_server(procs, 'nginx', www, os.path.join(work, 'http'))
        relay = Relay(http_port).start()
        print('realink: parts served by %s on 127.0.0.1:%d behind the relay on 127.0.0.1:%d' % (
            http_what, http_port, relay.port), flush=True)
        ctx = rb.Context(work, www, bins, wine, procs, relay.port, args.runs, args.limit, args.seed, args.trace,
                         args.keep, False)
        published, results = {}, []
        for case in args.cases:
            pub = prepare(ctx, relay, case.image, published)
            relay.configure(case.rtt, case.rate)
            results.append((case, relay.floor(pub.bytes), bench_case(ctx, relay, case, pub)))
        print()
        summarize(results)
        return 0
    except rb.BenchError as e:
        print('realink: FAILED: %s' % e, file=sys.stderr)
        failed = True
        return 1
    except KeyboardInterrupt:
        print('realink: interrupted', file=sys.stderr)
        return 130
    finally:
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)  # let the cleanup finish
        procs.stop_all()
        if relay:
            relay.stop()
        wine.wineserver('-k')
        if args.keep or failed:
            print('realink: kept %s%s' % (work, ' for a look at its logs; remove it when done' if failed else ''))
        elif made:
            shutil.rmtree(work, ignore_errors=True)
        else:
            for case in args.cases:  # what a later run makes again
                rb.remove(os.path.join(work, case.image.name))
            rb.remove(os.path.join(work, 'http'))
            print('realink: kept %s (sources, publish folders, Wine prefix) for the next run' % work)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
