// The server's connections: an epoll loop per thread (one by default), each
// with its own listener on the same port, the kernel spreading connections
// over them. The middleware's heartbeat polls every socket on a fixed beat,
// which cannot carry launch-day load, so the connections live here and only
// the records come from the middleware's codecs (fileinfo_server.cpp). The
// main thread takes the signals (and, with --watch, the changes in the list's
// folder): it reloads the list and tells the loops to stop.
//
// Every connection is in exactly one deadline queue, chosen by its phase.
// Each queue has one fixed duration, so appending keeps it sorted by
// deadline and the loop only ever looks at the queue fronts.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "fileinfo_server/fileinfo_server.h"
#include "fileinfo_server/metrics.h"
#include "net/framing.h"

namespace wren_tools {
namespace {

constexpr int kLengthHeader = 2;
constexpr int kEpollBatch = 256;
constexpr int kListenBacklog = 65535;  // the kernel lowers it to net.core.somaxconn
constexpr size_t kReservedFds = 32;    // log, signals, list reads and whatever the C library opens
constexpr size_t kFdsPerLoop = 3;      // epoll, wake-up, listener
constexpr int kAcceptPauseMs = 100;    // after running out of descriptors or memory
constexpr int kLingerMs = 2000;        // for the client's close after the last reply of a stopping server
// Loops turn at least this often, so that /health can tell one that hangs.
constexpr int kLongestTurnMs = 1000;
constexpr int kHealthyTurnMs = 5000;

int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// A peer's address, compact enough to keep in every connection.
struct Peer {
  sa_family_t family = AF_UNSPEC;
  uint16_t port = 0;
  std::array<unsigned char, 16> address{};
};

Peer PeerOf(const sockaddr_storage& storage) {
  Peer peer;
  peer.family = storage.ss_family;
  if (storage.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
    peer.port = ntohs(in.sin_port);
    std::memcpy(peer.address.data(), &in.sin_addr, sizeof in.sin_addr);
  } else if (storage.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
    peer.port = ntohs(in6.sin6_port);
    std::memcpy(peer.address.data(), &in6.sin6_addr, sizeof in6.sin6_addr);
  }
  return peer;
}

std::string PeerText(const Peer& peer) {
  char host[INET6_ADDRSTRLEN] = "?";
  inet_ntop(peer.family, peer.address.data(), host, sizeof host);
  return (peer.family == AF_INET6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" +
         std::to_string(peer.port);
}

// The per-address count ignores the port.
std::string AddressKey(const Peer& peer) {
  return std::string(1, static_cast<char>(peer.family)) +
         std::string(reinterpret_cast<const char*>(peer.address.data()), peer.address.size());
}

enum class Phase : uint8_t {
  Reading,  // waiting for a whole request
  Sending,  // a reply is going out; the socket is not read meanwhile
  Holding,  // --silent: asked, never answered
  Lingering,  // stopping: the last reply is out, our side shut; waiting for the client's close
};

struct DeadlineQueue;

struct Connection {
  int fd = -1;  // -1 once closed (freed at the end of the loop turn)
  Phase phase = Phase::Reading;
  uint32_t watched = 0;  // epoll events; 0 while not registered
  uint16_t received = 0;
  uint32_t sent = 0;
  uint32_t replies = 0;
  int64_t opened = 0;
  int64_t asked = 0;  // when the request being answered was whole, in microseconds
  int64_t deadline = 0;
  DeadlineQueue* queue = nullptr;
  Connection* prev = nullptr;
  Connection* next = nullptr;
  std::shared_ptr<const ReplySet> reply;  // the one being sent, kept whole across a reload
  Peer peer;
  unsigned char request[kMaxRequestRecord];
};

struct DeadlineQueue {
  int durationMs;
  const char* what;  // why a connection that reaches its deadline is dropped
  Connection* head = nullptr;
  Connection* tail = nullptr;

  void Add(Connection* c, int64_t now) {
    c->deadline = now + durationMs;
    c->queue = this;
    c->prev = tail;
    c->next = nullptr;
    (tail ? tail->next : head) = c;
    tail = c;
  }
  void Remove(Connection* c) {
    (c->prev ? c->prev->next : head) = c->next;
    (c->next ? c->next->prev : tail) = c->prev;
    c->prev = c->next = nullptr;
    c->queue = nullptr;
  }
};

// The backlog the kernel grants a listener, for the log.
int GrantedBacklog() {
  std::FILE* f = std::fopen("/proc/sys/net/core/somaxconn", "r");
  int granted = kListenBacklog;
  if (f) {
    if (std::fscanf(f, "%d", &granted) != 1) granted = kListenBacklog;
    std::fclose(f);
  }
  return std::min(granted, kListenBacklog);
}

std::string Seconds(int ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms % 1000 ? "%.1f s" : "%.0f s", ms / 1000.0);
  return text;
}

// One line per call, written whole so that the loops' lines never mix.
void WriteLog(FILE* log, const char* format, va_list args) {
  thread_local time_t stampTime = -1;
  thread_local char stamp[32];
  const time_t now = std::time(nullptr);
  if (now != stampTime) {  // one stamp a second is enough, and saves time under load
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    stampTime = now;
  }
  char line[2048];
  int used = std::snprintf(line, sizeof line, "%s ", stamp);
  const int text = std::vsnprintf(line + used, sizeof line - used - 1, format, args);
  used = std::min<int>(used + std::max(text, 0), sizeof line - 2);
  line[used] = '\n';
  line[used + 1] = '\0';
  std::fputs(line, log);
}

// What the loops share.
struct Shared {
  Shared(const ServerOptions& o, FILE* f) : options(o), log(f) {}
  const ServerOptions& options;
  FILE* log;
  size_t maxConnections = 0;
  std::atomic<size_t> open{0};
  std::atomic<bool> stopping{false};
  Metrics metrics;
  std::shared_ptr<const ReplySet> Replies() {
    std::lock_guard<std::mutex> lock(repliesLock);
    return replies;
  }
  void SetReplies(std::shared_ptr<const ReplySet> fresh) {
    std::lock_guard<std::mutex> lock(repliesLock);
    replies.swap(fresh);
  }
  std::mutex repliesLock;  // a reload swaps the replies while the loops take them
  std::shared_ptr<const ReplySet> replies;
  std::mutex addressLock;  // only taken with --max-per-address
  std::unordered_map<std::string, size_t> perAddress;
};

class Server {
 public:
  Server(Shared& shared, int listenFd)
      : m_shared(shared),
        m_options(shared.options),
        m_listen(listenFd),
        m_requests{shared.options.requestTimeoutMs, "no complete request within"},
        m_sending{shared.options.sendTimeoutMs, "the client stopped reading the reply for"},
        m_holding{shared.options.silentHoldMs, "held unanswered for"},
        m_lingering{kLingerMs, "the client did not close after the last reply within"} {}
  ~Server();

