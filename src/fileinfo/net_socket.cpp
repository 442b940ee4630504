#include "fileinfo/net_socket.h"

#include <cstring>

#include "net/codec.h"
#include "net/task.h"
#include "net/tcp.h"

bool g_bNetInitialized = false;

int MapCloseReason(int reason) {
  switch (reason) {
    case 0: return 1;
    case NET_CLOSE_EOF: return NETCLOSE_EOF;
    case NET_CLOSE_DRAINED: return NETCLOSE_BY_US;
    case NET_CLOSE_DRAIN_TIMEOUT: return NETCLOSE_DRAIN_TIMEOUT;
    default: break;
  }
  if (reason >= 4 && reason <= 9) return ((reason - 3) << 16) | 4;
  return -1;
}

// ---------------------------------------------------------------------------
// CNetSocket

CNetSocket::~CNetSocket() {
  // The connection may still be draining inside the library; it must not
  // find this object again once it is gone.
  if (m_pConn != nullptr) {
    void* state = net_conn_state_buffer(m_pConn->connection, nullptr);
    if (state != nullptr) std::memset(state, 0, sizeof(CNetSocket*));
  }
  delete m_pConn;
}

bool CNetSocket::SelectFraming(int senderNo, int parserNo) {
  const net_framing* sender = net_framing_by_index(senderNo);
  const net_framing* parser = net_framing_by_index(parserNo);
  if (sender == nullptr || parser == nullptr) {
    // A holder that already carries a connection stays as it is.
    if (m_pConn != nullptr && m_pConn->context == nullptr) {
      delete m_pConn;
      m_pConn = nullptr;
    }
    return false;
  }
  // Selecting again (a second start of the library) keeps the holder, so a
  // context it still refers to is not lost.
  if (m_pConn == nullptr) m_pConn = new CNetConnHolder;
  m_pConn->sender = sender->sender;
  m_pConn->headerSize = sender->header_size;
  m_pConn->parser = parser->parser;
  return true;
}

bool CNetSocket::Connect() {
  if (m_pConn == nullptr) return false;
  tcpcontext* context = m_pConn->context;
  if (context == nullptr) {
    // The state buffer carries this object's address, so it is pointer-sized.
    context = net_tcpcontext_create(0, nullptr, 0, 1, GetReadBufferSize(), GetWriteBufferSize(), GetIdleTimeout(),
                                    GetCipherFlags(), GetKeyLength(), 1, 0,
                                    static_cast<int32_t>(sizeof(CNetSocket*)));
    if (context == nullptr) return false;
  }
  net_tcpcontext_set_conn_parser(context, m_pConn->parser, RecordHandler);
  net_tcpcontext_set_parse_passes(context, GetParsePasses());
  net_tcpcontext_set_conn_closewatcher(context, CloseWatcher);

  const std::string host = GetHost();
  conn_t connection = net_tcpcontext_connect(context, host.c_str(), GetPort());
  if (!net_conn_valid(connection)) {
    OnConnect(GetFailedResult());
    net_tcpcontext_release(context);
    m_pConn->context = nullptr;
    return false;
  }
  m_pConn->context = context;
  m_pConn->connection = connection;
  int32_t size = 0;
  void* state = net_conn_state_buffer(connection, &size);
  if (state != nullptr && size >= static_cast<int32_t>(sizeof(CNetSocket*))) {
    CNetSocket* self = this;
    std::memcpy(state, &self, sizeof self);
  }
  m_nState = NETSOCK_CONNECTING;
  OnConnecting();
  return true;
}

void CNetSocket::Close() {
  if (m_pConn == nullptr) return;
  if (net_conn_valid(m_pConn->connection)) {
    net_conn_close(m_pConn->connection);
    net_conn_set_idle_timeout(m_pConn->connection, 0);
  }
  if (g_bNetInitialized && m_pConn->context != nullptr) {
    net_tcpcontext_release(m_pConn->context);
    m_pConn->context = nullptr;
  }
}

void CNetSocket::Poll(int count) {
  for (int i = 0; i < count; ++i) {
    if (!g_bNetInitialized) continue;
    net_tick();
    CheckConnect();
  }
}

void CNetSocket::CheckConnect() {
  if (m_pConn == nullptr || m_nState != NETSOCK_CONNECTING) return;
  if (!net_conn_valid(m_pConn->connection)) {
    m_nState = NETSOCK_CLOSED;
    OnConnect(GetFailedResult());
  } else if (net_conn_write_room(m_pConn->connection) > 0) {
    m_nState = NETSOCK_CONNECTED;
    OnConnect(GetConnectedResult());
  }
}

bool CNetSocket::SendRecord(const void* bytes, int length) {
  if (m_pConn == nullptr || m_pConn->sender == nullptr || length < 0) return false;
  const int whole = length + m_pConn->headerSize;
  if (net_conn_write_room(m_pConn->connection) < whole) return false;
  return m_pConn->sender(m_pConn->connection, bytes, length) >= whole;
}

void CNetSocket::OnClose(int /*reason*/) { m_nState = NETSOCK_CLOSED; }

CNetSocket* CNetSocket::FromConnection(conn_t connection) {
  int32_t size = 0;
  void* state = net_conn_state_buffer(connection, &size);
  if (state == nullptr || size < static_cast<int32_t>(sizeof(CNetSocket*))) return nullptr;
  CNetSocket* socket = nullptr;
  std::memcpy(&socket, state, sizeof socket);
  return socket;
}

