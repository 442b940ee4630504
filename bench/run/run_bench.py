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
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, replace

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..')))
from benchutil import ROOT, BenchError, remove  # noqa: E402
from images import PRESETS, RAW_PATTERN, compare_image, generate_source, parse_size  # noqa: E402
from pipeline import run_pipeline  # noqa: E402
from pytools.common import ToolError, read_list  # noqa: E402
from run_trace import print_trace  # noqa: E402
from servers import Processes, start_http_server, start_list_server  # noqa: E402
from starter import BINARIES, SIGNED_STARTER, Wine, run_ours, snapshot_binaries  # noqa: E402

DEMO_KEY = os.path.join(ROOT, 'tools', 'demo', 'demo-publisher.key')


# ---- one image: its runs and their summary -----------------------------------

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
    files = read_list(os.path.join(publish, 'filelist.dat')).records
    if len(files) != image.files or any(len(f.parts) != image.parts for f in files):
        print('  note: the publish has %d files in %d parts (asked for %d parts each)' % (
            len(files), sum(len(f.parts) for f in files), image.parts))
    server, port = start_list_server(ctx.procs, ctx.bins['fileinfo'], os.path.join(publish, 'filelist.dat'),
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
    except ToolError as e:  # BenchError, and a list or server of the shared helpers
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
