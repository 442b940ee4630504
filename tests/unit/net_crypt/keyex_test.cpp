// Key exchange: exponents, modular exponentiation, key bytes from text, the
// three messages, and both sides' steps run over connection queues.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "../../support/hex_util.h"
#include "net/cipher_hook.h"
#include "net/core.h"
#include "net/dh.h"

namespace {

#define REQUIRE_KEYEX() \
  if (!net_keyex_available()) GTEST_SKIP() << "this build has no big-number library"

bool IsLowerHex(const std::string& s) {
  return s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(Keygen, DigestOfTheInputsAsFortyHexDigits) {
  struct {
    net_keygen_inputs in;
    const char* expect;
  } cases[] = {
      {{0, 0, 0, 0, {}}, "de8a847bff8c343d69b853a215e6ee775ef2ef96"},
      {{1, 2, 3, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
       "d7d7828ec5d0fe258ea1db953463f1c0ffb0c999"},
      {{0x5f000000, 1234, 0xdeadbeef, 7, {}}, "6bcf63f85f8a0177ca6734dc556a62e9b3ddd04d"},
  };
  for (const auto& c : cases) {
    char out[64];
    net_sha1_keygen_from(c.in, out, sizeof out);
    EXPECT_STREQ(c.expect, out);
  }
  char small[10];
  net_sha1_keygen_from(cases[0].in, small, sizeof small);
  EXPECT_STREQ("de8a847bf", small);
}

TEST(Keygen, ExponentsDifferWithinOneMillisecond) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    char out[64];
    net_sha1_keygen(out, sizeof out);
    ASSERT_EQ(40u, std::strlen(out));
    EXPECT_TRUE(IsLowerHex(out)) << out;
    seen.insert(out);
  }
  EXPECT_EQ(50u, seen.size());
  char cut[8];
  net_sha1_keygen(cut, sizeof cut);  // a short buffer only logs and cuts
  EXPECT_EQ(7u, std::strlen(cut));
}

TEST(Modexp, HexadecimalInAndOut) {
  REQUIRE_KEYEX();
  struct {
    const char *base, *mod, *exp;
    const char* expect;
  } cases[] = {
      {"2", "3E8", "a", "18"},     // 2^10 mod 1000 = 24
      {"ff", "3e8", "1", "FF"},    // uppercase out
      {"3", "2", "0", "01"},       // whole bytes, as the peer's library writes them
      {"2", "1000", "6", "40"},
      {"2", "100000", "10", "010000"},
      {"4", "2", "5", "0"},        // zero as "0"
      {"0000A", "64", "2", "0"},   // leading zeros in
  };
  for (const auto& c : cases) {
    char out[1024];
    ASSERT_EQ(0, net_modexp_hex(c.base, c.mod, c.exp, out, sizeof out)) << c.base;
    EXPECT_STREQ(c.expect, out);
  }
  char out[3];
  ASSERT_EQ(0, net_modexp_hex("7", NET_DH_PRIME, "abcdef", out, sizeof out));
  EXPECT_EQ(2u, std::strlen(out)) << "cut to the buffer";
}

TEST(Modexp, RefusesTextsThatAreNotNumbers) {
  struct {
    const char *base, *mod, *exp;
  } cases[] = {
      {"2", "0", "5"},   {"2", "", "5"},    {"", "17", "5"},   {"2", "17", ""},
      {"2g", "17", "5"}, {"2", "-17", "5"}, {"2", "1 7", "5"}, {"2", "0x17", "5"},
  };
  for (const auto& c : cases) {
    char out[16] = "junk";
    EXPECT_EQ(-1, net_modexp_hex(c.base, c.mod, c.exp, out, sizeof out))
        << c.base << " " << c.mod << " " << c.exp;
    EXPECT_STREQ("", out);
  }
}

TEST(ServerGroup, PrimeIsThe1024BitSafePrime) {
  EXPECT_STREQ("2", NET_DH_GENERATOR);
  ASSERT_EQ(256u, std::strlen(NET_DH_PRIME));
  EXPECT_TRUE(IsLowerHex(NET_DH_PRIME));
  REQUIRE_KEYEX();
  // A safe prime p of exactly 1024 bits: p and (p - 1) / 2 are both prime.
  gcry_mpi_t p = nullptr;
  ASSERT_EQ(0u, gcry_mpi_scan(&p, GCRYMPI_FMT_HEX, NET_DH_PRIME, 0, nullptr));
  EXPECT_EQ(1024u, gcry_mpi_get_nbits(p));
  EXPECT_EQ(0u, gcry_prime_check(p, 0));
  gcry_mpi_t q = gcry_mpi_new(0);
  gcry_mpi_rshift(q, p, 1);
  EXPECT_EQ(0u, gcry_prime_check(q, 0));
  gcry_mpi_release(q);
  gcry_mpi_release(p);
}

TEST(KeyFromHex, ConversionRules) {
  struct {
    const char* text;
    int key_len;
    const char* expect;  // key bytes after, starting from all 0xEE
  } cases[] = {
      {"0102a0FF", 4, "0102a0ff"},
      {"0X0102", 4, "0102eeee"},    // prefix skipped, the rest kept
      {"0x0102", 4, "0102eeee"},
      {"1g2z", 2, "1020"},          // stray characters count as 0
      {"abc", 3, "abc0ee"},         // odd length: last digit is a high half
      {"a", 2, "eeee"},             // 0 or 1 characters change nothing
      {"", 2, "eeee"},
      {"0x", 2, "eeee"},
      {"112233445566", 2, "1122"},  // the key length bounds the bytes taken
  };
  for (const auto& c : cases) {
    uint8_t key[8];
    std::memset(key, 0xEE, sizeof key);
    net_key_from_hex(c.text, key, c.key_len);
    EXPECT_EQ(c.expect, ToHex(key, static_cast<size_t>(c.key_len))) << c.text;
  }
}

TEST(KeyFromHex, ConnectionKeysNeverOverrun) {
  // Without cipher bits a context takes any key length, yet the exchange
  // still runs and sets keys.
  std::string text(400, 'a');
  for (int key_len : {-5, 0, 56, 64, 65, 1000}) {
    FakeConn c(1024, 1024, key_len);
    std::memset(c->recv_key, 0x11, sizeof c->recv_key);
    std::memset(c->send_key, 0x22, sizeof c->send_key);
    net_conn_keys_from_hex(c.get(), text.c_str());
    int n = key_len < 0 ? 0 : std::min(key_len, 64);
    for (int i = 0; i < 64; ++i) {
      EXPECT_EQ(i < n ? 0xAA : 0x11, c->recv_key[i]) << key_len << " " << i;
      EXPECT_EQ(i < n ? 0xAA : 0x22, c->send_key[i]) << key_len << " " << i;
    }
    EXPECT_EQ(0, c->send_cipher_state[0]);
  }
}

// ---- messages ----

std::vector<uint8_t> ServerHello(int32_t status, const char* g, const char* p, const char* pub) {
  std::vector<uint8_t> out(static_cast<size_t>(net_keyex_server_hello_size(g, p, pub)));
  net_keyex_write_server_hello(out.data(), status, g, p, pub);
  return out;
}

std::vector<uint8_t> Be32(int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  return {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
}

TEST(KeyexMessages, ServerHelloLayoutAndPieces) {
  std::vector<uint8_t> hello = ServerHello(0, "2", "17", "abc");
  EXPECT_EQ("00000000" "00000001" "32" "00000002" "3137" "00000003" "616263", ToHex(hello));
  net_server_hello parsed{};
  for (size_t len = 0; len < hello.size(); ++len)
    ASSERT_EQ(0, net_keyex_parse_server_hello(hello.data(), int32_t(len), &parsed)) << len;
  ASSERT_EQ(int(hello.size()), net_keyex_parse_server_hello(hello.data(), int32_t(hello.size()), &parsed));
  EXPECT_EQ(std::string("17"), std::string(parsed.prime.text, size_t(parsed.prime.len)));
  EXPECT_EQ(std::string("abc"), std::string(parsed.public_key.text, size_t(parsed.public_key.len)));
}

TEST(KeyexMessages, ServerHelloRefusals) {
  // Messages with empty texts: status, then the three lengths.
  auto words = [](std::initializer_list<int32_t> w) {
    std::vector<uint8_t> out;
    for (int32_t v : w) {
      std::vector<uint8_t> b = Be32(v);
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  };
  struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int expect;
  } cases[] = {
      {"status 4", ServerHello(4, "2", "17", "5"), NET_ERR_KEYEX_PEER},
      {"status 3", ServerHello(3, "2", "17", "5"), NET_ERR_KEYEX_PEER},
      {"all empty", words({0, 0, 0, 0}), 16},
      {"generator of 63", words({0, 63, 0, 0}), NET_ERR_NOROOM},
      {"negative generator", words({0, -1, 0, 0}), NET_ERR_NOROOM},
      {"prime of 1023", words({0, 0, 1023, 0}), NET_ERR_NOROOM},
      {"negative key", words({0, 0, 0, -2}), NET_ERR_NOROOM},
      {"key of 1023", words({0, 0, 0, 1023}), NET_ERR_NOROOM},
      {"key of 1022, not all there", words({0, 0, 0, 1022}), 0},
  };
  for (const auto& c : cases) {
    net_server_hello parsed{};
    EXPECT_EQ(c.expect,
              net_keyex_parse_server_hello(c.bytes.data(), int32_t(c.bytes.size()), &parsed))
        << c.what;
  }
}

TEST(KeyexMessages, ClientKeyLengthJudgedBeforeWaiting) {
  struct {
    int32_t len;
    int expect;
  } cases[] = {{-1, NET_ERR_KEYEX_PEER}, {1023, NET_ERR_KEYEX_PEER}, {1022, 0}, {0, 4}};
  for (const auto& c : cases) {
    std::vector<uint8_t> in = Be32(c.len);
    net_keyex_text t{};
    int32_t bad = 0;
    EXPECT_EQ(c.expect, net_keyex_parse_client_key(in.data(), 4, &t, &bad)) << c.len;
    if (c.expect < 0) {
      EXPECT_EQ(c.len, bad);
    }
  }
}

TEST(KeyexMessages, NumbersMustBeCleanHex) {
  struct {
    std::string text;
    bool ok;
  } cases[] = {{"12aB", true},
               {"", false},
               {"12 3", false},
               {std::string("1\0" "2", 3), false},
               {std::string(1022, 'f'), true},
               {std::string(1023, 'f'), false}};
  for (const auto& c : cases) {
    char out[NET_KEYEX_TEXT_ROOM];
    net_keyex_text t{c.text.data(), int32_t(c.text.size())};
    EXPECT_EQ(c.ok, net_keyex_copy_number(t, out)) << c.text.size();
  }
}

// ---- both sides over connection queues ----

struct Pair {
  explicit Pair(int key_length = 16, int client_key_length = -1)
      : client(32768, 32768, client_key_length < 0 ? key_length : client_key_length, 0),
        server(32768, 32768, key_length, 1) {}
  FakeConn client, server;
};

TEST(KeyexSteps, BothSidesAgreeOnTheKeys) {
  REQUIRE_KEYEX();
  for (int key_length : {4, 16, 56}) {
    Pair p(key_length);
    ASSERT_EQ(0, keyex_start_client(p.client.get()));
    EXPECT_EQ(1, p.client->keyex_state);
    ASSERT_EQ(8, net_buffer_used(&p.client->ewb));
    EXPECT_EQ("00000000" + ToHex(Be32(key_length)), ToHex(net_buffer_peek(&p.client->ewb), 8));
    p.client.SendTo(p.server);
    ASSERT_EQ(0, keyex_server_step(p.server.get()));
    EXPECT_EQ(1, p.server->keyex_state);
    EXPECT_EQ(0, net_buffer_used(&p.server->erb));
    // The hello reaches the client five bytes at a time; nothing is taken
    // from erb before it is whole.
    int hello_size = net_buffer_used(&p.server->ewb);
    while (p.server.SendTo(p.client, 5) > 0) {
      ASSERT_EQ(0, keyex_client_step(p.client.get()));
      if (p.client->keyex_state != NET_KEYEX_DONE) {
        EXPECT_EQ(hello_size - net_buffer_used(&p.server->ewb), net_buffer_used(&p.client->erb));
      }
    }
    ASSERT_EQ(NET_KEYEX_DONE, p.client->keyex_state);
    EXPECT_EQ(0, net_buffer_used(&p.client->erb));
    p.client.SendTo(p.server);
    ASSERT_EQ(0, keyex_server_step(p.server.get()));
    ASSERT_EQ(NET_KEYEX_DONE, p.server->keyex_state);
    EXPECT_EQ(0, std::memcmp(p.client->send_key, p.server->recv_key, size_t(key_length)));
    EXPECT_EQ(0, std::memcmp(p.client->recv_key, p.server->send_key, size_t(key_length)));
    EXPECT_STREQ(p.client->keyex_public, p.server->keyex_peer_public);
    EXPECT_STREQ(p.server->keyex_public, p.client->keyex_peer_public);
    EXPECT_STREQ(NET_DH_PRIME, p.client->keyex_prime);
    EXPECT_STREQ("2", p.client->keyex_generator);
    EXPECT_EQ(40u, std::strlen(p.client->keyex_private));
    EXPECT_STRNE(p.client->keyex_private, p.server->keyex_private);
    // Further steps are in the wrong state.
    EXPECT_EQ(NET_ERR_TWICE, keyex_client_step(p.client.get()));
    EXPECT_EQ(NET_ERR_TWICE, keyex_server_step(p.server.get()));
  }
}

// Runs the exchange up to the server's hello and hands it to the client.
void HelloToClient(Pair& p) {
  ASSERT_EQ(0, keyex_start_client(p.client.get()));
  p.client.SendTo(p.server);
  ASSERT_EQ(0, keyex_server_step(p.server.get()));
  p.server.SendTo(p.client);
}

TEST(KeyexSteps, ServerRefusalsReachTheClientAsStatus) {
  REQUIRE_KEYEX();
  // Key length differs: status 4.
  Pair lengths(16, 24);
  HelloToClient(lengths);
  EXPECT_EQ(1, lengths.server->keyex_state) << "the server answers whatever the status";
  EXPECT_EQ(4, net_buffer_peek(&lengths.client->erb)[3]);
  EXPECT_EQ(NET_ERR_KEYEX_PEER, keyex_client_step(lengths.client.get()));

  // Version differs: status 3.
  Pair version;
  std::vector<uint8_t> hello = Be32(1);
  std::vector<uint8_t> len = Be32(16);
  hello.insert(hello.end(), len.begin(), len.end());
  net_buffer_append(&version.server->erb, hello.data(), 8);
  ASSERT_EQ(0, keyex_server_step(version.server.get()));
  EXPECT_EQ(3, net_buffer_peek(&version.server->ewb)[3]);
}

TEST(KeyexSteps, BrokenExchangesFail) {
  REQUIRE_KEYEX();
  {
    SCOPED_TRACE("steps in the wrong state");
    Pair p;
    EXPECT_EQ(NET_ERR_TWICE, keyex_client_step(p.client.get()));
    p.server->keyex_state = 5;
    EXPECT_EQ(NET_ERR_TWICE, keyex_server_step(p.server.get()));
  }
  {
    SCOPED_TRACE("server without 800 bytes of room");
    FakeConn server(32768, 700, 16, 1);
    std::vector<uint8_t> hello(8, 0);
    hello[7] = 16;
    net_buffer_append(&server->erb, hello.data(), 8);
    EXPECT_EQ(NET_ERR_KEYEX_ROOM, keyex_server_step(server.get()));
    EXPECT_EQ(8, net_buffer_used(&server->erb));
  }
  {
    SCOPED_TRACE("client without room for its key");
    Pair p;
    FakeConn client(32768, 100, 16, 0);
    ASSERT_EQ(0, keyex_start_client(client.get()));
    client.SendTo(p.server);
    ASSERT_EQ(0, keyex_server_step(p.server.get()));
    p.server.SendTo(client);
    EXPECT_EQ(NET_ERR_KEYEX_ROOM, keyex_client_step(client.get()));
  }
  {
    SCOPED_TRACE("server hello whose numbers are unusable");
    struct {
      const char *g, *prime, *pub;
    } bad[] = {{"2", "0", "5"}, {"2", "zz", "5"}, {"", "17", "5"}, {"2", "17", ""}};
    for (const auto& b : bad) {
      FakeConn client(32768, 32768, 16, 0);
      ASSERT_EQ(0, keyex_start_client(client.get()));
      std::vector<uint8_t> hello = ServerHello(0, b.g, b.prime, b.pub);
      net_buffer_append(&client->erb, hello.data(), int(hello.size()));
      EXPECT_EQ(NET_ERR_KEYEX_PEER, keyex_client_step(client.get())) << b.g << "/" << b.prime;
      EXPECT_NE(NET_KEYEX_DONE, client->keyex_state);
    }
  }
  {
    SCOPED_TRACE("client key of a bad length or not a number");
    for (const auto& tail : {Be32(-1), Be32(5000)}) {
      Pair p;
      HelloToClient(p);
      net_buffer_append(&p.server->erb, tail.data(), 4);
      EXPECT_EQ(NET_ERR_KEYEX_PEER, keyex_server_step(p.server.get()));
    }
    Pair p;
    HelloToClient(p);
    std::vector<uint8_t> msg = Be32(3);
    msg.insert(msg.end(), {'x', 'y', 'z'});
    net_buffer_append(&p.server->erb, msg.data(), int(msg.size()));
    EXPECT_EQ(NET_ERR_KEYEX_PEER, keyex_server_step(p.server.get()));
  }
}

int g_watcher_calls = 0;
conn_t g_watched{};
int RefusingWatcher(conn_t c) {
  ++g_watcher_calls;
  g_watched = c;
  return -9;
}

TEST(KeyexSteps, AcceptWatcherRunsWhenTheExchangeEnds) {
  REQUIRE_KEYEX();
  Pair p;
  p.server->accept_watcher = RefusingWatcher;
  HelloToClient(p);
  EXPECT_EQ(0, g_watcher_calls) << "not before the exchange is done";
  ASSERT_EQ(0, keyex_client_step(p.client.get()));
  p.client.SendTo(p.server);
  EXPECT_EQ(-9, keyex_server_step(p.server.get()));
  EXPECT_EQ(1, g_watcher_calls);
  EXPECT_EQ(p.server.get(), g_watched.ptr);
}

}  // namespace