  bool Prepare();
  void Run();
  // From the main thread: the first call stops the loop gently, the second at once.
  void AskToStop() { eventfd_write(m_wake, 1); }
  // When the loop last turned (NowMs), for /health.
  int64_t LastTurn() const { return m_heartbeat.load(std::memory_order_relaxed); }

 private:
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int NextTimeoutMs() const;

  void AcceptAll();
  void Open(int fd, const Peer& peer);
  void OnEvent(Connection* c);
  void ReadMore(Connection* c);
  void Linger(Connection* c);
  bool HandleBuffered(Connection* c);
  void OnRequest(Connection* c, const unsigned char* body, uint32_t length);
  void SendMore(Connection* c);
  void Watch(Connection* c, uint32_t events);
  void MoveTo(Connection* c, Phase phase, DeadlineQueue& queue);
  void Close(Connection* c, const std::string& outcome);
  void ExpireDeadlines();
  void OnWake();
  void BeginStop();
  void CountAddress(const Peer& peer, int change);

  Shared& m_shared;
  const ServerOptions& m_options;
  int m_listen;
  DeadlineQueue m_requests, m_sending, m_holding, m_lingering;
  int m_epoll = -1;
  int m_wake = -1;
  size_t m_open = 0;  // in this loop
  std::vector<Connection*> m_closed;
  int64_t m_now = 0;
  int64_t m_acceptPausedUntil = 0;
  bool m_stopping = false;
  bool m_stopNow = false;
  int64_t m_stopDeadline = 0;
  std::atomic<int64_t> m_heartbeat{NowMs()};
  // Tags that tell the listener and the wake-up descriptor from connections.
  char m_listenTag = 0, m_wakeTag = 0;
};

Server::~Server() {
  for (Connection* c : m_closed) delete c;
  if (m_listen >= 0) close(m_listen);
  if (m_epoll >= 0) close(m_epoll);
  if (m_wake >= 0) close(m_wake);
}

void Server::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLog(m_shared.log, format, args);
  va_end(args);
}

bool Server::Prepare() {
  m_epoll = epoll_create1(EPOLL_CLOEXEC);
  m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_epoll < 0 || m_wake < 0) return false;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.ptr = &m_listenTag;
  if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &event) != 0) return false;
  event.data.ptr = &m_wakeTag;
  return epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event) == 0;
}

