#!/usr/bin/env python3
"""A latency relay: a user-space TCP proxy on 127.0.0.1 that makes loopback look like a real link.

Every byte read from one side is written to the other half a round trip later;
a new connection waits one more round trip before its first byte goes on (the
handshake a real link would cost); an optional bandwidth limit (bytes/s) holds
for all connections together, in each direction. The kernel here has no netem,
so this is how the benchmarks put distance between the starter and nginx.

With chaos (a seed), each new connection draws a fate from the seed in the
order the relay accepts them: mostly none, else, once a number of reply bytes
has passed, a reset, a stall, a slow rest, a truncated reply, or silence for
good (nothing more goes either way, nothing is closed). A fate belongs to the
connection, so a kept-alive connection carries it from request to request.

  bench/relay/relay.py --upstream 127.0.0.1:8080 --rtt 50 [--rate 25000000] [--port 9000]
  bench/relay/relay.py --upstream 127.0.0.1:8080 --rtt 20 --chaos 7
  bench/relay/relay.py --check          # measures itself against a server of its own

The benchmarks use the Relay class in a thread of their own process.
"""
import argparse
import asyncio
import random
import socket
import struct
import sys
import threading
import time
from dataclasses import dataclass, field

CHUNK = 64 << 10    # bytes read at a time: fine enough for fair sharing of a limited link
WINDOW = 8 << 20    # bytes one direction of a connection may hold in flight before it stops reading
LEAD = 0.02         # seconds a reader may run ahead of a busy link, so that timer lateness leaves no gaps
FAULTS = ('reset', 'stall', 'slow', 'truncate', 'silence')


class Link:
    """One direction of a link of limited bandwidth: bytes leave one after another."""

    def __init__(self, rate):
        self.rate = rate
        self.free_at = 0.0

    def reserve(self, now, n):
        """Returns when the last of n bytes handed over at `now` has left."""
        start = max(now, self.free_at)
        self.free_at = start + n / self.rate
        return self.free_at


@dataclass
class Fate:
    kind: str            # one of FAULTS
    at: int              # reply bytes of the connection that pass before it strikes
    seconds: float = 0   # stall
    rate: int = 0        # slow: bytes/s from then on


@dataclass
class Chaos:
    """The seeded fates of connections, in the order they are accepted."""
    seed: int
    probability: float = 0.5       # of a connection having a fault at all
    window: int = 4 << 20          # the fault strikes within this many reply bytes
    stall: tuple = (3.0, 30.0)     # seconds
    slow: tuple = (64 << 10, 256 << 10)  # bytes/s: slower, but a run still ends in minutes
    kinds: tuple = FAULTS

    def fate(self, index):
        rng = random.Random('%d/%d' % (self.seed, index))
        if rng.random() >= self.probability:
            return None
        return Fate(rng.choice(self.kinds), rng.randrange(self.window), rng.uniform(*self.stall),
                    rng.randint(*self.slow))


@dataclass
class Stats:
    connections: int = 0
    most_open: int = 0
    bytes_up: int = 0     # client to server, as delivered
    bytes_down: int = 0   # server to client, as delivered
    faults: dict = field(default_factory=dict)  # kind -> how many struck


# What a pipe's queue holds besides bytes: the source's end, a reset, a clean
# close of the whole connection, and the point after which nothing more arrives.
_EOF, _RESET, _CLOSE, _SILENCE = object(), object(), object(), object()


