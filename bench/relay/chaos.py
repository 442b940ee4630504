#!/usr/bin/env python3
"""Seeded chaos run: unattended builds of the real WrenStarter.exe through a faulty relay.

Publishes a 300-file image whose download base is a relay in chaos mode
(relay.py: connections drawn from the seed reset, stall, slow down, end their
reply early or go silent for good), serves the parts with nginx behind it and
the list with wren-fileinfo-server directly, and runs N unattended builds
(WrenStarter.exe /quiet under Wine, each with an image folder, a download
folder, a run log and a Wine prefix of its own), at most 2 at a time. A run
that has not ended at the time limit is killed.

It reports the runs that completed (exit code 0 and the image byte for byte
the source), the runs that ended with a clear message (another exit code,
with the run log's last ERROR lines and its OUTCOME), the runs that did not,
the runs killed at the limit, and corrupt files: a file in an image that is
not the source's, in any run, and for a completed run any file missing too.
Exit code 0 when no file is corrupt, every failed run said why, and none
needed the limit.

Each run has a relay of its own lane, reseeded for the run (seed, run
number), so a run's faults do not depend on what ran beside it:
`--only 7` repeats run 7 alone.

  bench/relay/chaos.py                        # 30 runs, 2 at a time
  bench/relay/chaos.py --runs 4 --limit 120 --work /tmp/wren-chaos
  bench/relay/chaos.py --connections 4        # passes /connections=4 to the starter
"""
import argparse
import filecmp
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field, replace

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from realink_bench import publish, rb  # noqa: E402
from relay import FAULTS, Chaos, Relay  # noqa: E402

IMAGE = rb.Image('chaos', 300, 32 << 10, 2, 0.5)
LOG_ENTRY = re.compile(r'^\S+ \S+  (\S+)\s+(.*)$')


@dataclass
class Outcome:
    run: int
    code: object          # exit code, None when killed at the limit
    seconds: float
    errors: list          # the run log's last ERROR entries
    outcome: str          # the run log's OUTCOME entry
    last: str             # the run log's last entry
    corrupt: list         # files in the image that are not the source's
    missing: list
    faults: dict = field(default_factory=dict)
    connections: int = 0

    @property
    def completed(self):
        return self.code == 0 and not self.corrupt and not self.missing

    @property
    def clear(self):
        """Ended on its own with an error that the log explains."""
        return self.code not in (0, None) and bool(self.errors) and bool(self.outcome)


def log_entries(path):
    """(tag, text) of every entry of a run log; continued lines are joined to their entry."""
    if not os.path.exists(path):
        return []
    entries = []
    with open(path, encoding='utf-8-sig', errors='replace') as f:
        for line in f:
            line = line.rstrip('\r\n')
            if line.startswith('\t') and entries:
                entries[-1] = (entries[-1][0], entries[-1][1] + ' / ' + line[1:])
            elif match := LOG_ENTRY.match(line):
                entries.append((match.group(1), match.group(2)))
    return entries


def image_differences(source, image):
    """(files not the source's, source files missing) of an image folder; extra files count as not the source's."""
    expected = set(os.path.relpath(os.path.join(d, n), source) for d, _, ns in os.walk(source) for n in ns)
    actual = set(os.path.relpath(os.path.join(d, n), image)
                 for d, _, ns in os.walk(image) for n in ns) if os.path.isdir(image) else set()
    corrupt = sorted(n for n in actual if n not in expected or
                     not filecmp.cmp(os.path.join(source, n), os.path.join(image, n), shallow=False))
    return corrupt, sorted(expected - actual)


@dataclass
class Lane:
    """What one of the runs that go side by side uses: its relay, its publication, its list server."""
    relay: Relay
    fileinfo_port: int


