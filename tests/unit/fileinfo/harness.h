// Test doubles of the fetch: a host with a fake tick counter and scripted
// idle passes, a scripted message box, and a session socket whose library
// limits leave room for the in-process test server.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fileinfo/list_buffer.h"
#include "common/strings.h"
#include "fileinfo/fetch.h"
#include "framework/msgbox.h"
#include "test_server.h"

namespace fileinfo_test {

inline uint32_t g_fakeTicks = 0;
inline uint32_t FakeTicks() { return g_fakeTicks; }

class CTestHost : public CFileInfoHost {
 public:
  bool AllocListBuffer(uint32_t kilobytes) override {
    ++m_nAllocs;
    return !m_bFailAlloc && m_list.Alloc(kilobytes);
  }
  bool AppendListBuffer(const void* data, uint32_t length) override { return m_list.Append(data, length); }
  void GetServerAddress(std::string& host, int& port) override {
    if (m_onAddress) m_onAddress();
    host = m_strHost;
    port = m_nPort;
  }
  // Each pass moves the fake clock (500 ms unless told otherwise) and gives
  // loopback bytes a moment to travel.
  int RunIdleLoop(int elapse) override {
    EXPECT_EQ(kFetchIdlePass, elapse);
    ++m_nPasses;
    g_fakeTicks += m_advance ? m_advance(m_nPasses) : 500u;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return m_nQuitAfter >= 0 && m_nPasses >= m_nQuitAfter ? 1 : 0;
  }
  void ResetIdle() override { ++m_nIdleResets; }
  bool IsPageAlive() override { return m_nPageGoneAfter < 0 || m_nPasses < m_nPageGoneAfter; }
  void StartPhase(unsigned textId) override { m_calls.push_back("start " + std::to_string(textId)); }
  void StopPhase() override { m_calls.push_back("stop"); }
  void SetPhaseText(unsigned textId) override { m_calls.push_back("text " + std::to_string(textId)); }
  void SetResult(int result, int extra) override {
    m_calls.push_back("result " + std::to_string(result) + " " + std::to_string(extra));
  }

  Bytes ListData() const { return Bytes(m_list.Data(), m_list.Data() + m_list.GetSize(false)); }

  CFileListBuffer m_list;
  bool m_bFailAlloc = false;
  int m_nAllocs = 0;
  std::string m_strHost = "127.0.0.1";
  int m_nPort = 1;
  std::function<void()> m_onAddress;
  std::function<uint32_t(int pass)> m_advance;
  int m_nPasses = 0;
  int m_nQuitAfter = -1;
  int m_nPageGoneAfter = -1;
  int m_nIdleResets = 0;
  std::vector<std::string> m_calls;
};

class CScriptedMessageBox : public CMessageBoxSeam {
 public:
  int Show(const std::string& text, unsigned style) override {
    m_asked.push_back(text);
    m_styles.push_back(style);
    m_askedAtPass.push_back(m_pHost != nullptr ? m_pHost->m_nPasses : -1);
    if (m_answers.empty()) return IDNO;
    int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
  }
  std::deque<int> m_answers;
  std::vector<std::string> m_asked;
  std::vector<unsigned> m_styles;
  std::vector<int> m_askedAtPass;
  const CTestHost* m_pHost = nullptr;
};

class CTestSocket : public CWrenOnlineSocket {
 public:
  int GetWriteBufferSize() const override { return m_nWriteBuffer; }
  int m_nWriteBuffer = 32768;
  // Room for the test server's listening context and its connections.
  int m_nExtraContexts = 1;
  int m_nExtraConns = 2;
  int m_nMaxConnOverride = -100;

 protected:
  void GetNetLimits(net_limits* limits) const override {
    CWrenOnlineSocket::GetNetLimits(limits);
    limits->max_tcpcontext += m_nExtraContexts;
    limits->max_conn += m_nExtraConns;
    if (m_nMaxConnOverride != -100) limits->max_conn = m_nMaxConnOverride;
  }
};

// One fetch against the in-process server; the library is finalised after
// every test, as the install page does when it goes away.
class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(g_bNetInitialized);
    net_set_log_level(0);
    g_fakeTicks = 0xFFFF0000u;  // the counter wraps during the longer waits
    m_box.m_pHost = &m_host;
    m_previousSeam = SetMessageBoxSeam(&m_box);
    m_host.m_onAddress = [this] {
      if (m_bUseServer && !m_server.Running()) {
        ASSERT_TRUE(m_server.Start(m_script)) << net_last_error();
        m_host.m_nPort = m_server.Port();
      }
    };
  }
  void TearDown() override {
    m_socket.Close();
    EXPECT_FALSE(g_bNetInitialized);
    SetMessageBoxSeam(m_previousSeam);
  }

  int Fetch() {
    CFileInfoFetch fetch(m_socket, m_host, FakeTicks);
    return fetch.FetchFileInformation();
  }

  std::vector<std::string> FailureCalls(int result) const {
    return {"start 7001", "stop", "result " + std::to_string(result) + " 0"};
  }
  std::vector<std::string> SuccessCalls() const { return {"start 7001", "stop", "text 7002"}; }

  ServerScript m_script;
  bool m_bUseServer = true;
  CTestFileInfoServer m_server;
  CTestHost m_host;
  CScriptedMessageBox m_box;
  CMessageBoxSeam* m_previousSeam = nullptr;
  CTestSocket m_socket;
};

}  // namespace fileinfo_test
