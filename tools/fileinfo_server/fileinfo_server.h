// The file-information server: answers each file-information request with
// the file-list data cut into "$" reply records on the 2-byte length framing.
// On epoll loops built for launch day (one thread each, one by default): many
// thousands of connections, slow or hostile clients dropped on time limits,
// the list reloaded on SIGHUP (and with --watch when it is replaced), a
// graceful stop on SIGTERM, and figures for Prometheus (metrics.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace wren_tools {

// Request: message 23, a pair count, then (tag, value) pairs.
inline constexpr unsigned char kRequestMessage = 23;
inline constexpr unsigned char kReplyMessage = '$';
inline constexpr int32_t kStatusData = 1;

// The largest request record taken, header included: the starter's is 15
// bytes; room for a dozen pairs more is plenty.
inline constexpr size_t kMaxRequestRecord = 112;

enum class ReplyMode {
  Data,       // the list in chunks, status 1
  Status,     // one record with a chosen status and no data
  Silent,     // log the request and never answer
  BadRecord,  // one record whose first byte is not '$'
};

struct ServerOptions {
  std::string listFile;  // packed file-list data, read at start and on SIGHUP
  bool watch = false;    // also read it again whenever it is replaced (inotify on its folder)
  std::string metricsHost;  // empty: no metrics listener
  uint16_t metricsPort = 0;
  std::string bindHost = "127.0.0.1";
  uint16_t port = 9070;  // 0: any free port (the log names it)
  size_t chunkSize = 0;  // 0: the default for the list's size
  ReplyMode mode = ReplyMode::Data;
  int32_t status = 0;    // ReplyMode::Status
  uint8_t statusCount = 0;  // chunk count and index sent with a status
  uint8_t statusIndex = 0;

  // Limits. Connections beyond them are accepted and closed at once, with a
  // log line, so that they never wait in the backlog for nothing.
  size_t maxConnections = 20000;  // lowered to what the file-descriptor limit allows
  size_t maxPerAddress = 0;       // 0: no limit (behind a load balancer every peer is the balancer)
  int requestTimeoutMs = 5000;    // from accept (or the end of a reply) to a complete request
  int sendTimeoutMs = 10000;      // a reply that makes no progress for this long is dropped
  int silentHoldMs = 600000;      // how long --silent keeps a connection that asked
  int shutdownGraceMs = 10000;    // replies in flight at SIGTERM get this long to finish
  int threads = 1;                // event loops, each with its own listener on the port
};

// Reply record bodies.
std::vector<unsigned char> BuildReply(int32_t status, uint8_t count, uint8_t index, const unsigned char* data,
                                      size_t size);
std::vector<std::vector<unsigned char>> BuildDataReplies(const std::vector<unsigned char>& list, size_t chunkSize);

// What every request is answered with: the reply records framed as they go
// on the wire, shared by all connections that are sending them.
struct ReplySet {
  std::vector<unsigned char> wire;
  size_t records = 0;
  size_t listSize = 0;
  size_t chunkSize = 0;
  std::string sha256;     // of the list, hex; empty without one
  double loadedAt = 0;    // Unix time the list was read
};

// Builds the replies for the options' mode (reading the list in Data mode).
// Null with *error set when the list cannot be read or served whole.
std::shared_ptr<const ReplySet> PrepareReplies(const ServerOptions& options, std::string* error);

enum class RequestCheck { Ok, Foreign, Malformed };
// Checks a request record body; on Ok, *pairs lists its pairs as " tag=value".
RequestCheck CheckRequest(const unsigned char* body, size_t length, std::string* pairs);

// One log line with a UTC time stamp, written whole so that the lines of
// several threads never mix.
void LogLine(FILE* log, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A listener on host:port (0: any free port); -1 after logging why not.
// sharePort: SO_REUSEPORT, for several loops on one port.
int ListenOn(const std::string& host, uint16_t port, bool sharePort, FILE* log);
uint16_t LocalPort(int fd);

// Serves until SIGINT or SIGTERM (which it blocks and takes over in the
// calling thread, with SIGHUP for a reload). Log lines go to log. Returns 0,
// or 1 after logging why the server could not start.
int RunServer(const ServerOptions& options, FILE* log);

}  // namespace wren_tools
