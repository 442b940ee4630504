// Encrypted connections over real sockets on 127.0.0.1: both sides of the
// key exchange, every cipher and key length, the one-direction flags, and
// peers that break the exchange.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "net/cipher_hook.h"
#include "net/dh.h"
#include "net/net.h"
#include "platform/system.h"

namespace {

struct Side {
  conn_t conn{};
  std::vector<std::string> records;
  int closes = 0;
  int reason = 0;
};

// A byte string from a literal that may hold zero bytes.
template <size_t N>
std::string Bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

Side g_client, g_server;
int g_accepts = 0;

Side& SideOf(conn_t c) { return c.ptr == g_client.conn.ptr ? g_client : g_server; }

int OnRecord(conn_t c, const unsigned char* bytes, int length) {
  SideOf(c).records.emplace_back(reinterpret_cast<const char*>(bytes), size_t(length));
  return 0;
}

int OnAccept(conn_t c) {
  ++g_accepts;
  g_server.conn = c;
  return 0;
}

int OnClose(conn_t c, int reason) {
  Side& s = SideOf(c);
  ++s.closes;
  s.reason = reason;
  return 0;
}

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    g_client = Side{};
    g_server = Side{};
    g_accepts = 0;
    net_limits limits;
    net_limits_reset(&limits);
    limits.max_tcpcontext = 4;
    limits.max_conn = 8;
    limits.max_taskworld = 0;
    limits.max_hashtable = 0;
    ASSERT_EQ(0, net_init_with_limits(&limits));
  }

  void TearDown() override {
    for (conn_t c : {g_client.conn, g_server.conn})
      if (net_conn_valid(c)) net_conn_close(c);
    TickUntil([] { return !net_conn_valid(g_client.conn) && !net_conn_valid(g_server.conn); },
              2000);
    for (tcpcontext* ctx : {client_, server_})
      if (ctx != nullptr) net_tcpcontext_release(ctx);
    for (int s : raw_)
      net_socket_close(s);
    net_finalize();
  }

  // Runs heartbeats until done() holds; false after max_ticks.
  static bool TickUntil(const std::function<bool()>& done, int max_ticks = 200000) {
    for (int i = 0; i < max_ticks; ++i) {
      if (done()) return true;
      net_tick();
      if (i % 64 == 63) plat::Sleep(1);
    }
    return done();
  }

  tcpcontext* Server(uint32_t flags, int key_length) {
    server_ = net_tcpcontext_create(1, "127.0.0.1", 0, 4, 32768, 32768, 600, flags, key_length, 0, 1, 0);
    if (server_ != nullptr) {
      net_tcpcontext_set_conn_parser(server_, net_parse_len16, OnRecord);
      net_tcpcontext_set_conn_closewatcher(server_, OnClose);
      net_tcpcontext_set_accept_watcher(server_, OnAccept);
      net_tcpcontext_set_parse_passes(server_, 32);
    }
    return server_;
  }

  tcpcontext* Client(uint32_t flags, int key_length) {
    client_ = net_tcpcontext_create(0, nullptr, 0, 1, 32768, 32768, 600, flags, key_length, 0, 1, 0);
    if (client_ != nullptr) {
      net_tcpcontext_set_conn_parser(client_, net_parse_len16, OnRecord);
      net_tcpcontext_set_conn_closewatcher(client_, OnClose);
      net_tcpcontext_set_parse_passes(client_, 32);
    }
    return client_;
  }

  // A listening socket that is not a context: the test plays the peer.
  int RawListener(uint16_t* port) {
    int s = net_socket_create();
    raw_.push_back(s);
    EXPECT_EQ(0, net_socket_set_nonblocking(s));
    EXPECT_EQ(0, net_socket_bind(s, "127.0.0.1", 0));
    EXPECT_EQ(0, net_socket_listen(s));
    uint8_t addr[16];
    int32_t len = 0;
    EXPECT_EQ(0, net_socket_local_name(s, addr, &len, port));
    return s;
  }

  int RawAccept(int listener) {
    uint8_t remote[16], local[16];
    int32_t rlen = 0, llen = 0;
    uint16_t rport = 0, lport = 0;
    int s = -1;
    TickUntil([&] {
      s = net_socket_accept(listener, remote, 16, &rlen, &rport, local, &llen, &lport);
      return s >= 0;
    });
    if (s >= 0) {
      raw_.push_back(s);
      EXPECT_EQ(0, net_socket_set_nonblocking(s));
    }
    return s;
  }

  int RawConnect(uint16_t port) {
    int s = net_socket_create();
    raw_.push_back(s);
    EXPECT_EQ(0, net_socket_set_nonblocking(s));
    uint8_t remote[16], local[16];
    int32_t rlen = 0, llen = 0;
    uint16_t lport = 0;
    EXPECT_EQ(0, net_socket_connect(s, "127.0.0.1", port, remote, &rlen, local, &llen, &lport));
    return s;
  }

  // Reads what the peer sent to a raw socket until n bytes are in.
  std::string RawRead(int s, size_t n) {
    std::string out;
    TickUntil([&] {
      char buf[4096];
      int got = net_socket_recv(s, buf, sizeof buf);
      if (got > 0) out.append(buf, size_t(got));
      return out.size() >= n;
    });
    return out;
  }

  tcpcontext* client_ = nullptr;
  tcpcontext* server_ = nullptr;
  std::vector<int> raw_;
};