void Server::Run() {
  epoll_event events[kEpollBatch];
  for (;;) {
    m_now = NowMs();
    m_heartbeat.store(m_now, std::memory_order_relaxed);
    if (m_stopping && (m_open == 0 || m_stopNow || m_now >= m_stopDeadline)) break;
    std::fflush(m_shared.log);
    const int ready = epoll_wait(m_epoll, events, kEpollBatch, NextTimeoutMs());
    if (ready < 0 && errno != EINTR) {
      Log("the event loop failed (%s)", std::strerror(errno));
      break;
    }
    m_now = NowMs();
    for (int i = 0; i < ready; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == &m_listenTag)
        AcceptAll();
      else if (tag == &m_wakeTag)
        OnWake();
      else
        OnEvent(static_cast<Connection*>(tag));
    }
    ExpireDeadlines();
    if (m_acceptPausedUntil && m_now >= m_acceptPausedUntil && m_listen >= 0) {
      m_acceptPausedUntil = 0;
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.ptr = &m_listenTag;
      epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listen, &event);
    }
    for (Connection* c : m_closed) delete c;
    m_closed.clear();
  }
  while (m_sending.head) {
    m_shared.metrics.repliesDropped.fetch_add(1, std::memory_order_relaxed);
    Close(m_sending.head, "dropped: the server stopped before the reply was sent");
  }
  for (DeadlineQueue* q : {&m_requests, &m_holding, &m_lingering})
    while (q->head) Close(q->head, "closed: the server stopped");
  std::fflush(m_shared.log);
}

int Server::NextTimeoutMs() const {
  int64_t next = INT64_MAX;
  for (const DeadlineQueue* q : {&m_requests, &m_sending, &m_holding, &m_lingering})
    if (q->head) next = std::min(next, q->head->deadline);
  if (m_acceptPausedUntil) next = std::min(next, m_acceptPausedUntil);
  if (m_stopping) next = std::min(next, m_stopDeadline);
  return static_cast<int>(std::clamp<int64_t>(next - m_now, 0, kLongestTurnMs));
}

void Server::AcceptAll() {
  for (;;) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    const int fd = accept4(m_listen, reinterpret_cast<sockaddr*>(&address), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      Log("cannot accept a connection (%s): pausing for %d ms", std::strerror(errno), kAcceptPauseMs);
      // Level-triggered, the listener would come back at once: stop watching it for a moment.
      epoll_event event{};
      event.data.ptr = &m_listenTag;
      epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listen, &event);
      m_acceptPausedUntil = m_now + kAcceptPauseMs;
      return;
    }
    const Peer peer = PeerOf(address);
    m_shared.metrics.accepted.fetch_add(1, std::memory_order_relaxed);
    if (m_shared.open.load() >= m_shared.maxConnections) {
      m_shared.metrics.Refused(Refusal::Limit);
      Log("refused %s: %zu connections open, the limit", PeerText(peer).c_str(), m_shared.maxConnections);
      close(fd);
      continue;
    }
    if (m_options.maxPerAddress) {
      std::lock_guard<std::mutex> lock(m_shared.addressLock);
      size_t& count = m_shared.perAddress[AddressKey(peer)];
      if (count >= m_options.maxPerAddress) {
        m_shared.metrics.Refused(Refusal::Limit);
        Log("refused %s: %zu connections open from its address, the limit", PeerText(peer).c_str(),
            m_options.maxPerAddress);
        close(fd);
        continue;
      }
      ++count;
    }
    Open(fd, peer);
  }
}

