// Contexts and connections over real loopback sockets: connect, handles,
// writes, the per-step limits, closing, draining, time-outs and release
// reasons, the server side, and malformed input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events.h"
#include "net/cipher_hook.h"
#include "net_test_util.h"

namespace {

using namespace nettest;

class Conn : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    g_server.Clear();
    g_client.Clear();
  }
  static void Watch(tcpcontext* ctx, Events* side_is_server) {
    if (side_is_server == &g_server) {
      net_tcpcontext_set_conn_closewatcher(ctx, OnClose<&g_server>);
      net_tcpcontext_set_conn_finalizer(ctx, OnFinal<&g_server>);
    } else {
      net_tcpcontext_set_conn_closewatcher(ctx, OnClose<&g_client>);
      net_tcpcontext_set_conn_finalizer(ctx, OnFinal<&g_client>);
    }
  }
};

TEST_F(Conn, ConnectThenExchangeRecordsBothWays) {
  tcpcontext* server = Server();
  tcpcontext* client = Client();
  net_tcpcontext_set_conn_parser(server, net_parse_len16, OnRecord<&g_server>);
  net_tcpcontext_set_conn_parser(client, net_parse_len16, OnRecord<&g_client>);

  conn_t c = net_tcpcontext_connect(client, "127.0.0.1", net_tcpcontext_local_port(server));
  ASSERT_TRUE(net_conn_valid(c));
  // Until the first writable heartbeat the connect is pending.
  EXPECT_EQ(NET_ERR_CONNECTING, net_conn_write(c, "x", 1));
  EXPECT_EQ(0, net_conn_write_room(c));
  EXPECT_EQ(NET_ERR_WRITE_ROOM, net_send_len16(c, "x", 1));
  ASSERT_TRUE(TickUntil([&] { return c.ptr->connected != 0; }));
  EXPECT_EQ(0, net_buffer_used(&c.ptr->ewb));
  EXPECT_EQ(32768, net_conn_write_room(c));
  EXPECT_EQ(4, c.ptr->local_addr_len);

  EXPECT_EQ(7, net_send_len16(c, "hello", 5));
  ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == 1; }));
  EXPECT_EQ(Text("hello"), g_server.records[0]);

  conn_t s = Newest(server);
  ASSERT_TRUE(net_conn_valid(s));
  EXPECT_EQ(1, s.ptr->accepted);
  EXPECT_EQ(9, net_send_len16(s, "goodbye", 7));
  ASSERT_TRUE(TickUntil([&] { return g_client.records.size() == 1; }));
  EXPECT_EQ(Text("goodbye"), g_client.records[0]);
}

TEST_F(Conn, BlockingConnectCanWriteAtOnce) {
  tcpcontext* server = Server();
  net_tcpcontext_set_conn_parser(server, net_parse_len16, OnRecord<&g_server>);
  tcpcontext* client = net_tcpcontext_create(0, nullptr, 0, 1, 1024, 1024, 600, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, client);
  conn_t c = net_tcpcontext_connect(client, "127.0.0.1", net_tcpcontext_local_port(server));
  ASSERT_TRUE(net_conn_valid(c));
  EXPECT_EQ(1024, net_conn_write_room(c));
  EXPECT_EQ(4, net_send_len16(c, "at", 2));
  ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == 1; }));
  EXPECT_EQ(Text("at"), g_server.records[0]);
}

TEST_F(Conn, RefusedNonBlockingConnectNeverLooksConnected) {
  tcpcontext* server = Server();
  uint16_t port = net_tcpcontext_local_port(server);
  net_tcpcontext_release(server);  // nobody listens there any more
  tcpcontext* client = Client();
  Watch(client, &g_client);
  conn_t c = net_tcpcontext_connect(client, "127.0.0.1", port);
  if (!net_conn_valid(c)) {
    EXPECT_EQ(NET_ERR_CONNECT, net_last_error());  // refused at once
    return;
  }
  bool looked_connected = false;
  ASSERT_TRUE(TickUntil([&] {
    looked_connected = looked_connected || (net_conn_valid(c) && net_conn_write_room(c) > 0);
    return !net_conn_valid(c);
  }));
  EXPECT_FALSE(looked_connected);
  EXPECT_EQ(std::vector<int>{NET_CLOSE_EOF}, g_client.reasons);
}

