#include "test_server.h"

namespace fileinfo_test {

namespace {
// The library's callbacks carry no user pointer; there is one server at a time.
CTestFileInfoServer* g_server = nullptr;

void PutU32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutCounted(Bytes& out, const unsigned char* p, size_t n) {
  unsigned char prefix[9];
  int end = net_write_length_prefix(prefix, 0, sizeof prefix, n);
  out.insert(out.end(), prefix, prefix + end);
  out.insert(out.end(), p, p + n);
}
}  // namespace

Bytes Reply(int32_t status, int count, int index, const Bytes& data, const std::string& text, uint32_t first,
            uint32_t second) {
  Bytes out{'$'};
  PutU32(out, first);
  PutU32(out, second);
  PutU32(out, static_cast<uint32_t>(status));
  out.push_back(static_cast<unsigned char>(count));
  out.push_back(static_cast<unsigned char>(index));
  PutCounted(out, data.data(), data.size());
  PutCounted(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return out;
}

Bytes Pattern(size_t count, unsigned seed) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(seed * 31 + i * 7 + (i >> 8));
  return out;
}

CTestFileInfoServer::~CTestFileInfoServer() {
  if (g_server == this) g_server = nullptr;
}

bool CTestFileInfoServer::Start(const ServerScript& script) {
  m_script = script;
  // Large enough to queue every scripted reply at once.
  m_pContext = net_tcpcontext_create(1, "127.0.0.1", 0, 2, 65536, 262144, 600, 0, 0, 0, 0, 0);
  if (m_pContext == nullptr) return false;
  // Raw bytes in, so the request is checked exactly as it travelled.
  net_tcpcontext_set_conn_parser(m_pContext, net_parse_raw, OnBytes);
  net_tcpcontext_set_accept_watcher(m_pContext, OnAccept);
  m_nPort = net_tcpcontext_local_port(m_pContext);
  g_server = this;
  return true;
}

void CTestFileInfoServer::Stop() {
  if (m_pContext != nullptr) net_tcpcontext_release(m_pContext);
  m_pContext = nullptr;
}

int CTestFileInfoServer::OnAccept(conn_t connection) {
  if (g_server == nullptr) return -1;
  ++g_server->m_nAccepts;
  if (g_server->m_script.action == ServerScript::kCloseOnAccept) net_conn_close(connection);
  return 0;
}

int CTestFileInfoServer::OnBytes(conn_t connection, const unsigned char* bytes, int length) {
  CTestFileInfoServer* self = g_server;
  if (self == nullptr || length <= 0) return 0;
  self->m_received.insert(self->m_received.end(), bytes, bytes + length);
  if (self->m_received.size() < self->m_script.requestSize * static_cast<size_t>(self->m_nRequests + 1)) return 0;
  ++self->m_nRequests;
  switch (self->m_script.action) {
    case ServerScript::kAnswer:
    case ServerScript::kAnswerThenClose:
      for (const Bytes& reply : self->m_script.replies)
        if (net_send_len16(connection, reply.data(), static_cast<int>(reply.size())) < 0) return -1;
      if (self->m_script.action == ServerScript::kAnswerThenClose) net_conn_close(connection);
      break;
    case ServerScript::kCloseOnRequest:
      net_conn_close(connection);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace fileinfo_test
