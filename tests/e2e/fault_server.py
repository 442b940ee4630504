"""A static HTTP server for the fault scenarios, with faults to order.

Serves a folder like Python's static server, except that the part named in the
current fault is answered wrongly, one way per fault:
  404, 500      that status
  truncated     the first half of the file, with a Content-Length that says so
  corrupted     the file with one byte changed
  longer        the file with bytes added
  drop          the whole length announced, half of it sent, a pause, a reset
  stall         the whole length announced, 64 KiB sent, then nothing for
                STALL_SECONDS (the connection is held open)
  endless       no length, the file's bytes over and over until the client
                goes (at most ENDLESS_LIMIT); "SENT endless <bytes>" is logged
Without a fault, "Range: bytes=N-" is answered with 206 and the rest (416
past the end).
The scenario program steers it with GET /_control?<query>:
  fault=<name>&part=<file name>   the fault from now on (fault=none: no fault)
  disk=fill|free|ro|rw            the small disk: fill it up to its last
                                  64 KiB, free that again, make it read-only
                                  or writable again (only when one is mounted)
Every request for a file is appended to the log as "GET <path>", followed by
" range=<Range header>" when it has one and " no-cache" when it carries both
Pragma: no-cache and Cache-Control: no-cache.
"""
import http.server
import os
import socket
import struct
import subprocess
import threading
import time
import urllib.parse

STALL_SECONDS = 150
ENDLESS_LIMIT = 1 << 30
KEEP_FREE = 64 * 1024


class FaultState:
    def __init__(self, log_path, small_disk):
        self.lock = threading.Lock()
        self.fault = None
        self.part = None
        self.log_path = log_path
        self.small_disk = small_disk

    def fault_for(self, name):
        with self.lock:
            return self.fault if self.part == name else None

    def log(self, line):
        with self.lock, open(self.log_path, 'a') as log:
            log.write(line + '\n')

    def filler(self):
        return os.path.join(self.small_disk, 'filler.bin')

    def disk(self, op):
        if not self.small_disk:
            return 'no small disk is mounted'
        if op == 'fill':
            vfs = os.statvfs(self.small_disk)
            size = vfs.f_bavail * vfs.f_frsize - KEEP_FREE
            with open(self.filler(), 'ab') as f:
                f.write(b'\0' * max(size, 0))
            return None
        if op == 'free':
            if os.path.exists(self.filler()):
                os.remove(self.filler())
            return None
        if op in ('ro', 'rw'):
            result = subprocess.run(['mount', '-o', 'remount,' + op, self.small_disk],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            return result.stdout.strip() if result.returncode else None
        return 'unknown disk operation ' + op


class FaultHandler(http.server.SimpleHTTPRequestHandler):
    state = None  # a FaultState, set by make_server

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        if self.path.startswith('/_control?'):
            return self.control(urllib.parse.parse_qs(self.path.split('?', 1)[1]))
        wanted = self.headers.get('Range')
        line = 'GET ' + self.path + (' range=' + wanted if wanted else '')
        if self.headers.get('Pragma') == 'no-cache' and self.headers.get('Cache-Control') == 'no-cache':
            line += ' no-cache'
        self.state.log(line)
        fault = self.state.fault_for(self.path.rsplit('/', 1)[-1])
        if not fault:
            return self.ranged(wanted) if wanted else super().do_GET()
        if fault == 'endless':
            return self.endless()
        if fault in ('404', '500'):
            return self.send_error(int(fault))
        with open(self.translate_path(self.path), 'rb') as f:
            data = f.read()
        self.close_connection = True
        if fault == 'truncated':
            return self.answer(data[:len(data) // 2])
        if fault == 'corrupted':
            changed = bytearray(data)
            changed[len(changed) // 2] ^= 0x5A
            return self.answer(bytes(changed))
        if fault == 'longer':
            return self.answer(data + b'not part of the file' * 64)
        self.send_response(200)
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        try:
            if fault == 'drop':
                self.wfile.write(data[:len(data) // 2])
                self.wfile.flush()
                # The half arrives first, then the reset (linger 0), so the
                # starter's read fails, never its request.
                time.sleep(0.5)
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
                self.connection.close()
            else:  # stall
                self.wfile.write(data[:65536])
                self.wfile.flush()
                time.sleep(STALL_SECONDS)
        except OSError:
            pass  # the starter gave up on the transfer

    def ranged(self, wanted):
        path = self.translate_path(self.path)
        if not os.path.isfile(path) or not wanted.startswith('bytes=') or not wanted.endswith('-'):
            return super().do_GET()
        with open(path, 'rb') as f:
            data = f.read()
        start = int(wanted[len('bytes='):-1] or 0)
        if start >= len(data):
            self.send_response(416)
            self.send_header('Content-Range', 'bytes */%d' % len(data))
            self.send_header('Content-Length', '0')
            self.end_headers()
            return None
        self.send_response(206)
        self.send_header('Content-Range', 'bytes %d-%d/%d' % (start, len(data) - 1, len(data)))
        self.send_header('Content-Length', str(len(data) - start))
        self.end_headers()
        try:
            self.wfile.write(data[start:])
        except OSError:
            pass
        return None

    def endless(self):
        with open(self.translate_path(self.path), 'rb') as f:
            data = f.read() or b'x'
        self.close_connection = True
        self.send_response(200)
        self.end_headers()
        sent = 0
        try:
            while sent < ENDLESS_LIMIT:
                self.wfile.write(data)
                sent += len(data)
        except OSError:
            pass  # the starter had enough
        self.state.log('SENT endless %d' % sent)

    def answer(self, body):
        self.send_response(200)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass

    def control(self, query):
        error = None
        if 'fault' in query:
            with self.state.lock:
                fault = query['fault'][0]
                self.state.fault = None if fault == 'none' else fault
                self.state.part = query.get('part', [None])[0]
        if 'disk' in query:
            try:
                error = self.state.disk(query['disk'][0])
            except OSError as e:
                error = str(e)
        body = (error or 'ok').encode()
        self.send_response(500 if error else 200)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def make_server(root, log_path, small_disk):
    """A running fault server over root; returns it (its port: server_address[1])."""
    handler = type('BoundFaultHandler', (FaultHandler,), {'state': FaultState(log_path, small_disk)})
    open(log_path, 'a').close()
    server = http.server.ThreadingHTTPServer(
        ('127.0.0.1', 0), lambda *a, **k: handler(*a, directory=root, **k))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def mount_small_disk(folder, size='32m'):
    """Mounts a small tmpfs on folder; (True, None) or (False, why not)."""
    if not hasattr(os, 'geteuid') or os.geteuid() != 0:
        return False, 'not running as root, so no tmpfs can be mounted'
    result = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=' + size, 'tmpfs', folder],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode:
        return False, 'mount -t tmpfs failed: ' + result.stdout.strip()
    return True, None


def unmount_small_disk(folder):
    if subprocess.call(['umount', folder], stderr=subprocess.DEVNULL):
        subprocess.call(['umount', '-l', folder], stderr=subprocess.DEVNULL)