void Server::Open(int fd, const Peer& peer) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // a reply goes out whole: nothing to gain from waiting
  auto* c = new Connection;
  c->fd = fd;
  c->peer = peer;
  c->opened = m_now;
  ++m_open;
  ++m_shared.open;
  m_requests.Add(c, m_now);
  ReadMore(c);  // the request has usually arrived by the time the connection is accepted
}

void Server::OnEvent(Connection* c) {
  if (c->fd < 0) return;  // closed earlier in this loop turn
  if (c->phase == Phase::Sending) SendMore(c);
  if (c->fd < 0 || c->phase == Phase::Sending) return;
  if (c->phase == Phase::Lingering)
    Linger(c);
  else
    ReadMore(c);
}

void Server::ReadMore(Connection* c) {
  while (HandleBuffered(c)) {
    const ssize_t got = recv(c->fd, c->request + c->received, sizeof c->request - c->received, 0);
    if (got > 0) {
      c->received = static_cast<uint16_t>(c->received + got);
    } else if (got == 0) {
      Close(c, "closed by the client");
      return;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      Watch(c, EPOLLIN);
      return;
    } else if (errno != EINTR) {
      Close(c, std::string("dropped: cannot read (") + std::strerror(errno) + ")");
      return;
    }
  }
}

// Handles the whole requests in the buffer; true when the socket should be
// read further (the buffer then has room: a record that fits is handled as
// soon as it is whole).
bool Server::HandleBuffered(Connection* c) {
  for (;;) {
    if (c->received < kLengthHeader) return true;
    const uint32_t length = net_read_length_header(c->request, kLengthHeader);
    if (length + kLengthHeader > kMaxRequestRecord) {
      m_shared.metrics.Refused(Refusal::Oversized);
      Log("oversized request from %s (%u bytes announced, at most %zu taken): closing", PeerText(c->peer).c_str(),
          length, kMaxRequestRecord - kLengthHeader);
      Close(c, "dropped: oversized request");
      return false;
    }
    if (c->received < length + kLengthHeader) return true;
    OnRequest(c, c->request + kLengthHeader, length);
    if (c->fd < 0) return false;
    c->received = static_cast<uint16_t>(c->received - (length + kLengthHeader));
    std::memmove(c->request, c->request + length + kLengthHeader, c->received);
    if (c->phase == Phase::Sending) SendMore(c);
    if (c->fd < 0 || c->phase == Phase::Sending) return false;
    if (c->phase == Phase::Lingering) {
      Linger(c);
      return false;
    }
  }
}

// Closing at once would reset a connection whose client sent more than we
// read, and a reset can throw away reply bytes the client has not read yet.
void Server::Linger(Connection* c) {
  unsigned char discard[4096];
  for (;;) {
    const ssize_t got = recv(c->fd, discard, sizeof discard, 0);
    if (got > 0 || (got < 0 && errno == EINTR)) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Watch(c, EPOLLIN);
      return;
    }
    Close(c, "closed after the reply: the server is stopping");
    return;
  }
}

void Server::OnRequest(Connection* c, const unsigned char* body, uint32_t length) {
  const std::string peer = PeerText(c->peer);
  std::string pairs;
  switch (CheckRequest(body, length, &pairs)) {
    case RequestCheck::Foreign:
      m_shared.metrics.Refused(Refusal::Garbage);
      Log("unexpected record from %s (%u bytes, first byte %d): closing", peer.c_str(), length,
          length ? body[0] : -1);
      Close(c, "dropped: not a file-information request");
      return;
    case RequestCheck::Malformed:
      m_shared.metrics.Refused(Refusal::Garbage);
      Log("malformed request from %s (%u bytes): closing", peer.c_str(), length);
      Close(c, "dropped: malformed request");
      return;
    case RequestCheck::Ok:
      break;
  }
  switch (m_options.mode) {
    case ReplyMode::Silent:
      Log("request from %s (pairs:%s): not answering", peer.c_str(), pairs.c_str());
      MoveTo(c, Phase::Holding, m_holding);
      return;
    case ReplyMode::Status:
      Log("request from %s (pairs:%s): answering status %d (count %u, index %u)", peer.c_str(), pairs.c_str(),
          m_options.status, m_options.statusCount, m_options.statusIndex);
      break;
    case ReplyMode::BadRecord:
      Log("request from %s (pairs:%s): answering with a record that is not '$'", peer.c_str(), pairs.c_str());
      break;
    case ReplyMode::Data:
      break;
  }
  c->reply = m_shared.Replies();
  c->asked = NowUs();
  if (m_options.mode == ReplyMode::Data)
    Log("request from %s (pairs:%s): answering %zu chunks", peer.c_str(), pairs.c_str(), c->reply->records);
  c->sent = 0;
  MoveTo(c, Phase::Sending, m_sending);
}

