// The socket classes: framings, the library's set-up, close reasons, the
// decoding of reply records, the session state the events feed, and the
// request builder on a real connection.
#include <gtest/gtest.h>

#include <memory>

#include "harness.h"

namespace fileinfo_test {
namespace {

struct Event {
  int type, a, b, c;
  bool hasRecord;
  CVersionNotifyObj record;
};

class CRecordingSocket : public CAllFilesCheckerSocket {
 public:
  void OnEvent(int type, int a, int b, int c, const CVersionNotifyObj* record) override {
    m_events.push_back(Event{type, a, b, c, record != nullptr, record != nullptr ? *record : CVersionNotifyObj()});
  }
  std::vector<Event> m_events;
};

TEST(CloseReason, Mapping) {
  const struct {
    int library, socket;
  } cases[] = {{0, 1},       {1, 2},       {2, 0},       {3, 3},  {4, 0x10004}, {5, 0x20004},
               {6, 0x30004}, {9, 0x60004}, {10, -1},     {-1, -1}};
  for (const auto& c : cases) EXPECT_EQ(c.socket, MapCloseReason(c.library)) << c.library;
}

TEST(Framing, SelectByNumber) {
  const struct {
    int sender, parser;
    bool ok;
    int header;
    net_parser_fn parserFn;
  } cases[] = {{0, 0, true, 2, net_parse_len16},  {1, 2, true, 4, net_parse_line}, {2, 3, true, 1, net_parse_raw},
               {3, 1, true, 0, net_parse_len32},  {4, 0, false, 0, nullptr},       {0, -1, false, 0, nullptr}};
  for (const auto& c : cases) {
    CRecordingSocket socket;
    EXPECT_EQ(c.ok, socket.SelectFraming(c.sender, c.parser)) << c.sender << "," << c.parser;
    if (!c.ok) {
      EXPECT_EQ(nullptr, socket.GetHolder());
      continue;
    }
    ASSERT_NE(nullptr, socket.GetHolder());
    EXPECT_EQ(c.header, socket.GetHolder()->headerSize);
    EXPECT_EQ(c.parserFn, socket.GetHolder()->parser);
    EXPECT_EQ(nullptr, socket.GetHolder()->context);
  }
}

TEST(SessionSocket, SettingsOfTheFileInformationSession) {
  CWrenOnlineSocket socket;
  EXPECT_STREQ("CWrenOnlineSocket", socket.GetRuntimeClassName());
  EXPECT_EQ(600, socket.GetIdleTimeout());
  EXPECT_EQ(10, socket.GetParsePasses());
  EXPECT_EQ(32768, socket.GetReadBufferSize());
  EXPECT_EQ(32768, socket.GetWriteBufferSize());
  EXPECT_EQ(0u, socket.GetCipherFlags());
  EXPECT_EQ(0, socket.GetPort());
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_FALSE(socket.IsAlive());
  // No holder yet: nothing to close, nothing to send.
  EXPECT_FALSE(socket.Disconnect());
  EXPECT_FALSE(socket.SendTaggedValue(kFileInfoRequestTag, 0));
}

TEST(SessionSocket, InitializeStartsTheLibraryForOneConnection) {
  ASSERT_FALSE(g_bNetInitialized);
  CWrenOnlineSocket socket;
  socket.Poll(3);  // before the library runs: nothing happens
  EXPECT_EQ(NETSOCK_IDLE, socket.m_nState);

  ASSERT_TRUE(socket.Initialize());
  EXPECT_TRUE(g_bNetInitialized);
  const net_limits& limits = net_current_limits();
  EXPECT_EQ(1, limits.max_tcpcontext);
  EXPECT_EQ(0, limits.max_taskworld);
  EXPECT_EQ(1, limits.max_conn);
  EXPECT_EQ(0, limits.max_hashtable);
  ASSERT_NE(nullptr, socket.GetHolder());
  EXPECT_EQ(net_parse_len16, socket.GetHolder()->parser);
  EXPECT_EQ(net_send_len16, socket.GetHolder()->sender);
  EXPECT_EQ(2, socket.GetHolder()->headerSize);

  socket.Close();
  EXPECT_FALSE(g_bNetInitialized);
  socket.Poll(1);  // after the library ended: nothing happens either
}

// A "$" record with every field set.
Bytes FullRecord() { return Reply(-100, 3, 2, Bytes{'a', 'b', 'c'}, "hi", 0x01020304u, 5); }

TEST(ReplyDecoding, AllFields) {
  CRecordingSocket socket;
  const Bytes record = FullRecord();
  EXPECT_EQ(0, socket.OnRecord(record.data(), static_cast<int>(record.size())));
  ASSERT_EQ(1u, socket.m_events.size());
  const Event& e = socket.m_events[0];
  EXPECT_EQ(NETEVENT_RECORD, e.type);
  EXPECT_EQ('$', e.a);
  EXPECT_EQ(-100, e.c);
  ASSERT_TRUE(e.hasRecord);
  EXPECT_EQ(0x01020304, e.record.m_nFirst);
  EXPECT_EQ(5, e.record.m_nSecond);
  EXPECT_EQ(3, e.record.m_nChunkCount);
  EXPECT_EQ(2, e.record.m_nChunkIndex);
  EXPECT_EQ((Bytes{'a', 'b', 'c'}), e.record.m_data);
  EXPECT_EQ("hi", e.record.m_strText);
}

TEST(ReplyDecoding, EveryTruncationIsRefusedWithoutAnEvent) {
  const Bytes record = FullRecord();
  for (size_t n = 1; n < record.size(); ++n) {
    CRecordingSocket socket;
    EXPECT_LT(socket.OnRecord(record.data(), static_cast<int>(n)), 0) << n;
    EXPECT_TRUE(socket.m_events.empty()) << n;
  }
}

TEST(ReplyDecoding, SizeLimitsAndForeignRecords) {
  const struct {
    const char* name;
    Bytes record;
    bool ok;
  } cases[] = {
      {"largest chunk", Reply(1, 1, 0, Pattern(8192, 1)), true},
      {"chunk one byte too long", Reply(1, 1, 0, Pattern(8193, 1)), false},
      {"longest text", Reply(1, 1, 0, {}, std::string(256, 't')), true},
      {"text one byte too long", Reply(1, 1, 0, {}, std::string(257, 't')), false},
      {"other message number", Bytes{'#', 0, 0, 0, 0}, false},
      {"message number only", Bytes{'$'}, false},
      {"invalid length prefix", Bytes{'$', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 255}, false},
  };
  for (const auto& c : cases) {
    CRecordingSocket socket;
    const int r = socket.OnRecord(c.record.data(), static_cast<int>(c.record.size()));
    EXPECT_EQ(c.ok, r == 0) << c.name << ": " << r;
    EXPECT_EQ(c.ok ? 1u : 0u, socket.m_events.size()) << c.name;
  }
}

TEST(SessionState, EventsFeedTheSessionState) {
  CWrenOnlineSocket socket;
  g_nConnectState = CONNECT_WAITING;
  socket.OnEvent(NETEVENT_CONNECTED, 0, 0, 0, nullptr);
  EXPECT_EQ(CONNECT_DONE, g_nConnectState);
  socket.OnEvent(NETEVENT_CONNECT_FAILED, 0, 0, -1, nullptr);
  EXPECT_EQ(CONNECT_FAILED, g_nConnectState);

  // Only a close that this side made and drained is not a loss.
  const struct {
    int reason;
    bool lost;
  } closes[] = {{NETCLOSE_BY_US, false}, {1, true}, {NETCLOSE_EOF, true}, {NETCLOSE_DRAIN_TIMEOUT, true},
                {NETCLOSE_PROTOCOL, true}, {-1, true}};
  for (const auto& c : closes) {
    g_bConnectionLost = false;
    socket.OnClose(c.reason);  // as the close watcher delivers it
    EXPECT_EQ(c.lost, g_bConnectionLost) << c.reason;
    EXPECT_EQ(NETSOCK_CLOSED, socket.m_nState);
  }
  g_bConnectionLost = false;
  socket.OnError(-10);
  EXPECT_TRUE(g_bConnectionLost);

  // A record event counts only for the "$" message.
  CVersionNotifyObj reply;
  g_nReplyState = REPLY_WAITING;
  socket.OnEvent(NETEVENT_RECORD, '#', 0, -3, &reply);
  EXPECT_EQ(REPLY_WAITING, g_nReplyState);
  socket.OnEvent(NETEVENT_RECORD, '$', 0, -3, &reply);
  EXPECT_EQ(REPLY_UPDATED, g_nReplyState);
}

TEST(SessionState, ChunkWithoutAListTargetIsFatal) {
  CWrenOnlineSocket socket;
  CVersionNotifyObj reply;
  reply.m_nChunkCount = 1;
  g_nReplyState = REPLY_WAITING;
  socket.OnEvent(NETEVENT_RECORD, '$', 0, 1, &reply);
  EXPECT_EQ(REPLY_FATAL, g_nReplyState);
}

// A connected socket against the in-process server that never answers.
class ConnectedSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(g_bNetInitialized);
    ASSERT_TRUE(m_socket->Initialize());
    ServerScript script;
    script.action = ServerScript::kSilent;
    ASSERT_TRUE(m_server.Start(script));
    ASSERT_EQ(0, m_socket->ConnectTo("127.0.0.1", m_server.Port()));
    EXPECT_EQ(NETSOCK_CONNECTING, m_socket->m_nState);
    for (int i = 0; i < 5000 && m_socket->m_nState == NETSOCK_CONNECTING; ++i) PollAWhile();
    ASSERT_EQ(NETSOCK_CONNECTED, m_socket->m_nState);
    EXPECT_EQ(CONNECT_DONE, g_nConnectState);
  }
  void TearDown() override {
    if (m_socket) m_socket->Close();
    if (g_bNetInitialized) {
      net_finalize();
      g_bNetInitialized = false;
    }
  }
  void PollAWhile() {
    if (m_socket)
      m_socket->Poll(1);
    else
      net_tick();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  void PollUntilReceived(size_t bytes) {
    for (int i = 0; i < 5000 && m_server.Received().size() < bytes; ++i) PollAWhile();
  }

  CTestFileInfoServer m_server;
  std::unique_ptr<CTestSocket> m_socket = std::make_unique<CTestSocket>();
};

TEST_F(ConnectedSocketTest, SendTaggedValuesFitsSixtyThreePairs) {
  EXPECT_FALSE(m_socket->SendTaggedValues(7, {}));
  EXPECT_FALSE(m_socket->SendTaggedValues(7, std::vector<uint32_t>(64, 1)));

  std::vector<uint32_t> values(63);
  for (uint32_t i = 0; i < values.size(); ++i) values[i] = 0xA0B0C000u + i;
  ASSERT_TRUE(m_socket->SendTaggedValues(0x11223344u, values));
  PollUntilReceived(511);
  const Bytes& got = m_server.Received();
  ASSERT_EQ(511u, got.size());  // nothing of the refused records went out
  EXPECT_EQ((Bytes{0x01, 0xFD, 23, 0, 0, 0, 63, 0x11, 0x22, 0x33, 0x44, 0xA0, 0xB0, 0xC0, 0x00}),
            Bytes(got.begin(), got.begin() + 15));
  EXPECT_EQ((Bytes{0x11, 0x22, 0x33, 0x44, 0xA0, 0xB0, 0xC0, 62}), Bytes(got.end() - 8, got.end()));
}

TEST_F(ConnectedSocketTest, SendTaggedValueIsTheFifteenByteRequest) {
  ASSERT_TRUE(m_socket->SendTaggedValue(kFileInfoRequestTag, 0));
  PollUntilReceived(kRequestOnWire.size());
  EXPECT_EQ(kRequestOnWire, m_server.Received());
}

TEST_F(ConnectedSocketTest, DisconnectClosesWithoutALoss) {
  g_bConnectionLost = false;
  EXPECT_TRUE(m_socket->Disconnect());
  for (int i = 0; i < 5000 && m_socket->IsOpen(); ++i) PollAWhile();
  EXPECT_FALSE(m_socket->IsOpen());
  EXPECT_FALSE(m_socket->IsAlive());
  EXPECT_FALSE(g_bConnectionLost);
}

TEST_F(ConnectedSocketTest, SocketGoneWhileItsConnectionDrains) {
  // The library still holds the connection and reports its close later;
  // it must not find the deleted object.
  m_socket.reset();
  for (int i = 0; i < 200; ++i) PollAWhile();
}

}  // namespace
}  // namespace fileinfo_test
