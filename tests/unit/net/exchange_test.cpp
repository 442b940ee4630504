// A client and a server context of the library exchange 10 000 records of
// random sizes in each direction at once, over loopback; every byte is
// checked on arrival.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "net_test_util.h"

namespace {

using namespace nettest;

constexpr int kRecords = 10000;
constexpr int32_t kBufferSize = 8192;

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// One direction: what record i must look like, and how far each end got.
struct Stream {
  uint64_t seed = 0;
  int max_len = 0;
  int sent = 0;
  int checked = 0;
  int bad = 0;

  int Length(int i) const {
    if (i == 0) return 0;  // both ends of the range, always
    if (i == 1) return max_len;
    return static_cast<int>(Mix(seed + static_cast<uint64_t>(i)) % static_cast<uint64_t>(max_len + 1));
  }
  unsigned char Byte(int i, int j) const { return static_cast<unsigned char>(Mix(seed ^ static_cast<uint64_t>(i)) + j * 7u); }
  void Fill(int i, std::vector<unsigned char>* out) const {
    out->resize(static_cast<size_t>(Length(i)));
    for (int j = 0; j < Length(i); ++j) (*out)[static_cast<size_t>(j)] = Byte(i, j);
  }
  void Check(const unsigned char* p, int n) {
    int i = checked++;
    if (i >= kRecords || n != Length(i)) {
      ++bad;
      return;
    }
    for (int j = 0; j < n; ++j)
      if (p[j] != Byte(i, j)) {
        ++bad;
        return;
      }
  }
};

Stream g_to_server;
Stream g_to_client;

int ServerGot(conn_t, const unsigned char* p, int n) {
  g_to_server.Check(p, n);
  return 0;
}
int ClientGot(conn_t, const unsigned char* p, int n) {
  g_to_client.Check(p, n);
  return 0;
}

// Queues as many of the stream's records as the write buffer takes.
void Pump(conn_t c, Stream* s, net_sender_fn send, int header, std::vector<unsigned char>* buf) {
  while (s->sent < kRecords) {
    s->Fill(s->sent, buf);
    int n = static_cast<int>(buf->size());
    int r = send(c, buf->data(), n);
    if (r == NET_ERR_WRITE_ROOM) return;
    ASSERT_EQ(n + header, r) << "record " << s->sent;
    ++s->sent;
  }
}

struct Framing {
  const char* name;
  net_parser_fn parser;
  net_sender_fn sender;
  int header;
};

class Exchange : public NetTest, public ::testing::WithParamInterface<Framing> {};

TEST_P(Exchange, TenThousandRecordsEachWayEveryByteChecked) {
  const Framing f = GetParam();
  g_to_server = Stream{11, kBufferSize - f.header};
  g_to_client = Stream{29, kBufferSize - f.header};

  tcpcontext* server = Server(kBufferSize, kBufferSize);
  tcpcontext* client = Client(kBufferSize, kBufferSize);
  net_tcpcontext_set_conn_parser(server, f.parser, ServerGot);
  net_tcpcontext_set_conn_parser(client, f.parser, ClientGot);
  net_tcpcontext_set_parse_passes(server, 4);
  net_tcpcontext_set_parse_passes(client, 4);
  conn_t c = Connect(client, server);
  conn_t s = Newest(server);
  ASSERT_TRUE(net_conn_valid(s));

  std::vector<unsigned char> buf;
  int idle = 0;
  for (int tick = 0; tick < 5000000 && idle < 200000; ++tick) {
    if (g_to_server.checked == kRecords && g_to_client.checked == kRecords) break;
    int before = g_to_server.checked + g_to_client.checked + g_to_server.sent + g_to_client.sent;
    Pump(c, &g_to_server, f.sender, f.header, &buf);
    Pump(s, &g_to_client, f.sender, f.header, &buf);
    if (HasFatalFailure()) return;
    net_tick();
    int after = g_to_server.checked + g_to_client.checked + g_to_server.sent + g_to_client.sent;
    idle = after == before ? idle + 1 : 0;
  }
  EXPECT_EQ(kRecords, g_to_server.checked);
  EXPECT_EQ(kRecords, g_to_client.checked);
  EXPECT_EQ(0, g_to_server.bad);
  EXPECT_EQ(0, g_to_client.bad);
  EXPECT_TRUE(net_conn_valid(c));
  EXPECT_TRUE(net_conn_valid(s));
}

INSTANTIATE_TEST_SUITE_P(Framings, Exchange,
                         ::testing::Values(Framing{"len16", net_parse_len16, net_send_len16, 2},
                                           Framing{"len32", net_parse_len32, net_send_len32, 4}),
                         [](const ::testing::TestParamInfo<Framing>& info) { return std::string(info.param.name); });

}  // namespace
