// The HTTP download session against a real static HTTP server and a real
// proxy with Basic authentication, both started around this program by
// tests/support/http_servers.py (ports and folders come in the environment).
#include "install/http_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../../support/scratch.h"

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

namespace {

constexpr UINT kNotify = 0x8301;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Url(const std::string& name) { return "http://127.0.0.1:" + Env("WREN_HTTP_PORT") + "/" + name; }

// Puts a file on the HTTP server.
void Serve(const std::string& name, const std::string& bytes) {
  ASSERT_TRUE(WriteWholeFile(Env("WREN_HTTP_ROOT_WIN") + "\\" + name, bytes));
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return bytes;
}

// The receiving window: records every message in order, and lets a test act
// while a sent message is being handled (as the page does).
class Receiver {
 public:
  Receiver() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "WrenHttpTestReceiver";
    ::RegisterClassA(&wc);
    m_hWnd = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Receiver() { ::DestroyWindow(m_hWnd); }

  HWND Handle() const { return m_hWnd; }
  std::function<void(int code)> onSent;
  std::vector<std::pair<int, DWORD>> events;

  // Pumps messages until a terminal code arrives (or 60 s pass); the code, or -1.
  int WaitForEnd() {
    DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 60000) {
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
      for (auto& e : events)
        if (e.first != 1 && e.first != 2 && e.first != 3) return e.first;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return -1;
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (auto& e : events) codes.push_back(e.first);
    return codes;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Receiver*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self && msg == kNotify) {
      self->events.emplace_back(static_cast<int>(wParam), static_cast<DWORD>(lParam));
      if (self->onSent && ::InSendMessage()) self->onSent(static_cast<int>(wParam));
      return 0;
    }
    return ::DefWindowProcA(hWnd, msg, wParam, lParam);
  }
  HWND m_hWnd = nullptr;
};

class HttpSession : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("WREN_HTTP_PORT").empty()) GTEST_SKIP() << "no HTTP server around this test";
    m_session.SetNotify(m_receiver.Handle(), kNotify);
  }
  void TearDown() override { m_session.Stop(); }

  Receiver m_receiver;
  CHTTPBinarySession m_session;
  ScratchFolder m_dir;
};

TEST_F(HttpSession, SmallBodyGivesNoProgressMessage) {
  Serve("p4096.bin", Pattern(4096));
  ASSERT_TRUE(m_session.StartDirect(Url("p4096.bin").c_str(), (m_dir / "p.bin").c_str(), nullptr));
  ASSERT_EQ(m_receiver.WaitForEnd(), 0);
  m_session.Stop();
  EXPECT_EQ(m_receiver.Codes(), (std::vector<int>{3, 1, 0}));
  EXPECT_EQ(m_receiver.events[1].second, 4096u);  // Content-Length
  EXPECT_EQ(m_receiver.events[2].second, 4096u);
  EXPECT_EQ(ReadWholeFile(m_dir / "p.bin"), Pattern(4096));
}

TEST_F(HttpSession, LargeBodyReportsThinnedProgressAndArrivesWhole) {
  const std::string body = Pattern(3 * 1024 * 1024 + 17);
  Serve("big.bin", body);
  ASSERT_TRUE(WriteWholeFile(m_dir / "big.bin", std::string(5000000, 'x')));  // truncated, not resumed
  const DWORD start = ::GetTickCount();
  ASSERT_TRUE(m_session.StartDirect(Url("big.bin").c_str(), (m_dir / "big.bin").c_str(), nullptr));
  ASSERT_EQ(m_receiver.WaitForEnd(), 0);
  const DWORD elapsed = ::GetTickCount() - start;
  m_session.Stop();

  // Reports come by time, never per read: no more than one per interval.
  DWORD last = 0;
  DWORD progress = 0;
  for (auto& [code, value] : m_receiver.events) {
    if (code != 2) continue;
    EXPECT_GT(value, last);
    EXPECT_LE(value, body.size());
    last = value;
    ++progress;
  }
  EXPECT_LE(progress, elapsed / CHTTPBinarySession::kProgressInterval + 1);
  // The whole count always arrives with the completion.
  EXPECT_EQ(m_receiver.events.back(), (std::pair<int, DWORD>{0, static_cast<DWORD>(body.size())}));
  EXPECT_EQ(ReadWholeFile(m_dir / "big.bin"), body);
}