int CNetSocket::RecordHandler(conn_t connection, const unsigned char* bytes, int length) {
  if (!net_conn_valid(connection)) return -1;
  if (length <= 0) return 0;
  CNetSocket* socket = FromConnection(connection);
  if (socket == nullptr) return -1;
  return socket->OnReceive(bytes, length);
}

int CNetSocket::CloseWatcher(conn_t connection, int reason) {
  CNetSocket* socket = FromConnection(connection);
  if (socket != nullptr) socket->OnClose(MapCloseReason(reason));
  return 0;
}

// ---------------------------------------------------------------------------
// CAllFilesCheckerSocket

CAllFilesCheckerSocket::~CAllFilesCheckerSocket() { Disconnect(); }

void CAllFilesCheckerSocket::GetNetLimits(net_limits* limits) const {
  net_limits_reset(limits);
  limits->max_tcpcontext = 1;
  limits->max_taskworld = 0;
  limits->max_conn = 1;
  limits->max_hashtable = 0;
}

bool CAllFilesCheckerSocket::Initialize() {
  net_limits limits;
  GetNetLimits(&limits);
  if (net_init_with_limits(&limits) < 0) return false;
  g_bNetInitialized = true;
  return SelectFraming(0, 0);
}

void CAllFilesCheckerSocket::Close() {
  CNetSocket::Close();
  if (g_bNetInitialized) {
    net_finalize();
    g_bNetInitialized = false;
  }
}

void CAllFilesCheckerSocket::OnClose(int reason) {
  CNetSocket::OnClose(reason);
  OnDisconnected(reason);
}

void CAllFilesCheckerSocket::OnConnected(int result) {
  if (result == 0) {
    OnEvent(NETEVENT_CONNECTED, 0, 0, 0, nullptr);
    return;
  }
  Disconnect();
  OnEvent(NETEVENT_CONNECT_FAILED, 0, 0, result, nullptr);
}

void CAllFilesCheckerSocket::OnDisconnected(int reason) {
  Disconnect();
  OnEvent(NETEVENT_CLOSED, 0, 0, reason, nullptr);
}

void CAllFilesCheckerSocket::OnFailure(int code, int extra) {
  Disconnect();
  OnEvent(NETEVENT_ERROR, 0, extra, code, nullptr);
}

int CAllFilesCheckerSocket::OnRecord(const unsigned char* bytes, int length) {
  if (length <= 0 || bytes[0] != '$') return -1;
  uint32_t first = 0, second = 0, status = 0;
  unsigned char count = 0, index = 0;
  int at = 1;
  if ((at = net_read_u32(bytes, length, at, &first)) < 0) return at;
  if ((at = net_read_u32(bytes, length, at, &second)) < 0) return at;
  if ((at = net_read_u32(bytes, length, at, &status)) < 0) return at;
  if ((at = net_read_u8(bytes, length, at, &count)) < 0) return at;
  if ((at = net_read_u8(bytes, length, at, &index)) < 0) return at;

  CVersionNotifyObj record;
  record.m_data.resize(kReplyChunkCapacity);
  int32_t dataLength = kReplyChunkCapacity;
  if ((at = net_read_counted_bytes(bytes, length, at, record.m_data.data(), &dataLength)) < 0) return at;
  record.m_data.resize(static_cast<size_t>(dataLength));

  unsigned char text[kReplyTextCapacity];
  int32_t textLength = kReplyTextCapacity;
  if ((at = net_read_counted_bytes(bytes, length, at, text, &textLength)) < 0) return at;
  record.m_strText.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(textLength));

  record.m_nFirst = static_cast<int>(first);
  record.m_nSecond = static_cast<int>(second);
  record.m_nChunkCount = count;
  record.m_nChunkIndex = index;
  OnEvent(NETEVENT_RECORD, static_cast<signed char>(bytes[0]), 0, static_cast<int>(status), &record);
  return 0;
}

int CAllFilesCheckerSocket::ConnectTo(const std::string& host, uint16_t port) {
  m_strHost = host;
  m_nPort = port;
  return Connect() ? 0 : -1;
}

bool CAllFilesCheckerSocket::Disconnect() {
  if (m_pConn == nullptr) return false;
  if (net_conn_valid(m_pConn->connection)) {
    net_conn_close(m_pConn->connection);
    net_conn_set_idle_timeout(m_pConn->connection, 0);
  }
  return true;
}

bool CAllFilesCheckerSocket::IsAlive() const {
  return m_pConn != nullptr && net_conn_valid(m_pConn->connection);
}

bool CAllFilesCheckerSocket::SendTaggedValues(uint32_t tag, const std::vector<uint32_t>& values) {
  if (values.empty()) return false;
  unsigned char buffer[kRequestBufferSize];
  buffer[0] = kFileInfoRequestMessage;
  int at = net_write_u32(buffer, 1, sizeof buffer, static_cast<uint32_t>(values.size()));
  for (uint32_t value : values) {
    if (at >= 0) at = net_write_u32(buffer, at, sizeof buffer, tag);
    if (at >= 0) at = net_write_u32(buffer, at, sizeof buffer, value);
  }
  if (at < 0) return false;
  return SendRecord(buffer, at);
}

bool CAllFilesCheckerSocket::SendTaggedValue(uint32_t tag, uint32_t value) {
  return SendTaggedValues(tag, std::vector<uint32_t>{value});
}
