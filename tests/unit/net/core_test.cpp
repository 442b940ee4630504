// Set-up and tear-down, the element arrays, allocation hooks and log output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/net.h"
#include "net/state.h"

namespace {

// Allocation hook that fails the n-th call (counting from 1), 0 = never.
int g_fail_at = 0;
int g_calls = 0;
void* FailingMalloc(size_t n) {
  ++g_calls;
  if (g_fail_at != 0 && g_calls == g_fail_at) return nullptr;
  return std::malloc(n);
}

net_limits Limits(int tcpctx, int taskworld, int conn, int hashtable, int array) {
  net_limits l;
  net_limits_reset(&l);
  l.max_tcpcontext = tcpctx;
  l.max_taskworld = taskworld;
  l.max_conn = conn;
  l.max_hashtable = hashtable;
  l.max_array = array;
  return l;
}

class Core : public ::testing::Test {
 protected:
  void SetUp() override { net_set_log_level(0); }
  void TearDown() override {
    net_set_alloc_hooks(nullptr, nullptr);
    net_set_log_level(0);
    g_fail_at = 0;
    // Limits outlive finalisation: put the defaults back for the next test.
    net_limits l{16, 16, 1000, 64, 256, 8192, 8192};
    net_init_with_limits(&l);
    net_finalize();
  }
};

TEST_F(Core, LimitsResetAndMinimumArrayTable) {
  net_limits l;
  net_limits_reset(&l);
  const int32_t* f = &l.max_tcpcontext;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(-1, f[i]);

  net_limits small = Limits(1, 0, 1, 0, 3);
  ASSERT_EQ(0, net_init_with_limits(&small));
  EXPECT_EQ(8, net_current_limits().max_array);
  // The client's limits make neither task worlds nor hash tables.
  EXPECT_EQ(-1, g_net.taskworld_array);
  EXPECT_EQ(nullptr, g_net.hashtables);
  EXPECT_GE(g_net.conn_array, 0);
  EXPECT_GE(g_net.tcpctx_array, 0);
  EXPECT_EQ(1 + 1 + 8, net_select_width());
  EXPECT_EQ(0, net_last_error());
  EXPECT_EQ(0, net_finalize());
}

TEST_F(Core, AllocationFailuresDuringInitReleaseEverything) {
  // Calls: two work buffers, the table, then three blocks for each array
  // (taskworld, conn, tcpctx), then the hash tables.
  struct {
    int fail_at;
    int expect;
  } cases[] = {
      {1, NET_ERR_NOMEM},       {2, NET_ERR_NOMEM},       {3, NET_ERR_NOMEM},
      {4, NET_ERR_INIT_ARRAY},  {7, NET_ERR_INIT_ARRAY},  {9, NET_ERR_INIT_ARRAY},
      {12, NET_ERR_INIT_ARRAY}, {13, NET_ERR_NOMEM},
  };
  for (const auto& c : cases) {
    net_limits l = Limits(2, 2, 2, 2, 16);
    g_calls = 0;
    g_fail_at = c.fail_at;
    net_set_alloc_hooks(FailingMalloc, nullptr);
    EXPECT_EQ(c.expect, net_init_with_limits(&l)) << "failing call " << c.fail_at;
    EXPECT_EQ(-1, g_net.conn_array);
    EXPECT_EQ(-1, g_net.tcpctx_array);
    EXPECT_EQ(-1, g_net.taskworld_array);
    EXPECT_EQ(nullptr, g_net.work_buffer_1);
  }
  net_set_alloc_hooks(nullptr, nullptr);
}

class Arrays : public Core {
 protected:
  void SetUp() override {
    Core::SetUp();
    net_limits l = Limits(1, 0, 0, 0, 8);
    ASSERT_EQ(0, net_init_with_limits(&l));
  }
  void TearDown() override {
    net_finalize();
    Core::TearDown();
  }
};

TEST_F(Arrays, TableScarcityAndNameTruncation) {
  // One descriptor is taken by "tcpctx"; seven remain.
  for (int i = 0; i < 7; ++i) EXPECT_GE(init_array(4, 2, "a"), 0);
  EXPECT_EQ(NET_ERR_NOROOM, init_array(4, 2, "ninth"));
  EXPECT_EQ(NET_ERR_NOROOM, net_last_error());
  ASSERT_EQ(0, net_end_array(1));
  EXPECT_EQ(NET_ERR_INVALID, init_array(0, 2, "zero size"));
  int idx = init_array(4, 2, "0123456789012345678901234567890123456789");
  ASSERT_GE(idx, 0);
  EXPECT_EQ(std::string("0123456789012345678901234567890"), net_array_name(idx));
}

TEST_F(Arrays, TakeReturnAndWalk) {
  int a = init_array(16, 3, "elements");
  ASSERT_GE(a, 0);
  char* e1 = static_cast<char*>(net_array_alloc(a));
  char* e2 = static_cast<char*>(net_array_alloc(a));
  char* e3 = static_cast<char*>(net_array_alloc(a));
  ASSERT_TRUE(e1 && e2 && e3);
  EXPECT_EQ(nullptr, net_array_alloc(a));
  EXPECT_EQ(NET_ERR_NOROOM, net_last_error());

  std::vector<void*> walk;
  for (void* e = net_array_first(a); e != nullptr; e = net_array_next(a, e)) walk.push_back(e);
  EXPECT_EQ((std::vector<void*>{e3, e2, e1}), walk);

  ASSERT_EQ(0, net_array_free(a, e2));
  // A walk standing on the element just returned still finds its successor.
  EXPECT_EQ(e1, net_array_next(a, e2));
  walk.clear();
  for (void* e = net_array_first(a); e != nullptr; e = net_array_next(a, e)) walk.push_back(e);
  EXPECT_EQ((std::vector<void*>{e3, e1}), walk);

  // Last returned, first handed out, with its old bytes.
  std::snprintf(e3, 16, "kept");
  ASSERT_EQ(0, net_array_free(a, e3));
  EXPECT_EQ(e3, net_array_alloc(a));
  EXPECT_STREQ("kept", e3);

  EXPECT_EQ(0, net_array_index(a, e1));
  EXPECT_EQ(2, net_array_index(a, e3));
  EXPECT_EQ(NET_ERR_ALIGN, net_array_index(a, e1 + 1));
  EXPECT_EQ(NET_ERR_INVALID, net_array_index(99, e1));
  EXPECT_EQ(e2, net_array_get(a, 1));
  EXPECT_EQ(nullptr, net_array_get_in_use(a, 1));
  EXPECT_EQ(0, net_last_error());
  EXPECT_EQ(nullptr, net_array_get(a, 3));
  EXPECT_EQ(NET_ERR_INVALID, net_last_error());
  EXPECT_EQ(16, net_array_element_size(a));
  EXPECT_EQ(NET_ERR_INVALID, net_array_element_size(-1));
}

TEST_F(Arrays, BadReturnsAreRefused) {
  int a = init_array(16, 2, "elements");
  ASSERT_GE(a, 0);
  char* e = static_cast<char*>(net_array_alloc(a));
  char* base = static_cast<char*>(net_array_get(a, 0));
  struct {
    const char* what;
    int index;
    void* ptr;
    int expect;
  } cases[] = {
      {"bad index", 7, e, NET_ERR_INVALID},
      {"null", a, nullptr, NET_ERR_INVALID},
      {"below the block", a, base - 16, NET_ERR_INVALID},
      {"between elements", a, e + 1, NET_ERR_INVALID},
      {"past the end", a, base + 32, NET_ERR_INVALID},
      {"not in use", a, base + 16, NET_ERR_TWICE},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expect, net_array_free(c.index, c.ptr)) << c.what;
  EXPECT_EQ(0, net_array_free(a, e));
  EXPECT_EQ(NET_ERR_TWICE, net_array_free(a, e));
  EXPECT_EQ(0, net_end_array(a));
  EXPECT_EQ(NET_ERR_INVALID, net_end_array(a));
}

TEST_F(Core, LogLevelsAndLogFiles) {
  net_limits l = Limits(1, 0, 1, 0, 8);
  ASSERT_EQ(0, net_init_with_limits(&l));
  testing::internal::CaptureStderr();
  net_log_important("Fatal:1 %s\n", "shown");
  net_log_verbose("Note:2 hidden\n");
  EXPECT_EQ(0, net_finalize());
  EXPECT_EQ("Fatal:1 shown\n", testing::internal::GetCapturedStderr());

  ASSERT_EQ(0, net_init_with_limits(&l));
  net_set_log_level(1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, net_finalize());
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, out.find("Note:10400: net: finalized\n")) << out;

