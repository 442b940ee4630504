// What the file-information server counts, and the small HTTP listener of
// its own (--metrics HOST:PORT) that shows it in Prometheus text format at
// /metrics and answers /health for load balancers and service managers.
// The event loops only ever add to relaxed atomics: counting costs them no
// lock and no system call.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace wren_tools {

enum class Refusal : size_t { Timeout, Oversized, Garbage, Limit, Count };

// Upper bounds (seconds) of the fetch-duration histogram's buckets.
inline constexpr std::array<double, 13> kFetchBuckets = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                         0.1,    0.25,  0.5,    1,     2.5,   10};

struct Metrics {
  std::atomic<uint64_t> accepted{0};
  std::atomic<uint64_t> fetches{0};
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<uint64_t> repliesDropped{0};
  std::array<std::atomic<uint64_t>, static_cast<size_t>(Refusal::Count)> refused{};
  std::array<std::atomic<uint64_t>, kFetchBuckets.size() + 1> fetchBuckets{};  // the last: above every bound
  std::atomic<uint64_t> fetchMicroseconds{0};
  std::atomic<uint64_t> reloadsOk{0};
  std::atomic<uint64_t> reloadsFailed{0};

  void Refused(Refusal kind) { refused[static_cast<size_t>(kind)].fetch_add(1, std::memory_order_relaxed); }
  void FetchDone(int64_t microseconds);
};

// What the text shows besides the counters, taken when it is asked for.
struct MetricsView {
  size_t open = 0;
  size_t maxConnections = 0;
  bool haveList = false;  // a list is served (not a test mode)
  size_t listBytes = 0;
  std::string listSha256;  // hex
  double listLoadedAt = 0;  // Unix time, seconds
  bool stopping = false;
  int threads = 0;
};

// The Prometheus text (exposition format 0.0.4) of the counters and view.
std::string FormatMetrics(const Metrics& metrics, const MetricsView& view);

// The /health verdict: empty when healthy, else why not.
using HealthCheck = std::function<std::string()>;

// The listener of --metrics on a thread of its own. Every connection gets
// one answer and is closed; at most kMaxClients at once, each within 5 s.
class MetricsServer {
 public:
  MetricsServer(std::function<std::string()> metricsText, HealthCheck health, FILE* log);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on host:port (0: a free port); false after logging why not.
  bool Listen(const std::string& host, uint16_t port);
  uint16_t Port() const { return m_port; }
  void Start();
  void Stop();

 private:
  void Run();

  std::function<std::string()> m_metricsText;
  HealthCheck m_health;
  FILE* m_log;
  int m_listen = -1;
  int m_wake = -1;
  uint16_t m_port = 0;
  std::thread m_thread;
};

// "HOST:PORT" ("[::1]:9100" for IPv6); false when it is not one.
bool ParseHostPort(const std::string& text, std::string* host, uint16_t* port);

}  // namespace wren_tools
