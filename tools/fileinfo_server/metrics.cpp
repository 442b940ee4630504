#include "fileinfo_server/metrics.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "fileinfo_server/fileinfo_server.h"

namespace wren_tools {
namespace {

constexpr size_t kMaxClients = 32;
constexpr size_t kMaxRequestBytes = 4096;
constexpr int kClientTimeoutMs = 5000;

int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const std::string& name, double value) {
  char text[64];
  std::snprintf(text, sizeof text, " %.17g\n", value);
  out += name;
  out += text;
}

void Sample(std::string& out, const std::string& name, uint64_t value) {
  out += name + " " + std::to_string(value) + "\n";
}

const char* const kRefusalNames[] = {"timeout", "oversized", "garbage", "limit"};

// One answer: status line, the headers every answer has, the body.
std::string HttpAnswer(const char* status, const char* type, const std::string& body, bool withBody) {
  std::string out = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
                    "\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  if (withBody) out += body;
  return out;
}

}  // namespace

void Metrics::FetchDone(int64_t microseconds) {
  fetches.fetch_add(1, std::memory_order_relaxed);
  const uint64_t us = microseconds > 0 ? static_cast<uint64_t>(microseconds) : 0;
  fetchMicroseconds.fetch_add(us, std::memory_order_relaxed);
  size_t bucket = 0;
  while (bucket < kFetchBuckets.size() && us > kFetchBuckets[bucket] * 1e6) ++bucket;
  fetchBuckets[bucket].fetch_add(1, std::memory_order_relaxed);
}

std::string FormatMetrics(const Metrics& m, const MetricsView& view) {
  auto get = [](const std::atomic<uint64_t>& a) { return a.load(std::memory_order_relaxed); };
  std::string out;
  Family(out, "wren_fileinfo_connections_open", "gauge", "Connections open now.");
  Sample(out, "wren_fileinfo_connections_open", static_cast<uint64_t>(view.open));
  Family(out, "wren_fileinfo_connections_max", "gauge", "Connections the server holds at once at most.");
  Sample(out, "wren_fileinfo_connections_max", static_cast<uint64_t>(view.maxConnections));
  Family(out, "wren_fileinfo_connections_accepted_total", "counter",
         "Connections accepted, also those closed at once over a limit.");
  Sample(out, "wren_fileinfo_connections_accepted_total", get(m.accepted));
  Family(out, "wren_fileinfo_fetches_total", "counter", "Requests answered with a whole reply.");
  Sample(out, "wren_fileinfo_fetches_total", get(m.fetches));
  Family(out, "wren_fileinfo_sent_bytes_total", "counter", "Bytes of replies handed to the kernel.");
  Sample(out, "wren_fileinfo_sent_bytes_total", get(m.bytesSent));
  Family(out, "wren_fileinfo_refused_total", "counter",
         "Connections closed without an answer, by kind: no whole request in time (timeout), a request "
         "above the size limit (oversized), a record that is no file-information request (garbage), "
         "over the connection limits (limit).");
  for (size_t i = 0; i < static_cast<size_t>(Refusal::Count); ++i)
    Sample(out, std::string("wren_fileinfo_refused_total{kind=\"") + kRefusalNames[i] + "\"}", get(m.refused[i]));
  Family(out, "wren_fileinfo_replies_dropped_total", "counter",
         "Replies not sent whole: the client stopped reading or went away, or the server stopped.");
  Sample(out, "wren_fileinfo_replies_dropped_total", get(m.repliesDropped));
  Family(out, "wren_fileinfo_fetch_duration_seconds", "histogram",
         "From a request's last byte to its reply's last byte handed to the kernel.");
  uint64_t cumulative = 0;
  for (size_t i = 0; i <= kFetchBuckets.size(); ++i) {
    cumulative += get(m.fetchBuckets[i]);
    char le[32];
    if (i < kFetchBuckets.size())
      std::snprintf(le, sizeof le, "%g", kFetchBuckets[i]);
    else
      std::snprintf(le, sizeof le, "+Inf");
    Sample(out, std::string("wren_fileinfo_fetch_duration_seconds_bucket{le=\"") + le + "\"}", cumulative);
  }
  Sample(out, "wren_fileinfo_fetch_duration_seconds_sum", get(m.fetchMicroseconds) / 1e6);
  Sample(out, "wren_fileinfo_fetch_duration_seconds_count", cumulative);
  if (view.haveList) {
    Family(out, "wren_fileinfo_list_bytes", "gauge", "Size of the file list served.");
    Sample(out, "wren_fileinfo_list_bytes", static_cast<uint64_t>(view.listBytes));
    Family(out, "wren_fileinfo_list_info", "gauge", "The SHA-256 of the file list served, as a label; always 1.");
    Sample(out, "wren_fileinfo_list_info{sha256=\"" + view.listSha256 + "\"}", uint64_t{1});
    Family(out, "wren_fileinfo_list_loaded_timestamp_seconds", "gauge",
           "When the list served was read, in seconds since the Unix epoch.");
    Sample(out, "wren_fileinfo_list_loaded_timestamp_seconds", view.listLoadedAt);
  }
  Family(out, "wren_fileinfo_reloads_total", "counter",
         "Reloads of the list (SIGHUP or --watch), by result; a failed one keeps the previous list.");
  Sample(out, "wren_fileinfo_reloads_total{result=\"ok\"}", get(m.reloadsOk));
  Sample(out, "wren_fileinfo_reloads_total{result=\"failed\"}", get(m.reloadsFailed));
  Family(out, "wren_fileinfo_stopping", "gauge", "1 once SIGTERM or SIGINT asked the server to stop.");
  Sample(out, "wren_fileinfo_stopping", uint64_t{view.stopping ? 1u : 0u});
  Family(out, "wren_fileinfo_threads", "gauge", "Event loops serving the file-information port.");
  Sample(out, "wren_fileinfo_threads", static_cast<uint64_t>(view.threads));
  return out;
}

