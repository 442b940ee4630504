"""The servers of a benchmark run: the HTTP server of the part files and
wren-fileinfo-server, and every process the benchmark starts."""
import os
import shutil
import subprocess
import sys

from benchutil import BenchError
from pytools.common import free_port, start_fileinfo_server, stop_processes, wait_for_port

SERVER_START_LIMIT = 15  # seconds for a server to answer


class Processes:
    """Every long-running process the benchmark starts, each in a group of its own."""

    def __init__(self):
        self.procs = []

    def start(self, args, **kwargs):
        proc = subprocess.Popen(args, start_new_session=True, **kwargs)
        self.procs.append(proc)
        return proc

    def stop(self, proc):
        stop_processes([proc])
        if proc in self.procs:
            self.procs.remove(proc)

    def stop_all(self):
        stop_processes(self.procs[::-1])
        self.procs.clear()


def wait_for_server(port, proc, what):
    if wait_for_port(port, proc, SERVER_START_LIMIT):
        return
    if proc.poll() is not None:
        raise BenchError('%s ended at start (exit code %d)' % (what, proc.returncode))
    raise BenchError('%s did not answer on 127.0.0.1:%d within %d s' % (what, port, SERVER_START_LIMIT))


def find_nginx():
    return shutil.which('nginx') or next((p for p in ('/usr/sbin/nginx',) if os.access(p, os.X_OK)), None)


def start_http_server(procs, kind, www, folder):
    """Serves www on a free 127.0.0.1 port; returns (port, description)."""
    os.makedirs(folder, exist_ok=True)
    nginx = find_nginx() if kind in ('auto', 'nginx') else None
    if kind == 'nginx' and not nginx:
        raise BenchError('nginx is not installed (scripts/setup installs it)')
    port = free_port()
    if nginx:
        temp = os.path.join(folder, 'temp')
        os.makedirs(temp, exist_ok=True)
        conf = os.path.join(folder, 'nginx.conf')
        with open(conf, 'w') as f:
            f.write(NGINX_CONF % {
                'user': 'user root root;' if os.geteuid() == 0 else '',
                'folder': folder, 'temp': temp, 'port': port, 'www': www})
        proc = procs.start([nginx, '-p', folder + '/', '-c', conf, '-e', os.path.join(folder, 'error.log')],
                           stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, 'stderr.log'), 'w'))
        version = subprocess.run([nginx, '-v'], capture_output=True, text=True).stderr.strip()
        what = version.replace('nginx version: ', '') or 'nginx'
    else:
        proc = procs.start([sys.executable, '-m', 'http.server', str(port), '--bind', '127.0.0.1', '--directory', www],
                           stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, 'http.log'), 'w'))
        what = "Python's http.server"
    wait_for_server(port, proc, what)
    return port, what


NGINX_CONF = '''daemon off;
%(user)s
worker_processes 1;
pid %(folder)s/nginx.pid;
error_log %(folder)s/error.log warn;
events { worker_connections 256; }
http {
    access_log %(folder)s/access.log;
    client_body_temp_path %(temp)s/body;
    proxy_temp_path %(temp)s/proxy;
    fastcgi_temp_path %(temp)s/fastcgi;
    uwsgi_temp_path %(temp)s/uwsgi;
    scgi_temp_path %(temp)s/scgi;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 65;
    server {
        listen 127.0.0.1:%(port)d;
        root %(www)s;
    }
}
'''


def start_list_server(procs, exe, filelist, log_path):
    """wren-fileinfo-server for filelist on 127.0.0.1; returns (process, port)."""
    return start_fileinfo_server(exe, ['--bind', '127.0.0.1', filelist], log_path, start=procs.start,
                                 seconds=SERVER_START_LIMIT)