TEST_F(Conn, StaleAndForeignHandlesAreRefused) {
  tcpcontext* server = Server();
  tcpcontext* client = Client(32768, 32768, 1, 4);
  Watch(client, &g_client);
  conn_t old = Connect(client, server);
  ASSERT_EQ(0, net_conn_close(old));
  ASSERT_TRUE(TickUntil([&] { return !net_conn_valid(old); }));
  EXPECT_EQ(std::vector<int>{NET_CLOSE_DRAINED}, g_client.reasons);

  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 0; }));
  conn_t fresh = Connect(client, server);
  // The two records just returned are taken again, one by each side...
  ASSERT_TRUE(old.ptr == fresh.ptr || old.ptr == Newest(server).ptr);
  EXPECT_NE(old.serial, fresh.serial);
  EXPECT_NE(0, old.ptr->serial);
  EXPECT_FALSE(net_conn_valid(old));  // ...but the old handle stays dead
  EXPECT_TRUE(net_conn_valid(fresh));
  EXPECT_EQ(NET_ERR_SERIAL, net_conn_write(old, "x", 1));
  EXPECT_EQ(NET_ERR_SERIAL, net_conn_write(conn_t{fresh.ptr, fresh.serial + 1}, "x", 1));
  EXPECT_EQ(NET_ERR_INVALID, net_conn_close(old));
  EXPECT_EQ(0, net_conn_set_idle_timeout(old, 5));
  EXPECT_EQ(NET_ERR_INVALID, net_last_error());
  EXPECT_EQ(NET_ERR_INVALID, net_conn_write_room(old));
  EXPECT_EQ(nullptr, net_conn_state_buffer(old, nullptr));
  EXPECT_EQ(NET_ERR_INVALID, net_send_len16(old, "x", 1));
  EXPECT_EQ(NET_ERR_INVALID, net_send_line(old, "x", 1));
  EXPECT_EQ(NET_ERR_INVALID, net_send_raw(old, "x", 1));

  net_conn outside;
  conn_t foreign{&outside, fresh.serial};
  EXPECT_FALSE(net_conn_valid(foreign));
  EXPECT_EQ(NET_ERR_INVALID, net_conn_write(foreign, "x", 1));
  EXPECT_FALSE(net_conn_valid(conn_t{nullptr, 0}));
  EXPECT_EQ(NET_ERR_INVALID, net_conn_write(conn_t{nullptr, 1}, "x", 1));
  EXPECT_EQ(NET_ERR_INVALID, net_conn_write(fresh, nullptr, 1));
  EXPECT_EQ(NET_ERR_INVALID, net_conn_write(fresh, "x", 0));

  net_conn_reset_handle(&fresh);
  EXPECT_EQ(nullptr, fresh.ptr);
  EXPECT_EQ(0, fresh.serial);
}

TEST_F(Conn, SecondConnectOverMaxConnIsRefused) {
  tcpcontext* server = Server();
  tcpcontext* client = Client(1024, 1024, 1);
  conn_t first = net_tcpcontext_connect(client, "127.0.0.1", net_tcpcontext_local_port(server));
  ASSERT_TRUE(net_conn_valid(first));
  testing::internal::CaptureStderr();
  conn_t second = net_tcpcontext_connect(client, "127.0.0.1", net_tcpcontext_local_port(server));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(net_conn_valid(second));
  EXPECT_EQ(NET_ERR_NOROOM, net_last_error());
  EXPECT_EQ("error: cannot over max conn, conn_in_use=1, max_conn=1\n", log);
  EXPECT_EQ(1, client->conn_in_use);
}

