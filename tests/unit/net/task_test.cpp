// Heartbeat extras: tasks, circuits and their hash tables, and fairness
// when more sockets want service than a readiness set holds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "events.h"
#include "net_test_util.h"

namespace {

using namespace nettest;

class Tasks : public NetTest {};

int g_runs = 0;
int CountRun(net_task*, void*, void* arg) {
  ++g_runs;
  return arg != nullptr ? -1 : 0;  // a non-null argument asks for removal
}

TEST_F(Tasks, TasksRunByIntervalAndGoOnNegativeResult) {
  g_runs = 0;
  net_taskworld* w = net_taskworld_create("world", 0, 4, 4, 1);
  ASSERT_NE(nullptr, w);
  net_task* keep = net_task_add(w, 1000000, CountRun, nullptr, nullptr);
  net_task* once = net_task_add(w, 1000000, CountRun, nullptr, reinterpret_cast<void*>(1));
  ASSERT_TRUE(keep && once);
  EXPECT_EQ(2, w->task_count);

  testing::internal::CaptureStderr();
  Ticks(3);  // the clock has not moved: nothing is due
  EXPECT_EQ(0, g_runs);
  g_fake_sec += 2;
  net_tick();  // takes the time
  net_tick();  // runs both; the second asks to go
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(2, g_runs);
  EXPECT_EQ(1, w->task_count);
  EXPECT_EQ(1u, keep->run_count);
  EXPECT_EQ(0, once->in_use);
  EXPECT_NE(std::string::npos, log.find("[task world scan complete]\n"));

  g_fake_sec += 2;
  net_tick();
  net_tick();
  EXPECT_EQ(3, g_runs);
  EXPECT_EQ(0, net_taskworld_release(w));
}

TEST_F(Tasks, HashTableRemoval) {
  int t = net_hashtable_create(7, 8);
  ASSERT_GE(t, 0);
  int v1 = 1, v2 = 2;
  ASSERT_EQ(0, net_hashtable_put(t, -5, 3, &v1));  // negative sum: bucket by absolute value
  ASSERT_EQ(0, net_hashtable_put(t, 2, 0, &v2));   // same bucket as (-5, 3)
  EXPECT_EQ(&v1, net_hashtable_get(t, -5, 3));
  EXPECT_EQ(0, net_hashtable_remove(t, -5, 3));
  EXPECT_EQ(NET_ERR_NOTFOUND, net_hashtable_remove(t, -5, 3));
  EXPECT_EQ(&v2, net_hashtable_get(t, 2, 0));
  EXPECT_EQ(NET_ERR_INVALID, net_hashtable_remove(99, 1, 1));
  EXPECT_EQ(NET_ERR_INVALID, net_hashtable_remove(-1, 1, 1));
  EXPECT_EQ(0, net_hashtable_release(t));
  EXPECT_EQ(NET_ERR_INVALID, net_hashtable_remove(t, 2, 0));
}

std::vector<int> g_circ_closed;
int OnCircClose(net_circuit*, int32_t, int reason) {
  g_circ_closed.push_back(reason);
  return 0;
}

TEST_F(Tasks, IdleCircuitIsClosedWithAClosedMessage) {
  g_circ_closed.clear();
  g_server.Clear();
  tcpcontext* server = Server();
  net_tcpcontext_set_conn_parser(server, net_parse_raw, OnRecord<&g_server>);
  tcpcontext* client = Client();
  conn_t c = Connect(client, server);
  ASSERT_EQ(0, net_tcpcontext_enable_circuits(client, 2, 256, 8, OnCircClose, nullptr));
  net_circuit* circ = net_circ_open(client, c, 0x01020304, 0x0506, 5);
  ASSERT_NE(nullptr, circ);
  EXPECT_EQ(circ, net_circ_find(client, 0x01020304, 0x0506));

  testing::internal::CaptureStderr();
  g_fake_sec += 6;
  ASSERT_TRUE(TickUntil([&] { return !g_circ_closed.empty(); }, 100));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::vector<int>{NET_CLOSE_DRAIN_TIMEOUT}, g_circ_closed);
  EXPECT_EQ(nullptr, net_circ_find(client, 0x01020304, 0x0506));
  EXPECT_NE(std::string::npos, log.find("VEC_DEBUG: SEND: CLOSED(circ_close) len:14\n"));
  ASSERT_TRUE(TickUntil([&] { return !g_server.records.empty(); }));
  EXPECT_EQ(Bytes({0x07, 0x75, 0, 2, 1, 2, 3, 4, 5, 6, 0, 2, 0, 0}), g_server.records[0]);
}

class ManyConnections : public NetTest {
 protected:
  void SetUp() override {
    g_fake_sec = 1700000000;
    net_set_time_source(FakeTime);
    net_limits lim{4, 0, 256, 0, 64, 8192, 8192};
    ASSERT_EQ(0, net_init_with_limits(&lim));
  }
};

// More connections than a readiness set holds: each one is still served.
TEST_F(ManyConnections, EveryConnectionIsServedBeyondTheSetLimit) {
  g_server.Clear();
  tcpcontext* server = Server(256, 256, 100);
  net_tcpcontext_set_conn_parser(server, net_parse_len16, OnRecord<&g_server>);
  const int n = 90;
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < n; ++i) {
    peers.push_back(std::make_unique<RawPeer>());
    ASSERT_TRUE(peers.back()->ConnectTo(net_tcpcontext_local_port(server)));
    ASSERT_TRUE(TickUntil([&] { return server->conn_in_use == i + 1; }));
  }
  // The oldest connections send; with a set of 64 and the newest first,
  // they would never be read without the rotation.
  for (int i = 0; i < 20; ++i) {
    unsigned char rec[3] = {0, 1, static_cast<unsigned char>(i)};
    ASSERT_TRUE(peers[i]->Send(rec, 3));
  }
  EXPECT_TRUE(TickUntil([&] { return g_server.records.size() == 20; }, 5000));
}

}  // namespace
