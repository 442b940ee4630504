// Loopback throughput of 2-byte-length records between a client and a
// server context, plain and encrypted with each cipher, the record
// encryption alone, and the cost of one heartbeat with N idle connections.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "net/crypt.h"
#include "net/net.h"

namespace {

int64_t g_received_bytes = 0;

int Count(conn_t, const unsigned char*, int n) {
  g_received_bytes += n;
  return 0;
}

// The library set up for one benchmark, finalised when it goes.
struct Library {
  explicit Library(int max_conn) {
    net_set_log_level(-1);
    net_limits lim{4, 0, max_conn, 0, 64, 8192, 8192};
    if (net_init_with_limits(&lim) != 0) std::abort();
  }
  ~Library() { net_finalize(); }
};

bool TickUntil(bool (*done)(void*), void* arg, int max_ticks) {
  for (int i = 0; i < max_ticks; ++i) {
    if (done(arg)) return true;
    net_tick();
  }
  return done(arg);
}

// Opens `count` client connections to the server, a few at a time so the
// listen backlog never overflows.
std::vector<conn_t> OpenConnections(tcpcontext* client, tcpcontext* server, int count) {
  std::vector<conn_t> conns;
  uint16_t port = net_tcpcontext_local_port(server);
  while (static_cast<int>(conns.size()) < count) {
    int batch = 0;
    for (; batch < 4 && static_cast<int>(conns.size()) < count; ++batch) {
      conn_t c = net_tcpcontext_connect(client, "127.0.0.1", port);
      if (!net_conn_valid(c)) std::abort();
      conns.push_back(c);
    }
    struct Want {
      tcpcontext* server;
      int n;
    } want{server, static_cast<int>(conns.size())};
    if (!TickUntil([](void* a) { auto* w = static_cast<Want*>(a); return w->server->conn_in_use >= w->n; }, &want,
                   100000))
      std::abort();
  }
  // Let every pending connect finish.
  for (int i = 0; i < 4; ++i) net_tick();
  return conns;
}

void BM_Len16Throughput(benchmark::State& state) {
  const int record = static_cast<int>(state.range(0));
  Library lib(4);
  tcpcontext* server = net_tcpcontext_create(1, "127.0.0.1", 0, 1, 32768, 32768, 600, 0, 0, 0, 0, 0);
  tcpcontext* client = net_tcpcontext_create(0, nullptr, 0, 1, 32768, 32768, 600, 0, 0, 1, 0, 0);
  if (server == nullptr || client == nullptr) std::abort();
  net_tcpcontext_set_conn_parser(server, net_parse_len16, Count);
  net_tcpcontext_set_parse_passes(server, 16);
  conn_t c = OpenConnections(client, server, 1)[0];
  std::vector<unsigned char> payload(static_cast<size_t>(record), 0x5A);
  const int64_t per_iteration = 1 << 20;  // record bytes moved per iteration
  int64_t total = 0;
  for (auto _ : state) {
    g_received_bytes = 0;
    int64_t queued = 0;
    while (g_received_bytes < per_iteration) {
      while (queued < per_iteration && net_send_len16(c, payload.data(), record) > 0) queued += record;
      net_tick();
    }
    total += g_received_bytes;
  }
  state.SetBytesProcessed(total);
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(total) / record, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Len16Throughput)->Arg(64)->Arg(1024)->Arg(16384)->Arg(32766)->Unit(benchmark::kMillisecond);

// Megabytes (10^6 bytes) of record bytes per second, as a counter of its own
// so that the report reads the same whatever unit the library picks. Like
// bytes_per_second, it is per second of the benchmark thread's CPU time,
// which a busy machine disturbs less than the wall clock.
void CountMegabytes(benchmark::State& state, int64_t bytes) {
  state.SetBytesProcessed(bytes);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
}

// Encrypted records over loopback: the same 2-byte-length records as above,
// through a context with a cipher and a 16-byte key (the key exchange runs
// before the timing starts).
void BM_EncryptedLen16Throughput(benchmark::State& state, uint32_t cipher) {
  const int record = static_cast<int>(state.range(0));
  Library lib(4);
  tcpcontext* server = net_tcpcontext_create(1, "127.0.0.1", 0, 1, 32768, 32768, 600, cipher, 16, 0, 0, 0);
  tcpcontext* client = net_tcpcontext_create(0, nullptr, 0, 1, 32768, 32768, 600, cipher, 16, 1, 0, 0);
  if (server == nullptr || client == nullptr) std::abort();
  net_tcpcontext_set_conn_parser(server, net_parse_len16, Count);
  net_tcpcontext_set_parse_passes(server, 16);
  conn_t c = OpenConnections(client, server, 1)[0];
  if (!TickUntil([](void* a) { return net_conn_write_room(*static_cast<conn_t*>(a)) > 0; }, &c, 100000))
    std::abort();
  std::vector<unsigned char> payload(static_cast<size_t>(record), 0x5A);
  const int64_t per_iteration = 1 << 20;
  int64_t total = 0;
  for (auto _ : state) {
    g_received_bytes = 0;
    int64_t queued = 0;
    while (g_received_bytes < per_iteration) {
      while (queued < per_iteration && net_send_len16(c, payload.data(), record) > 0) queued += record;
      net_tick();
    }
    total += g_received_bytes;
  }
  CountMegabytes(state, total);
}
BENCHMARK_CAPTURE(BM_EncryptedLen16Throughput, blowfish, NET_CIPHER_BLOWFISH)
    ->Arg(1024)->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncryptedLen16Throughput, rijndael, NET_CIPHER_RIJNDAEL)
    ->Arg(1024)->Arg(16384)->Unit(benchmark::kMillisecond);