class ChaosRun:
    def __init__(self, args, work, bins, procs, source):
        self.args, self.work, self.bins, self.procs, self.source = args, work, bins, procs, source
        self.lanes = []
        self.free = []
        self.lock = threading.Lock()

    def add_lane(self, http_port, www):
        relay = Relay(http_port, self.args.rtt).start()
        name = 'lane%d' % (len(self.lanes) + 1)
        lane_image = replace(IMAGE, name=name)
        publish(self.bins, lane_image, self.source, os.path.join(www, name), '127.0.0.1:%d' % relay.port)
        _, port = rb.start_fileinfo_server(self.procs, self.bins['fileinfo'], os.path.join(www, name, 'filelist.dat'),
                                           os.path.join(self.work, '%s-fileinfo-server.log' % name))
        lane = Lane(relay, port)
        self.lanes.append(lane)
        self.free.append(lane)

    def chaos(self, run):
        a = self.args
        return Chaos(a.seed * 100000 + run, a.fault_probability, a.fault_window, kinds=a.faults)

    def run(self, number):
        with self.lock:
            lane = self.free.pop()
        try:
            return self._run(number, lane)
        finally:
            with self.lock:
                self.free.append(lane)

    def _run(self, number, lane):
        a = self.args
        folder = os.path.join(self.work, 'runs', 'run-%02d' % number)
        rb.remove(folder)
        image, download, prefix = (os.path.join(folder, n) for n in ('image', 'download', 'prefix'))
        log = os.path.join(folder, 'run.log')
        os.makedirs(download)
        command = [rb.WINE_RUN, self.bins['starter'], '/quiet', '/image=' + rb.win_path(image),
                   '/download=' + rb.win_path(download), '/server=127.0.0.1:%d' % lane.fileinfo_port, '/proxy=none',
                   '/log=' + rb.win_path(log)]
        if a.connections:
            command.append('/connections=%d' % a.connections)
        env = dict(os.environ, WREN_BUILD_DIR=os.path.join(self.work, 'wine'), WREN_WINEPREFIX=prefix)
        env.pop('WREN_TRACE', None)
        lane.relay.reseed(self.chaos(number))
        lane.relay.take_stats()
        with open(os.path.join(folder, 'wine.log'), 'w') as out:
            started = time.monotonic()
            proc = self.procs.start(command, env=env, stdout=out, stderr=subprocess.STDOUT)
            try:
                code = proc.wait(timeout=a.limit)
            except subprocess.TimeoutExpired:
                code = None
            seconds = time.monotonic() - started
            self.procs.stop(proc)
        subprocess.run(['wineserver', '-k'], env=dict(os.environ, WINEPREFIX=prefix), timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        stats = lane.relay.take_stats()
        entries = log_entries(log)
        corrupt, missing = image_differences(self.source, image)
        result = Outcome(number, code, seconds, [t for tag, t in entries if tag == 'ERROR'][-3:],
                         next((t for tag, t in reversed(entries) if tag == 'OUTCOME'), ''),
                         '%s %s' % entries[-1] if entries else '', corrupt,
                         missing if code == 0 else [], stats.faults, stats.connections)
        if not a.keep:
            rb.remove(prefix)
            rb.remove(image)
            rb.remove(download)
        print(describe(result), flush=True)
        return result


def describe(r):
    how = 'killed at the limit' if r.code is None else 'exit code %d' % r.code
    text = 'run %2d: %s after %.0f s; %d connection%s, faults: %s' % (
        r.run, how, r.seconds, r.connections, '' if r.connections == 1 else 's',
        ', '.join('%s %d' % kv for kv in sorted(r.faults.items())) or 'none')
    if r.completed:
        text += '; image complete'
    elif r.code == 0:
        text += '; EXIT CODE 0 BUT THE IMAGE IS NOT THE SOURCE'
    if r.corrupt:
        text += '; CORRUPT: %s' % ', '.join(r.corrupt[:5])
    if r.missing:
        text += '; missing: %d files' % len(r.missing)
    if r.code is None:
        text += '\n        the run log ends: %s' % (r.last[:300] or 'the run log is empty')
    elif r.code != 0:
        text += '\n        ' + ('\n        '.join('ERROR %s' % e[:300] for e in r.errors) or 'no ERROR in the run log')
        text += '\n        ' + ('OUTCOME %s' % r.outcome if r.outcome else 'no OUTCOME in the run log')
    return text


def summarize(results, args, at_a_time):
    completed = [r for r in results if r.completed]
    clear = [r for r in results if r.clear]
    killed = [r for r in results if r.code is None]
    unclear = [r for r in results if not r.completed and not r.clear and r.code is not None]
    corrupt = sum(len(r.corrupt) + len(r.missing) for r in results)
    codes = {}
    for r in clear:
        codes[r.code] = codes.get(r.code, 0) + 1
    faults = {}
    for r in results:
        for kind, n in r.faults.items():
            faults[kind] = faults.get(kind, 0) + n
    times = sorted(r.seconds for r in results)
    print()
    print('chaos: %d runs, seed %d, RTT %g ms, fault probability %.2f per connection (%s), %s, %d at a time' % (
        len(results), args.seed, args.rtt, args.fault_probability, ' '.join(args.faults),
        '/connections=%d' % args.connections if args.connections else "the starter's own connections", at_a_time))
    print('  faults struck: %s; connections: %d' % (
        ', '.join('%s %d' % kv for kv in sorted(faults.items())) or 'none', sum(r.connections for r in results)))
    def runs(rs):
        return ' (runs %s)' % ', '.join(str(r.run) for r in rs) if rs else ''
    lines = (
        ('completed (exit code 0, image byte for byte)', len(completed), ''),
        ('ended with a clear message', len(clear),
         ' (exit codes %s)' % ', '.join('%d x%d' % kv for kv in sorted(codes.items())) if codes else ''),
        ('ended without a clear message', len(unclear), runs(unclear)),
        ('killed at the %d s limit' % args.limit, len(killed), runs(killed)),
        ('took 10 minutes or longer', sum(r.seconds >= 600 for r in results), ''),
        ('corrupt or missing files in images', corrupt, ''),
    )
    for label, count, note in lines:
        print('  %-46s %3d%s' % (label + ':', count, note))
    print('  run time: median %.0f s, longest %.0f s' % (times[len(times) // 2], times[-1]))
    overlong = [r for r in results if r.code is None or r.seconds >= 600]
    return 0 if not corrupt and not unclear and not overlong else 1


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0], epilog=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--runs', type=int, default=30, help='unattended builds (default 30)')
    p.add_argument('--only', type=int, nargs='+', metavar='RUN', help='only these runs (their numbers)')
    p.add_argument('--parallel', type=int, default=2, choices=(1, 2), help='runs at a time (default 2)')
    p.add_argument('--seed', type=int, default=1, help='seed of the faults and the files (default 1)')
    p.add_argument('--rtt', type=float, default=20, help="the relay's round trip in ms (default 20)")
    p.add_argument('--fault-probability', type=float, default=0.5,
                   help='share of connections that get a fault (default 0.5)')
    p.add_argument('--fault-window', type=rb.parse_size, default=4 << 20,
                   help='a fault strikes within this many reply bytes of its connection (default 4M)')
    p.add_argument('--faults', default=','.join(FAULTS),
                   help='the kinds of fault to draw from (default all: %s)' % ','.join(FAULTS))
    p.add_argument('--connections', type=int, help='pass /connections=N to the starter (a starter that knows it)')
    p.add_argument('--limit', type=int, default=600, help='seconds a run may take before it is killed (default 600)')
    p.add_argument('--keep', action='store_true', help='keep every run\'s prefix, image and download folder')
    p.add_argument('--work', help='work folder, kept and reused (default: a new one under /tmp, removed)')
    p.add_argument('--wait-binaries', type=int, default=900,
                   help='seconds to wait for a program that is being rebuilt (default 900)')
    args = p.parse_args(argv)
    if args.runs < 1:
        p.error('--runs must be at least 1')
    if not 0 <= args.fault_probability <= 1:
        p.error('--fault-probability must be 0 to 1')
    args.faults = tuple(args.faults.split(','))
    if not args.faults or not set(args.faults) <= set(FAULTS):
        p.error('--faults takes some of %s' % ','.join(FAULTS))
    if args.connections is not None and args.connections < 1:
        p.error('--connections must be at least 1')
    return args


def main(argv):
    args = parse_args(argv)
    for tool in ('wine', 'wineserver'):
        if not shutil.which(tool):
            raise SystemExit('%s is missing: run scripts/setup' % tool)
    if args.work:
        work, made = os.path.abspath(args.work), False
        os.makedirs(work, exist_ok=True)
    else:
        work, made = tempfile.mkdtemp(prefix='wren-chaos-'), True
    procs = rb.Processes()
    chaos = pool = None

    def on_term(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGHUP, on_term)
    failed = False
    try:
        print('chaos: work folder %s' % work, flush=True)
        bins = rb.snapshot_binaries(rb.BINARIES, os.path.join(work, 'bin'), args.wait_binaries)
        source = os.path.join(work, 'source', IMAGE.name)
        os.makedirs(os.path.dirname(source), exist_ok=True)
        if rb.generate_source(IMAGE, source, args.seed):
            print('chaos: generated %s in %s' % (IMAGE.describe(), source), flush=True)
        www = os.path.join(work, 'www')
        os.makedirs(www, exist_ok=True)
        http_port, http_what = rb.start_http_server(procs, 'nginx', www, os.path.join(work, 'http'))
        chaos = ChaosRun(args, work, bins, procs, source)
        numbers = args.only or range(1, args.runs + 1)
        for _ in range(min(args.parallel, len(numbers))):
            chaos.add_lane(http_port, www)
        print('chaos: parts served by %s on 127.0.0.1:%d behind relays on %s' % (
            http_what, http_port, ', '.join('127.0.0.1:%d' % lane.relay.port for lane in chaos.lanes)), flush=True)
        pool = ThreadPoolExecutor(len(chaos.lanes))
        results = list(pool.map(chaos.run, numbers))
        code = summarize(results, args, len(chaos.lanes))
        failed = code != 0
        return code
    except rb.BenchError as e:
        print('chaos: FAILED: %s' % e, file=sys.stderr)
        failed = True
        return 2
    except KeyboardInterrupt:
        print('chaos: interrupted', file=sys.stderr)
        return 130
    finally:
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)  # let the cleanup finish
        if pool:
            pool.shutdown(wait=False, cancel_futures=True)  # no new run; the ones going end with their processes
        procs.stop_all()
        if pool:
            pool.shutdown()
        if chaos:
            for lane in chaos.lanes:
                lane.relay.stop()
        if os.path.isdir(os.path.join(work, 'runs')):
            for name in os.listdir(os.path.join(work, 'runs')):
                prefix = os.path.join(work, 'runs', name, 'prefix')
                if os.path.isdir(prefix):
                    subprocess.run(['wineserver', '-k'], env=dict(os.environ, WINEPREFIX=prefix), timeout=60,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if args.keep or failed:
            print('chaos: kept %s for the run logs (runs/run-NN/run.log)' % work)
        elif made:
            shutil.rmtree(work, ignore_errors=True)
        else:
            rb.remove(os.path.join(work, 'runs'))
            rb.remove(os.path.join(work, 'http'))
            print('chaos: kept %s (source, publish folders, Wine template) for the next run' % work)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