TEST_F(HttpSession, NotFoundIsCodeSixWithTheStatusAndAnEmptyFile) {
  ASSERT_TRUE(m_session.StartDirect(Url("missing.bin").c_str(), (m_dir / "m.bin").c_str(), nullptr));
  ASSERT_EQ(m_receiver.WaitForEnd(), 6);
  m_session.Stop();
  EXPECT_EQ(m_receiver.events.back().second, 404u);
  plat::FileStatus st;
  ASSERT_TRUE(plat::GetFileStatus(m_dir / "m.bin", &st));
  EXPECT_EQ(st.size, 0u);
}

TEST_F(HttpSession, AbortBeforeTheBodyStopsWithCodeFour) {
  Serve("abort.bin", Pattern(100000));
  m_receiver.onSent = [this](int code) {
    if (code == 3) m_session.Abort();
  };
  ASSERT_TRUE(m_session.StartDirect(Url("abort.bin").c_str(), (m_dir / "a.bin").c_str(), nullptr));
  ASSERT_EQ(m_receiver.WaitForEnd(), 4);
  EXPECT_EQ(m_receiver.Codes(), (std::vector<int>{3, 4}));
}

TEST_F(HttpSession, SerialTravelsInTheHighWordOfEveryMessage) {
  Serve("serial.bin", Pattern(70000));
  m_session.SetSerial(0x1234);
  ASSERT_TRUE(m_session.StartDirect(Url("serial.bin").c_str(), (m_dir / "s.bin").c_str(), nullptr));
  // The receiver sees code | serial << 16; nothing ends as "code 0x1234xxxx".
  DWORD start = ::GetTickCount();
  bool ended = false;
  while (!ended && ::GetTickCount() - start < 60000) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    for (auto& e : m_receiver.events) ended = ended || (e.first & 0xFFFF) == 0;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  m_session.Stop();
  ASSERT_TRUE(ended);
  for (auto& e : m_receiver.events) EXPECT_EQ(e.first >> 16, 0x1234) << (e.first & 0xFFFF);
  EXPECT_EQ(ReadWholeFile(m_dir / "s.bin"), Pattern(70000));
}

TEST_F(HttpSession, StopWhileTheWorkerSendsDoesNotWaitForever) {
  // The worker's first message is sent (it waits for this thread), and this
  // thread goes straight into Stop without pumping: the wait must deliver it.
  Serve("stop.bin", Pattern(3 * 1024 * 1024));
  ASSERT_TRUE(m_session.StartDirect(Url("stop.bin").c_str(), (m_dir / "st.bin").c_str(), nullptr));
  ::Sleep(300);
  m_session.Stop();
  ASSERT_FALSE(m_receiver.events.empty());
  EXPECT_EQ(m_receiver.events.front().first, 3);
}