// The record encryption alone, no sockets: seal a chunk of N plain bytes
// (header, zero padding, encryption) and decrypt it again, as the sending
// and the receiving side do. N is at most the cipher's largest chunk.
void BM_ChunkSealAndDecrypt(benchmark::State& state, net_chunk_cipher kind) {
  const int32_t plain = static_cast<int32_t>(state.range(0));
  const uint8_t key[16] = {0x3a, 0x91, 0x5c, 0x07, 0xe4, 0x28, 0xbd, 0x66,
                           0x10, 0xf3, 0x8e, 0x49, 0x72, 0xa5, 0x1d, 0xc8};
  net_cipher_state cipher;
  if (net_cipher_setup(kind, &cipher, key, 16) != 0) std::abort();
  std::vector<uint8_t> data(static_cast<size_t>(plain), 0x5A);
  std::vector<uint8_t> chunk(static_cast<size_t>(NET_CHUNK_HEADER + net_chunk_padded(kind, plain)));
  int64_t total = 0;
  for (auto _ : state) {
    int32_t size = net_chunk_seal(&cipher, data.data(), plain, chunk.data());
    if (size < 0 || net_chunk_decrypt(&cipher, chunk.data() + NET_CHUNK_HEADER, size - NET_CHUNK_HEADER) != 0)
      std::abort();
    benchmark::DoNotOptimize(chunk.data());
    total += plain;
  }
  net_cipher_release(&cipher);
  CountMegabytes(state, total);
}
BENCHMARK_CAPTURE(BM_ChunkSealAndDecrypt, blowfish, NET_CHUNK_BLOWFISH)->Arg(64)->Arg(1024)->Arg(32752);
BENCHMARK_CAPTURE(BM_ChunkSealAndDecrypt, rijndael, NET_CHUNK_RIJNDAEL)->Arg(64)->Arg(1024)->Arg(8168);

void BM_HeartbeatIdle(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Library lib(2 * n + 4);
  tcpcontext* server = net_tcpcontext_create(1, "127.0.0.1", 0, n, 256, 256, 600, 0, 0, 0, 0, 0);
  tcpcontext* client = net_tcpcontext_create(0, nullptr, 0, n, 256, 256, 600, 0, 0, 1, 0, 0);
  if (server == nullptr || client == nullptr) std::abort();
  OpenConnections(client, server, n);
  for (auto _ : state) net_tick();
  state.counters["connections"] = 2.0 * n;
  state.counters["per connection"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * 2 * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HeartbeatIdle)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