void Server::SendMore(Connection* c) {
  const std::vector<unsigned char>& wire = c->reply->wire;
  bool moved = false;
  while (c->sent < wire.size()) {
    const ssize_t put = send(c->fd, wire.data() + c->sent, wire.size() - c->sent, MSG_NOSIGNAL);
    if (put > 0) {
      c->sent += static_cast<uint32_t>(put);
      m_shared.metrics.bytesSent.fetch_add(static_cast<uint64_t>(put), std::memory_order_relaxed);
      moved = true;
    } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (moved) MoveTo(c, Phase::Sending, m_sending);  // progress restarts the stall limit
      Watch(c, EPOLLOUT);
      return;
    } else if (put < 0 && errno != EINTR) {
      m_shared.metrics.repliesDropped.fetch_add(1, std::memory_order_relaxed);
      Close(c, "dropped: the client went away during the reply (" + std::string(std::strerror(errno)) + ")");
      return;
    }
  }
  ++c->replies;
  m_shared.metrics.FetchDone(NowUs() - c->asked);
  c->reply.reset();
  if (m_stopping) {
    shutdown(c->fd, SHUT_WR);
    MoveTo(c, Phase::Lingering, m_lingering);
    return;
  }
  MoveTo(c, Phase::Reading, m_requests);  // the starter closes now; another request may follow
}

void Server::Watch(Connection* c, uint32_t events) {
  if (c->watched == events) return;
  epoll_event event{};
  event.events = events;
  event.data.ptr = c;
  epoll_ctl(m_epoll, c->watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c->fd, &event);
  c->watched = events;
}

void Server::MoveTo(Connection* c, Phase phase, DeadlineQueue& queue) {
  c->queue->Remove(c);
  c->phase = phase;
  queue.Add(c, m_now);
}

void Server::Close(Connection* c, const std::string& outcome) {
  Log("connection from %s %s (%u %s, %lld ms)", PeerText(c->peer).c_str(), outcome.c_str(), c->replies,
      c->replies == 1 ? "reply" : "replies", static_cast<long long>(NowMs() - c->opened));
  c->queue->Remove(c);
  close(c->fd);  // also takes it out of the epoll set
  c->fd = -1;
  c->reply.reset();
  --m_open;
  --m_shared.open;
  if (m_options.maxPerAddress) {
    std::lock_guard<std::mutex> lock(m_shared.addressLock);
    auto it = m_shared.perAddress.find(AddressKey(c->peer));
    if (it != m_shared.perAddress.end() && --it->second == 0) m_shared.perAddress.erase(it);
  }
  m_closed.push_back(c);
}

void Server::ExpireDeadlines() {
  for (DeadlineQueue* q : {&m_requests, &m_sending, &m_holding, &m_lingering}) {
    while (q->head && q->head->deadline <= m_now) {
      Connection* c = q->head;
      if (q == &m_requests) m_shared.metrics.Refused(Refusal::Timeout);
      if (q == &m_sending) m_shared.metrics.repliesDropped.fetch_add(1, std::memory_order_relaxed);
      std::string detail = c->phase == Phase::Sending
                               ? "sent " + std::to_string(c->sent) + " of " + std::to_string(c->reply->wire.size())
                               : "received " + std::to_string(c->received);
      Close(c, std::string("dropped: ") + q->what + " " + Seconds(q->durationMs) + " (" + detail + " bytes)");
    }
  }
}

void Server::OnWake() {
  eventfd_t asked = 0;
  if (eventfd_read(m_wake, &asked) != 0) return;
  if (!m_stopping) {
    BeginStop();
    --asked;
  }
  if (asked > 0) m_stopNow = true;  // asked twice: do not wait for the replies
}

