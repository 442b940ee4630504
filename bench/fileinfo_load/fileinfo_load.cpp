// wren-fileinfo-load: a launch day on loopback. N clients connect at once and
// each fetches the file list, R rounds in a row, optionally while S slow
// clients hold connections after sending one byte. Speaks the file-information
// protocol (the starter's 15-byte request, "$" chunks until the last one) or
// plain HTTP GET, so that one tool measures our server and a static HTTP
// server on the same bytes. Every fetch is checked against the expected list.
// Bounded: at most 20 000 clients, 100 rounds, and --time-limit for the whole run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

constexpr long kMaxClients = 20000;
constexpr long kMaxRounds = 100;
constexpr size_t kMaxReply = 1 << 20;  // more than any list: a fetch that grows past it has failed

const Bytes kRequest = {0x00, 0x0D, 0x17, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0F, 0xAF, 0xA0, 0x00, 0x00, 0x00, 0x00};

struct Options {
  uint16_t port = 0;
  bool http = false;
  std::string path = "/filelist.dat";
  std::string expectFile;
  long clients = 100;
  long rounds = 1;
  long slow = 0;
  double fetchTimeout = 10;  // seconds for one fetch, connect to last byte
  double slowWait = 0;       // seconds to wait at the end for the server to drop the slow clients
  double timeLimit = 120;    // seconds for the whole run
};