TEST_F(Conn, WritesAreAllOrNothing) {
  tcpcontext* server = Server();
  tcpcontext* client = Client(1024, 32768, 4);
  conn_t c = Connect(client, server);
  std::vector<char> big(32768, 'a');
  EXPECT_EQ(32768, net_conn_write(c, big.data(), 32768));
  EXPECT_EQ(NET_ERR_NOROOM, net_conn_write(c, "b", 1));
  EXPECT_EQ(32768, net_buffer_used(&c.ptr->wb));
  EXPECT_EQ(NET_ERR_WRITE_ROOM, net_send_len16(c, "b", 1));
  EXPECT_EQ(NET_ERR_NOROOM, net_send_raw(c, "b", 1));

  // A record needs room for itself and its header.
  tcpcontext* small = Client(1024, 1024, 2);
  conn_t d = Connect(small, server);
  std::vector<char> fill(923, 'f');
  ASSERT_EQ(923, net_conn_write(d, fill.data(), 923));  // 101 bytes of room left
  std::vector<char> rec(100, 'r');
  EXPECT_EQ(NET_ERR_WRITE_ROOM, net_send_len16(d, rec.data(), 100));
  EXPECT_EQ(923, net_buffer_used(&d.ptr->wb));
  EXPECT_EQ(101, net_send_line(d, rec.data(), 100));  // the line needs 101
  EXPECT_EQ(0, net_conn_write_room(d));

  conn_t e = Connect(small, server);
  ASSERT_EQ(922, net_conn_write(e, fill.data(), 922));
  EXPECT_EQ(102, net_send_len16(e, rec.data(), 100));
}

TEST_F(Conn, EachStepMovesAtMost8192Bytes) {
  tcpcontext* server = Server();
  net_tcpcontext_set_conn_parser(server, net_parse_raw, OnRecord<&g_server>);
  net_tcpcontext_set_parse_passes(server, 4);
  tcpcontext* client = Client();
  conn_t c = Connect(client, server);
  std::vector<unsigned char> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  ASSERT_EQ(20000, net_conn_write(c, data.data(), 20000));

  net_tick();  // nothing to send yet; the encoder moves its limit
  EXPECT_EQ(20000 - 8192, net_buffer_used(&c.ptr->wb));
  EXPECT_EQ(8192, net_buffer_used(&c.ptr->ewb));
  net_tick();  // sends 8192, then moves the next 8192
  EXPECT_EQ(20000 - 2 * 8192, net_buffer_used(&c.ptr->wb));
  EXPECT_EQ(8192, net_buffer_used(&c.ptr->ewb));

  size_t total = 0;
  ASSERT_TRUE(TickUntil([&] {
    total = 0;
    for (const auto& r : g_server.records) total += r.size();
    return total == data.size();
  }));
  std::vector<unsigned char> joined;
  for (const auto& r : g_server.records) {
    EXPECT_LE(r.size(), 8192u);  // one socket read per step
    joined.insert(joined.end(), r.begin(), r.end());
  }
  EXPECT_EQ(data, joined);
}

TEST_F(Conn, WithoutParserBytesStayQueuedAndTheSocketIsNoLongerRead) {
  tcpcontext* server = Server(1024, 1024);
  RawPeer peer;
  ASSERT_TRUE(peer.ConnectTo(net_tcpcontext_local_port(server)));
  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 1; }));
  std::vector<unsigned char> junk(5000, 'j');
  ASSERT_TRUE(peer.Send(junk));
  conn_t s = Newest(server);
  ASSERT_TRUE(TickUntil([&] { return net_buffer_room(&s.ptr->erb) == 0; }));
  Ticks(20);
  EXPECT_EQ(1024, net_buffer_used(&s.ptr->rb));
  EXPECT_EQ(1032, net_buffer_used(&s.ptr->erb));
  EXPECT_TRUE(net_conn_valid(s));
}

TEST_F(Conn, CloseDrainsQueuedBytesThenReleasesWithReason2) {
  tcpcontext* server = Server();
  net_tcpcontext_set_conn_parser(server, net_parse_raw, OnRecord<&g_server>);
  tcpcontext* client = Client();
  Watch(client, &g_client);
  conn_t c = Connect(client, server);
  std::vector<unsigned char> data(5000, 'd');
  ASSERT_EQ(5000, net_conn_write(c, data.data(), 5000));
  ASSERT_EQ(0, net_conn_close(c));
  EXPECT_EQ(NET_ERR_CLOSED, net_conn_close(c));
  EXPECT_EQ(NET_ERR_WRITE_CLOSED, net_conn_write(c, "x", 1));
  EXPECT_TRUE(net_conn_valid(c));  // still draining

  ASSERT_TRUE(TickUntil([&] { return !net_conn_valid(c); }));
  EXPECT_EQ((std::vector<std::string>{"close 2", "finalizer"}), g_client.order);
  size_t total = 0;
  ASSERT_TRUE(TickUntil([&] {
    total = 0;
    for (const auto& r : g_server.records) total += r.size();
    return total == 5000;
  }));
}