void Server::BeginStop() {
  m_stopping = true;
  m_stopDeadline = m_now + m_options.shutdownGraceMs;
  // Connections in the backlog would be reset with the listener: take them first.
  if (!m_acceptPausedUntil) AcceptAll();
  close(m_listen);
  m_listen = -1;
  m_acceptPausedUntil = 0;
  while (m_holding.head) Close(m_holding.head, "closed: the server is stopping");
  // Between two requests nothing is lost by closing. A connection that has
  // not sent its first request yet (a load balancer may be passing it on
  // right now) still gets to send it, within its usual limit.
  size_t waiting = 0;
  for (Connection* c = m_requests.head; c;) {
    Connection* next = c->next;
    if (c->replies > 0 && c->received == 0)
      Close(c, "closed: the server is stopping");
    else
      ++waiting;
    c = next;
  }
  size_t inFlight = 0;
  for (Connection* c = m_sending.head; c; c = c->next) ++inFlight;
  Log("stopping: %zu replies in flight and %zu connections waiting for their first request get up to %s", inFlight,
      waiting, Seconds(m_options.shutdownGraceMs).c_str());
}

size_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(limit.rlim_cur);
}

// A listener on the options' address and the given port; -1 after logging
// why not. Several loops share a port with SO_REUSEPORT, and only then: one
// loop alone must not be able to share its port with a server started twice.
int Listen(const std::string& host, uint16_t port, bool sharePort, FILE* log) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    LogLine(log, "cannot listen on %s:%u (%s)", host.c_str(), port, gai_strerror(resolved));
    return -1;
  }
  int listener = -1, error = 0;
  for (addrinfo* a = found; a && listener < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    const int on = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        (!sharePort || setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0) &&
        bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, kListenBacklog) == 0) {
      listener = fd;
      break;
    }
    error = errno;
    if (fd >= 0) close(fd);
  }
  freeaddrinfo(found);
  if (listener < 0) LogLine(log, "cannot listen on %s:%u (%s)", host.c_str(), port, std::strerror(error));
  return listener;
}

void LogStart(const Shared& shared, const ReplySet& replies, unsigned port) {
  const ServerOptions& o = shared.options;
  switch (o.mode) {
    case ReplyMode::Data:
      LogLine(shared.log, "serving %s (%zu bytes in %zu chunks of up to %zu bytes) on %s:%u", o.listFile.c_str(),
          replies.listSize, replies.records, replies.chunkSize, o.bindHost.c_str(), port);
      break;
    case ReplyMode::Status:
      LogLine(shared.log, "answering with a status on %s:%u", o.bindHost.c_str(), port);
      break;
    case ReplyMode::Silent:
      LogLine(shared.log, "never answering on %s:%u", o.bindHost.c_str(), port);
      break;
    case ReplyMode::BadRecord:
      LogLine(shared.log, "answering with a bad record on %s:%u", o.bindHost.c_str(), port);
      break;
  }
  const std::string perAddress = o.maxPerAddress ? std::to_string(o.maxPerAddress) : "any number";
  LogLine(shared.log,
      "limits: %zu connections%s, %s per address, %d %s, a backlog of %d; a request within %s, a stalled reply "
      "for %s; %zu bytes per connection besides the kernel's socket buffers",
      shared.maxConnections, shared.maxConnections < o.maxConnections ? " (all the descriptor limit allows)" : "",
      perAddress.c_str(), o.threads, o.threads == 1 ? "thread" : "threads", GrantedBacklog(),
      Seconds(o.requestTimeoutMs).c_str(), Seconds(o.sendTimeoutMs).c_str(), sizeof(Connection));
}

void Reload(Shared& shared) {
  std::string error;
  std::shared_ptr<const ReplySet> fresh = PrepareReplies(shared.options, &error);
  if (!fresh) {
    shared.metrics.reloadsFailed.fetch_add(1, std::memory_order_relaxed);
    LogLine(shared.log, "reload failed, still serving the previous list: %s", error.c_str());
    return;
  }
  shared.metrics.reloadsOk.fetch_add(1, std::memory_order_relaxed);
  shared.SetReplies(fresh);
  if (shared.options.mode == ReplyMode::Data)
    LogLine(shared.log, "reloaded %s: %zu bytes in %zu chunks of up to %zu bytes", shared.options.listFile.c_str(),
        fresh->listSize, fresh->records, fresh->chunkSize);
  else
    LogLine(shared.log, "reload asked: nothing to reload without a list");
}

