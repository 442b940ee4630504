#!/usr/bin/env python3
"""Servers for the patch-day scenario, started around the scenario program.

Publishes the sample game twice, each into a folder of its own served by a
part server of its own: "plain" unsigned, its list server reloaded with
SIGHUP; "signed" with KEYFILE, its list server run with --watch. Each part
server logs every GET (and "# republished" once version 2 is served) and
sends the first transfer of world.pak's second part slowly (a slow link)
until the publication has been replaced. The scenario
steers each publication through files in its control folder:
  stalled        appears when that slow transfer has started
  republish      dropped by the scenario: wren-publish publishes version 2
                 (data/world.pak, data/maps/field01.map and readme.txt
                 changed) into the same folder, the list server reads it,
                 and the slow transfer goes on at full speed
  changed-parts  then lists the URL paths of the changed files' parts
  republished    appears last (or "error", with why)
The command runs with, for NAME = PLAIN and SIGNED: WREN_PATCH_<NAME>_LIST (the
list server's port), _CONTROL_WIN, _LOG_WIN (the part server's request log),
_OLD_WIN and _NEW_WIN (the game folders of versions 1 and 2), all as Wine sees
them. Without the native tools the command runs without them and the scenario
reports itself skipped. Everything stops when the command ends.

usage: patch_day_servers.py NATIVE_BUILD_DIR INSTALLER KEYFILE -- command [args...]
"""
import functools
import http.server
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import install_servers

sys.path.insert(0, os.path.join(install_servers.SOURCE, 'tools', 'sample'))
import make_sample  # noqa: E402  (the sample game's own generator)
from pytools.common import read_list, start_fileinfo_server, stop_processes, wine_path  # noqa: E402

SLOW_PART = '/files/data/world.pak.p01.'
CHANGED = {
    'data/world.pak': lambda size: make_sample.compressible(101, size),
    'data/maps/field01.map': lambda size: make_sample.compressible(102, size),
    'readme.txt': lambda size: b'Marlo sample image, version 2\r\n',
}
LIMIT_S = 600