  net_set_log_level(-1);
  testing::internal::CaptureStderr();
  net_log_important("silent\n");
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  net_set_log_level(0);
}

TEST_F(Core, LogDirectoryFilesRollOverAtTheSizeLimit) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("wren_net_log_" + std::to_string(net_process_id()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  net_limits l = Limits(1, 0, 1, 0, 8);
  ASSERT_EQ(0, net_init_with_limits(&l));
  net_set_log_dir(dir.string().c_str(), 10);
  net_log_important("first line\n");   // 11 bytes: over the limit afterwards
  net_log_important("second line\n");  // starts the next file
  net_set_log_dir("", 0);
  EXPECT_EQ(0, net_finalize());
  auto read = [&](int seq) {
    std::ifstream f(dir / ("stderr." + std::to_string(net_process_id()) + "." + std::to_string(seq)));
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  };
  EXPECT_EQ("first line\n", read(0));
  EXPECT_EQ("second line\n", read(1));
  fs::remove_all(dir);
}

TEST_F(Core, ClockAndHeartbeatWithNothingToDo) {
  static int64_t fake = 1000;
  net_set_time_source([](int64_t* sec, int32_t* msec) {
    *sec = fake;
    *msec = 250;
  });
  net_limits l = Limits(1, 0, 1, 0, 8);
  ASSERT_EQ(0, net_init_with_limits(&l));
  EXPECT_EQ(1000, net_start_time());
  uint32_t beats = net_heartbeat_count();
  fake = 1005;
  EXPECT_EQ(1000, net_now_sec());  // read only by the clock update
  net_tick();
  EXPECT_EQ(beats + 1, net_heartbeat_count());
  EXPECT_EQ(1005, net_now_sec());
  EXPECT_EQ(1005 * 1000000LL + 250000, net_now_usec());
  EXPECT_EQ(0, net_finalize());
  net_set_time_source(nullptr);
}

}  // namespace