// Bytes still waiting when a closed connection's time-out has run out are
// dropped (reason 3); with the last read in the current second they drain.
TEST_F(Conn, ClosedWithTimeoutZeroDropsOrDrainsByTheSecond) {
  for (bool earlier_second : {true, false}) {
    SCOPED_TRACE(earlier_second ? "last read in an earlier second" : "same second");
    g_client.Clear();
    g_server.Clear();
    tcpcontext* server = Server();
    net_tcpcontext_set_conn_parser(server, net_parse_raw, OnRecord<&g_server>);
    tcpcontext* client = Client();
    Watch(client, &g_client);
    conn_t c = Connect(client, server);
    if (earlier_second) {
      ++g_fake_sec;
      net_tick();  // the heartbeat takes the new second at its end
    }
    ASSERT_EQ(100, net_conn_write(c, std::string(100, 'q').data(), 100));
    net_conn_close(c);
    net_conn_set_idle_timeout(c, 0);
    net_tick();
    if (earlier_second) {
      EXPECT_FALSE(net_conn_valid(c));
      EXPECT_EQ(std::vector<int>{NET_CLOSE_DRAIN_TIMEOUT}, g_client.reasons);
    } else {
      ASSERT_TRUE(TickUntil([&] { return !net_conn_valid(c); }));
      EXPECT_EQ(std::vector<int>{NET_CLOSE_DRAINED}, g_client.reasons);
      ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == 1; }));
      EXPECT_EQ(100u, g_server.records[0].size());
    }
    net_tcpcontext_release(client);
    net_tcpcontext_release(server);
  }
}

TEST_F(Conn, IdleTimeoutClosesAfter601SecondsNotAfter600) {
  tcpcontext* server = Server();
  tcpcontext* client = Client();
  Watch(client, &g_client);
  conn_t c = Connect(client, server);
  const int64_t start = g_fake_sec;

  g_fake_sec = start + 600;
  Ticks(3);
  EXPECT_TRUE(net_conn_valid(c));
  EXPECT_EQ(0, c.ptr->closed);

  g_fake_sec = start + 601;
  net_tick();  // takes the time
  net_tick();  // closes
  EXPECT_TRUE(net_conn_valid(c));
  EXPECT_EQ(1, c.ptr->closed);
  net_tick();  // releases
  EXPECT_FALSE(net_conn_valid(c));
  EXPECT_EQ(std::vector<int>{NET_CLOSE_DRAINED}, g_client.reasons);
}

TEST_F(Conn, ReadsRefreshTheIdleTimeButWritesDoNot) {
  tcpcontext* server = Server();
  net_tcpcontext_set_conn_parser(server, net_parse_raw, OnRecord<&g_server>);
  tcpcontext* client = Client();
  net_tcpcontext_set_conn_parser(client, net_parse_raw, OnRecord<&g_client>);
  conn_t c = Connect(client, server);
  conn_t s = Newest(server);
  const int32_t start = c.ptr->last_activity;

  g_fake_sec += 10;
  net_tick();
  ASSERT_EQ(1, net_conn_write(c, "w", 1));
  ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == 1; }));
  EXPECT_EQ(start, c.ptr->last_activity);
  EXPECT_EQ(start + 10, s.ptr->last_activity);

  ASSERT_EQ(1, net_conn_write(s, "r", 1));
  ASSERT_TRUE(TickUntil([&] { return g_client.records.size() == 1; }));
  EXPECT_EQ(start + 10, c.ptr->last_activity);
}

