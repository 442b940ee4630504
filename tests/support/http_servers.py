#!/usr/bin/env python3
"""Runs a command with local HTTP servers around it, for tests that download.

Starts, on 127.0.0.1 with free ports:
  - Python's standard static HTTP server over a fresh folder (WREN_HTTP_ROOT),
  - tinyproxy in front of it, asking for Basic authentication (user "u",
    password "pw"), when tinyproxy is installed.
and passes their addresses to the command in the environment:
  WREN_HTTP_PORT, WREN_HTTP_ROOT (a Unix path), WREN_HTTP_ROOT_WIN (the same
  folder as Wine's Z: drive sees it), WREN_PROXY_PORT, WREN_PROXY_USER,
  WREN_PROXY_PASSWORD, and WREN_HTTP_LOG (one line per request served).
A GET of /stall/<anything> answers 200 with a Content-Length of 1 MiB, sends
the first 64 KiB and then holds the connection for STALL_SECONDS without a
byte more: a transfer that stalls.
Everything stops when the command ends, and after --limit seconds at most.

usage: http_servers.py [--limit SECONDS] -- command [args...]
"""
import functools
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
from pytools.common import free_port, stop_processes, wait_for_port, wine_path  # noqa: E402

STALL_SECONDS = 150


class LoggingHandler(http.server.SimpleHTTPRequestHandler):
    log_path = None

    def do_GET(self):
        if not self.path.startswith('/stall/'):
            return super().do_GET()
        self.send_response(200)
        self.send_header('Content-Length', str(1024 * 1024))
        self.end_headers()
        try:
            self.wfile.write(b'\x5a' * 65536)
            self.wfile.flush()
            time.sleep(STALL_SECONDS)
        except ConnectionError:
            pass

    def log_request(self, code='-', size='-'):
        # Every reply, errors too; a request too malformed to have a path still gets its line.
        with open(self.log_path, 'a') as log:
            log.write('%s %s\n' % (self.command or '-', getattr(self, 'path', '-')))

    def log_message(self, fmt, *args):
        pass  # log_error's: an error reply has its line from log_request already


def start_tinyproxy(folder, target_port):
    exe = shutil.which('tinyproxy')
    if not exe:
        return None, None
    port = free_port()
    conf = os.path.join(folder, 'tinyproxy.conf')
    with open(conf, 'w') as f:
        f.write('Port %d\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\n'
                'Allow 127.0.0.1\nBasicAuth u pw\nLogLevel Error\n'
                'LogFile "%s"\n' % (port, os.path.join(folder, 'tinyproxy.log')))
    proc = subprocess.Popen([exe, '-d', '-c', conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if wait_for_port(port, proc, seconds=5):
        return proc, port
    stop_processes([proc])
    return None, None


def main(argv):
    limit = 900
    if argv[:1] == ['--limit']:
        limit, argv = int(argv[1]), argv[2:]
    if argv[:1] == ['--']:
        argv = argv[1:]
    folder = tempfile.mkdtemp(prefix='wren-http-')
    root = os.path.join(folder, 'www')
    os.mkdir(root)
    LoggingHandler.log_path = os.path.join(folder, 'requests.log')
    open(LoggingHandler.log_path, 'w').close()
    server = http.server.ThreadingHTTPServer(
        ('127.0.0.1', 0), functools.partial(LoggingHandler, directory=root))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    proxy, proxy_port = start_tinyproxy(folder, server.server_address[1])

    env = dict(os.environ)
    env.update(WREN_HTTP_PORT=str(server.server_address[1]), WREN_HTTP_ROOT=root,
               WREN_HTTP_ROOT_WIN=wine_path(root),
               WREN_HTTP_LOG=LoggingHandler.log_path)
    if proxy:
        env.update(WREN_PROXY_PORT=str(proxy_port), WREN_PROXY_USER='u', WREN_PROXY_PASSWORD='pw')
    child = subprocess.Popen(argv, env=env)
    try:
        code = child.wait(timeout=limit)
    except subprocess.TimeoutExpired:
        child.send_signal(signal.SIGTERM)
        code = 124
        print('http_servers: the command ran past %d seconds' % limit, file=sys.stderr)
    finally:
        server.shutdown()
        if proxy:
            stop_processes([proxy])
        shutil.rmtree(folder, ignore_errors=True)
    return code


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
