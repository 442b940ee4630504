// Shared helpers of the middleware tests: a library set up with a clock the
// test moves by hand, bounded heartbeat loops, and a plain blocking socket
// peer for cases where the other side has to misbehave.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/net.h"
#include "net/state.h"

namespace nettest {

inline int64_t g_fake_sec = 1700000000;

inline void FakeTime(int64_t* sec, int32_t* msec) {
  *sec = g_fake_sec;
  *msec = 0;
}

// Runs net_tick until done() or max_ticks; short pauses once the first
// ticks found nothing, so loopback bytes have time to arrive.
inline bool TickUntil(const std::function<bool()>& done, int max_ticks = 20000) {
  for (int i = 0; i < max_ticks; ++i) {
    if (done()) return true;
    net_tick();
    if (i > 20) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return done();
}

inline void Ticks(int n) {
  for (int i = 0; i < n; ++i) net_tick();
}

// Library initialised with the fake clock; finalised after the test.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake_sec = 1700000000;
    net_set_time_source(FakeTime);
    net_set_log_level(0);
    net_limits lim{8, 4, 64, 4, 256, 8192, 8192};
    ASSERT_EQ(0, net_init_with_limits(&lim));
  }
  void TearDown() override {
    net_finalize();
    net_set_time_source(nullptr);
    net_set_log_level(0);
  }

  // A listening context on 127.0.0.1 and a free port.
  static tcpcontext* Server(int32_t rb = 32768, int32_t wb = 32768, int32_t max_conn = 16, int32_t timeout = 600) {
    tcpcontext* s = net_tcpcontext_create(1, "127.0.0.1", 0, max_conn, rb, wb, timeout, 0, 0, 0, 0, 0);
    EXPECT_NE(nullptr, s) << net_last_error();
    return s;
  }
  static tcpcontext* Client(int32_t rb = 32768, int32_t wb = 32768, int32_t max_conn = 4, int32_t state = 0) {
    tcpcontext* c = net_tcpcontext_create(0, nullptr, 0, max_conn, rb, wb, 600, 0, 0, 1, 0, state);
    EXPECT_NE(nullptr, c) << net_last_error();
    return c;
  }
  // Connects and waits until the connect completed and the server saw it.
  static conn_t Connect(tcpcontext* client, tcpcontext* server) {
    conn_t c = net_tcpcontext_connect(client, "127.0.0.1", net_tcpcontext_local_port(server));
    EXPECT_TRUE(net_conn_valid(c)) << net_last_error();
    if (!net_conn_valid(c)) return c;
    const uint16_t port = c.ptr->local_port;
    EXPECT_TRUE(TickUntil([&] { return net_conn_write_room(c) > 0 && Accepted(server, port).ptr != nullptr; }));
    return c;
  }
  // The server's connection from the given client port.
  static conn_t Accepted(tcpcontext* server, uint16_t client_port) {
    for (void* e = net_array_first(g_net.conn_array); e != nullptr; e = net_array_next(g_net.conn_array, e)) {
      net_conn* c = static_cast<net_conn*>(e);
      if (c->context == server && c->remote_port == client_port) return net_conn_handle(c);
    }
    return conn_t{nullptr, 0};
  }
  // The newest connection of a server context.
  static conn_t Newest(tcpcontext* ctx) {
    int conns = g_net.conn_array;
    for (void* e = net_array_first(conns); e != nullptr; e = net_array_next(conns, e)) {
      net_conn* c = static_cast<net_conn*>(e);
      if (c->context == ctx) return net_conn_handle(c);
    }
    return conn_t{nullptr, 0};
  }
};

// A plain blocking socket through the library's socket layer (so the same
// code runs on both platforms).
class RawPeer {
 public:
  RawPeer() = default;
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;
  ~RawPeer() { Close(); }

  bool ConnectTo(uint16_t port) {
    m_socket = net_socket_create();
    if (m_socket < 0) return false;
    uint8_t r[16], l[16];
    int32_t rl = 0, ll = 0;
    uint16_t lp = 0;
    if (net_socket_connect(m_socket, "127.0.0.1", port, r, &rl, l, &ll, &lp) < 0) {
      m_socket = -1;
      return false;
    }
    return true;
  }
  bool Send(const std::vector<unsigned char>& bytes) { return Send(bytes.data(), static_cast<int>(bytes.size())); }
  bool Send(const void* p, int n) {
    const char* b = static_cast<const char*>(p);
    while (n > 0) {
      int r = net_socket_send(m_socket, b, n);
      if (r <= 0) return false;
      b += r;
      n -= r;
    }
    return true;
  }
  // Reads what is there after the heartbeat loop let it arrive: ticks
  // until `want` bytes came or the loop ends.
  std::vector<unsigned char> ReceiveWhileTicking(size_t want, int max_ticks = 20000) {
    std::vector<unsigned char> got;
    TickUntil(
        [&] {
          net_fdset_clear();
          net_fdset_add_read(m_socket);
          int rd = 0, wr = 0;
          net_socket_wait(net_select_width(), &rd, &wr);
          if (rd > 0 && net_socket_is_readable(m_socket)) {
            char buf[65536];
            int n = net_socket_recv(m_socket, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
            if (n <= 0) m_eof = true;
          }
          return got.size() >= want || m_eof;
        },
        max_ticks);
    return got;
  }
  bool eof() const { return m_eof; }
  void Close() {
    if (m_socket >= 0) net_socket_close(m_socket);
    m_socket = -1;
  }
  int handle() const { return m_socket; }

 private:
  int m_socket = -1;
  bool m_eof = false;
};

inline std::vector<unsigned char> Bytes(std::initializer_list<int> v) {
  std::vector<unsigned char> out;
  for (int b : v) out.push_back(static_cast<unsigned char>(b));
  return out;
}

}  // namespace nettest