class Pipe:
    """One direction of a connection: what is read now is written half a round trip later."""

    def __init__(self, conn, source, sink, down):
        self.conn, self.source, self.sink, self.down = conn, source, sink, down
        self.queue = asyncio.Queue()
        self.queued = 0
        self.room = asyncio.Event()
        self.room.set()
        self.count = 0   # bytes read from the source
        self.own = None  # a slow fate's link of this connection alone

    async def run(self):
        writer = asyncio.ensure_future(self._deliver())
        try:
            try:
                await self._carry()
            except (ConnectionError, OSError):
                self.put(asyncio.get_running_loop().time(), _RESET)
            if not self.conn.silent:  # a silent connection ends nothing: it just never delivers again
                await writer
        finally:
            writer.cancel()

    def put(self, when, item):
        self.queue.put_nowait((when, item))
        if isinstance(item, bytes):
            self.queued += len(item)
            if self.queued > WINDOW:
                self.room.clear()

    async def _carry(self):
        loop = asyncio.get_running_loop()
        relay = self.conn.relay
        while True:
            data = await self.source.read(CHUNK)
            if self.conn.silent:
                if not data:
                    return  # nothing is said about it: the other side hears nothing, ever
                continue
            if not data:
                self.put(loop.time(), _EOF)
                return
            fate = self.conn.fate
            if self.down and fate and not self.conn.struck and self.count + len(data) > fate.at:
                head, data = data[:fate.at - self.count], data[fate.at - self.count:]
                await self._send(head)
                self.conn.strike()
                if fate.kind == 'reset' or fate.kind == 'truncate':
                    self.put(self._departure(loop.time(), 0) + relay.rtt / 2,
                             _RESET if fate.kind == 'reset' else _CLOSE)
                    return
                if fate.kind == 'silence':
                    self.put(loop.time(), _SILENCE)
                    continue
                if fate.kind == 'stall':
                    await asyncio.sleep(fate.seconds)
                elif fate.kind == 'slow':
                    self.own = Link(fate.rate)
            await self._send(data)

    def _departure(self, now, n):
        relay = self.conn.relay
        t = max(now, self.conn.opened + relay.rtt)  # the handshake's round trip
        for link in (relay.link(self.down), self.own):
            if link:
                t = link.reserve(t, n)
        return t

    async def _send(self, data):
        if not data:
            return
        loop = asyncio.get_running_loop()
        now = loop.time()
        departure = self._departure(now, len(data))
        self.count += len(data)
        self.put(departure + self.conn.relay.rtt / 2, data)
        if departure > now + LEAD:
            await asyncio.sleep(departure - now - LEAD)  # the link is busy: read little further ahead of it
        await self.room.wait()

    async def _deliver(self):
        loop = asyncio.get_running_loop()
        while True:
            when, item = await self.queue.get()
            delay = when - loop.time()
            if delay > 0:
                await asyncio.sleep(delay)
            if item is _SILENCE:
                return
            if item is _EOF:
                if self.sink.can_write_eof():
                    try:
                        self.sink.write_eof()
                    except OSError:
                        pass
                return
            if item is _RESET or item is _CLOSE:
                self.conn.close(reset=item is _RESET)
                return
            try:
                self.sink.write(item)
                await self.sink.drain()
            except (ConnectionError, OSError):
                self.conn.close(reset=True)
                return
            self.queued -= len(item)
            if self.queued <= WINDOW:
                self.room.set()
            self.conn.relay.count(self.down, len(item))


class Connection:
    def __init__(self, relay, index, client, upstream):
        self.relay, self.index = relay, index
        self.client, self.upstream = client, upstream  # (reader, writer) pairs
        self.opened = asyncio.get_running_loop().time()
        self.fate = relay.chaos.fate(index) if relay.chaos else None
        self.struck = False
        self.silent = False
        self.closed = False

    def strike(self):
        self.struck = True
        self.relay.count_fault(self.fate.kind)
        if self.fate.kind == 'silence':
            self.silent = True

    def close(self, reset=False):
        if self.closed:
            return
        self.closed = True
        for _, writer in (self.client, self.upstream):
            if reset:
                sock = writer.get_extra_info('socket')
                try:
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
                except (OSError, AttributeError):
                    pass
                writer.transport.abort()
            else:
                writer.close()

    async def run(self):
        up = Pipe(self, self.client[0], self.upstream[1], down=False)
        down = Pipe(self, self.upstream[0], self.client[1], down=True)
        try:
            await asyncio.gather(up.run(), down.run())
        finally:
            self.close()


