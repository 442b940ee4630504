// What the server says: request checks and reply records, encoded with the
// networking middleware's value codecs and 2-byte length framing so that the
// bytes on the wire are the ones the starter's side of the middleware reads.
#include "fileinfo_server/fileinfo_server.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>

#include "common/list_limits.h"
#include "net/net.h"
#include "trust/sha256.h"

namespace wren_tools {
namespace {

constexpr int kLengthHeader = 2;

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

std::shared_ptr<ReplySet> Framed(const std::vector<std::vector<unsigned char>>& bodies) {
  auto set = std::make_shared<ReplySet>();
  for (const std::vector<unsigned char>& body : bodies) {
    unsigned char header[kLengthHeader];
    net_write_length_header(header, kLengthHeader, static_cast<uint32_t>(body.size()));
    set->wire.insert(set->wire.end(), header, header + kLengthHeader);
    set->wire.insert(set->wire.end(), body.begin(), body.end());
  }
  set->records = bodies.size();
  return set;
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

std::shared_ptr<const ReplySet> PrepareReplies(const ServerOptions& options, std::string* error) {
  switch (options.mode) {
    case ReplyMode::Silent:
      return Framed({});
    case ReplyMode::Status:
      return Framed({BuildReply(options.status, options.statusCount, options.statusIndex, nullptr, 0)});
    case ReplyMode::BadRecord: {
      std::vector<unsigned char> record = BuildReply(kStatusData, 1, 0, nullptr, 0);
      record[0] = '#';
      return Framed({record});
    }
    case ReplyMode::Data:
      break;
  }
  std::ifstream in(options.listFile, std::ios::binary);
  const std::vector<unsigned char> list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    *error = "cannot read " + options.listFile;
    return nullptr;
  }
  const size_t chunkSize = options.chunkSize ? options.chunkSize : DefaultChunkSize(list.size());
  // The client drops whatever does not fit its buffer without a word: refuse
  // to serve a list that would arrive cut short.
  if (!ListFits(list.size(), chunkSize)) {
    *error = options.listFile + " is " + std::to_string(list.size()) + " bytes: in chunks of " +
             std::to_string(chunkSize) + " bytes it does not fit the client's buffer of (chunk count + 1) x " +
             std::to_string(kClientBufferUnit) + " bytes (at most " + std::to_string(kMaxChunkCount) +
             " chunks of at most " + std::to_string(kMaxChunkData) + " bytes)";
    return nullptr;
  }
  std::shared_ptr<ReplySet> set = Framed(BuildDataReplies(list, chunkSize));
  set->listSize = list.size();
  set->chunkSize = chunkSize;
  static const char kHex[] = "0123456789abcdef";
  for (uint8_t byte : CSha256::Of(list.data(), list.size())) {
    set->sha256 += kHex[byte >> 4];
    set->sha256 += kHex[byte & 15];
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  set->loadedAt = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
  return set;
}

RequestCheck CheckRequest(const unsigned char* body, size_t length, std::string* pairs) {
  const int32_t size = static_cast<int32_t>(length);
  unsigned char message = 0;
  uint32_t count = 0;
  int at = net_read_u8(body, size, 0, &message);
  if (at < 0 || message != kRequestMessage) return RequestCheck::Foreign;
  at = net_read_u32(body, size, at, &count);
  pairs->clear();
  for (uint32_t i = 0; i < count && at >= 0; ++i) {
    uint32_t tag = 0, value = 0;
    at = net_read_u32(body, size, at, &tag);
    if (at >= 0) at = net_read_u32(body, size, at, &value);
    if (at >= 0) *pairs += " " + std::to_string(tag) + "=" + std::to_string(value);
  }
  return at < 0 ? RequestCheck::Malformed : RequestCheck::Ok;
}

}  // namespace wren_tools
