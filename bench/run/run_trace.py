"""The timing trace the exe writes to the file that WREN_TRACE names."""
import os
from dataclasses import dataclass


@dataclass
class Trace:
    events: list   # (ms, name, detail)
    summary: dict  # category -> [total ms, count]

    def first(self, name):
        return next((ms for ms, n, _ in self.events if n == name), None)

    def last(self, name):
        return next((ms for ms, n, _ in reversed(self.events) if n == name), None)

    def run_seconds(self):
        start, end = self.first('run-start'), self.last('run-end')
        return (end - start) / 1000 if start is not None and end is not None else None


def read_trace(path):
    if not os.path.exists(path):
        return None
    events, summary = [], {}
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f:
            fields = line.rstrip('\r\n').split('\t')
            try:
                if fields[0] == 'T' and len(fields) >= 3:
                    events.append((int(fields[1]), fields[2], fields[3] if len(fields) > 3 else ''))
                elif fields[0] == 'S' and len(fields) >= 4:
                    total = summary.setdefault(fields[1], [0, 0])
                    total[0] += int(fields[2])
                    total[1] += int(fields[3])
            except ValueError:
                pass  # a line cut off by a killed process
    return Trace(events, summary)


def print_trace(trace, indent='    '):
    if trace is None:
        print(indent + 'no trace: the exe wrote none (it has no WREN_TRACE support yet?)')
        return
    seconds = trace.run_seconds()
    print(indent + ('run-start to run-end %.3f s' % seconds if seconds is not None
                    else 'no run-start/run-end events in the trace'))
    for name, (ms, count) in sorted(trace.summary.items(), key=lambda item: -item[1][0]):
        print('%s  %-14s %9d ms %7d x' % (indent, name, ms, count))
    if seconds is not None and trace.summary:
        rest = seconds * 1000 - sum(ms for ms, _ in trace.summary.values())
        print('%s  %-14s %9d ms   (run time less the categories, while they do not overlap)' % (
            indent, '(rest)', rest))
    start = trace.first('run-start') or 0
    seen = {}
    for ms, name, _ in trace.events:
        seen.setdefault(name, []).append(ms - start)
    if seen:
        print(indent + '  events (ms after run-start: first .. last, count):')
        for name, times in seen.items():
            span = '%d' % times[0] if len(times) == 1 else '%d .. %d' % (times[0], times[-1])
            print('%s    %-20s %s (%d)' % (indent, name, span, len(times)))
