"""Faulty variants of a published file list, for the list rows of the fault matrix.

Reads filelist.dat and writes variants of it:
  dup-target   one record twice: two records for the same target file
  dup-part     a record of several parts whose second part has the first
               part's remote name, so both have one local name
  short        a record count one above the records the list holds
  overlap      every single-part record's part renamed to its target's file
               name (served under that name too), so that with the download
               folder = the image folder a part's local name is a target name
"""
import copy
import dataclasses
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
from pytools.common import read_list, write_list  # noqa: E402


def make_variants(list_path, served_root, out_folder):
    """Writes out_folder/<variant>.dat for every variant; returns {variant: path}.
    served_root is the folder the list's base URL serves (its parts are copied
    under new names for the overlap variant)."""
    published = read_list(list_path)
    os.makedirs(out_folder, exist_ok=True)
    variants = {}

    def write(name, lst, count=None):
        path = os.path.join(out_folder, name + '.dat')
        write_list(lst, path, count)
        variants[name] = path

    records = published.records
    write('dup-target', dataclasses.replace(published, records=records + [records[-1]]))
    dup = copy.deepcopy(published)
    multi = next(rec for rec in dup.records if len(rec.parts) > 1)
    multi.parts[1].remote = multi.parts[0].remote
    write('dup-part', dup)
    write('short', published, count=len(records) + 1)

    overlap = copy.deepcopy(published)
    root = os.fsencode(served_root)
    for rec in overlap.records:
        # ASCII names only: the static server maps URLs to names as UTF-8.
        if len(rec.parts) == 1 and rec.name.isascii():
            old = rec.parts[0].remote
            new = old[:old.rfind(b'/') + 1] + rec.name.replace(b'\\', b'/').split(b'/')[-1]
            shutil.copyfile(os.path.join(root, old), os.path.join(root, new))
            rec.parts[0].remote = new
    write('overlap', overlap)
    return variants