#define REQUIRE_KEYEX() \
  if (!net_cipher_available()) GTEST_SKIP() << "this build has no key exchange"

struct Config {
  const char* name;
  uint32_t client_flags, server_flags;
  int key_length;
};

const Config kConfigs[] = {
    {"blowfish-4", 1, 1, 4},
    {"blowfish-16", 1, 1, 16},
    {"blowfish-56", 1, 1, 56},
    {"rijndael-16", 2, 2, 16},
    {"rijndael-24", 2, 2, 24},
    {"rijndael-32", 2, 2, 32},
    {"blowfish-client-only-recv", 0x2001, 0x4001, 8},
    {"blowfish-client-only-send", 0x4001, 0x2001, 8},
    {"rijndael-client-only-recv", 0x2002, 0x4002, 16},
    {"rijndael-client-only-send", 0x4002, 0x2002, 16},
    // Only a one-direction bit: the exchange runs, both directions stay
    // plain, and the key length is not checked (the keys must not overrun).
    {"exchange-only-long-key", 0x2000, 0x2000, 100},
};

class LoopbackConfigs : public Loopback, public ::testing::WithParamInterface<Config> {};

std::string RandomRecord(std::mt19937& rng) {
  int kind = int(rng() % 100);
  // Mostly small records, some of several chunks (Rijndael chunks carry at
  // most 8168 bytes).
  size_t len = kind < 70 ? rng() % 65 : kind < 98 ? 65 + rng() % 1984 : 2049 + rng() % 14000;
  std::string r(len, '\0');
  for (char& ch : r) ch = char(rng());
  return r;
}

