// Reply records straight from the network: the input is split into records
// (2-byte length each, as on the wire) and handed to the session socket one
// by one, with a real file-list block behind it. Nothing may read or write
// outside the record or the block, and the session state must stay in range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fileinfo/list_buffer.h"
#include "fileinfo/online_socket.h"

namespace {

class CBlockTarget : public CFileListTarget {
 public:
  bool AllocListBuffer(uint32_t kilobytes) override { return m_block.Alloc(kilobytes); }
  bool AppendListBuffer(const void* data, uint32_t length) override { return m_block.Append(data, length); }
  CFileListBuffer m_block;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CBlockTarget target;
  CWrenOnlineSocket socket;
  socket.SetListTarget(&target);
  g_nReplyState = REPLY_WAITING;
  size_t at = 0;
  while (at + 2 <= size) {
    size_t length = static_cast<size_t>(data[at]) << 8 | data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    socket.OnRecord(data + at, static_cast<int>(length));
    at += length;
  }
  if (g_nReplyState < REPLY_WAITING || g_nReplyState > REPLY_FATAL) std::abort();
  if (target.m_block.GetSize(false) > target.m_block.GetSize(true)) std::abort();
  return 0;
}