// The server sends the headers and 64 KiB, then nothing for 150 s; the
// session is given up on while its worker sits in the read. This test (and the program) must end
// long before the stall does, with the partial file closed and deletable and
// no further message from the worker. The worker is still blocked when the
// test program exits, which must not crash either.
TEST_F(HttpSession, ReleaseDuringAStallLeavesTheBlockedWorkerBehind) {
  auto* session = new CHTTPBinarySession;
  session->SetNotify(m_receiver.Handle(), kNotify);
  session->SetSerial(7);
  const std::string path = m_dir / "stall.bin";
  ASSERT_TRUE(session->StartDirect(Url("stall/x.bin").c_str(), path.c_str(), nullptr));
  // Wait for the body to begin: the worker then sits in its read.
  DWORD start = ::GetTickCount();
  auto started = [&] {
    for (auto& e : m_receiver.events)
      if ((e.first & 0xFFFF) == 1) return true;
    return false;
  };
  while (::GetTickCount() - start < 30000 && !started()) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    ::Sleep(20);
  }
  ASSERT_TRUE(started());
  ::Sleep(500);
  session->Release(1000);
  EXPECT_TRUE(::DeleteFileA(path.c_str())) << ::GetLastError();
  const size_t seen = m_receiver.events.size();
  start = ::GetTickCount();
  while (::GetTickCount() - start < 1500) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    ::Sleep(20);
  }
  EXPECT_EQ(m_receiver.events.size(), seen) << "the left worker still reports";
  for (auto& e : m_receiver.events) EXPECT_NE(e.first & 0xFFFF, 0) << "the stalled transfer cannot have ended";
  EXPECT_FALSE(plat::FileExists(path));
}

TEST_F(HttpSession, UnreachableServerEndsWithAConnectionOrRequestError) {
  // A port nobody listens on: the platform reports it at connect or at send time.
  ASSERT_TRUE(m_session.StartDirect("http://127.0.0.1:9/x.bin", (m_dir / "u.bin").c_str(), nullptr));
  int code = m_receiver.WaitForEnd();
  EXPECT_TRUE(code == 6 || code == 11) << code;
  EXPECT_NE(m_receiver.events.back().second, 0u);
}

TEST_F(HttpSession, StartRefusesOtherServicesAndUnopenableFiles) {
  CFileErrorRecord error;
  EXPECT_FALSE(m_session.StartDirect("ftp://127.0.0.1/x.bin", (m_dir / "f.bin").c_str(), &error));
  EXPECT_FALSE(m_session.StartDirect("not a url", (m_dir / "f.bin").c_str(), &error));
  EXPECT_FALSE(plat::FileExists(m_dir / "f.bin"));

  EXPECT_FALSE(m_session.StartDirect(Url("x.bin").c_str(), (m_dir / "no\\such\\f.bin").c_str(), &error));
  EXPECT_EQ(error.m_cause, 3);  // bad path
  EXPECT_EQ(error.m_lOsError, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ::Sleep(200);
  EXPECT_TRUE(m_receiver.Codes().empty() || m_receiver.WaitForEnd() == -1);
}

TEST_F(HttpSession, NamedProxyWithUserAndPassword) {
  if (Env("WREN_PROXY_PORT").empty()) GTEST_SKIP() << "no proxy around this test";
  const std::string proxy = "127.0.0.1:" + Env("WREN_PROXY_PORT");
  Serve("viaproxy.bin", Pattern(70000));
  ASSERT_TRUE(m_session.StartWithProxy(Url("viaproxy.bin").c_str(), (m_dir / "v.bin").c_str(), nullptr,
                                       proxy.c_str(), "u", "pw"));
  ASSERT_EQ(m_receiver.WaitForEnd(), 0);
  m_session.Stop();
  EXPECT_EQ(ReadWholeFile(m_dir / "v.bin"), Pattern(70000));

  // A wrong password: the proxy refuses (tinyproxy answers 401 to bad credentials).
  CHTTPBinarySession denied;
  denied.SetNotify(m_receiver.Handle(), kNotify);
  m_receiver.events.clear();
  ASSERT_TRUE(denied.StartWithProxy(Url("viaproxy.bin").c_str(), (m_dir / "d.bin").c_str(), nullptr,
                                    proxy.c_str(), "u", "wrong"));
  ASSERT_EQ(m_receiver.WaitForEnd(), 6);
  denied.Stop();
  DWORD status = m_receiver.events.back().second;
  EXPECT_TRUE(status == 401 || status == 407) << status;
}

}  // namespace
