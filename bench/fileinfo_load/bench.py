#!/usr/bin/env python3
"""Launch-day benchmark: wren-fileinfo-server against nginx on the same bytes.

Starts, on 127.0.0.1 with free ports, wren-fileinfo-server serving a file list
and nginx serving the same bytes as a static file, then runs wren-fileinfo-load
against each, case by case and side by side, and prints fetches/s, failures,
p50/p99 and our server's fetches/s as a ratio of nginx's. Everything started
here is stopped at the end; each load run is bounded by --time-limit. Each
case runs --repeat times per server, in turn; the table shows the run with the
median fetches/s and the fetches and failures of all runs together.

usage: bench.py [--build build/native] [--list FILELIST] [--threads N] [--repeat 3]
                [--cases 200x3,1000x2,5000s+20x3]
  A case is CLIENTSxROUNDS, optionally after SLOWs: that many slow clients (one
  byte, then nothing) are connected before the ordinary clients start.
  Without --list the list is 41 886 pseudo-random bytes: the size of a packed
  3 000-file list.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, ROOT)
from pytools.common import free_port, start_fileinfo_server, stop_processes, wait_for_port  # noqa: E402

LIST_SIZE = 41886
SLOW_WAIT = 8  # seconds the slow case waits for the servers to drop the slow clients
REQUEST_TIMEOUT = 5  # both servers give a client this long to send its request

NGINX_CONF = """daemon off;
master_process on;
worker_processes auto;
worker_rlimit_nofile 65536;
pid {tmp}/nginx.pid;
error_log {tmp}/nginx-error.log warn;
events {{ worker_connections 30000; }}
http {{
    access_log {tmp}/nginx-access.log;
    client_body_temp_path {tmp}/body;
    proxy_temp_path {tmp}/proxy;
    fastcgi_temp_path {tmp}/fastcgi;
    uwsgi_temp_path {tmp}/uwsgi;
    scgi_temp_path {tmp}/scgi;
    sendfile on;
    tcp_nopush on;
    client_header_timeout {timeout}s;
    server {{
        listen 127.0.0.1:{port} backlog=65535;
        root {tmp}/www;
    }}
}}
"""


def start_nginx(exe, tmp, list_bytes):
    os.makedirs(os.path.join(tmp, 'www'))
    with open(os.path.join(tmp, 'www', 'filelist.dat'), 'wb') as f:
        f.write(list_bytes)
    port = free_port()
    conf = os.path.join(tmp, 'nginx.conf')
    with open(conf, 'w') as f:
        f.write(NGINX_CONF.format(tmp=tmp, port=port, timeout=REQUEST_TIMEOUT))
    proc = subprocess.Popen([exe, '-c', conf, '-p', tmp], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for_port(port, proc, seconds=10):
        proc.kill()
        raise RuntimeError('nginx did not start (see %s/nginx-error.log)' % tmp)
    return proc, port


def run_load(load, port, list_path, clients, rounds, slow, http):
    args = [load, '--port', str(port), '--expect', list_path, '--clients', str(clients), '--rounds', str(rounds),
            '--time-limit', '120']
    if slow:
        args += ['--slow', str(slow), '--slow-wait', str(SLOW_WAIT)]
    if http:
        args += ['--http', '--path', '/filelist.dat']
    done = subprocess.run(args, capture_output=True, text=True, timeout=180)
    result = dict(re.findall(r'(\w+)=([0-9.]+)', done.stdout))
    if not result:
        raise RuntimeError('wren-fileinfo-load printed nothing: %s' % done.stderr)
    result['note'] = done.stderr.strip()
    return result


def median_run(runs):
    """The run with the median fetches/s, with the failures of all runs."""
    ordered = sorted(runs, key=lambda r: float(r['fetches_per_s']))
    median = dict(ordered[len(ordered) // 2])
    median['failed'] = str(sum(int(r['failed']) for r in runs))
    median['fetched'] = str(sum(int(r['fetched']) for r in runs))
    median['note'] = '; '.join(r['note'] for r in runs if r['note'])
    return median


def parse_case(text):
    match = re.fullmatch(r'(?:(\d+)s\+)?(\d+)x(\d+)', text)
    if not match:
        raise argparse.ArgumentTypeError('a case is CLIENTSxROUNDS or SLOWs+CLIENTSxROUNDS: %r' % text)
    return int(match.group(1) or 0), int(match.group(2)), int(match.group(3))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--build', default=os.path.join(ROOT, 'build', 'native'))
    parser.add_argument('--list', help='the list bytes to serve (default: %d pseudo-random bytes)' % LIST_SIZE)
    parser.add_argument('--nginx', default=shutil.which('nginx') or '/usr/sbin/nginx')
    parser.add_argument('--repeat', type=int, default=3, choices=range(1, 11),
                        help='runs of each case per server, taken in turn; the median is shown (default 3)')
    parser.add_argument('--threads', type=int, default=os.cpu_count(),
                        help="our server's event loops (default: one per core, as nginx's workers)")
    parser.add_argument('--cases', default='200x3,1000x2,5000s+20x3',
                        type=lambda t: [parse_case(c) for c in t.split(',')])
    args = parser.parse_args()

    server = os.path.join(args.build, 'tools', 'fileinfo_server', 'wren-fileinfo-server')
    load = os.path.join(args.build, 'bench', 'fileinfo_load', 'wren-fileinfo-load')
    for exe in (server, load, args.nginx):
        if not os.access(exe, os.X_OK):
            sys.exit('bench.py: %s is missing (build the native preset; scripts/setup installs nginx)' % exe)

    tmp = tempfile.mkdtemp(prefix='wren-bench-')
    os.chmod(tmp, 0o755)  # nginx's workers run as another user when started by root
    procs = []
    try:
        list_path = os.path.join(tmp, 'filelist.dat')
        if args.list:
            shutil.copyfile(args.list, list_path)
        else:
            with open(list_path, 'wb') as f:
                f.write(random.Random(3000).randbytes(LIST_SIZE))
        with open(list_path, 'rb') as f:
            list_bytes = f.read()
        ours, ours_port = start_fileinfo_server(
            server, ['--request-timeout', str(REQUEST_TIMEOUT), '--threads', str(args.threads), list_path],
            os.path.join(tmp, 'fileinfo-server.log'))
        procs.append(ours)
        nginx, nginx_port = start_nginx(args.nginx, tmp, list_bytes)
        procs.append(nginx)
        print('list: %d bytes; wren-fileinfo-server (%d threads) on port %d, nginx (a worker per core) on port %d; '
              '%d cores' % (len(list_bytes), args.threads, ours_port, nginx_port, os.cpu_count()))
        header = '%-22s %-8s %8s %7s %8s %8s  %s' % ('case', 'server', 'fetched', 'failed', 'fetch/s', 'p50 ms',
                                                   'p99 ms / slow clients')
        print(header)
        print('-' * len(header))
        for slow, clients, rounds in args.cases:
            name = ('%d slow + ' % slow if slow else '') + '%d x %d' % (clients, rounds)
            runs = {'ours': [], 'nginx': []}
            for _ in range(args.repeat):  # in turn, so that both see the same moments of a busy machine
                for label, port, http in (('ours', ours_port, False), ('nginx', nginx_port, True)):
                    runs[label].append(run_load(load, port, list_path, clients, rounds, slow, http))
            results = {}
            for label in ('ours', 'nginx'):
                r = results[label] = median_run(runs[label])
                extra = ''
                if slow:
                    extra = '  slow: %s held, %s still open after the load, %s dropped within %d s (median %s s)' % (
                        r['slow_held'], r['slow_open_after_load'], r['slow_dropped'], SLOW_WAIT,
                        r['slow_drop_median_s'])
                print('%-22s %-8s %8s %7s %8s %8s %8s%s' % (name, label, r['fetched'], r['failed'],
                                                             r['fetches_per_s'], r['p50_ms'], r['p99_ms'], extra))
                if r['note']:
                    print('%22s   %s' % ('', r['note']))
            theirs = float(results['nginx']['fetches_per_s'])
            ratio = float(results['ours']['fetches_per_s']) / theirs if theirs else float('nan')
            print('%-22s ratio ours/nginx: %.2f' % (name, ratio))
        ok = ours.poll() is None and nginx.poll() is None
        print('both servers still running at the end' if ok else 'a server stopped during the run')
    finally:
        stop_processes(procs, grace=15)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == '__main__':
    main()
