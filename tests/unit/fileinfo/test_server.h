// A tiny file-information server on the middleware's server-side context,
// inside the test process: it shares the library with the client under test,
// so the client's own heartbeat (Poll) serves both ends. It collects the
// request bytes as they come and, once the 15-byte request is in, acts as
// its script says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/net.h"

namespace fileinfo_test {

using Bytes = std::vector<unsigned char>;

// Body of a "$" reply record.
Bytes Reply(int32_t status, int count, int index, const Bytes& data = {}, const std::string& text = "",
            uint32_t first = 0, uint32_t second = 0);
// count bytes of a recognisable pattern, different per seed.
Bytes Pattern(size_t count, unsigned seed);

// The request every fetch must send, with its 2-byte length header.
inline const Bytes kRequestOnWire = {0x00, 0x0D, 0x17, 0x00, 0x00, 0x00, 0x01, 0x00,
                                     0x0F, 0xAF, 0xA0, 0x00, 0x00, 0x00, 0x00};

struct ServerScript {
  enum Action {
    kAnswer,           // send the replies, keep the connection
    kAnswerThenClose,  // send the replies, then close
    kSilent,           // never answer
    kCloseOnRequest,   // close without a word
    kCloseOnAccept,    // close as soon as the client is in
  };
  Action action = kAnswer;
  std::vector<Bytes> replies;
  // Bytes that make the request complete (other than 15 for odd requests).
  size_t requestSize = kRequestOnWire.size();
};

class CTestFileInfoServer {
 public:
  CTestFileInfoServer() = default;
  ~CTestFileInfoServer();
  CTestFileInfoServer(const CTestFileInfoServer&) = delete;
  CTestFileInfoServer& operator=(const CTestFileInfoServer&) = delete;

  // Listens on 127.0.0.1 and a free port (the library must be running).
  bool Start(const ServerScript& script);
  // Stops listening; the port stays known.
  void Stop();
  uint16_t Port() const { return m_nPort; }
  bool Running() const { return m_pContext != nullptr; }

  const Bytes& Received() const { return m_received; }
  int Accepts() const { return m_nAccepts; }
  int Requests() const { return m_nRequests; }

 private:
  static int OnAccept(conn_t connection);
  static int OnBytes(conn_t connection, const unsigned char* bytes, int length);

  ServerScript m_script;
  tcpcontext* m_pContext = nullptr;
  uint16_t m_nPort = 0;
  Bytes m_received;
  int m_nAccepts = 0;
  int m_nRequests = 0;
};

}  // namespace fileinfo_test