class Relay:
    """The relay in a thread of its own: start(), then .port; configure() between measurements."""

    def __init__(self, upstream_port, rtt_ms=0.0, rate=None, chaos=None, port=0, upstream_host='127.0.0.1'):
        self.upstream = (upstream_host, upstream_port)
        self.listen_port = port
        self.chaos = chaos
        self.stats = Stats()
        self.configure(rtt_ms, rate)
        self._open = 0
        self._index = 0
        self._lock = threading.Lock()
        self.loop = None
        self.port = None

    def configure(self, rtt_ms, rate=None):
        """Round trip in milliseconds, bandwidth in bytes/s (None: no limit)."""
        self.rtt = rtt_ms / 1000
        self.rate = rate
        self._links = (Link(rate), Link(rate)) if rate else (None, None)

    def reseed(self, chaos):
        """New fates from the next connection on, drawn from the first of the chaos's sequence."""
        self.chaos = chaos
        self._index = 0

    def link(self, down):
        return self._links[1 if down else 0]

    def count(self, down, n):
        with self._lock:
            if down:
                self.stats.bytes_down += n
            else:
                self.stats.bytes_up += n

    def count_fault(self, kind):
        with self._lock:
            self.stats.faults[kind] = self.stats.faults.get(kind, 0) + 1

    def take_stats(self):
        """The counts since the last call."""
        with self._lock:
            stats, self.stats = self.stats, Stats()
        return stats

    def floor(self, nbytes):
        """What the link itself needs for nbytes in one go: their time on the wire and one round trip."""
        return (nbytes / self.rate if self.rate else 0) + self.rtt

    async def _serve(self, client_reader, client_writer):
        self._index += 1
        with self._lock:
            self.stats.connections += 1
            self._open += 1
            self.stats.most_open = max(self.stats.most_open, self._open)
        try:
            try:
                upstream = await asyncio.open_connection(*self.upstream)
            except OSError:
                client_writer.transport.abort()
                return
            await Connection(self, self._index, (client_reader, client_writer), upstream).run()
        except asyncio.CancelledError:
            pass
        finally:
            with self._lock:
                self._open -= 1

    def start(self):
        self.loop = asyncio.new_event_loop()
        started = threading.Event()
        failure = []

        def run():
            asyncio.set_event_loop(self.loop)
            try:
                self._server = self.loop.run_until_complete(
                    asyncio.start_server(self._serve, '127.0.0.1', self.listen_port, backlog=1024))
            except OSError as e:
                failure.append(e)
                started.set()
                return
            self.port = self._server.sockets[0].getsockname()[1]
            started.set()
            self.loop.run_forever()

        self._thread = threading.Thread(target=run, name='relay', daemon=True)
        self._thread.start()
        started.wait()
        if failure:
            raise failure[0]
        return self

    def stop(self):
        if not self.loop or not self._thread.is_alive():
            return

        async def shutdown():
            self._server.close()
            tasks = [t for t in asyncio.all_tasks() if t is not asyncio.current_task()]
            for task in tasks:
                task.cancel()
            await asyncio.gather(*tasks, return_exceptions=True)

        try:
            asyncio.run_coroutine_threadsafe(shutdown(), self.loop).result(10)
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)
            self._thread.join(10)
            if not self._thread.is_alive():
                self.loop.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


# ---- its own check --------------------------------------------------------------

class _FixedFates:
    """Chaos for the check: every connection gets the same fate."""

    def __init__(self, fate):
        self._fate = fate

    def fate(self, index):
        return self._fate


