#!/usr/bin/env python3
"""Servers for the signed-publication scenarios, started around the scenario program.

Runs inside tests/support/http_servers.py, whose static server serves every
publication below from WREN_HTTP_ROOT, each under a path of its own. The sample
game is published with wren-publish, the installer stored unpacked, signed
with KEYFILE unless said otherwise:
  current   --serial 200
  old       --serial 100: a genuine older manifest, replayed
  forged    --serial 200, but the served installer part is a forgery with the
            installer's size and CRC-32: only its SHA-256 tells it apart
  garbled   --serial 200, its manifest.dat cut short
  foreign   --serial 200, signed with a key made here, not KEYFILE
  unsigned  no manifest.dat
  tampered  not served: an unsigned list with current's host and path and
            another leading number, so the starter finds current's manifest
            beside a list that manifest does not vouch for
Then starts wren-fileinfo-server for each list and runs the command with, in
the environment: WREN_FI_<NAME> (the list server of each, e.g. WREN_FI_CURRENT),
WREN_SERIAL_CURRENT, WREN_SERIAL_OLD, WREN_FORGED_PART (the URL path of the
forged part), WREN_GAME_WIN (the game folder as Wine sees it) and
WREN_HTTP_LOG_WIN.
Without native tools that can sign, the command runs without these variables
and the scenarios report themselves skipped.

usage: signed_servers.py NATIVE_BUILD_DIR INSTALLER KEYFILE -- command [args...]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

import install_servers

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
from pytools.common import read_list, start_fileinfo_server, stop_processes, wine_path  # noqa: E402

CURRENT_SERIAL = 200
OLD_SERIAL = 100
INSTALLER = 'MarloSetup.exe'


def fix_crc(data, at, crc):
    """data with the four bytes at `at` chosen so that its CRC-32 is crc.

    For messages of one length CRC-32 is affine over GF(2): setting a bit
    changes the CRC by a fixed value, whatever the other bits are, and a set
    of bits by the XOR of those values. So the four bytes start as zeros, the
    value of each of their 32 bits is measured, and Gaussian elimination picks
    the bits whose values XOR to what the CRC still lacks. Any 32 consecutive
    bits of a message can reach every CRC, so there is always an answer."""
    base = bytearray(data)
    base[at:at + 4] = bytes(4)
    start = zlib.crc32(base)
    pivots = {}  # highest bit -> (XOR of some bit values, those bits as a mask)
    for bit in range(32):
        probe = bytearray(base)
        probe[at + bit // 8] |= 1 << (bit % 8)
        value, bits = zlib.crc32(probe) ^ start, 1 << bit
        while value:
            top = value.bit_length() - 1
            if top not in pivots:
                pivots[top] = (value, bits)
                break
            value, bits = value ^ pivots[top][0], bits ^ pivots[top][1]
    missing, chosen = crc ^ start, 0
    while missing:
        value, bits = pivots[missing.bit_length() - 1]
        missing, chosen = missing ^ value, chosen ^ bits
    base[at:at + 4] = chosen.to_bytes(4, 'little')
    return bytes(base)


def forge(genuine):
    """Other bytes of the same size and CRC-32. In an exe the change goes into
    the DOS stub's text, which Windows never reads, so the forgery still runs."""
    mark = b'FORGED'
    at = genuine.find(b'This program')
    if at < 0:
        at = len(genuine) // 2 - (len(mark) + 4) // 2
    forged = bytearray(genuine)
    forged[at:at + len(mark)] = mark
    forged = fix_crc(forged, at + len(mark), zlib.crc32(genuine))
    if forged == genuine or len(forged) != len(genuine) or zlib.crc32(forged) != zlib.crc32(genuine):
        raise RuntimeError('the forgery of the installer went wrong')
    return forged


def installer_part(list_path):
    """The remote name of the installer's one part; the installer must be stored unpacked."""
    record = next(r for r in read_list(list_path).records if r.name == INSTALLER.encode())
    if len(record.parts) != 1 or not record.parts[0].raw:
        raise RuntimeError('%s is not one unpacked part in %s' % (INSTALLER, list_path))
    return record.parts[0].remote.decode()


def can_sign(publish):
    result = subprocess.run([publish, '--help'], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return 'keygen' in result.stdout and '--sign' in result.stdout


def main(argv):
    native, installer, key = argv[0], argv[1], os.path.abspath(argv[2])
    command = argv[4:] if argv[3:4] == ['--'] else argv[3:]
    publish, server = install_servers.native_tools(native)
    root = os.environ.get('WREN_HTTP_ROOT')
    if not (os.access(publish, os.X_OK) and os.access(server, os.X_OK) and root and can_sign(publish)):
        print('signed_servers: no native wren-publish that signs / wren-fileinfo-server in %s' % native,
              file=sys.stderr)
        return subprocess.call(command)

    work = tempfile.mkdtemp(prefix='wren-signed-')
    procs = []
    try:
        foreign_key = os.path.join(work, 'foreign.key')
        subprocess.run([publish, 'keygen', foreign_key], check=True, stdout=subprocess.DEVNULL)
        host = '127.0.0.1:' + os.environ['WREN_HTTP_PORT']
        raw = ['--raw', INSTALLER]

        def signed(serial, by=key):
            return raw + ['--sign', by, '--serial', str(serial)]
        publications = {  # name: (URL path, wren-publish options)
            'current': ('/current/', signed(CURRENT_SERIAL)),
            'old': ('/old/', signed(OLD_SERIAL)),
            'forged': ('/forged/', signed(CURRENT_SERIAL)),
            'garbled': ('/garbled/', signed(CURRENT_SERIAL)),
            'foreign': ('/foreign/', signed(CURRENT_SERIAL, by=foreign_key)),
            'unsigned': ('/unsigned/', raw),
            'tampered': ('/current/', raw + ['--lead', '2']),
        }
        env = dict(os.environ)
        for name, (path, options) in publications.items():
            out = os.path.join(work, name)
            install_servers.publish_sample(publish, installer, out, host, path, options)
            if name != 'tampered':
                shutil.copytree(os.path.join(out, 'publish'), os.path.join(root, name))
            proc, fi_port = start_fileinfo_server(server, [os.path.join(out, 'publish', 'filelist.dat')])
            procs.append(proc)
            env['WREN_FI_' + name.upper()] = str(fi_port)

        part = installer_part(os.path.join(root, 'forged', 'filelist.dat'))
        served = os.path.join(root, 'forged', *part.split('/'))
        with open(served, 'rb') as f:
            genuine = f.read()
        with open(served, 'wb') as f:
            f.write(forge(genuine))
        manifest = os.path.join(root, 'garbled', 'manifest.dat')
        with open(manifest, 'rb') as f:
            whole = f.read()
        with open(manifest, 'wb') as f:
            f.write(whole[:len(whole) // 2])

        env['WREN_SERIAL_CURRENT'] = str(CURRENT_SERIAL)
        env['WREN_SERIAL_OLD'] = str(OLD_SERIAL)
        env['WREN_FORGED_PART'] = '/forged/' + part
        env['WREN_GAME_WIN'] = wine_path(os.path.join(work, 'current', 'game'))
        env['WREN_HTTP_LOG_WIN'] = wine_path(os.environ['WREN_HTTP_LOG'])
        return subprocess.call(command, env=env)
    finally:
        stop_processes(procs)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
