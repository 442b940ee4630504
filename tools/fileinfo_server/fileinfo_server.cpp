#include "fileinfo_server/fileinfo_server.h"

#include <algorithm>
#include <cstdarg>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "common/list_limits.h"
#include "net/net.h"

namespace wren_tools {
namespace {

constexpr int32_t kMaxConnections = 32;
constexpr int32_t kReadBufferSize = 4096;    // requests are 15 bytes
constexpr int32_t kWriteBufferSize = 65536;  // several whole reply records
constexpr int32_t kIdleTimeoutSec = 600;
constexpr int32_t kIdleWaitUsec = 50000;     // heartbeat pause while nothing is being sent
constexpr int32_t kSendingWaitUsec = 1000;   // short, not 0: a client that stops reading must not make us spin

// A connection whose reply records are still being queued or sent.
struct Pending {
  conn_t conn{nullptr, 0};
  size_t next = 0;  // next record to queue
};

// The middleware calls plain functions, so the serving state is file-wide.
struct Server {
  const ServerOptions* options = nullptr;
  FILE* log = nullptr;
  std::vector<std::vector<unsigned char>> replies;  // what each request is answered with
  Pending pending[kMaxConnections];
} g_server;

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::fprintf(g_server.log, "%s ", stamp);
  va_list args;
  va_start(args, format);
  std::vfprintf(g_server.log, format, args);
  va_end(args);
  std::fputc('\n', g_server.log);
  std::fflush(g_server.log);
}

std::string PeerText(conn_t c) {
  char text[64];
  const char* peer = net_conn_valid(c) ? net_format_peer(c.ptr, text, sizeof text) : nullptr;
  return peer ? peer : "?";
}

void PutU32(std::vector<unsigned char>& out, uint32_t value) {
  const size_t at = out.size();
  out.resize(at + 4);
  net_write_u32(out.data(), static_cast<int32_t>(at), static_cast<int32_t>(out.size()), value);
}

void PutCountedBytes(std::vector<unsigned char>& out, const unsigned char* data, size_t size) {
  unsigned char prefix[9];
  const int used = net_write_length_prefix(prefix, 0, sizeof prefix, size);
  out.insert(out.end(), prefix, prefix + used);
  out.insert(out.end(), data, data + size);
}

Pending* FindPending(conn_t c) {
  for (Pending& p : g_server.pending)
    if (p.conn.ptr == c.ptr && p.conn.serial == c.serial) return &p;
  return nullptr;
}

// Queues as many reply records as fit; a connection leaves the table once
// everything it was given has gone out.
void PumpReplies() {
  for (Pending& p : g_server.pending) {
    if (!p.conn.ptr) continue;
    if (!net_conn_valid(p.conn)) {
      p = Pending{};
      continue;
    }
    while (p.next < g_server.replies.size()) {
      const std::vector<unsigned char>& record = g_server.replies[p.next];
      const int sent = net_send_len16(p.conn, record.data(), static_cast<int>(record.size()));
      if (sent == NET_ERR_WRITE_ROOM) break;  // again after the heartbeat drained the queue
      if (sent < 0) {
        Log("cannot send to %s (%d): closing", PeerText(p.conn).c_str(), sent);
        net_conn_close(p.conn);
        p = Pending{};
        break;
      }
      ++p.next;
    }
    if (p.conn.ptr && p.next == g_server.replies.size() && net_buffer_used(&p.conn.ptr->wb) == 0 &&
        net_buffer_used(&p.conn.ptr->ewb) == 0)
      p = Pending{};
  }
}

bool Sending() {
  for (const Pending& p : g_server.pending)
    if (p.conn.ptr) return true;
  return false;
}

int OnRequest(conn_t c, const unsigned char* bytes, int length) {
  const std::string peer = PeerText(c);
  unsigned char message = 0;
  uint32_t pairs = 0;
  int at = net_read_u8(bytes, length, 0, &message);
  if (at >= 0 && message == kRequestMessage) at = net_read_u32(bytes, length, at, &pairs);
  if (at < 0 || message != kRequestMessage) {
    Log("unexpected record from %s (%d bytes, first byte %d): closing", peer.c_str(), length, length ? bytes[0] : -1);
    return NET_ERR_INVALID;  // released as a protocol error
  }
  std::string tags;
  for (uint32_t i = 0; i < pairs && at >= 0; ++i) {
    uint32_t tag = 0, value = 0;
    at = net_read_u32(bytes, length, at, &tag);
    if (at >= 0) at = net_read_u32(bytes, length, at, &value);
    if (at >= 0) tags += " " + std::to_string(tag) + "=" + std::to_string(value);
  }
  if (at < 0) {
    Log("malformed request from %s (%d bytes): closing", peer.c_str(), length);
    return NET_ERR_INVALID;
  }

  const ServerOptions& options = *g_server.options;
  switch (options.mode) {
    case ReplyMode::Silent:
      Log("request from %s (pairs:%s): not answering", peer.c_str(), tags.c_str());
      return 0;
    case ReplyMode::Status:
      Log("request from %s (pairs:%s): answering status %d (count %u, index %u)", peer.c_str(), tags.c_str(),
          options.status, options.statusCount, options.statusIndex);
      break;
    case ReplyMode::BadRecord:
      Log("request from %s (pairs:%s): answering with a record that is not '$'", peer.c_str(), tags.c_str());
      break;
    case ReplyMode::Data:
      Log("request from %s (pairs:%s): answering %zu chunks", peer.c_str(), tags.c_str(), g_server.replies.size());
      break;
  }
  Pending* slot = FindPending(c);  // a repeated request starts the reply again
  if (!slot) slot = FindPending(conn_t{nullptr, 0});
  if (!slot) {
    Log("too many replies in progress: closing %s", peer.c_str());
    return NET_ERR_NOROOM;
  }
  *slot = Pending{c, 0};
  return 0;
}

int OnAccept(conn_t c) {
  Log("connection from %s", PeerText(c).c_str());
  return 0;
}

int OnClose(conn_t c, int reason) {
  Log("connection from %s closed (reason %d)", PeerText(c).c_str(), reason);
  return 0;
}

// The records every request is answered with, for the chosen mode.
bool PrepareReplies(const ServerOptions& options, size_t* listSize, size_t* chunkSize) {
  *listSize = *chunkSize = 0;
  switch (options.mode) {
    case ReplyMode::Silent:
      g_server.replies.clear();
      return true;
    case ReplyMode::Status:
      g_server.replies = {BuildReply(options.status, options.statusCount, options.statusIndex, nullptr, 0)};
      return true;
    case ReplyMode::BadRecord: {
      std::vector<unsigned char> record = BuildReply(kStatusData, 1, 0, nullptr, 0);
      record[0] = '#';
      g_server.replies = {record};
      return true;
    }
    case ReplyMode::Data:
      break;
  }
  std::ifstream in(options.listFile, std::ios::binary);
  if (!in) {
    Log("cannot read %s", options.listFile.c_str());
    return false;
  }
  const std::vector<unsigned char> list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    Log("cannot read %s", options.listFile.c_str());
    return false;
  }
  *listSize = list.size();
  *chunkSize = options.chunkSize ? options.chunkSize : DefaultChunkSize(list.size());
  // The client drops whatever does not fit its buffer without a word: refuse
  // to serve a list that would arrive cut short.
  if (!ListFits(list.size(), *chunkSize)) {
    Log("%s is %zu bytes: in chunks of %zu bytes it does not fit the client's buffer of (chunk count + 1) x %zu "
        "bytes (at most %zu chunks of at most %zu bytes)",
        options.listFile.c_str(), list.size(), *chunkSize, kClientBufferUnit, kMaxChunkCount, kMaxChunkData);
    return false;
  }
  g_server.replies = BuildDataReplies(list, *chunkSize);
  return true;
}

