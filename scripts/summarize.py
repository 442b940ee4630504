#!/usr/bin/env python3
"""Adds up the results of the test runs of several build folders.

A GoogleTest program counts each of its test cases (from the XML it leaves in
test-results/); any other ctest entry (fuzzers, scripted end-to-end runs)
counts as one. A program that failed without saying which case failed (a crash,
a time-out) counts as one failure more. A Windows test program that Wine failed to start
and cmake/wine-run started again is counted as retried (test-results/
wine-retries.log). Prints one line per build folder, with the time its build
and its tests took, and, last, "N passed, N failed" and the retries.
Exits 1 when anything failed."""
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


def retries(build):
    try:
        with open(os.path.join(build, 'test-results', 'wine-retries.log')) as log:
            return sum(1 for line in log if line.strip())
    except OSError:
        return 0


def times(build):
    try:
        with open(os.path.join(build, 'test-times')) as f:
            built, tested = (int(v) for v in f.read().split())
    except (OSError, ValueError):
        return ''
    minutes = lambda s: '%dm%02ds' % divmod(s, 60)
    return '(build %s, tests %s)' % (minutes(built), minutes(tested))


def main(args):
    broken = {a.split('=', 1)[1] for a in args if a.startswith('--broken=')}
    total_p = total_f = total_r = 0
    for build in (a for a in args if not a.startswith('--')):
        name = os.path.basename(build)
        r = 0
        if name in broken:
            p, f, s, note = 0, 1, 0, 'did not build'
        else:
            p, f, s, note = folder_counts(build)
            r = retries(build)
            note = ' '.join(n for n in (note, times(build)) if n)
        print('%-12s %d passed, %d failed, %d skipped, %d retried %s' % (name + ':', p, f, s, r, note))
        total_p, total_f, total_r = total_p + p, total_f + f, total_r + r
    print('%d passed, %d failed, %d retried' % (total_p, total_f, total_r))
    return 1 if total_f else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