double SecondsSince(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

uint32_t Big32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The list carried by a whole file-information reply, or false while it is
// incomplete (*bad set when it can never be right).
bool JoinChunks(const Bytes& in, Bytes* list, bool* bad) {
  list->clear();
  size_t at = 0;
  while (at + 2 <= in.size()) {
    const size_t length = size_t(in[at]) << 8 | in[at + 1];
    if (at + 2 + length > in.size()) return false;
    const unsigned char* body = in.data() + at + 2;
    at += 2 + length;
    if (length < 17 || body[0] != '$' || Big32(body + 9) != 1) {
      *bad = true;
      return false;
    }
    const unsigned count = body[13], index = body[14];
    size_t prefix = 1, size = body[15];
    if (size == 253 && length >= 21) {
      prefix = 5;
      size = Big32(body + 16);
    } else if (size >= 253) {
      *bad = true;  // the server never sends chunks this large
      return false;
    }
    if (15 + prefix + size > length) {
      *bad = true;
      return false;
    }
    list->insert(list->end(), body + 15 + prefix, body + 15 + prefix + size);
    if (index + 1 == count) return at == in.size();
  }
  return false;
}

// The body of a whole HTTP response (read to the end of the connection).
bool HttpBody(const Bytes& in, Bytes* body) {
  static const char kEnd[] = "\r\n\r\n";
  const auto end = std::search(in.begin(), in.end(), kEnd, kEnd + 4);
  if (end == in.end()) return false;
  const std::string head(in.begin(), end);
  if (head.compare(0, 12, "HTTP/1.1 200") != 0 && head.compare(0, 12, "HTTP/1.0 200") != 0) return false;
  body->assign(end + 4, in.end());
  return true;
}

struct Client {
  int fd = -1;
  bool slow = false;
  bool connected = false;
  size_t requestSent = 0;
  Bytes received;
  Clock::time_point started;
};

class Load {
 public:
  Load(const Options& options, Bytes expected) : m_options(options), m_expected(std::move(expected)) {
    m_request = options.http ? HttpRequest() : kRequest;
    m_slowByte = Bytes(m_request.begin(), m_request.begin() + 1);
  }
  ~Load() {
    for (Client& c : m_slowClients)
      if (c.fd >= 0) close(c.fd);
    if (m_epoll >= 0) close(m_epoll);
  }

  int Run();

 private:
  Bytes HttpRequest() const {
    const std::string text = "GET " + m_options.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    return Bytes(text.begin(), text.end());
  }
  bool Connect(Client& c);
  void Finish(Client& c, bool ok);
  void OnEvent(Client& c, uint32_t events);
  bool TimeLeft() const { return SecondsSince(m_start) < m_options.timeLimit; }

  const Options& m_options;
  Bytes m_expected, m_request, m_slowByte;
  int m_epoll = -1;
  Clock::time_point m_start;
  std::vector<Client> m_slowClients;
  std::vector<double> m_latencies;  // milliseconds of the fetches that succeeded
  long m_failed = 0;
  long m_active = 0;
  long m_slowDropped = 0;
  std::vector<double> m_slowDropAfter;  // seconds from connect to the server's close
  std::string m_firstFailure;
};

bool Load::Connect(Client& c) {
  const bool slow = c.slow;
  c = Client{};
  c.slow = slow;
  c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (c.fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_options.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  c.started = Clock::now();
  if (connect(c.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    close(c.fd);
    c.fd = -1;
    return false;
  }
  epoll_event event{};
  event.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
  event.data.ptr = &c;
  epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &event);
  return true;
}

void Load::Finish(Client& c, bool ok) {
  if (ok) {
    m_latencies.push_back(SecondsSince(c.started) * 1000);
  } else {
    ++m_failed;
    if (m_firstFailure.empty())
      m_firstFailure = c.connected ? "reply cut short or wrong after " + std::to_string(c.received.size()) + " bytes"
                                   : "connect failed";
  }
  close(c.fd);
  c.fd = -1;
  --m_active;
}

void Load::OnEvent(Client& c, uint32_t events) {
  if (c.fd < 0) return;
  if (!c.connected && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) return Finish(c, false);
    c.connected = true;
    const Bytes& request = c.slow ? m_slowByte : m_request;
    if (send(c.fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
      return Finish(c, false);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.ptr = &c;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &event);
    return;
  }
  if (c.slow) {  // the server gave up on it
    ++m_slowDropped;
    m_slowDropAfter.push_back(SecondsSince(c.started));
    close(c.fd);
    c.fd = -1;
    return;
  }
  unsigned char buffer[65536];
  for (;;) {
    const ssize_t got = recv(c.fd, buffer, sizeof buffer, 0);
    if (got > 0) {
      c.received.insert(c.received.end(), buffer, buffer + got);
      if (c.received.size() > kMaxReply) return Finish(c, false);
      continue;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (got < 0 && errno == EINTR) continue;
    // The end of the connection: an HTTP reply is complete now, ours must already be.
    Bytes body;
    return Finish(c, m_options.http && got == 0 && HttpBody(c.received, &body) && body == m_expected);
  }
  if (!m_options.http) {
    Bytes list;
    bool bad = false;
    const bool whole = JoinChunks(c.received, &list, &bad);
    if (whole || bad) Finish(c, whole && list == m_expected);
  }
}

int Load::Run() {
  m_epoll = epoll_create1(EPOLL_CLOEXEC);
  m_start = Clock::now();
  std::vector<epoll_event> events(1024);

  m_slowClients.resize(static_cast<size_t>(m_options.slow));
  long slowHeld = 0;
  for (Client& c : m_slowClients) {
    c.slow = true;
    if (Connect(c)) ++slowHeld;
  }
  // Let the slow clients' single bytes go out before the ordinary ones start.
  for (int turns = 0; turns < 100 && TimeLeft(); ++turns) {
    long pending = 0;
    for (const Client& c : m_slowClients) pending += c.fd >= 0 && !c.connected;
    if (pending == 0) break;
    const int ready = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 50);
    for (int i = 0; i < ready; ++i) OnEvent(*static_cast<Client*>(events[i].data.ptr), events[i].events);
  }

  std::vector<Client> clients(static_cast<size_t>(m_options.clients));
  const Clock::time_point loadStart = Clock::now();
  long launched = 0;
  for (long round = 0; round < m_options.rounds && TimeLeft(); ++round) {
    for (Client& c : clients) {
      ++launched;
      if (Connect(c))
        ++m_active;
      else
        ++m_failed;
    }
    Clock::time_point lastCheck = Clock::now();
    while (m_active > 0 && TimeLeft()) {
      const int ready = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 100);
      for (int i = 0; i < ready; ++i) OnEvent(*static_cast<Client*>(events[i].data.ptr), events[i].events);
      if (SecondsSince(lastCheck) < 0.1) continue;
      lastCheck = Clock::now();
      for (Client& c : clients)
        if (c.fd >= 0 && SecondsSince(c.started) > m_options.fetchTimeout) Finish(c, false);
    }
  }
  const double loadSeconds = SecondsSince(loadStart);
  for (Client& c : clients)
    if (c.fd >= 0) Finish(c, false);
  const long notLaunched = m_options.clients * m_options.rounds - launched;

  long slowOpen = 0;
  for (const Client& c : m_slowClients) slowOpen += c.fd >= 0;
  const long slowOpenAfterLoad = slowOpen;
  const Clock::time_point waitStart = Clock::now();
  while (slowOpen > 0 && SecondsSince(waitStart) < m_options.slowWait && TimeLeft()) {
    const int ready = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 100);
    for (int i = 0; i < ready; ++i) OnEvent(*static_cast<Client*>(events[i].data.ptr), events[i].events);
    slowOpen = 0;
    for (const Client& c : m_slowClients) slowOpen += c.fd >= 0;
  }

  std::sort(m_latencies.begin(), m_latencies.end());
  auto percentile = [&](double p) {
    if (m_latencies.empty()) return 0.0;
    return m_latencies[std::min(m_latencies.size() - 1, static_cast<size_t>(p * m_latencies.size()))];
  };
  std::sort(m_slowDropAfter.begin(), m_slowDropAfter.end());
  std::printf("fetched=%zu failed=%ld not_started=%ld seconds=%.3f fetches_per_s=%.0f p50_ms=%.1f p99_ms=%.1f "
              "slow_held=%ld slow_open_after_load=%ld slow_dropped=%ld slow_drop_median_s=%.1f\n",
              m_latencies.size(), m_failed, notLaunched, loadSeconds,
              loadSeconds > 0 ? static_cast<double>(m_latencies.size()) / loadSeconds : 0.0, percentile(0.5),
              percentile(0.99), slowHeld, slowOpenAfterLoad, m_slowDropped,
              m_slowDropAfter.empty() ? 0.0 : m_slowDropAfter[m_slowDropAfter.size() / 2]);
  if (!m_firstFailure.empty()) std::fprintf(stderr, "first failure: %s\n", m_firstFailure.c_str());
  return m_failed == 0 && notLaunched == 0 ? 0 : 1;
}