// --watch: inotify on the list's folder. wren-publish renames a new
// filelist.dat into place (IN_MOVED_TO); a list copied over the old one is
// whole at IN_CLOSE_WRITE. A folder that is itself moved away or removed is
// watched again once there is one under its name.
class ListWatch {
 public:
  explicit ListWatch(const std::string& listFile) {
    const size_t slash = listFile.rfind('/');
    m_folder = slash == std::string::npos ? "." : slash == 0 ? "/" : listFile.substr(0, slash);
    m_name = slash == std::string::npos ? listFile : listFile.substr(slash + 1);
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  ~ListWatch() {
    if (m_fd >= 0) close(m_fd);
  }
  ListWatch(const ListWatch&) = delete;
  ListWatch& operator=(const ListWatch&) = delete;

  // False (with errno) when the folder cannot be watched.
  bool Start() { return m_fd >= 0 && Watch(); }
  int Fd() const { return m_fd; }
  bool Watching() const { return m_wd >= 0; }
  const std::string& Folder() const { return m_folder; }

  // Takes the waiting events; true when the list may have been replaced.
  bool Changed() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t got = read(m_fd, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->wd != m_wd) continue;
        if ((event->mask & (IN_MOVED_TO | IN_CLOSE_WRITE)) && event->len && m_name == event->name) changed = true;
        if (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED)) {
          // The name now leads elsewhere, or nowhere: follow the name, not the folder.
          if (!(event->mask & IN_IGNORED)) inotify_rm_watch(m_fd, m_wd);
          m_wd = -1;
          changed |= Watch();
        }
      }
    }
    return changed;
  }

  // For a folder that went away: true once it is watched again (the list in
  // it may then be a new one).
  bool Rewatch() { return !Watching() && Watch(); }

 private:
  bool Watch() {
    m_wd = inotify_add_watch(m_fd, m_folder.c_str(),
                             IN_MOVED_TO | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR);
    return m_wd >= 0;
  }

  std::string m_folder, m_name;
  int m_fd = -1;
  int m_wd = -1;
};

MetricsView ViewOf(Shared& shared) {
  MetricsView view;
  view.open = shared.open.load();
  view.maxConnections = shared.maxConnections;
  view.stopping = shared.stopping.load();
  view.threads = shared.options.threads;
  view.haveList = shared.options.mode == ReplyMode::Data;
  const std::shared_ptr<const ReplySet> replies = shared.Replies();
  view.listBytes = replies->listSize;
  view.listSha256 = replies->sha256;
  view.listLoadedAt = replies->loadedAt;
  return view;
}

// Why the server should get no new clients, or nothing when it may.
std::string HealthOf(Shared& shared, const std::vector<std::unique_ptr<Server>>& loops) {
  if (shared.stopping.load()) return "stopping";
  const int64_t now = NowMs();
  for (size_t i = 0; i < loops.size(); ++i)
    if (now - loops[i]->LastTurn() > kHealthyTurnMs)
      return "event loop " + std::to_string(i + 1) + " has not turned for " +
             std::to_string(now - loops[i]->LastTurn()) + " ms";
  if (shared.open.load() >= shared.maxConnections)
    return "at the connection limit (" + std::to_string(shared.maxConnections) + ")";
  return std::string();
}

