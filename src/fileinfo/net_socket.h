// Object face of one client connection of the networking middleware.
//
// CNetSocket owns the connection and turns the library's callbacks into
// virtual calls; CAllFilesCheckerSocket adds the server address, the
// library's start and end, the request builder and the decoding of "$" reply
// records, and folds every happening into one OnEvent. Everything runs on the
// user-interface thread: the library calls back only from inside Poll.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/conn.h"
#include "net/core.h"
#include "net/framing.h"

// Set once the library has been initialised by Initialize; cleared when
// CAllFilesCheckerSocket::Close finalises it.
extern bool g_bNetInitialized;

// Connection states of CNetSocket::m_nState.
enum : int { NETSOCK_IDLE = 0, NETSOCK_CONNECTING = 1, NETSOCK_CONNECTED = 2, NETSOCK_CLOSED = 3 };

// Events of CAllFilesCheckerSocket::OnEvent.
enum : int {
  NETEVENT_CONNECTED = 0,
  NETEVENT_CONNECT_FAILED = 1,  // c = result
  NETEVENT_CLOSED = 2,          // c = mapped close reason
  NETEVENT_ERROR = 3,           // c = code
  NETEVENT_RECORD = 4,          // a = first byte, c = status, record = the decoded reply
};

// Close reasons as the socket reports them (see MapCloseReason).
enum : int {
  NETCLOSE_BY_US = 0,  // this side closed and everything was sent
  NETCLOSE_EOF = 2,    // end of stream or a socket error
  NETCLOSE_DRAIN_TIMEOUT = 3,
  NETCLOSE_DECODE = 0x10004,
  NETCLOSE_ENCODE = 0x20004,
  NETCLOSE_PROTOCOL = 0x30004,
};

// Turns the library's close reason into the socket's.
int MapCloseReason(int reason);

// Connection holder: lives from SelectFraming to the socket's destructor.
struct CNetConnHolder {
  tcpcontext* context = nullptr;
  conn_t connection{nullptr, 0};
  net_parser_fn parser = nullptr;
  net_sender_fn sender = nullptr;
  int headerSize = 0;
};

class CNetSocket {
 public:
  CNetSocket() = default;
  virtual ~CNetSocket();
  CNetSocket(const CNetSocket&) = delete;
  CNetSocket& operator=(const CNetSocket&) = delete;

  virtual const char* GetRuntimeClassName() const { return "CNetSocket"; }

  // Framings by number: 0 2-byte length, 1 4-byte length, 2 text line, 3 none.
  virtual bool SelectFraming(int senderNo, int parserNo);
  virtual void Close();
  // count heartbeats of the library, each followed by the connect check.
  virtual void Poll(int count);
  virtual void CheckConnect();
  virtual std::string GetHost() const { return std::string(); }
  virtual uint16_t GetPort() const { return 0; }
  virtual int GetIdleTimeout() const { return 120; }
  virtual int GetReadBufferSize() const { return 4096; }
  virtual int GetWriteBufferSize() const { return 4096; }
  virtual uint32_t GetCipherFlags() const { return 0; }
  virtual int GetKeyLength() const { return 0; }
  virtual int GetParsePasses() const { return 1; }
  virtual void OnConnecting() {}
  // Queues one whole record, or nothing.
  virtual bool SendRecord(const void* bytes, int length);
  virtual void OnConnect(int /*result*/) {}
  virtual void OnError(int /*code*/) {}
  virtual int GetConnectedResult() const { return 0; }
  virtual int GetFailedResult() const { return -1; }
  // A negative result makes the library drop the connection as a protocol error.
  virtual int OnReceive(const unsigned char* /*bytes*/, int /*length*/) { return 0; }
  virtual void OnClose(int reason);

  bool Connect();

  const CNetConnHolder* GetHolder() const { return m_pConn; }

  CNetConnHolder* m_pConn = nullptr;
  int m_nState = NETSOCK_IDLE;

 private:
  static int RecordHandler(conn_t connection, const unsigned char* bytes, int length);
  static int CloseWatcher(conn_t connection, int reason);
  static CNetSocket* FromConnection(conn_t connection);
};

// A decoded "$" reply record; lives only while its event is handled.
struct CVersionNotifyObj {
  int m_nFirst = 0;
  int m_nSecond = 0;
  int m_nChunkCount = 0;
  int m_nChunkIndex = 0;
  std::vector<unsigned char> m_data;
  std::string m_strText;
};

// Longest chunk and text a reply record may carry.
inline constexpr int kReplyChunkCapacity = 8192;
inline constexpr int kReplyTextCapacity = 256;

class CAllFilesCheckerSocket : public CNetSocket {
 public:
  ~CAllFilesCheckerSocket() override;

  const char* GetRuntimeClassName() const override { return "CAllFilesCheckerSocket"; }

  void Close() override;
  std::string GetHost() const override { return m_strHost; }
  uint16_t GetPort() const override { return m_nPort; }
  int GetReadBufferSize() const override { return 32768; }
  int GetWriteBufferSize() const override { return 32768; }
  void OnConnect(int result) override { OnConnected(result); }
  void OnError(int code) override { OnFailure(code, 0); }
  int OnReceive(const unsigned char* bytes, int length) override { return OnRecord(bytes, length); }
  void OnClose(int reason) override;

  // Starts the library (once per process) and selects the 2-byte length framing.
  virtual bool Initialize();
  virtual void OnEvent(int type, int a, int b, int c, const CVersionNotifyObj* record) = 0;
  virtual void OnConnected(int result);
  virtual void OnDisconnected(int reason);
  virtual void OnFailure(int code, int extra);
  virtual int OnRecord(const unsigned char* bytes, int length);

  // 0, or -1 when the connect cannot be started.
  int ConnectTo(const std::string& host, uint16_t port);
  // false only without a holder.
  bool Disconnect();
  bool IsAlive() const;
  bool IsOpen() const { return m_nState == NETSOCK_CONNECTING || m_nState == NETSOCK_CONNECTED; }
  // One record: byte 23, the pair count, then each tag and value (all u32).
  bool SendTaggedValues(uint32_t tag, const std::vector<uint32_t>& values);
  bool SendTaggedValue(uint32_t tag, uint32_t value);

  std::string m_strHost;
  uint16_t m_nPort = 0;

 protected:
  // The library's limits: one context and one connection are all the
  // client needs.
  virtual void GetNetLimits(net_limits* limits) const;
};

// Message number of the file-information request.
inline constexpr unsigned char kFileInfoRequestMessage = 23;
// Most (tag, value) pairs one request buffer takes.
inline constexpr int kRequestBufferSize = 512;