def wait_for_line(path, pattern, count=1, seconds=30):
    """The count-th match of pattern in the file at path, or None after seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with open(path, errors='replace') as f:
            found = re.findall(pattern, f.read())
        if len(found) >= count:
            return found[count - 1]
        time.sleep(0.05)
    return None


class PartHandler(http.server.SimpleHTTPRequestHandler):
    """Serves one publish folder; self.server.publication steers the slow part."""

    def log_message(self, fmt, *args):
        pass

    def log_request(self, code='-', size='-'):
        with open(self.server.publication.log, 'a') as log:
            log.write('%s %s %s\n' % (self.command, self.path, code))

    def copyfile(self, source, outputfile):
        pub = self.server.publication
        if not pub.take_slow(self.path):
            return super().copyfile(source, outputfile)
        try:
            while True:
                block = source.read(8192)
                if not block:
                    return
                outputfile.write(block)
                outputfile.flush()
                if not pub.replaced.is_set():
                    time.sleep(0.25)  # about 32 KiB a second
        except ConnectionError:
            pass


class Publication:
    def __init__(self, name, work, tools, installer, options, watch):
        self.name, self.options, self.watch = name, options, watch
        self.publish_exe, server_exe = tools
        self.folder = os.path.join(work, name)
        self.control = os.path.join(self.folder, 'control')
        self.log = os.path.join(self.folder, 'requests.log')
        self.server_log = os.path.join(self.folder, 'list-server.log')
        os.makedirs(self.control)
        open(self.log, 'w').close()
        self.replaced = threading.Event()
        self.slow_taken = False
        self.lock = threading.Lock()

        self.http = http.server.ThreadingHTTPServer(
            ('127.0.0.1', 0), functools.partial(PartHandler, directory=os.path.join(self.folder, 'publish')))
        self.http.publication = self
        self.host = '127.0.0.1:%d' % self.http.server_address[1]
        install_servers.publish_sample(self.publish_exe, installer, self.folder, self.host, '/', options)
        threading.Thread(target=self.http.serve_forever, daemon=True).start()
        self.old_game = os.path.join(self.folder, 'game')
        self.new_game = os.path.join(self.folder, 'game-v2')
        shutil.copytree(self.old_game, self.new_game)
        for name, make in CHANGED.items():
            path = os.path.join(self.new_game, *name.split('/'))
            data = make(os.path.getsize(path))
            with open(path, 'wb') as f:
                f.write(data)

        self.server, port = start_fileinfo_server(
            server_exe, (['--watch'] if watch else []) + [os.path.join(self.folder, 'publish', 'filelist.dat')],
            log_path=self.server_log)
        self.port = str(port)
        threading.Thread(target=self.steer, daemon=True).start()

    def take_slow(self, path):
        with self.lock:
            if self.slow_taken or not path.startswith(SLOW_PART):
                return False
            self.slow_taken = True
        open(os.path.join(self.control, 'stalled'), 'w').close()
        return True

    def republish(self):
        subprocess.run([self.publish_exe, '--host', self.host, '--path', '/', '--installer', 'MarloSetup.exe',
                        '--part-size', make_sample.PART_SIZE] + self.options +
                       [self.new_game, os.path.join(self.folder, 'publish')],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not self.watch:
            self.server.send_signal(signal.SIGHUP)
        if not wait_for_line(self.server_log, r'reloaded '):
            raise RuntimeError('the list server did not read the new list')
        records = read_list(os.path.join(self.folder, 'publish', 'filelist.dat')).records
        changed = {name.replace('/', '\\').encode() for name in CHANGED}
        with open(os.path.join(self.control, 'changed-parts'), 'w') as f:
            for record in records:
                if record.name in changed:
                    for part in record.parts:
                        f.write('/%s\n' % part.remote.decode())

    def steer(self):
        deadline = time.monotonic() + LIMIT_S
        done = None
        while time.monotonic() < deadline and not os.path.exists(os.path.join(self.control, 'republish')):
            time.sleep(0.1)
        try:
            if time.monotonic() < deadline:
                self.republish()
                done = 'republished'
        except (OSError, RuntimeError, subprocess.CalledProcessError) as e:
            with open(os.path.join(self.control, 'error'), 'w') as f:
                f.write('%s %s\n' % (e, getattr(e, 'stderr', '') or ''))
        if done:
            with open(self.log, 'a') as log:
                log.write('# republished\n')
        self.replaced.set()
        if done:
            open(os.path.join(self.control, done), 'w').close()

    def stop(self):
        stop_processes([self.server])
        self.http.shutdown()


def main(argv):
    native, installer, key = argv[0], argv[1], os.path.abspath(argv[2])
    command = argv[4:] if argv[3:4] == ['--'] else argv[3:]
    tools = install_servers.native_tools(native)
    if not all(os.access(tool, os.X_OK) for tool in tools):
        print('patch_day_servers: no native wren-publish / wren-fileinfo-server in %s' % native, file=sys.stderr)
        return subprocess.call(command)

    work = tempfile.mkdtemp(prefix='wren-patch-day-')
    publications = []
    try:
        publications.append(Publication('plain', work, tools, installer, [], watch=False))
        publications.append(Publication('signed', work, tools, installer, ['--sign', key], watch=True))
        env = dict(os.environ)
        for pub in publications:
            prefix = 'WREN_PATCH_%s_' % pub.name.upper()
            env[prefix + 'LIST'] = pub.port
            env[prefix + 'CONTROL_WIN'] = wine_path(pub.control)
            env[prefix + 'LOG_WIN'] = wine_path(pub.log)
            env[prefix + 'OLD_WIN'] = wine_path(pub.old_game)
            env[prefix + 'NEW_WIN'] = wine_path(pub.new_game)
        return subprocess.call(command, env=env)
    finally:
        for pub in publications:
            pub.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
