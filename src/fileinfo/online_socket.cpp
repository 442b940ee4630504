#include "fileinfo/online_socket.h"

int g_nConnectState = CONNECT_WAITING;
bool g_bConnectionLost = false;
int g_nReplyState = REPLY_WAITING;

void CWrenOnlineSocket::OnEvent(int type, int a, int /*b*/, int c, const CVersionNotifyObj* record) {
  switch (type) {
    case NETEVENT_CONNECTED:
      g_nConnectState = CONNECT_DONE;
      break;
    case NETEVENT_CONNECT_FAILED:
      g_nConnectState = CONNECT_FAILED;
      break;
    case NETEVENT_CLOSED:
      // Our own close, drained, is the normal end of the exchange.
      if (c != NETCLOSE_BY_US) g_bConnectionLost = true;
      break;
    case NETEVENT_ERROR:
      g_bConnectionLost = true;
      break;
    case NETEVENT_RECORD:
      if (a == '$' && record != nullptr) OnReply(c, *record);
      break;
    default:
      break;
  }
}

void CWrenOnlineSocket::OnReply(int status, const CVersionNotifyObj& reply) {
  switch (status) {
    case REPLY_STATUS_CHUNK:
      if (reply.m_nChunkIndex == 0) {
        // The first chunk (again) starts the block anew.
        const uint32_t kilobytes = static_cast<uint32_t>(reply.m_nChunkCount) + 1;
        if (m_pListTarget == nullptr || !m_pListTarget->AllocListBuffer(kilobytes)) {
          g_nReplyState = REPLY_FATAL;
          return;
        }
      }
      // A chunk that does not fit is dropped; the engine's unpacking finds
      // the list incomplete.
      if (m_pListTarget != nullptr && !reply.m_data.empty())
        m_pListTarget->AppendListBuffer(reply.m_data.data(), static_cast<uint32_t>(reply.m_data.size()));
      if (reply.m_nChunkIndex == reply.m_nChunkCount - 1) g_nReplyState = REPLY_COMPLETE;
      break;
    case REPLY_STATUS_UPDATED:
      g_nReplyState = REPLY_UPDATED;
      break;
    case REPLY_STATUS_NO_SERVICE:
      g_nReplyState = REPLY_NO_SERVICE;
      break;
    case REPLY_STATUS_MAINTENANCE:
    case REPLY_STATUS_BUSY:
      // Only the closing record of such a reply counts.
      if (reply.m_nChunkCount == reply.m_nChunkIndex)
        g_nReplyState = status == REPLY_STATUS_MAINTENANCE ? REPLY_MAINTENANCE : REPLY_BUSY;
      break;
    default:
      g_nReplyState = REPLY_FATAL;
      break;
  }
}
