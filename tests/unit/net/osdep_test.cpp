// The socket layer: resolution, readiness sets, address texts, options.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/osdep_sys.h"
#include "net_test_util.h"

namespace {

using nettest::NetTest;

class Osdep : public NetTest {};

TEST_F(Osdep, ResolveNumericAndUnknownNames) {
  uint8_t a[4] = {};
  EXPECT_EQ(0, net_resolve_ipv4("127.0.0.1", a));
  EXPECT_EQ(0, std::memcmp(a, "\x7f\x00\x00\x01", 4));

  testing::internal::CaptureStderr();
  EXPECT_EQ(NET_ERR_RESOLVE, net_resolve_ipv4("no-such-host.invalid", a));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ("Fatal:1260 win32 fatal: gethostbyname() error:no-such-host.invalid\n", log);
  EXPECT_EQ(NET_ERR_RESOLVE, net_last_error());
}

TEST_F(Osdep, ReadinessSetsKeepOneEntryPerHandleAndAtMost64) {
  net_fdset_clear();
  net_fdset_add_read(5);
  net_fdset_add_read(5);
  EXPECT_EQ(1, net_fdset_read_count());
  for (int h = 100; h < 100 + 65; ++h) net_fdset_add_write(h);
  EXPECT_EQ(NET_FDSET_MAX, net_fdset_write_count());
  net_fdset_clear();
  EXPECT_EQ(0, net_fdset_read_count());
  EXPECT_EQ(0, net_fdset_write_count());
}

TEST_F(Osdep, AddressTexts) {
  char buf[64];
  const uint8_t v4[4] = {10, 0, 0, 5};
  net_format_ipv4(v4, 4, buf);
  EXPECT_STREQ("10.0.0.5", buf);
  net_format_ipv4(v4, 16, buf);
  EXPECT_STREQ("ERROR", buf);
  const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02};
  net_format_ipv6(v6, 16, buf);
  EXPECT_STREQ("2001:db8:0:0:0:0:0:102", buf);
  net_format_ipv6(v6, 4, buf);
  EXPECT_STREQ("ERROR", buf);

  net_conn c;
  std::memset(&c, 0, sizeof c);
  std::memcpy(c.remote_addr, v4, 4);
  c.remote_addr_len = 4;
  c.remote_port = 9070;
  EXPECT_STREQ("10.0.0.5:9070", net_format_peer(&c, buf, 32));
  EXPECT_EQ(nullptr, net_format_peer(&c, buf, 31));
  EXPECT_EQ(NET_ERR_TRUNCATED, net_last_error());
  c.remote_addr_len = 16;
  EXPECT_EQ(nullptr, net_format_peer(&c, buf, 49));
  EXPECT_NE(nullptr, net_format_peer(&c, buf, 50));
  c.remote_addr_len = 7;
  EXPECT_EQ(nullptr, net_format_peer(&c, buf, 64));
  EXPECT_EQ(NET_ERR_INVALID, net_last_error());
}

TEST_F(Osdep, SendBufferAlreadyLargeIsLeftAlone) {
  int s = net_socket_create();
  ASSERT_GE(s, 0);
  ASSERT_EQ(0, sys_setsockopt_int(s, SockOpt::SndBuf, 65536));
  int before = 0;
  ASSERT_EQ(0, sys_getsockopt_int(s, SockOpt::SndBuf, &before));
  net_set_log_level(1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, net_set_so_sndbuf(s));
  std::string log = testing::internal::GetCapturedStderr();
  net_set_log_level(0);
  EXPECT_EQ("net_set_so_sndbuf: SO_SNDBUF is set " + std::to_string(before) + ". desired:32768\n", log);
  net_socket_close(s);
}

TEST_F(Osdep, RefusedConnectFailsAndClosesTheSocket) {
  // A port that was free a moment ago: bind one, note it, close it.
  int probe = net_socket_create();
  ASSERT_GE(probe, 0);
  ASSERT_EQ(0, net_socket_bind(probe, "127.0.0.1", 0));
  uint8_t addr[16];
  int32_t len = 0;
  uint16_t port = 0;
  ASSERT_EQ(0, net_socket_local_name(probe, addr, &len, &port));
  net_socket_close(probe);

  int s = net_socket_create();
  ASSERT_GE(s, 0);
  uint8_t r[16], l[16];
  int32_t rl = 0, ll = 0;
  uint16_t lp = 0;
  EXPECT_EQ(NET_ERR_CONNECT, net_socket_connect(s, "127.0.0.1", port, r, &rl, l, &ll, &lp));

  // A blocking client context reports the same through connect.
  tcpcontext* ctx = net_tcpcontext_create(0, nullptr, 0, 1, 1024, 1024, 600, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, ctx);
  conn_t c = net_tcpcontext_connect(ctx, "127.0.0.1", port);
  EXPECT_FALSE(net_conn_valid(c));
  EXPECT_EQ(NET_ERR_CONNECT, net_last_error());
  EXPECT_EQ(0, ctx->conn_in_use);
  c = net_tcpcontext_connect(ctx, "no-such-host.invalid", port);
  EXPECT_FALSE(net_conn_valid(c));
  EXPECT_EQ(NET_ERR_CONNECT, net_last_error());
}

}  // namespace