bool ParseHostPort(const std::string& text, std::string* host, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6) return false;
  std::string name = text.substr(0, colon);
  if (name.front() == '[') {
    if (name.back() != ']' || name.size() < 3) return false;
    name = name.substr(1, name.size() - 2);
  } else if (name.find(':') != std::string::npos) {
    return false;  // IPv6 needs its brackets
  }
  unsigned long value = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long>(text[i] - '0');
  }
  if (value > 65535) return false;
  *host = name;
  *port = static_cast<uint16_t>(value);
  return true;
}

MetricsServer::MetricsServer(std::function<std::string()> metricsText, HealthCheck health, FILE* log)
    : m_metricsText(std::move(metricsText)), m_health(std::move(health)), m_log(log) {}

MetricsServer::~MetricsServer() {
  Stop();
  if (m_listen >= 0) close(m_listen);
  if (m_wake >= 0) close(m_wake);
}

bool MetricsServer::Listen(const std::string& host, uint16_t port) {
  m_listen = ListenOn(host, port, false, m_log);
  m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_listen < 0 || m_wake < 0) return false;
  m_port = LocalPort(m_listen);
  return true;
}

void MetricsServer::Start() { m_thread = std::thread([this] { Run(); }); }

void MetricsServer::Stop() {
  if (!m_thread.joinable()) return;
  eventfd_write(m_wake, 1);
  m_thread.join();
}

void MetricsServer::Run() {
  struct Client {
    int fd;
    int64_t deadline;
    std::string in, out;
    size_t sent = 0;
  };
  std::vector<Client> clients;
  for (;;) {
    std::vector<pollfd> waits = {{m_wake, POLLIN, 0},
                                 {m_listen, static_cast<short>(clients.size() < kMaxClients ? POLLIN : 0), 0}};
    for (const Client& c : clients) waits.push_back({c.fd, static_cast<short>(c.out.empty() ? POLLIN : POLLOUT), 0});
    if (poll(waits.data(), waits.size(), 1000) < 0 && errno != EINTR) {
      LogLine(m_log, "metrics: the listener failed (%s)", std::strerror(errno));
      break;
    }
    if (waits[0].revents & POLLIN) break;
    const int64_t now = NowMs();
    if (waits[1].revents & POLLIN) {
      const int fd = accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) clients.push_back({fd, now + kClientTimeoutMs, {}, {}});
    }
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const short events = i + 2 < waits.size() && waits[i + 2].fd == c.fd ? waits[i + 2].revents : 0;
      bool done = now >= c.deadline;
      if (!done && c.out.empty() && (events & (POLLIN | POLLHUP | POLLERR))) {
        char buffer[1024];
        const ssize_t got = recv(c.fd, buffer, sizeof buffer, 0);
        if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR))) done = true;
        if (got > 0) c.in.append(buffer, static_cast<size_t>(got));
        const size_t end = c.in.find("\r\n\r\n") != std::string::npos ? c.in.find("\r\n\r\n") : c.in.find("\n\n");
        if (end != std::string::npos) {
          const std::string line = c.in.substr(0, c.in.find_first_of("\r\n"));
          const bool head = line.rfind("HEAD ", 0) == 0;
          const size_t pathAt = line.find(' ');
          const size_t pathEnd = line.find(' ', pathAt + 1);
          std::string path = pathAt == std::string::npos ? "" : line.substr(pathAt + 1, pathEnd - pathAt - 1);
          path = path.substr(0, path.find('?'));
          if (!head && line.rfind("GET ", 0) != 0) {
            c.out = HttpAnswer("405 Method Not Allowed", "text/plain", "GET or HEAD only\n", true);
          } else if (path == "/metrics") {
            c.out = HttpAnswer("200 OK", "text/plain; version=0.0.4; charset=utf-8", m_metricsText(), !head);
          } else if (path == "/health") {
            const std::string why = m_health();
            c.out = why.empty() ? HttpAnswer("200 OK", "text/plain", "ok\n", !head)
                                : HttpAnswer("503 Service Unavailable", "text/plain", why + "\n", !head);
          } else {
            c.out = HttpAnswer("404 Not Found", "text/plain", "/metrics or /health\n", !head);
          }
        } else if (c.in.size() > kMaxRequestBytes) {
          c.out = HttpAnswer("431 Request Header Fields Too Large", "text/plain", "request too large\n", true);
        }
      }
      if (!done && !c.out.empty()) {
        const ssize_t put = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (put > 0) c.sent += static_cast<size_t>(put);
        if ((put < 0 && errno != EAGAIN && errno != EINTR) || c.sent == c.out.size()) done = true;
      }
      if (done) {
        close(c.fd);
        clients[i] = std::move(clients.back());
        clients.pop_back();
        --i;
      }
    }
  }
  for (const Client& c : clients) close(c.fd);
}

}  // namespace wren_tools