TEST_F(Conn, EndOfStreamDeliversLastRecordThenWatcherThenFinalizer) {
  tcpcontext* server = Server();
  net_tcpcontext_set_conn_parser(server, net_parse_len16, OnRecord<&g_server>);
  Watch(server, &g_server);
  RawPeer peer;
  ASSERT_TRUE(peer.ConnectTo(net_tcpcontext_local_port(server)));
  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 1; }));
  conn_t s = Newest(server);
  ASSERT_TRUE(peer.Send(Bytes({0, 2, 'o', 'k', 0, 9, 'c', 'u', 't'})));  // then a record cut short
  peer.Close();
  ASSERT_TRUE(TickUntil([&] { return !g_server.reasons.empty(); }));
  EXPECT_EQ((std::vector<std::string>{"record", "close 1", "finalizer"}), g_server.order);
  EXPECT_EQ(Text("ok"), g_server.records[0]);
  EXPECT_FALSE(net_conn_valid(s));
  EXPECT_EQ(0, server->conn_in_use);
}

TEST_F(Conn, ParserErrorsReleaseOnlyTheOffendingConnection) {
  struct Case {
    const char* what;
    net_parser_fn parser;
    std::vector<unsigned char> bad;
    std::vector<unsigned char> good;  // one valid record for the same parser
    int handler_result;
  } cases[] = {
      {"4-byte length over the limit", net_parse_len32, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 1}), Bytes({0, 0, 0, 1, 'g'}),
       0},
      {"4-byte record larger than the read buffer", net_parse_len32, Bytes({0, 0, 4, 0, 1, 2}),
       Bytes({0, 0, 0, 1, 'g'}), 0},
      {"2-byte record larger than the read buffer", net_parse_len16, Bytes({0x07, 0xD0, 1, 2, 3}),
       Bytes({0, 1, 'g'}), 0},
      {"2-byte header alone over the buffer", net_parse_len16, Bytes({0xFF, 0xFF}), Bytes({0, 1, 'g'}), 0},
      {"line longer than the read buffer", net_parse_line, std::vector<unsigned char>(1500, 'x'), Bytes({'g', '\n'}),
       0},
      {"record handler refuses", net_parse_len16, Bytes({0, 1, 'b'}), {}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_server.Clear();
    g_server.handler_result = c.handler_result;
    tcpcontext* server = Server(1024, 1024);
    net_tcpcontext_set_conn_parser(server, c.parser, OnRecord<&g_server>);
    net_tcpcontext_set_conn_closewatcher(server, OnClose<&g_server>);
    RawPeer bad, good;
    ASSERT_TRUE(good.ConnectTo(net_tcpcontext_local_port(server)));
    ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 1; }));
    ASSERT_TRUE(bad.ConnectTo(net_tcpcontext_local_port(server)));
    ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 2; }));
    ASSERT_TRUE(bad.Send(c.bad));
    ASSERT_TRUE(TickUntil([&] { return !g_server.reasons.empty(); }));
    EXPECT_EQ(std::vector<int>{NET_CLOSE_PROTOCOL}, g_server.reasons);
    EXPECT_EQ(1, server->conn_in_use);
    bad.ReceiveWhileTicking(1, 2000);
    EXPECT_TRUE(bad.eof());
    if (!c.good.empty()) {
      size_t before = g_server.records.size();
      ASSERT_TRUE(good.Send(c.good));
      ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == before + 1; }));
      EXPECT_EQ(Text("g"), g_server.records.back());
    }
    net_tcpcontext_release(server);
  }
}

TEST_F(Conn, PeerThatNeverReadsDoesNotStallOthers) {
  tcpcontext* server = Server(1024, 32768);
  net_tcpcontext_set_conn_parser(server, net_parse_len16, OnRecord<&g_server>);
  net_tcpcontext_set_conn_closewatcher(server, OnClose<&g_server>);
  RawPeer sink;
  ASSERT_TRUE(sink.ConnectTo(net_tcpcontext_local_port(server)));
  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 1; }));
  conn_t s = Newest(server);

  // Feed records until the peer's socket and our queues are all full.
  std::vector<char> rec(30000, 'z');
  int stuck = 0;
  for (int i = 0; i < 100000 && stuck < 300; ++i) {
    int r = net_send_len16(s, rec.data(), static_cast<int>(rec.size()));
    if (r == NET_ERR_WRITE_ROOM)
      ++stuck;
    else {
      ASSERT_EQ(30002, r);
      stuck = 0;
    }
    net_tick();
  }
  ASSERT_EQ(300, stuck);
  EXPECT_TRUE(net_conn_valid(s));

  // Another connection is served as usual meanwhile.
  tcpcontext* client = Client();
  conn_t c = Connect(client, server);
  ASSERT_EQ(4, net_send_len16(c, "hi", 2));
  ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == 1; }));
  EXPECT_EQ(Text("hi"), g_server.records[0]);

  sink.Close();
  ASSERT_TRUE(TickUntil([&] { return !net_conn_valid(s); }));
  EXPECT_EQ(std::vector<int>{NET_CLOSE_EOF}, g_server.reasons);
}