void Usage() {
  std::fprintf(stderr,
               "usage: wren-fileinfo-load --port P --expect LIST [--http [--path /filelist.dat]]\n"
               "                          [--clients N] [--rounds R] [--slow S] [--fetch-timeout SEC]\n"
               "                          [--slow-wait SEC] [--time-limit SEC]\n"
               "Connects to 127.0.0.1:P only. N clients at once (default 100, at most 20000), each\n"
               "fetching R times (default 1, at most 100), after S slow clients (default 0) have\n"
               "connected and sent one byte. Prints one line of results; exits 1 on any failure.\n");
}

bool Number(const char* text, double low, double high, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (!*text || *end || !(v >= low && v <= high)) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    double number = 0;
    auto value = [&](double low, double high) {
      if (i + 1 >= argc || !Number(argv[++i], low, high, &number)) {
        std::fprintf(stderr, "wren-fileinfo-load: bad value for %s\n", arg.c_str());
        std::exit(2);
      }
      return number;
    };
    if (arg == "--port") {
      options.port = static_cast<uint16_t>(value(1, 65535));
    } else if (arg == "--http") {
      options.http = true;
    } else if (arg == "--path" && i + 1 < argc) {
      options.path = argv[++i];
    } else if (arg == "--expect" && i + 1 < argc) {
      options.expectFile = argv[++i];
    } else if (arg == "--clients") {
      options.clients = static_cast<long>(value(1, kMaxClients));
    } else if (arg == "--rounds") {
      options.rounds = static_cast<long>(value(1, kMaxRounds));
    } else if (arg == "--slow") {
      options.slow = static_cast<long>(value(0, kMaxClients));
    } else if (arg == "--fetch-timeout") {
      options.fetchTimeout = value(0.1, 60);
    } else if (arg == "--slow-wait") {
      options.slowWait = value(0, 60);
    } else if (arg == "--time-limit") {
      options.timeLimit = value(1, 600);
    } else {
      Usage();
      return 2;
    }
  }
  if (!options.port || options.expectFile.empty()) {
    Usage();
    return 2;
  }
  std::ifstream in(options.expectFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "wren-fileinfo-load: cannot read %s\n", options.expectFile.c_str());
    return 2;
  }
  Bytes expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  // Every client is a descriptor.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  if (static_cast<rlim_t>(options.clients + options.slow + 64) > limit.rlim_cur) {
    std::fprintf(stderr, "wren-fileinfo-load: %ld clients need more file descriptors than the limit of %llu\n",
                 options.clients + options.slow, static_cast<unsigned long long>(limit.rlim_cur));
    return 2;
  }
  Load load(options, std::move(expected));
  return load.Run();
}
