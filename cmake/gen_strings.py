#!/usr/bin/env python3
"""Turns the STRINGTABLE of resources/strings.rc into a C++ lookup table whose
texts are in code page 932, the way LoadStringA hands them out on a Japanese
Windows."""
import re
import sys

ENTRY = re.compile(r'^\s*(\d+)\s*,\s*"((?:[^"]|"")*)"\s*$')
ESCAPES = {'n': '\n', 't': '\t', 'r': '\r', '\\': '\\', '"': '"', '0': '\0', 'a': '\a'}


def unescape(text):
    text = text.replace('""', '"')
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text) and text[i + 1] in ESCAPES:
            out.append(ESCAPES[text[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def c_literal(data):
    return '"' + ''.join('\\x%02x' % b for b in data) + '"'


def main(source, target):
    entries = {}
    in_table = False
    with open(source, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            stripped = line.strip()
            if stripped == 'BEGIN':
                in_table = True
            elif stripped == 'END':
                in_table = False
            elif in_table and stripped and not stripped.startswith('//'):
                m = ENTRY.match(line)
                if not m:
                    sys.exit('%s:%d: not an id, "text" line' % (source, number))
                sid = int(m.group(1))
                if sid in entries:
                    sys.exit('%s:%d: id %d twice' % (source, number, sid))
                entries[sid] = unescape(m.group(2)).encode('cp932')
    with open(target, 'w') as out:
        out.write('// Generated from strings.rc; do not edit.\n')
        out.write('struct StringEntry { unsigned id; const char* text; };\n')
        out.write('static const StringEntry kStrings[] = {\n')
        for sid in sorted(entries):
            out.write('    {%d, %s},\n' % (sid, c_literal(entries[sid])))
        out.write('};\n')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