TEST_F(Conn, StateBufferIsZeroedAtConnectAndReturnedAtRelease) {
  tcpcontext* server = Server();
  tcpcontext* client = Client(1024, 1024, 1, 4);
  int stateb = client->state_buffer_array;
  ASSERT_GE(stateb, 0);
  EXPECT_STREQ("stateb0", net_array_name(stateb));
  for (int round = 0; round < 2; ++round) {
    conn_t c = Connect(client, server);
    int32_t size = 0;
    auto* sb = static_cast<unsigned char*>(net_conn_state_buffer(c, &size));
    ASSERT_NE(nullptr, sb);
    EXPECT_EQ(4, size);
    EXPECT_EQ(Bytes({0, 0, 0, 0}), std::vector<unsigned char>(sb, sb + 4));
    sb[0] = sb[3] = 0xEE;
    EXPECT_EQ(1, net_array_used(stateb));
    net_conn_close(c);
    ASSERT_TRUE(TickUntil([&] { return !net_conn_valid(c); }));
    EXPECT_EQ(0, net_array_used(stateb));
  }
  tcpcontext* plain = Client(1024, 1024, 1, 0);
  conn_t p = Connect(plain, server);
  int32_t size = 7;
  EXPECT_EQ(nullptr, net_conn_state_buffer(p, &size));
  EXPECT_EQ(0, size);
}

TEST_F(Conn, CipherFlagsAreCheckedAtCreation) {
  struct {
    uint32_t flags;
    int32_t key_length;
    int expect;
  } cases[] = {
      {NET_CIPHER_BLOWFISH, 3, NET_ERR_KEY_LENGTH},
      {NET_CIPHER_BLOWFISH, 57, NET_ERR_KEY_LENGTH},
      {NET_CIPHER_RIJNDAEL, 20, NET_ERR_KEY_LENGTH},
      {NET_CIPHER_TWOFISH, 16, NET_ERR_BAD_PREFIX},
      {NET_BLOCK_CIPHER_ONLY_RECV | NET_BLOCK_CIPHER_ONLY_SEND, 0, NET_ERR_INVALID},
  };
  int used = net_array_used(g_net.tcpctx_array);
  testing::internal::CaptureStderr();
  for (const auto& c : cases) {
    EXPECT_EQ(nullptr, net_tcpcontext_create(0, nullptr, 0, 1, 1024, 1024, 600, c.flags, c.key_length, 1, 0, 0));
    EXPECT_EQ(c.expect, net_last_error()) << std::hex << c.flags;
    EXPECT_EQ(used, net_array_used(g_net.tcpctx_array));
  }
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("Fatal:1201 tcp: bad secret key length: 3\n"));
  EXPECT_NE(std::string::npos, log.find("Fatal: Twofish algorithm is not supported now\n"));

  if (!net_cipher_available()) {
    // Without the encryption unit a context that asks for it fails cleanly.
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, net_tcpcontext_create(0, nullptr, 0, 1, 1024, 1024, 600, NET_CIPHER_BLOWFISH, 16, 1, 0, 0));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(NET_ERR_BAD_PREFIX, net_last_error());
    EXPECT_EQ(used, net_array_used(g_net.tcpctx_array));
  }
}

