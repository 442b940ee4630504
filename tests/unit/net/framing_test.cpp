// Record parsers on records that arrive in pieces, and the senders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events.h"
#include "net_test_util.h"

namespace {

using namespace nettest;

class Framing : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    g_client.Clear();
    g_server.Clear();
    server_ = Server();
  }
  // A connected client whose read buffer the test fills by hand; the
  // parser is then called directly, as the I/O step would.
  conn_t Connected(net_parser_fn parser, int32_t rb = 1024, int32_t wb = 1024) {
    tcpcontext* client = Client(rb, wb, 2);
    net_tcpcontext_set_conn_parser(client, parser, OnRecord<&g_client>);
    return Connect(client, server_);
  }
  tcpcontext* server_ = nullptr;
};

TEST_F(Framing, ParsersWaitForWholeRecords) {
  struct Case {
    const char* what;
    net_parser_fn parser;
    std::vector<std::vector<unsigned char>> pieces;
    // Records delivered by one parser call after each piece ("-": none).
    std::vector<std::string> after;
    int left;  // bytes still in rb at the end
  } cases[] = {
      {"2-byte, last byte late", net_parse_len16, {Bytes({0, 3, 'A', 'B'}), Bytes({'C'})}, {"-", "ABC"}, 0},
      {"2-byte, empty record", net_parse_len16, {Bytes({0, 0})}, {""}, 0},
      {"2-byte, header split", net_parse_len16, {Bytes({0}), Bytes({1, 'x'})}, {"-", "x"}, 0},
      {"4-byte, in three pieces", net_parse_len32, {Bytes({0, 0, 0}), Bytes({2, 'h'}), Bytes({'i'})}, {"-", "-", "hi"}, 0},
      {"4-byte, at the limit of the buffer", net_parse_len32, {Bytes({0, 0, 3, 0xFC})}, {"-"}, 4},
      {"line with CR LF", net_parse_line, {Text("GET\r\n")}, {"GET"}, 0},
      {"line, LF late", net_parse_line, {Text("GET\r"), Text("\n")}, {"-", "GET"}, 0},
      {"line with a lone CR", net_parse_line, {Text("A\rB\n")}, {"A\rB"}, 0},
      {"line, bare LF and a rest", net_parse_line, {Text("\nrest")}, {""}, 4},
      {"raw takes everything", net_parse_raw, {Text("ab"), Text("cd")}, {"ab", "cd"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_client.Clear();
    conn_t h = Connected(c.parser);
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      ASSERT_GT(net_buffer_append(&h.ptr->rb, c.pieces[i].data(), static_cast<int>(c.pieces[i].size())), -1);
      size_t before = g_client.records.size();
      EXPECT_EQ(0, c.parser(h));
      if (c.after[i] == "-") {
        EXPECT_EQ(before, g_client.records.size()) << "piece " << i;
      } else {
        ASSERT_EQ(before + 1, g_client.records.size()) << "piece " << i;
        EXPECT_EQ(Text(c.after[i]), g_client.records.back());
      }
    }
    EXPECT_EQ(c.left, net_buffer_used(&h.ptr->rb));
    net_tcpcontext_release(h.ptr->context);
  }
}

TEST_F(Framing, OneRecordPerCallAndHandlerResultPassedOn) {
  conn_t h = Connected(net_parse_len16);
  auto two = Bytes({0, 1, 'a', 0, 1, 'b'});
  net_buffer_append(&h.ptr->rb, two.data(), 6);
  EXPECT_EQ(0, net_parse_len16(h));
  EXPECT_EQ(1u, g_client.records.size());
  EXPECT_EQ(0, net_parse_len16(h));
  EXPECT_EQ(2u, g_client.records.size());
  EXPECT_EQ(0, net_parse_len16(h));  // nothing left
  EXPECT_EQ(2u, g_client.records.size());

  g_client.handler_result = -5;
  auto one = Bytes({0, 1, 'c'});
  net_buffer_append(&h.ptr->rb, one.data(), 3);
  EXPECT_EQ(-5, net_parse_len16(h));
  EXPECT_EQ(0, net_buffer_used(&h.ptr->rb));  // consumed all the same
  g_client.handler_result = 7;
  net_buffer_append(&h.ptr->rb, one.data(), 3);
  EXPECT_EQ(7, net_parse_len16(h));

  auto bad = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
  conn_t h32 = Connected(net_parse_len32);
  net_buffer_append(&h32.ptr->rb, bad.data(), 4);
  EXPECT_EQ(NET_ERR_BAD_LENGTH, net_parse_len32(h32));
  EXPECT_EQ(4, net_buffer_used(&h32.ptr->rb));  // not consumed
}

TEST_F(Framing, TwoRecordsInOneReadAreDeliveredInOneStep) {
  net_tcpcontext_set_conn_parser(server_, net_parse_len16, OnRecord<&g_server>);
  net_tcpcontext_set_parse_passes(server_, 2);
  RawPeer peer;
  ASSERT_TRUE(peer.ConnectTo(net_tcpcontext_local_port(server_)));
  ASSERT_TRUE(TickUntil([&] { return server_->conn_in_use == 1; }));
  ASSERT_TRUE(peer.Send(Bytes({0, 1, 'a', 0, 2, 'b', 'c'})));
  ASSERT_TRUE(TickUntil([&] { return !g_server.records.empty(); }));
  ASSERT_EQ(2u, g_server.records.size());
  EXPECT_EQ(Text("bc"), g_server.records[1]);
}

TEST_F(Framing, RecordSentByteByByteArrivesWhole) {
  net_tcpcontext_set_conn_parser(server_, net_parse_len16, OnRecord<&g_server>);
  RawPeer peer;
  ASSERT_TRUE(peer.ConnectTo(net_tcpcontext_local_port(server_)));
  ASSERT_TRUE(TickUntil([&] { return server_->conn_in_use == 1; }));
  conn_t s = Newest(server_);
  auto rec = Bytes({0, 5, 'p', 'i', 'e', 'c', 'e'});
  for (size_t i = 0; i + 1 < rec.size(); ++i) {
    ASSERT_TRUE(peer.Send(&rec[i], 1));
    ASSERT_TRUE(TickUntil([&] { return net_buffer_used(&s.ptr->rb) == static_cast<int>(i + 1); }));
    EXPECT_TRUE(g_server.records.empty());
  }
  ASSERT_TRUE(peer.Send(&rec.back(), 1));
  ASSERT_TRUE(TickUntil([&] { return g_server.records.size() == 1; }));
  EXPECT_EQ(Text("piece"), g_server.records[0]);
}

TEST_F(Framing, SendersCheckLengthAndRoom) {
  conn_t h = Connected(net_parse_len16, 1024, 70000);
  std::vector<char> big(65536, 'b');
  EXPECT_EQ(NET_ERR_TOO_LONG, net_send_len16(h, big.data(), 65536));
  EXPECT_EQ(0, net_buffer_used(&h.ptr->wb));
  EXPECT_EQ(65537, net_send_len16(h, big.data(), 65535));
  EXPECT_EQ(NET_ERR_TOO_LONG, net_send_len32(h, big.data(), 0x40000001));
  EXPECT_EQ(4, net_send_len32(h, nullptr, 0));
  EXPECT_EQ(2, net_send_len16(h, nullptr, 0));
  EXPECT_EQ(1, net_send_line(h, nullptr, 0));
  EXPECT_EQ(NET_ERR_INVALID, net_send_len16(h, big.data(), -1));

  auto wb = std::vector<unsigned char>(net_buffer_peek(&h.ptr->wb), net_buffer_peek(&h.ptr->wb) + net_buffer_used(&h.ptr->wb));
  ASSERT_EQ(65537u + 4 + 2 + 1, wb.size());
  EXPECT_EQ(Bytes({0xFF, 0xFF, 'b'}), std::vector<unsigned char>(wb.begin(), wb.begin() + 3));
  EXPECT_EQ(Bytes({0, 0, 0, 0, 0, 0, '\n'}), std::vector<unsigned char>(wb.end() - 7, wb.end()));

  const int headers[] = {2, 4, 1, 0};
  for (int i = 0; i < 4; ++i) {
    const net_framing* f = net_framing_by_index(i);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(headers[i], f->header_size);
  }
  EXPECT_EQ(nullptr, net_framing_by_index(4));
  EXPECT_EQ(nullptr, net_framing_by_index(-1));
}

}  // namespace
