#!/usr/bin/env python3
"""Servers for the build-run scenarios, started around the scenario program.

Runs inside tests/support/http_servers.py (which serves WREN_HTTP_ROOT). Makes
the sample game three times with wren-publish: once served by that static
server under /fast/, once under /slow/ by a throttled server of its own (so a
transfer lasts long enough to be cancelled or photographed), once under
/fault/ by the fault server of fault_server.py. Mounts a small tmpfs for the
disk faults when it can. Then starts wren-fileinfo-server for each list and
for each server status the scenarios need, and runs the command with their
ports in the environment:
  WREN_FI_FAST, WREN_FI_SLOW, WREN_FI_FAULT, WREN_FI_LIST_<variant> (the
  fault list's variants of list_faults.py: DUP_TARGET, DUP_PART, SHORT,
  OVERLAP), WREN_FI_STATUS_<n> (n = 3, 1, 100, 98 for -n), WREN_FAULT_PORT
  (the fault server, also its /_control),
  WREN_GAME_WIN (the game folder as Wine sees it), WREN_FAST_ROOT_WIN (the
  served /fast/ folder), WREN_FAULT_ROOT_WIN, WREN_HTTP_LOG_WIN,
  WREN_FAULT_LOG_WIN, and WREN_SMALL_DISK_WIN (the tmpfs) or, when none could
  be mounted, WREN_SMALL_DISK_SKIP (why not).
With nginx installed, the sample is published once more under /marlo/ on
nginx, run with tools/deploy/nginx-parts.conf: WREN_FI_NGINX (its list
server), WREN_NGINX_LOG_WIN (nginx's access log).
With haproxy installed, two servers of the /fast/ list run behind haproxy,
run with tools/deploy/haproxy.cfg: WREN_FI_BALANCED (haproxy's port) and
WREN_BALANCE_CONTROL_WIN, a folder where the scenario drops files to steer a
load of plain clients through haproxy (see BalancedLoad).
Without the native tools (wren-publish, wren-fileinfo-server) the command runs
without these variables and the scenarios report themselves skipped.

usage: install_servers.py NATIVE_BUILD_DIR INSTALLER -- command [args...]
"""
import functools
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

import fault_server
import list_faults

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, SOURCE)
from pytools.common import free_port, start_fileinfo_server, stop_processes, wait_for_port, wine_path  # noqa: E402

STATUSES = (-3, -1, -100, -98)
REQUEST = bytes.fromhex('000d1700000001000fafa000000000')
NGINX_MAIN = """daemon off;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log warn;
events {{ }}
http {{
    access_log {work}/nginx-access.log;
    client_body_temp_path {work}/nginx-body;
    proxy_temp_path {work}/nginx-proxy;
    fastcgi_temp_path {work}/nginx-fastcgi;
    uwsgi_temp_path {work}/nginx-uwsgi;
    scgi_temp_path {work}/nginx-scgi;
    include {work}/nginx-parts.conf;
}}
"""


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


def render(sample, path, replacements):
    """Writes a sample configuration of tools/deploy with test values put in."""
    with open(os.path.join(SOURCE, 'tools', 'deploy', sample)) as f:
        text = f.read()
    for old, new in replacements:
        if old not in text:
            raise RuntimeError('tools/deploy/%s no longer has %r' % (sample, old))
        text = text.replace(old, new)
    with open(path, 'w') as f:
        f.write(text)


