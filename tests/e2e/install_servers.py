#!/usr/bin/env python3
"""Servers for the build-run scenarios, started around the scenario program.

Runs inside tests/support/http_servers.py (which serves WREN_HTTP_ROOT). Makes
the sample game twice with wren-publish: once served by that static server
under /fast/, once under /slow/ by a throttled server of its own (so a
transfer lasts long enough to be cancelled or photographed). Then starts
wren-fileinfo-server for each list and for each server status the scenarios
need, and runs the command with their ports in the environment:
  WREN_FI_FAST, WREN_FI_SLOW, WREN_FI_STATUS_<n> (n = 3, 1, 100, 98 for -n),
  WREN_GAME_WIN (the game folder as Wine sees it), WREN_FAST_ROOT_WIN (the
  served /fast/ folder), WREN_HTTP_LOG_WIN.
Without the native tools (wren-publish, wren-fileinfo-server) the command runs
without these variables and the scenarios report themselves skipped.

usage: install_servers.py NATIVE_BUILD_DIR INSTALLER -- command [args...]
"""
import functools
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
STATUSES = (-3, -1, -100, -98)


def win(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class SlowHandler(http.server.SimpleHTTPRequestHandler):
    """Serves files at about 64 KiB a second."""

    def copyfile(self, source, outputfile):
        try:
            while True:
                block = source.read(8192)
                if not block:
                    return
                outputfile.write(block)
                time.sleep(0.125)
        except ConnectionError:
            pass  # the starter stopped the transfer

    def log_message(self, fmt, *args):
        pass


def start_list_server(exe, args):
    proc = subprocess.Popen([exe, '--port', '0'] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True)
    line = proc.stdout.readline()
    match = re.search(r' on [0-9.]+:(\d+)', line)
    if not match:
        proc.kill()
        raise RuntimeError('wren-fileinfo-server did not start: %r' % line)
    # Keep reading its log so that it never blocks on a full pipe.
    threading.Thread(target=lambda: [None for _ in proc.stdout], daemon=True).start()
    return proc, match.group(1)


def main(argv):
    native, installer = argv[0], argv[1]
    command = argv[3:] if argv[2:3] == ['--'] else argv[2:]
    publish = os.environ.get('WREN_PUBLISH') or os.path.join(native, 'tools', 'publish', 'wren-publish')
    server = os.environ.get('WREN_FILEINFO_SERVER') or os.path.join(
        native, 'tools', 'fileinfo_server', 'wren-fileinfo-server')
    root = os.environ.get('WREN_HTTP_ROOT')
    if not (os.access(publish, os.X_OK) and os.access(server, os.X_OK) and root):
        print('install_servers: no native wren-publish / wren-fileinfo-server in %s' % native, file=sys.stderr)
        return subprocess.call(command)

    work = tempfile.mkdtemp(prefix='wren-install-')
    procs = []
    slow = None
    try:
        slow = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(SlowHandler, directory=root))
        threading.Thread(target=slow.serve_forever, daemon=True).start()
        hosts = {'fast': os.environ['WREN_HTTP_PORT'], 'slow': str(slow.server_address[1])}
        env = dict(os.environ)
        for name, port in hosts.items():
            out = os.path.join(work, name)
            subprocess.run([sys.executable, os.path.join(SOURCE, 'tools', 'sample', 'make_sample.py'),
                            '--publish', publish, '--out', out, '--installer', installer,
                            '--host', '127.0.0.1:' + port, '--path', '/%s/' % name],
                           check=True, stdout=subprocess.DEVNULL)
            shutil.copytree(os.path.join(out, 'publish'), os.path.join(root, name))
            proc, fi_port = start_list_server(server, [os.path.join(out, 'publish', 'filelist.dat')])
            procs.append(proc)
            env['WREN_FI_' + name.upper()] = fi_port
        for status in STATUSES:
            proc, fi_port = start_list_server(server, ['--status', str(status)])
            procs.append(proc)
            env['WREN_FI_STATUS_%d' % -status] = fi_port
        env['WREN_GAME_WIN'] = win(os.path.join(work, 'fast', 'game'))
        env['WREN_FAST_ROOT_WIN'] = win(os.path.join(root, 'fast'))
        env['WREN_HTTP_LOG_WIN'] = win(os.environ['WREN_HTTP_LOG'])
        return subprocess.call(command, env=env)
    finally:
        for proc in procs:
            proc.terminate()
        for proc in procs:
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
        if slow:
            slow.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
