#!/usr/bin/env python3
"""Adds up the results of the test runs of several build folders.

A GoogleTest program counts each of its test cases (from the XML it leaves in
test-results/); any other ctest entry (fuzzers, scripted end-to-end runs)
counts as one. A program that failed without saying which case failed (a crash,
a time-out) counts as one failure more. Prints one line per build folder and,
last, "N passed, N failed". Exits 1 when anything failed."""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    root = ET.parse(path).getroot()
    total = failed = skipped = 0
    for case in root.iter('testcase'):
        if case.get('status') == 'notrun' or case.find('skipped') is not None:
            skipped += 1
            continue
        total += 1
        if case.find('failure') is not None:
            failed += 1
    return total - failed, failed, skipped


def folder_counts(build):
    junit = os.path.join(build, 'ctest-junit.xml')
    if not os.path.exists(junit):
        return 0, 1, 0, 'no test results'
    passed = failed = skipped = 0
    for case in ET.parse(junit).getroot().iter('testcase'):
        name = case.get('name')
        ok = case.get('status') in ('run', 'passed', None) and case.find('failure') is None
        if case.get('status') in ('disabled', 'notrun') or case.find('skipped') is not None:
            skipped += 1
            continue
        detail = os.path.join(build, 'test-results', name + '.xml')
        if os.path.exists(detail):
            try:
                p, f, s = gtest_counts(detail)
            except ET.ParseError:
                p, f, s = 0, 0, 0
            if not ok and f == 0:
                f = 1
            passed, failed, skipped = passed + p, failed + f, skipped + s
        elif ok:
            passed += 1
        else:
            failed += 1
    return passed, failed, skipped, ''


def main(args):
    broken = {a.split('=', 1)[1] for a in args if a.startswith('--broken=')}
    total_p = total_f = total_s = 0
    for build in (a for a in args if not a.startswith('--')):
        name = os.path.basename(build)
        if name in broken:
            p, f, s, note = 0, 1, 0, 'did not build'
        else:
            p, f, s, note = folder_counts(build)
        print('%-12s %d passed, %d failed, %d skipped %s' % (name + ':', p, f, s, note))
        total_p, total_f, total_s = total_p + p, total_f + f, total_s + s
    print('%d passed, %d failed' % (total_p, total_f))
    return 1 if total_f else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