TEST_P(LoopbackConfigs, TenThousandRandomRecordsEachWay) {
  REQUIRE_KEYEX();
  const Config& cfg = GetParam();
  ASSERT_NE(nullptr, Server(cfg.server_flags, cfg.key_length));
  ASSERT_NE(nullptr, Client(cfg.client_flags, cfg.key_length));
  g_client.conn = net_tcpcontext_connect(client_, "127.0.0.1", net_tcpcontext_local_port(server_));
  ASSERT_TRUE(net_conn_valid(g_client.conn)) << net_last_error();
  EXPECT_EQ(0, net_conn_write_room(g_client.conn)) << "no writes while negotiating";
  EXPECT_EQ(NET_ERR_NEGOTIATING, net_conn_write(g_client.conn, "x", 1));
  ASSERT_TRUE(TickUntil([] {
    return net_conn_valid(g_server.conn) && net_conn_write_room(g_client.conn) > 0;
  }));
  EXPECT_EQ(1, g_accepts);
  EXPECT_EQ(NET_KEYEX_DONE, g_client.conn.ptr->keyex_state);
  EXPECT_EQ(0, std::memcmp(g_client.conn.ptr->send_key, g_server.conn.ptr->recv_key,
                           std::min(sizeof g_client.conn.ptr->send_key, size_t(cfg.key_length))));

  constexpr size_t kRecords = 10000;
  std::mt19937 rng(1234);
  std::vector<std::string> to_server, to_client;
  for (size_t i = 0; i < kRecords; ++i) {
    to_server.push_back(RandomRecord(rng));
    to_client.push_back(RandomRecord(rng));
  }
  size_t sent_to_server = 0, sent_to_client = 0;
  bool done = TickUntil([&] {
    while (sent_to_server < kRecords) {
      const std::string& r = to_server[sent_to_server];
      if (net_send_len16(g_client.conn, r.data(), int(r.size())) < 0) break;
      ++sent_to_server;
    }
    while (sent_to_client < kRecords) {
      const std::string& r = to_client[sent_to_client];
      if (net_send_len16(g_server.conn, r.data(), int(r.size())) < 0) break;
      ++sent_to_client;
    }
    return g_server.records.size() >= kRecords && g_client.records.size() >= kRecords;
  }, 2000000);
  ASSERT_TRUE(done) << g_server.records.size() << " / " << g_client.records.size();
  ASSERT_EQ(kRecords, g_server.records.size());
  ASSERT_EQ(kRecords, g_client.records.size());
  for (size_t i = 0; i < kRecords; ++i) {
    ASSERT_EQ(to_server[i], g_server.records[i]) << "record " << i << " to the server";
    ASSERT_EQ(to_client[i], g_client.records[i]) << "record " << i << " to the client";
  }
  EXPECT_EQ(0, g_client.closes);
  EXPECT_EQ(0, g_server.closes);
  // The one-direction flags leave their plain side without a cipher state.
  bool no_cipher = (cfg.client_flags & (NET_CIPHER_BLOWFISH | NET_CIPHER_RIJNDAEL)) == 0;
  bool client_sends_plain = no_cipher || (cfg.client_flags & NET_BLOCK_CIPHER_ONLY_RECV);
  bool client_reads_plain = no_cipher || (cfg.client_flags & NET_BLOCK_CIPHER_ONLY_SEND);
  EXPECT_EQ(client_sends_plain ? 0 : 1, g_client.conn.ptr->send_cipher_ready);
  EXPECT_EQ(client_reads_plain ? 0 : 1, g_client.conn.ptr->recv_cipher_ready);
  EXPECT_EQ(client_sends_plain ? 0 : 1, g_server.conn.ptr->recv_cipher_ready);
  EXPECT_EQ(client_reads_plain ? 0 : 1, g_server.conn.ptr->send_cipher_ready);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, LoopbackConfigs, ::testing::ValuesIn(kConfigs),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

TEST_F(Loopback, OneDirectionFlagSendsPlainBytes) {
  REQUIRE_KEYEX();
  // The test plays a server that answers the exchange by hand, then reads
  // what the client sends: with NET_BLOCK_CIPHER_ONLY_RECV it is the plain
  // record, not a chunk.
  uint16_t port = 0;
  int listener = RawListener(&port);
  ASSERT_NE(nullptr, Client(NET_BLOCK_CIPHER_ONLY_RECV | NET_CIPHER_BLOWFISH, 8));
  g_client.conn = net_tcpcontext_connect(client_, "127.0.0.1", port);
  ASSERT_TRUE(net_conn_valid(g_client.conn));
  int peer = RawAccept(listener);
  ASSERT_GE(peer, 0);
  std::string hello = RawRead(peer, 8);
  ASSERT_EQ(Bytes("\0\0\0\0\0\0\0\x08"), hello);
  char exponent[64];
  net_sha1_keygen(exponent, sizeof exponent);
  char pub[NET_KEYEX_TEXT_ROOM];
  ASSERT_EQ(0, net_modexp_hex(NET_DH_GENERATOR, NET_DH_PRIME, exponent, pub, sizeof pub));
  std::vector<uint8_t> answer(size_t(net_keyex_server_hello_size(NET_DH_GENERATOR, NET_DH_PRIME, pub)));
  net_keyex_write_server_hello(answer.data(), 0, NET_DH_GENERATOR, NET_DH_PRIME, pub);
  ASSERT_EQ(int(answer.size()), net_socket_send(peer, answer.data(), int(answer.size())));
  ASSERT_TRUE(TickUntil([] { return net_conn_write_room(g_client.conn) > 0; }));
  std::string client_key = RawRead(peer, 4);
  size_t key_len = size_t(uint8_t(client_key[2])) << 8 | uint8_t(client_key[3]);
  client_key += RawRead(peer, 4 + key_len - client_key.size());
  ASSERT_EQ(4 + key_len, client_key.size());
  ASSERT_EQ(7, net_send_len16(g_client.conn, "hello", 5));
  EXPECT_EQ(Bytes("\0\x05hello"), RawRead(peer, 7));
}

// A peer that breaks the exchange: the connection is released without a
// close watcher call, whatever the peer did.
TEST_F(Loopback, ClientDropsServersThatBreakTheExchange) {
  REQUIRE_KEYEX();
  struct {
    const char* what;
    std::string bytes;  // sent by the peer after the client hello
    bool close;         // the peer closes afterwards
  } cases[] = {
      {"early close", "", true},
      {"refusing status", Bytes("\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0"), false},
      {"garbage", std::string(40, '\xA5'), false},
      {"generator not a number", Bytes("\0\0\0\0\0\0\0\x01z\0\0\0\x01" "5\0\0\0\x01" "3"), false},
      {"half a hello, then close", Bytes("\0\0\0\0\0\0\0\x01"), true},
  };
  uint16_t port = 0;
  int listener = RawListener(&port);
  ASSERT_NE(nullptr, Client(NET_CIPHER_RIJNDAEL, 16));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_client = Side{};
    g_client.conn = net_tcpcontext_connect(client_, "127.0.0.1", port);
    ASSERT_TRUE(net_conn_valid(g_client.conn));
    int peer = RawAccept(listener);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(8u, RawRead(peer, 8).size());
    if (!c.bytes.empty()) net_socket_send(peer, c.bytes.data(), int(c.bytes.size()));
    if (c.close) net_socket_close(peer);
    EXPECT_TRUE(TickUntil([] { return !net_conn_valid(g_client.conn); }));
    EXPECT_EQ(0, g_client.closes);
    if (!c.close) net_socket_close(peer);
    raw_.pop_back();
  }
}

