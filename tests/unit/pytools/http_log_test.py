#!/usr/bin/env python3
"""Tests of the request log of tests/support/http_servers.py, which the
end-to-end scenarios count part requests in: run inside it.

usage: http_servers.py -- http_log_test.py
"""
import os
import socket
import unittest
import urllib.error
import urllib.request

PORT = int(os.environ.get('WREN_HTTP_PORT', '0'))


def request(raw):
    """The status line the server answers raw bytes with."""
    with socket.create_connection(('127.0.0.1', PORT), timeout=10) as s:
        s.sendall(raw)
        return s.makefile('rb').readline().strip()


class RequestLog(unittest.TestCase):
    def log_lines(self):
        with open(os.environ['WREN_HTTP_LOG']) as f:
            return f.read().splitlines()

    def test_every_reply_has_one_line(self):
        with open(os.path.join(os.environ['WREN_HTTP_ROOT'], 'here.bin'), 'wb') as f:
            f.write(b'x' * 100)
        cases = [('/here.bin', 200), ('/missing.bin', 404), ('/stall/part.bin', 200)]
        for path, status in cases:
            with self.subTest(path):
                before = len(self.log_lines())
                try:
                    with urllib.request.urlopen('http://127.0.0.1:%d%s' % (PORT, path), timeout=10) as reply:
                        self.assertEqual(reply.status, status)
                        reply.read(100)  # of a stall: no more than it sends
                except urllib.error.HTTPError as e:
                    self.assertEqual(e.code, status)
                self.assertEqual(self.log_lines()[before:], ['GET ' + path])

    def test_a_malformed_request_gets_its_error_reply(self):
        cases = [(b'GET / HTTP/1.1 HTTP/1.1\r\n\r\n', b'400'), (b'GET /' + b'x' * 70000 + b' HTTP/1.1\r\n\r\n', b'414')]
        for raw, status in cases:
            with self.subTest(status):
                before = len(self.log_lines())
                self.assertIn(status, request(raw))
                self.assertEqual(len(self.log_lines()) - before, 1)


if __name__ == '__main__':
    if not PORT:
        raise SystemExit('http_log_test.py: run it inside tests/support/http_servers.py')
    unittest.main()
