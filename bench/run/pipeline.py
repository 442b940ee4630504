"""The plain script's side of a run: curl per part, zlib, CRC-32, copy."""
import os
import shutil
import subprocess
import time
import zlib

from benchutil import BenchError
from pytools.common import list_text, read_list, unpack

PART_LIMIT = 120  # seconds for one curl


def fetch(url, path):
    result = subprocess.run(['curl', '-s', '-f', '--max-time', str(PART_LIMIT), '-o', path, url],
                            timeout=PART_LIMIT + 10)
    if result.returncode != 0:
        raise BenchError('pipeline: curl %s ended with %d' % (url, result.returncode))


def crc_of_file(path):
    crc = 0
    with open(path, 'rb') as f:
        while block := f.read(1 << 20):
            crc = zlib.crc32(block, crc)
    return crc


def filetime_to_unix(filetime):
    return filetime / 1e7 - 11644473600


def run_pipeline(http_port, image, folder):
    """The plain script's way over the same server; returns its seconds and the image folder."""
    downloads = os.path.join(folder, 'downloads')
    target = os.path.join(folder, 'image')
    os.makedirs(downloads)
    started = time.monotonic()
    list_path = os.path.join(downloads, 'filelist.dat')
    fetch('http://127.0.0.1:%d/%s/filelist.dat' % (http_port, image.name), list_path)
    file_list = read_list(list_path)
    base = list_text(file_list.base)
    os.remove(list_path)
    for entry in file_list.records:
        name = list_text(entry.name)
        temp = os.path.join(downloads, 'join.tmp')
        parts = []
        with open(temp, 'wb') as joined:
            for part in entry.parts:
                remote = list_text(part.remote)
                local = os.path.join(downloads, remote.rsplit('/', 1)[-1])
                fetch('http:/' + base + remote, local)
                parts.append(local)
                with open(local, 'rb') as f:
                    data = f.read()
                if len(data) != part.packed_size or zlib.crc32(data) != part.packed_crc:
                    raise BenchError('pipeline: %s arrived damaged' % remote)
                if not part.raw:
                    data = unpack(data)
                if len(data) != part.size or zlib.crc32(data) != part.crc:
                    raise BenchError('pipeline: %s does not hold its part of %s' % (remote, name))
                joined.write(data)
        if os.path.getsize(temp) != entry.size or crc_of_file(temp) != entry.crc:
            raise BenchError('pipeline: the joined %s is not the file' % name)
        destination = os.path.join(target, *name.split('\\'))
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(temp, destination)
        os.utime(destination, (filetime_to_unix(entry.last_write),) * 2)
        os.remove(temp)
        for local in parts:
            os.remove(local)
    seconds = time.monotonic() - started
    return seconds, target