def start_nginx(exe, work, www):
    port = free_port()
    render('nginx-parts.conf', os.path.join(work, 'nginx-parts.conf'),
           [('listen 8080;', 'listen 127.0.0.1:%d;' % port), ('root /srv/www;', 'root %s;' % www)])
    conf = os.path.join(work, 'nginx.conf')
    with open(conf, 'w') as f:
        f.write(NGINX_MAIN.format(work=work))
    proc = subprocess.Popen([exe, '-c', conf, '-p', work], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for_port(port, proc):
        proc.kill()
        raise RuntimeError('nginx did not start (%s/nginx-error.log)' % work)
    return proc, port


def start_haproxy(exe, work, backends, metrics):
    """backends: the list servers' ports; metrics: their --metrics ports (the health check asks those)."""
    port = free_port()
    conf = os.path.join(work, 'haproxy.cfg')
    servers = [('192.0.2.1%d:9070 check port 9100' % (i + 1), '127.0.0.1:%s check port %d' % (backends[i], metrics[i]))
               for i in range(2)]
    render('haproxy.cfg', conf, [('bind :9070', 'bind 127.0.0.1:%d' % port), ('maxconn 100000', 'maxconn 1000')] + servers)
    proc = subprocess.Popen([exe, '-db', '-f', conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for_port(port, proc):
        proc.kill()
        raise RuntimeError('haproxy did not start')
    return proc, port


def fetch_list(port):
    """One fetch as the starter makes it; the list, or None when it failed."""
    try:
        with socket.create_connection(('127.0.0.1', port), timeout=10) as s:
            s.sendall(REQUEST)
            stream = s.makefile('rb')
            chunks = []
            while True:
                head = stream.read(2)
                body = stream.read(int.from_bytes(head, 'big')) if len(head) == 2 else b''
                if len(body) < 17 or body[0] != 0x24 or int.from_bytes(body[9:13], 'big') != 1:
                    return None
                size, at = body[15], 16
                if size == 253:
                    size, at = int.from_bytes(body[16:20], 'big'), 20
                chunks.append(body[at:at + size])
                if body[14] + 1 == body[13]:
                    return b''.join(chunks)
    except OSError:
        return None


class BalancedLoad:
    """Plain clients fetching the list through haproxy, steered by files that
    the scenario drops into the control folder:
      start-load  the clients start fetching, one after the other
      stop-first  the first server behind haproxy gets SIGTERM; once it has
                  ended, first-stopped appears
      end-load    the clients stop; load-result appears with
                  "fetched=N failed=N after_stop=N"
    Bounded: the clients stop by themselves after 600 s or 200 000 fetches."""

    CLIENTS = 8
    PAUSE_S = 0.02  # between two fetches of a client: load, not a flood on a shared machine
    LIMIT_S = 600
    LIMIT_FETCHES = 200000

    def __init__(self, control, port, expected, first_server):
        self.control, self.port, self.expected, self.first = control, port, expected, first_server
        self.lock = threading.Lock()
        self.fetched = self.failed = self.after_stop = 0
        self.stopped = False
        self.ending = threading.Event()
        threading.Thread(target=self.steer, daemon=True).start()

    def has(self, name):
        return os.path.exists(os.path.join(self.control, name))

    def client(self, deadline):
        while not self.ending.is_set() and time.monotonic() < deadline:
            ok = fetch_list(self.port) == self.expected
            with self.lock:
                if self.fetched + self.failed >= self.LIMIT_FETCHES:
                    return
                if ok:
                    self.fetched += 1
                    self.after_stop += self.stopped
                else:
                    self.failed += 1
            time.sleep(self.PAUSE_S)

    def steer(self):
        deadline = time.monotonic() + self.LIMIT_S
        clients = []
        while time.monotonic() < deadline:
            if not clients and self.has('start-load'):
                clients = [threading.Thread(target=self.client, args=(deadline,), daemon=True)
                           for _ in range(self.CLIENTS)]
                for c in clients:
                    c.start()
            if clients and not self.stopped and self.has('stop-first'):
                self.first.terminate()
                self.first.wait(timeout=30)
                self.stopped = True
                open(os.path.join(self.control, 'first-stopped'), 'w').close()
            if self.has('end-load'):
                break
            time.sleep(0.1)
        self.ending.set()
        for c in clients:
            c.join(timeout=30)
        with open(os.path.join(self.control, 'load-result.tmp'), 'w') as f:
            f.write('fetched=%d failed=%d after_stop=%d\n' % (self.fetched, self.failed, self.after_stop))
        os.replace(os.path.join(self.control, 'load-result.tmp'), os.path.join(self.control, 'load-result'))


def native_tools(native):
    """wren-publish and wren-fileinfo-server of the native build (or of WREN_PUBLISH, WREN_FILEINFO_SERVER)."""
    publish = os.environ.get('WREN_PUBLISH') or os.path.join(native, 'tools', 'publish', 'wren-publish')
    server = os.environ.get('WREN_FILEINFO_SERVER') or os.path.join(
        native, 'tools', 'fileinfo_server', 'wren-fileinfo-server')
    return publish, server


def publish_sample(publish, installer, out, host, path, options=()):
    """The sample game in out/game and its publish folder in out/publish (make_sample.py);
    options go to wren-publish."""
    subprocess.run([sys.executable, os.path.join(SOURCE, 'tools', 'sample', 'make_sample.py'),
                    '--publish', publish, '--out', out, '--installer', installer,
                    '--host', host, '--path', path, '--'] + list(options),
                   check=True, stdout=subprocess.DEVNULL)


def main(argv):
    native, installer = argv[0], argv[1]
    command = argv[3:] if argv[2:3] == ['--'] else argv[2:]
    publish, server = native_tools(native)
    root = os.environ.get('WREN_HTTP_ROOT')
    if not (os.access(publish, os.X_OK) and os.access(server, os.X_OK) and root):
        print('install_servers: no native wren-publish / wren-fileinfo-server in %s' % native, file=sys.stderr)
        return subprocess.call(command)

    work = tempfile.mkdtemp(prefix='wren-install-')
    procs = []
    slow = None
    fault = None
    small = os.path.join(work, 'small')
    os.mkdir(small)
    mounted, why_not = fault_server.mount_small_disk(small)
    try:
        slow = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(SlowHandler, directory=root))
        threading.Thread(target=slow.serve_forever, daemon=True).start()
        fault_log = os.path.join(work, 'fault-requests.log')
        fault = fault_server.make_server(root, fault_log, small if mounted else None)
        hosts = {'fast': os.environ['WREN_HTTP_PORT'], 'slow': str(slow.server_address[1]),
                 'fault': str(fault.server_address[1])}
        env = dict(os.environ)
        for name, port in hosts.items():
            out = os.path.join(work, name)
            publish_sample(publish, installer, out, '127.0.0.1:' + port, '/%s/' % name)
            shutil.copytree(os.path.join(out, 'publish'), os.path.join(root, name))
            proc, fi_port = start_fileinfo_server(server, [os.path.join(out, 'publish', 'filelist.dat')])
            procs.append(proc)
            env['WREN_FI_' + name.upper()] = str(fi_port)
        # Faulty copies of the fault server's list (list_faults.py).
        variants = list_faults.make_variants(os.path.join(work, 'fault', 'publish', 'filelist.dat'),
                                             os.path.join(root, 'fault'), os.path.join(work, 'lists'))
        for variant, path in variants.items():
            proc, fi_port = start_fileinfo_server(server, [path])
            procs.append(proc)
            env['WREN_FI_LIST_' + variant.upper().replace('-', '_')] = str(fi_port)
        for status in STATUSES:
            proc, fi_port = start_fileinfo_server(server, ['--status', str(status)])
            procs.append(proc)
            env['WREN_FI_STATUS_%d' % -status] = str(fi_port)
        nginx = shutil.which('nginx') or '/usr/sbin/nginx'
        if os.access(nginx, os.X_OK):
            # nginx's workers run as another user when the tests run as root.
            os.chmod(work, 0o755)
            www = os.path.join(work, 'www')
            out = os.path.join(work, 'nginx')
            proc, port = start_nginx(nginx, work, www)
            procs.append(proc)
            publish_sample(publish, installer, out, '127.0.0.1:%d' % port, '/marlo/')
            shutil.copytree(os.path.join(out, 'publish'), os.path.join(www, 'marlo'))
            proc, fi_port = start_fileinfo_server(server, [os.path.join(out, 'publish', 'filelist.dat')])
            procs.append(proc)
            env['WREN_FI_NGINX'] = str(fi_port)
            env['WREN_NGINX_LOG_WIN'] = wine_path(os.path.join(work, 'nginx-access.log'))
        haproxy = shutil.which('haproxy') or '/usr/sbin/haproxy'
        if os.access(haproxy, os.X_OK):
            fast_list = os.path.join(work, 'fast', 'publish', 'filelist.dat')
            metrics = [free_port() for _ in range(2)]
            backends = [start_fileinfo_server(server, ['--metrics', '127.0.0.1:%d' % m, fast_list]) for m in metrics]
            procs.extend(proc for proc, _ in backends)
            proc, port = start_haproxy(haproxy, work, [p for _, p in backends], metrics)
            procs.append(proc)
            control = os.path.join(work, 'balance-control')
            os.mkdir(control)
            with open(fast_list, 'rb') as f:
                BalancedLoad(control, port, f.read(), backends[0][0])
            env['WREN_FI_BALANCED'] = str(port)
            env['WREN_BALANCE_CONTROL_WIN'] = wine_path(control)
        env['WREN_GAME_WIN'] = wine_path(os.path.join(work, 'fast', 'game'))
        env['WREN_FAST_ROOT_WIN'] = wine_path(os.path.join(root, 'fast'))
        env['WREN_FAULT_ROOT_WIN'] = wine_path(os.path.join(root, 'fault'))
        env['WREN_FAULT_PORT'] = hosts['fault']
        env['WREN_HTTP_LOG_WIN'] = wine_path(os.environ['WREN_HTTP_LOG'])
        env['WREN_FAULT_LOG_WIN'] = wine_path(fault_log)
        if mounted:
            env['WREN_SMALL_DISK_WIN'] = wine_path(small)
        else:
            env['WREN_SMALL_DISK_SKIP'] = why_not
        return subprocess.call(command, env=env)
    finally:
        stop_processes(procs)
        if slow:
            slow.shutdown()
        if fault:
            fault.shutdown()
        if mounted:
            fault_server.unmount_small_disk(small)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
