"""Our side of a run: the real exe under Wine + Xvfb, walked through the wizard."""
import os
import shutil
import subprocess
import time

from benchutil import ROOT, BenchError, remove
from images import compare_image
from pytools.common import wine_path
from run_trace import read_trace

WINE_RUN = os.path.join(ROOT, 'cmake', 'wine-run')
BINARIES = {
    'starter': 'build/windows/src/app/WrenStarter.exe',
    'walker': 'build/windows/tools/demo/wren-demo-walk.exe',
    'publish': 'build/native/tools/publish/wren-publish',
    'fileinfo': 'build/native/tools/fileinfo_server/wren-fileinfo-server',
}
SIGNED_STARTER = 'build/windows/demo/WrenStarter.exe'  # carries the demo publisher's public key


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


# ---- one run -------------------------------------------------------------------

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
        proc = ctx.procs.start(command, env=ctx.wine.env(WREN_TRACE=wine_path(trace_path)), stdout=out, stderr=err)
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
