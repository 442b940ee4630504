"""Faulty variants of a published file list, for the list rows of the fault matrix.

Reads filelist.dat (the packed container: "MWC\\x1A", unpacked size, packed
size, zlib stream) and writes variants of it:
  dup-target   one record twice: two records for the same target file
  dup-part     a record of several parts whose second part has the first
               part's remote name, so both have one local name
  short        a record count one above the records the list holds
  overlap      every single-part record's part renamed to its target's file
               name (served under that name too), so that with the download
               folder = the image folder a part's local name is a target name
"""
import os
import shutil
import struct
import zlib

MAGIC = b'MWC\x1a'


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError('list ends inside a field')
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u32(self):
        return struct.unpack('<I', self.take(4))[0]

    def compact(self):
        v = self.u8()
        if v < 0xFF:
            return v
        v = struct.unpack('<H', self.take(2))[0]
        return v if v < 0xFFFF else self.u32()

    def counted(self):
        return self.take(self.compact())


def compact(v):
    if v < 0xFF:
        return bytes([v])
    if v < 0xFFFF:
        return b'\xff' + struct.pack('<H', v)
    return b'\xff\xff\xff' + struct.pack('<I', v)


def counted(text):
    return compact(len(text)) + text


def unpack(path):
    with open(path, 'rb') as f:
        blob = f.read()
    if blob[:4] != MAGIC:
        raise ValueError('%s is not a packed list' % path)
    return zlib.decompress(blob[12:])


def pack(data, path):
    body = zlib.compress(data, 9)
    with open(path, 'wb') as f:
        f.write(MAGIC + struct.pack('<II', len(data), len(body)) + body)


def parse(data):
    """(lead number, base, installer, count, [record dicts]) of an unpacked list."""
    r = Reader(data)
    lead, base, installer, count = r.compact(), r.counted(), r.counted(), r.compact()
    records = []
    for _ in range(count):
        rec = {'flags': r.u8(), 'crc': r.u32(), 'size': r.compact(), 'times': r.take(16), 'name': r.counted()}
        parts = []
        n = rec['flags'] & 0x3F
        if n == 0:
            parts.append({'packed_crc': r.u32(), 'packed_size': r.compact(), 'remote': r.counted()})
        for _ in range(n):
            parts.append({'flags': r.u8(), 'crc': r.u32(), 'size': r.compact(), 'packed_crc': r.u32(),
                          'packed_size': r.compact(), 'remote': r.counted()})
        rec['parts'] = parts
        records.append(rec)
    return lead, base, installer, count, records


def serialize(lead, base, installer, count, records):
    out = compact(lead) + counted(base) + counted(installer) + compact(count)
    for rec in records:
        out += bytes([rec['flags']]) + struct.pack('<I', rec['crc']) + compact(rec['size']) + rec['times']
        out += counted(rec['name'])
        for part in rec['parts']:
            if rec['flags'] & 0x3F:
                out += bytes([part['flags']]) + struct.pack('<I', part['crc']) + compact(part['size'])
            out += struct.pack('<I', part['packed_crc']) + compact(part['packed_size']) + counted(part['remote'])
    return out


def make_variants(list_path, served_root, out_folder):
    """Writes out_folder/<variant>.dat for every variant; returns {variant: path}.
    served_root is the folder the list's base URL serves (its parts are copied
    under new names for the overlap variant)."""
    lead, base, installer, count, records = parse(unpack(list_path))
    os.makedirs(out_folder, exist_ok=True)
    variants = {}

    def write(name, count_, records_):
        path = os.path.join(out_folder, name + '.dat')
        pack(serialize(lead, base, installer, count_, records_), path)
        variants[name] = path

    write('dup-target', count + 1, records + [records[-1]])
    multi = next(i for i, rec in enumerate(records) if len(rec['parts']) > 1)
    dup = [dict(rec) for rec in records]
    dup[multi] = dict(dup[multi], parts=[dict(p) for p in records[multi]['parts']])
    dup[multi]['parts'][1]['remote'] = dup[multi]['parts'][0]['remote']
    write('dup-part', count, dup)
    write('short', count + 1, records)

    overlap = []
    for rec in records:
        rec = dict(rec, parts=[dict(p) for p in rec['parts']])
        # ASCII names only: the static server maps URLs to names as UTF-8.
        if len(rec['parts']) == 1 and rec['name'].isascii():
            old = rec['parts'][0]['remote']
            new = old[:old.rfind(b'/') + 1] + rec['name'].replace(b'\\', b'/').split(b'/')[-1]
            root = os.fsencode(served_root)
            shutil.copyfile(os.path.join(root, old), os.path.join(root, new))
            rec['parts'][0]['remote'] = new
        overlap.append(rec)
    write('overlap', count, overlap)
    return variants