def check():
    """Measures the relay against a server of its own: round trips, a new connection, a limited
    transfer alone and shared, and what each fault does to a reply. Prints each beside what it
    should be; exit code 1 when one is off."""
    body = bytes(range(256)) * (16 << 10)  # 4 MiB

    def serve(listener):
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=answer, args=(conn,), daemon=True).start()

    def answer(conn):
        with conn:
            while True:  # 'B' asks for the body, anything else for one byte back
                try:
                    ask = conn.recv(1)
                    if not ask:
                        return
                    conn.sendall(body if ask == b'B' else b'.')
                except OSError:
                    return

    def fetch(port, asks=b'B'):
        """Sends the asks one at a time on one connection; returns (seconds, bytes, how it ended)."""
        started = time.monotonic()
        got = bytearray()
        with socket.create_connection(('127.0.0.1', port)) as sock:
            sock.settimeout(2.5)
            for ask in asks:
                sock.sendall(bytes([ask]))
                want = len(got) + (len(body) if ask == ord('B') else 1)
                try:
                    while len(got) < want:
                        chunk = sock.recv(1 << 20)
                        if not chunk:
                            return time.monotonic() - started, bytes(got), 'closed'
                        got += chunk
                except ConnectionResetError:
                    return time.monotonic() - started, bytes(got), 'reset'
                except socket.timeout:
                    return time.monotonic() - started, bytes(got), 'silent'
        return time.monotonic() - started, bytes(got), 'whole'

    def parallel(port, n):
        threads = [threading.Thread(target=fetch, args=(port,)) for _ in range(n)]
        started = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return time.monotonic() - started

    listener = socket.create_server(('127.0.0.1', 0))
    threading.Thread(target=serve, args=(listener,), daemon=True).start()
    upstream = listener.getsockname()[1]
    rtt, rate, at = 50, 10 << 20, 100000
    failures = 0

    def report(what, got, want, good):
        nonlocal failures
        failures += not good
        print('%-38s %-34s should be %-30s %s' % (what, got, want, 'ok' if good else 'OFF'))

    def near(seconds, want):
        return want * 0.95 <= seconds <= want * 1.1 + 0.015

    with Relay(upstream, rtt, rate) as relay:
        t, _, _ = fetch(relay.port, b'.')
        report('first reply on a new connection', '%.3f s' % t, '%.3f s' % (2 * rtt / 1000), near(t, 2 * rtt / 1000))
        t, _, _ = fetch(relay.port, b'..')
        report('then one more on the same connection', '%.3f s' % (t - 2 * rtt / 1000), '%.3f s' % (rtt / 1000),
               near(t, 3 * rtt / 1000))
        t, got, _ = fetch(relay.port, b'.B')
        want = 2 * rtt / 1000 + relay.floor(len(body))
        report('4 MiB at 10 MiB/s, intact', '%.3f s, %s' % (t, got[1:] == body), '%.3f s, True' % want,
               near(t, want) and got[1:] == body)
        t = parallel(relay.port, 4)
        want = rtt / 1000 + relay.floor(4 * len(body))
        report('4 x 4 MiB at once at 10 MiB/s', '%.3f s' % t, '%.3f s' % want, near(t, want))
        stats = relay.take_stats()
        good = (stats.connections, stats.bytes_down) == (7, 5 * len(body) + 4)
        report('counts', '%d conns, %d bytes down' % (stats.connections, stats.bytes_down),
               '7 conns, %d bytes down' % (5 * len(body) + 4), good)

    faults = (  # fate, how the reply should end, bytes it should hold, seconds it should take
        (Fate('reset', at), 'reset', at, None),
        (Fate('truncate', at), 'closed', at, None),
        (Fate('silence', at), 'silent', at, None),
        (Fate('stall', at, seconds=1.0), 'whole', len(body), 1.0 + rtt / 1000 * 2),
        (Fate('slow', len(body) - (1 << 20), rate=4 << 20), 'whole', len(body), 0.25 + rtt / 1000 * 2),
    )
    for fate, end, size, seconds in faults:
        with Relay(upstream, rtt, None, _FixedFates(fate)) as relay:
            t, got, how = fetch(relay.port, b'B')
            struck = relay.take_stats().faults
        good = how == end and len(got) == size and got == body[:size] and struck == {fate.kind: 1}
        if seconds:
            good = good and near(t, seconds)
        report('fault %s after %d bytes' % (fate.kind, fate.at),
               '%s, %d bytes%s' % (how, len(got), ', %.2f s' % t if seconds else ''),
               '%s, %d bytes%s' % (end, size, ', %.2f s' % seconds if seconds else ''), good)
    listener.close()
    return 1 if failures else 0


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0], epilog=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--upstream', help='HOST:PORT of the server behind the relay')
    p.add_argument('--port', type=int, default=0, help='port on 127.0.0.1 (default: a free one)')
    p.add_argument('--rtt', type=float, default=50, help='round-trip time in ms (default 50)')
    p.add_argument('--rate', type=int, help='bandwidth in bytes/s, shared by all connections (default none)')
    p.add_argument('--chaos', type=int, metavar='SEED', help='faulty connections, drawn from this seed')
    p.add_argument('--check', action='store_true', help='measure the relay against a server of its own')
    args = p.parse_args(argv)
    if args.check:
        return check()
    if not args.upstream:
        p.error('--upstream is needed')
    host, _, port = args.upstream.rpartition(':')
    relay = Relay(int(port), args.rtt, args.rate, Chaos(args.chaos) if args.chaos is not None else None,
                  args.port, host or '127.0.0.1').start()
    print('relay: 127.0.0.1:%d -> %s, RTT %g ms%s%s' % (
        relay.port, args.upstream, args.rtt, ', %d bytes/s' % args.rate if args.rate else '',
        ', chaos seed %d' % args.chaos if args.chaos is not None else ''), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        relay.stop()
        s = relay.stats
        print('relay: %d connections (at most %d open), %d bytes up, %d bytes down%s' % (
            s.connections, s.most_open, s.bytes_up, s.bytes_down,
            ''.join(', %s %d' % kv for kv in sorted(s.faults.items()))))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
