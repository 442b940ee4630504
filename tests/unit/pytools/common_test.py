#!/usr/bin/env python3
"""Tests of pytools/common.py: the file-list reader and writer against lists
that wren-publish makes, and the process helpers against real processes.

usage: common_test.py WREN_PUBLISH WREN_FILEINFO_SERVER [unittest options]
"""
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..'))
from pytools.common import (FileList, ToolError, list_bytes, list_text, pack, parse_list, read_list,  # noqa: E402
                            start_fileinfo_server, stop_processes, unpack, wait_for_port, write_list)

PUBLISH = FILEINFO_SERVER = None


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ''


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='wren-pytools-')
        self.addCleanup(shutil.rmtree, self.dir, True)


class FileListFormat(Scratch):
    def publish(self):
        """A game folder published by wren-publish; returns (game files {name: bytes}, filelist.dat)."""
        game = {
            'big.dat': random.Random(1).randbytes(2_500_000),  # several parts, raw
            'data\\text.txt': b'a line of text\r\n' * 100000,   # several parts, packed
            'empty.cfg': b'',
            '表示.txt': 'テキスト'.encode('cp932'),
            'Setup.exe': b'MZ' + bytes(300),
        }
        folder = os.path.join(self.dir, 'game')
        for name, data in game.items():
            path = os.path.join(folder, *name.split('\\'))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'wb') as f:
                f.write(data)
        out = os.path.join(self.dir, 'publish')
        subprocess.run([PUBLISH, '--host', '127.0.0.1:8080', '--path', '/g/', '--installer', 'Setup.exe',
                        '--part-size', '1M', '--raw', 'big.dat', folder, out], check=True, stdout=subprocess.DEVNULL)
        return game, os.path.join(out, 'filelist.dat')

    def test_a_published_list_reads_as_its_files_and_writes_back_byte_for_byte(self):
        game, path = self.publish()
        lst = read_list(path)
        self.assertEqual(list_text(lst.base), '/127.0.0.1:8080/g/')
        self.assertEqual(list_text(lst.installer), 'Setup.exe')
        self.assertEqual(sorted(list_text(r.name) for r in lst.records), sorted(game))
        for rec in lst.records:
            data = game[list_text(rec.name)]
            self.assertEqual((rec.size, rec.crc), (len(data), zlib.crc32(data)), rec.name)
            self.assertEqual(sum(p.size for p in rec.parts), rec.size, rec.name)
            for part in rec.parts:
                served = os.path.join(os.path.dirname(path), *list_text(part.remote).split('/'))
                with open(served, 'rb') as f:
                    blob = f.read()
                self.assertEqual((len(blob), zlib.crc32(blob)), (part.packed_size, part.packed_crc), part.remote)
                self.assertEqual(zlib.crc32(blob if part.raw else unpack(blob)), part.crc, part.remote)
        self.assertGreater(len(next(r for r in lst.records if r.name == b'big.dat').parts), 1)
        self.assertTrue(all(p.raw for p in next(r for r in lst.records if r.name == b'big.dat').parts))

        copy = os.path.join(self.dir, 'copy.dat')
        write_list(lst, copy)
        with open(path, 'rb') as a, open(copy, 'rb') as b:
            self.assertEqual(a.read(), b.read())

    def test_compact_integers_take_the_lengths_of_the_format(self):
        for value, encoded in [(254, 'fe'), (255, 'ffff00'), (65534, 'fffeff'), (65535, 'ffffffffff0000'),
                               (70000, 'ffffff70110100')]:
            data = list_bytes(FileList(value, b'', b''))
            self.assertEqual(data.hex(), encoded + '000000', value)
            self.assertEqual(parse_list(data).lead, value)

    def test_bytes_that_are_not_a_whole_list_are_refused(self):
        _, path = self.publish()
        with open(path, 'rb') as f:
            blob = f.read()
        data = unpack(blob)
        lst = parse_list(data)
        cases = {
            'cut in the header': lambda: parse_list(data[:3]),
            'cut in the last record': lambda: parse_list(data[:-1]),
            'a byte after the records': lambda: parse_list(data + b'\0'),
            'one record more promised': lambda: parse_list(list_bytes(lst, count=len(lst.records) + 1)),
            'not a container': lambda: unpack(b'PK\3\4' + blob[4:]),
            'container cut short': lambda: unpack(blob[:-1]),
            'container shorter than its header': lambda: unpack(blob[:8]),
            'wrong unpacked size': lambda: unpack(blob[:4] + (len(data) + 1).to_bytes(4, 'little') + blob[8:]),
            'stream that does not inflate': lambda: unpack(pack(data)[:12] + bytes(len(blob) - 12)),
        }
        for what, read in cases.items():
            with self.subTest(what):
                self.assertRaises(ToolError, read)


class Processes(Scratch):
    def test_stop_processes_ends_what_ignores_sigterm_and_the_group_of_a_session_leader(self):
        stubborn = subprocess.Popen([sys.executable, '-c', 'import signal, time\n'
                                     'signal.signal(signal.SIGTERM, signal.SIG_IGN)\n'
                                     'print(flush=True)\ntime.sleep(60)'], stdout=subprocess.PIPE)
        stubborn.stdout.readline()  # SIGTERM is ignored from here on
        stubborn.stdout.close()
        pid_file = os.path.join(self.dir, 'child.pid')
        leader = subprocess.Popen(['sh', '-c', 'sleep 60 & echo $! > %s; wait' % pid_file], start_new_session=True)
        while not read_text(pid_file).strip():
            time.sleep(0.01)
        child = int(read_text(pid_file))
        started = time.monotonic()
        stop_processes([stubborn, leader], grace=1)
        self.assertLess(time.monotonic() - started, 10)
        self.assertIsNotNone(stubborn.poll())
        self.assertIsNotNone(leader.poll())
        for _ in range(100):  # the child is reaped by init, a moment later
            stat = read_text('/proc/%d/stat' % child)
            if not stat or stat.split()[2] == 'Z':
                break
            time.sleep(0.05)
        else:
            self.fail('the session leader\'s child still runs')

    def test_wait_for_port_sees_a_listener_and_gives_up_on_a_server_that_ended(self):
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            s.listen()
            self.assertTrue(wait_for_port(s.getsockname()[1], seconds=5))
            port = s.getsockname()[1]
        ended = subprocess.Popen(['true'])
        ended.wait()
        started = time.monotonic()
        self.assertFalse(wait_for_port(port, ended, seconds=30))
        self.assertLess(time.monotonic() - started, 5)

    def test_fileinfo_server_starts_on_a_port_of_its_own_or_says_why_not(self):
        list_path = os.path.join(self.dir, 'filelist.dat')
        write_list(FileList(1, b'/h/', b'Setup.exe'), list_path)
        log = os.path.join(self.dir, 'server.log')
        proc, port = start_fileinfo_server(FILEINFO_SERVER, [list_path], log)
        try:
            self.assertTrue(wait_for_port(port, proc, seconds=1))
        finally:
            stop_processes([proc])
        with open(log) as f:
            self.assertIn(':%d' % port, f.readline())

        missing = os.path.join(self.dir, 'missing.dat')
        with self.assertRaisesRegex(ToolError, 'did not start'):
            start_fileinfo_server(FILEINFO_SERVER, [missing])


if __name__ == '__main__':
    PUBLISH, FILEINFO_SERVER = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
