// The file-information server: answers each file-information request with
// the file-list data cut into "$" reply records on the 2-byte length framing.
// Runs on the networking middleware's server-side context, single-threaded.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wren_tools {

// Request: message 23, a pair count, then (tag, value) pairs.
inline constexpr unsigned char kRequestMessage = 23;
inline constexpr unsigned char kReplyMessage = '$';
inline constexpr int32_t kStatusData = 1;

enum class ReplyMode {
  Data,       // the list in chunks, status 1
  Status,     // one record with a chosen status and no data
  Silent,     // log the request and never answer
  BadRecord,  // one record whose first byte is not '$'
};

struct ServerOptions {
  std::string listFile;  // packed file-list data, read once at start
  std::string bindHost = "127.0.0.1";
  uint16_t port = 9070;  // 0: any free port (the log names it)
  size_t chunkSize = 0;  // 0: the default for the list's size
  ReplyMode mode = ReplyMode::Data;
  int32_t status = 0;    // ReplyMode::Status
  uint8_t statusCount = 0;  // chunk count and index sent with a status
  uint8_t statusIndex = 0;
};

// Reply record bodies.
std::vector<unsigned char> BuildReply(int32_t status, uint8_t count, uint8_t index, const unsigned char* data,
                                      size_t size);
std::vector<std::vector<unsigned char>> BuildDataReplies(const std::vector<unsigned char>& list, size_t chunkSize);

// Serves until *stop becomes non-zero (a signal handler sets it). Log lines go
// to log. Returns 0, or 1 after logging why the server could not start.
int RunServer(const ServerOptions& options, const volatile std::sig_atomic_t* stop, FILE* log);

}  // namespace wren_tools