const char* ModeText(const ServerOptions& options) {
  switch (options.mode) {
    case ReplyMode::Silent: return "never answering";
    case ReplyMode::Status: return "answering with a status";
    case ReplyMode::BadRecord: return "answering with a bad record";
    case ReplyMode::Data: break;
  }
  return "serving";
}

}  // namespace

std::vector<unsigned char> BuildReply(int32_t status, uint8_t count, uint8_t index, const unsigned char* data,
                                      size_t size) {
  std::vector<unsigned char> body;
  body.push_back(kReplyMessage);
  PutU32(body, 0);  // first and second number: the client keeps but ignores them
  PutU32(body, 0);
  PutU32(body, static_cast<uint32_t>(status));
  body.push_back(count);
  body.push_back(index);
  PutCountedBytes(body, data, size);
  PutCountedBytes(body, nullptr, 0);  // text
  return body;
}

std::vector<std::vector<unsigned char>> BuildDataReplies(const std::vector<unsigned char>& list, size_t chunkSize) {
  const size_t count = ChunkCount(list.size(), chunkSize);
  std::vector<std::vector<unsigned char>> replies;
  for (size_t i = 0; i < count; ++i) {
    const size_t from = i * chunkSize;
    const size_t size = std::min(chunkSize, list.size() - std::min(from, list.size()));
    replies.push_back(BuildReply(kStatusData, static_cast<uint8_t>(count), static_cast<uint8_t>(i),
                                 list.data() + std::min(from, list.size()), size));
  }
  return replies;
}

int RunServer(const ServerOptions& options, const volatile std::sig_atomic_t* stop, FILE* log) {
  g_server = Server{};
  g_server.options = &options;
  g_server.log = log;
  size_t listSize = 0, chunkSize = 0;
  if (!PrepareReplies(options, &listSize, &chunkSize)) return 1;

  if (net_init() != 0) {
    Log("cannot initialise the networking library (%d)", net_last_error());
    return 1;
  }
  tcpcontext* ctx = net_tcpcontext_create(1, options.bindHost.c_str(), options.port, kMaxConnections, kReadBufferSize,
                                          kWriteBufferSize, kIdleTimeoutSec, 0, 0, 0, 1, 0);
  if (!ctx) {
    Log("cannot listen on %s:%u (%d)", options.bindHost.c_str(), options.port, net_last_error());
    net_finalize();
    return 1;
  }
  net_tcpcontext_set_conn_parser(ctx, net_parse_len16, OnRequest);
  net_tcpcontext_set_accept_watcher(ctx, OnAccept);
  net_tcpcontext_set_conn_closewatcher(ctx, OnClose);

  if (options.mode == ReplyMode::Data)
    Log("serving %s (%zu bytes in %zu chunks of up to %zu bytes) on %s:%u", options.listFile.c_str(), listSize,
        g_server.replies.size(), chunkSize, options.bindHost.c_str(), net_tcpcontext_local_port(ctx));
  else
    Log("%s on %s:%u", ModeText(options), options.bindHost.c_str(), net_tcpcontext_local_port(ctx));

  while (!*stop) {
    // Each heartbeat moves at most one socket write per connection, so while
    // replies wait to be sent the heartbeat must come round quickly.
    net_socket_set_wait_usec(Sending() ? kSendingWaitUsec : kIdleWaitUsec);
    net_tick();
    PumpReplies();
  }

  Log("stopping");
  net_conn_close_tcpcontext_all(ctx);
  net_tcpcontext_release(ctx);
  net_finalize();
  Log("stopped");
  return 0;
}

}  // namespace wren_tools