TEST_F(Loopback, ServerDropsClientsThatBreakTheExchange) {
  REQUIRE_KEYEX();
  struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"early close", ""},
      {"hello then close", Bytes("\0\0\0\0\0\0\0\x10")},
      {"bad key length", Bytes("\0\0\0\0\0\0\0\x10\x7f\xff\xff\xff")},
      {"key not a number", Bytes("\0\0\0\0\0\0\0\x10\0\0\0\x03xyz")},
  };
  ASSERT_NE(nullptr, Server(NET_CIPHER_BLOWFISH, 16));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_server = Side{};
    int peer = RawConnect(net_tcpcontext_local_port(server_));
    ASSERT_TRUE(TickUntil([this] { return server_->conn_in_use == 1; }));
    if (!c.bytes.empty()) net_socket_send(peer, c.bytes.data(), int(c.bytes.size()));
    net_socket_close(peer);
    raw_.pop_back();
    EXPECT_TRUE(TickUntil([this] { return server_->conn_in_use == 0; }));
  }
  EXPECT_EQ(0, g_accepts) << "the accept watcher only sees finished exchanges";
  EXPECT_EQ(0, g_server.closes);
}

TEST_F(Loopback, BadChunkAfterTheExchangeIsADecodingError) {
  REQUIRE_KEYEX();
  ASSERT_NE(nullptr, Server(NET_CIPHER_BLOWFISH, 16));
  ASSERT_NE(nullptr, Client(NET_BLOCK_CIPHER_ONLY_RECV | NET_CIPHER_BLOWFISH, 16));
  // The client sends plain bytes; the server expects chunks and reads a
  // padded length of 32768.
  g_client.conn = net_tcpcontext_connect(client_, "127.0.0.1", net_tcpcontext_local_port(server_));
  ASSERT_TRUE(TickUntil([] { return net_conn_valid(g_server.conn) && net_conn_write_room(g_client.conn) > 0; }));
  const char bytes[8] = {0, 0, (char)0x80, 0, 0, 0, 0, 1};
  ASSERT_EQ(8, net_conn_write(g_client.conn, bytes, 8));
  EXPECT_TRUE(TickUntil([] { return !net_conn_valid(g_server.conn); }));
  EXPECT_EQ(1, g_server.closes);
  EXPECT_EQ(NET_CLOSE_DECODE, g_server.reason);
}

TEST_F(Loopback, ContextsWithBadCipherParametersAreRefused) {
  struct {
    uint32_t flags;
    int key_length;
    int code;
    const char* log;
  } cases[] = {
      {1, 3, NET_ERR_KEY_LENGTH, "Fatal:1201 tcp: bad secret key length: 3\n"},
      {1, 57, NET_ERR_KEY_LENGTH, "Fatal:1201 tcp: bad secret key length: 57\n"},
      {2, 20, NET_ERR_KEY_LENGTH, "Fatal:1201 tcp: bad secret key length: 20\n"},
      {4, 16, NET_ERR_BAD_PREFIX, "Fatal: Twofish algorithm is not supported now\n"},
      {0x6001, 16, NET_ERR_INVALID,
       "Fatal: cannot use NET_BLOCK_CIPHER_ONLY_RECV and NET_BLOCK_CIPHER_ONLY_SEND at the same "
       "time\n"},
  };
  for (const auto& c : cases) {
    ::testing::internal::CaptureStderr();
    tcpcontext* ctx = net_tcpcontext_create(0, nullptr, 0, 1, 1024, 1024, 600, c.flags, c.key_length, 0, 0, 0);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(nullptr, ctx);
    EXPECT_EQ(c.code, net_last_error()) << c.log;
    EXPECT_EQ(c.log, log);
  }
  // A build without the key exchange refuses every cipher flag and says why.
  ::testing::internal::CaptureStderr();
  tcpcontext* ctx = net_tcpcontext_create(0, nullptr, 0, 1, 1024, 1024, 600, 2, 16, 0, 0, 0);
  std::string log = ::testing::internal::GetCapturedStderr();
  if (net_cipher_available()) {
    EXPECT_NE(nullptr, ctx);
    EXPECT_EQ("", log);
    net_tcpcontext_release(ctx);
  } else {
    EXPECT_EQ(nullptr, ctx);
    EXPECT_EQ(NET_ERR_BAD_PREFIX, net_last_error());
    EXPECT_NE(std::string::npos, log.find("Fatal:")) << log;
  }
}

}  // namespace