// The main thread's part: start the loops, then take the signals (and the
// list folder's changes) until they have all ended.
int Serve(Shared& shared) {
  std::string error;
  std::shared_ptr<const ReplySet> replies = PrepareReplies(shared.options, &error);
  if (!replies) {
    LogLine(shared.log, "%s", error.c_str());
    return 1;
  }
  shared.SetReplies(replies);
  const size_t descriptors = RaiseDescriptorLimit();
  const size_t reserved = kReservedFds + kFdsPerLoop * static_cast<size_t>(shared.options.threads);
  shared.maxConnections =
      std::min(shared.options.maxConnections, descriptors > 2 * reserved ? descriptors - reserved : reserved);

  const bool sharePort = shared.options.threads > 1;
  std::vector<std::unique_ptr<Server>> loops;
  uint16_t port = shared.options.port;
  for (int i = 0; i < shared.options.threads; ++i) {
    const int listener = Listen(shared.options.bindHost, port, sharePort, shared.log);
    if (listener < 0) return 1;
    port = LocalPort(listener);  // a free port picked for the first loop serves the others too
    loops.push_back(std::make_unique<Server>(shared, listener));
    if (!loops.back()->Prepare()) {
      LogLine(shared.log, "cannot set up the event loop (%s)", std::strerror(errno));
      return 1;
    }
  }
  // Blocked before the loops start, so that only this thread takes them, and
  // before the first log line, after which a test may send them. They stay
  // blocked: the program ends after this, and one that arrives meanwhile
  // must not end it some other way.
  sigset_t mask;
  sigemptyset(&mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&mask, sig);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  const int signals = signalfd(-1, &mask, SFD_CLOEXEC);
  const int ended = eventfd(0, EFD_CLOEXEC);  // written when a loop has ended
  if (signals < 0 || ended < 0) {
    LogLine(shared.log, "cannot take the signals (%s)", std::strerror(errno));
    return 1;
  }
  std::unique_ptr<MetricsServer> metrics;
  if (!shared.options.metricsHost.empty()) {
    metrics = std::make_unique<MetricsServer>([&shared] { return FormatMetrics(shared.metrics, ViewOf(shared)); },
                                              [&shared, &loops] { return HealthOf(shared, loops); }, shared.log);
    if (!metrics->Listen(shared.options.metricsHost, shared.options.metricsPort)) return 1;
  }
  std::unique_ptr<ListWatch> watch;
  if (shared.options.watch) {
    watch = std::make_unique<ListWatch>(shared.options.listFile);
    if (!watch->Start()) {
      LogLine(shared.log, "cannot watch %s for a new list (%s)", watch->Folder().c_str(), std::strerror(errno));
      return 1;
    }
  }
  LogStart(shared, *replies, port);
  if (metrics)
    LogLine(shared.log, "metrics on http://%s:%u/metrics, health on /health", shared.options.metricsHost.c_str(),
            metrics->Port());
  if (watch) LogLine(shared.log, "watching %s for a new list", watch->Folder().c_str());
  std::fflush(shared.log);  // the loops flush on their own turns; this thread's lines must not wait for them

  std::vector<std::thread> threads;
  for (auto& loop : loops)
    threads.emplace_back([&loop, ended] {
      loop->Run();
      eventfd_write(ended, 1);
    });
  if (metrics) metrics->Start();
  for (size_t running = threads.size(); running > 0;) {
    pollfd waits[3] = {{signals, POLLIN, 0}, {ended, POLLIN, 0}, {watch ? watch->Fd() : -1, POLLIN, 0}};
    // A folder that went away is looked for again every second.
    if (poll(waits, 3, watch && !watch->Watching() ? 1000 : -1) < 0 && errno != EINTR) break;
    if (watch && ((waits[2].revents & POLLIN) ? watch->Changed() : watch->Rewatch())) {
      LogLine(shared.log, "%s was replaced: reading it again", shared.options.listFile.c_str());
      Reload(shared);
      std::fflush(shared.log);
    }
    eventfd_t count = 0;
    if ((waits[1].revents & POLLIN) && eventfd_read(ended, &count) == 0) running -= std::min<size_t>(count, running);
    signalfd_siginfo info{};
    if ((waits[0].revents & POLLIN) && read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGHUP) {
        Reload(shared);
      } else {
        shared.stopping = true;
        for (auto& loop : loops) loop->AskToStop();
      }
      std::fflush(shared.log);
    }
  }
  for (std::thread& t : threads) t.join();
  if (metrics) metrics->Stop();
  close(signals);
  close(ended);
  LogLine(shared.log, "stopped");
  return 0;
}

}  // namespace

void LogLine(FILE* log, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLog(log, format, args);
  va_end(args);
}

int ListenOn(const std::string& host, uint16_t port, bool sharePort, FILE* log) {
  return Listen(host, port, sharePort, log);
}

uint16_t LocalPort(int fd) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
  return PeerOf(local).port;
}

int RunServer(const ServerOptions& options, FILE* log) {
  Shared shared(options, log);
  const int result = Serve(shared);
  std::fflush(log);
  return result;
}

}  // namespace wren_tools