TEST_F(Conn, ServerThatCannotBindFailsCleanly) {
  int used = net_array_used(g_net.tcpctx_array);
  testing::internal::CaptureStderr();
  tcpcontext* s = net_tcpcontext_create(1, "no-such-host.invalid", 0, 4, 1024, 1024, 600, 0, 0, 0, 0, 0);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(nullptr, s);
  EXPECT_EQ(NET_ERR_BIND, net_last_error());
  EXPECT_NE(std::string::npos, log.find("Fatal:1207 bind() error. os_err:")) << log;
  EXPECT_EQ(used, net_array_used(g_net.tcpctx_array));
}

TEST_F(Conn, ServerRefusesOverMaxConnAndThroughTheFilterAndWatchers) {
  struct Case {
    const char* what;
    int max_conn;
    uint32_t filter_addr, filter_mask;  // mask 0: no filter
    int accept_result;
  } cases[] = {
      {"second connection over max_conn", 1, 0, 0, 0},
      {"filter without a match", 4, 0x0A000000, 0xFF000000, 0},
      {"accept watcher refuses", 4, 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_server.Clear();
    g_server.accept_result = c.accept_result;
    tcpcontext* server = Server(1024, 1024, c.max_conn);
    net_tcpcontext_set_conn_closewatcher(server, OnClose<&g_server>);
    net_tcpcontext_set_accept_watcher(server, OnAccept<&g_server>);
    if (c.filter_mask != 0) {
      ASSERT_EQ(0, net_tcpcontext_add_ipfilter(server, c.filter_addr, c.filter_mask, NET_IPFILTER_ACCEPT));
    }
    RawPeer first, second;
    ASSERT_TRUE(first.ConnectTo(net_tcpcontext_local_port(server)));
    if (c.max_conn == 1) {
      ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 1; }));
      ASSERT_TRUE(second.ConnectTo(net_tcpcontext_local_port(server)));
      second.ReceiveWhileTicking(1, 2000);
      EXPECT_TRUE(second.eof());
      EXPECT_EQ(1, server->conn_in_use);
    } else {
      first.ReceiveWhileTicking(1, 2000);
      EXPECT_TRUE(first.eof());
      EXPECT_EQ(0, server->conn_in_use);
    }
    EXPECT_TRUE(g_server.reasons.empty());  // refusals are silent
    net_tcpcontext_release(server);
  }
}

TEST_F(Conn, FilterMatchAndHighWaterWatcher) {
  tcpcontext* server = Server(1024, 1024, 4);
  ASSERT_EQ(0, net_tcpcontext_add_ipfilter(server, 0x0A000000, 0xFF000000, NET_IPFILTER_ACCEPT));
  ASSERT_EQ(0, net_tcpcontext_add_ipfilter(server, 0x7F000000, 0xFF000000, NET_IPFILTER_ACCEPT | NET_IPFILTER_LOG));
  net_tcpcontext_set_accept_watcher(server, OnAccept<&g_server>);
  net_tcpcontext_set_hiwater_accept_watcher(server, OnHiwater<&g_server>, 3);
  RawPeer a, b, c;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(a.ConnectTo(net_tcpcontext_local_port(server)));
  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 1; }));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ("IP filter: ACCEPT 127.0.0.1 7f000001\n", log);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(b.ConnectTo(net_tcpcontext_local_port(server)));
  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 2; }));
  ASSERT_TRUE(c.ConnectTo(net_tcpcontext_local_port(server)));
  ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == 3; }));
  testing::internal::GetCapturedStderr();
  // The second connection brings the count to the mark minus one.
  EXPECT_EQ(1, g_server.accepts);
  EXPECT_EQ(2, g_server.hiwater_accepts);
}

TEST_F(Conn, ReleasingAContextReleasesItsConnectionsSilently) {
  tcpcontext* server = Server();
  tcpcontext* client = Client();
  Watch(client, &g_client);
  conn_t c = Connect(client, server);
  ASSERT_EQ(3, net_conn_write(c, "abc", 3));
  net_tcpcontext_release(client);
  EXPECT_FALSE(net_conn_valid(c));
  EXPECT_EQ((std::vector<std::string>{"finalizer"}), g_client.order);
  // Nothing is left that a heartbeat could touch; the server sees the end.
  EXPECT_TRUE(TickUntil([&] { return server->conn_in_use == 0; }));
}

}  // namespace
