// A build run served without a window: a host whose messages queue up and are
// handed to the run on the test's thread while it waits (a message-only
// window on Windows, a registered receiver elsewhere), a clock that moves on
// by itself while nothing arrives, a list source with fixed bytes, a
// transfer that serves the parts from the fixture's server folder by script,
// and an observer that records what it is told and answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "../engine/image_fixture.h"
#include "fileinfo/list_source.h"
#include "install/http_transfer.h"
#include "run/build_run.h"

namespace run_test {

using engine_test::CImageFixture;

class CTestHost : public IRunHost
#ifndef _WIN32
    , public plat::MessageReceiver
#endif
{
 public:
  CTestHost() {
#ifdef _WIN32
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "WrenRunTestHost";
    RegisterClassA(&wc);  // fails harmlessly when already registered
    m_hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
#endif
  }
  ~CTestHost() override {
#ifdef _WIN32
    DestroyWindow(m_hwnd);
#endif
  }

  CBuildRun* run = nullptr;
  uint32_t now = 1000;
  std::function<void()> onIdle;  // called whenever a wait finds nothing to do

  uint32_t Now() override { return now; }
  int Wait(int ms) override {
#ifdef _WIN32
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
#endif
    std::unique_lock<std::mutex> lock(m_mutex);
    // The worker may be busy for a moment; once it is quiet, time passes.
    if (m_queue.empty() && !m_cv.wait_for(lock, std::chrono::milliseconds(2), [&] { return !m_queue.empty(); })) {
      now += static_cast<uint32_t>(ms);
      if (onIdle) {
        lock.unlock();
        onIdle();
        lock.lock();
      }
    }
    while (!m_queue.empty()) {
      auto [message, wParam, lParam] = m_queue.front();
      m_queue.pop_front();
      lock.unlock();
      if (run != nullptr) run->OnMessage(message, wParam, lParam);
      lock.lock();
    }
    return 0;
  }
  bool IsAlive() override { return true; }
  plat::WindowHandle Target() override {
#ifdef _WIN32
    return m_hwnd;
#else
    return this;
#endif
  }

  void Queue(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.emplace_back(message, wParam, lParam);
    m_cv.notify_all();
  }
#ifndef _WIN32
  void OnPostedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    Queue(message, wParam, lParam);
  }
#else
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= 0x8000) {
      reinterpret_cast<CTestHost*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))->Queue(message, wParam, lParam);
      return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  HWND m_hwnd = nullptr;
#endif

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::deque<std::tuple<uint32_t, uintptr_t, intptr_t>> m_queue;
};

// The file list as a server would hand it over, or a refusal.
class CFixedListSource : public IListSource {
 public:
  std::vector<unsigned char> bytes;
  int refusal = 0;  // a FETCH_ code instead of the list
  int fetches = 0;

  int FetchList(CFileInfoHost& host) override {
    ++fetches;
    host.StartPhase(IDS_FETCH_PHASE);
    host.StopPhase();
    if (refusal != 0) {
      host.SetResult(refusal, 0);
      return refusal;
    }
    const uint32_t kilobytes = static_cast<uint32_t>(bytes.size() / 1024 + 1);
    if (!host.AllocListBuffer(kilobytes) || !host.AppendListBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())))
      return FETCH_FATAL;
    host.SetPhaseText(IDS_FETCH_DONE);
    return FETCH_OK;
  }
};

// What one transfer does.
enum class Serve {
  kWhole,     // the server's bytes, completely
  kRefuse,    // no connection: code 6 with HTTP status 404
  kTruncate,  // half the bytes, reported as done
  kHold,      // starts, sends half, then nothing more until it is released
  kLonger,    // the server's bytes and more: cut off at the request's bound
  kLate,      // the server's bytes, ending only once the run has nothing else to do
  kBreak,     // half the bytes, then a read error (8, a connection reset)
};

class CScriptedTransfer : public IHttpTransfer {
 public:
  struct Request {
    std::string url;
    bool reload;
    uint32_t resumeFrom;
  };
  explicit CScriptedTransfer(const std::string& server) : m_server(server) {}

  std::vector<Request> requests;
  // By the URL's last component; the attempts of one name run through its
  // list, the last entry standing for every later one. Unlisted: kWhole.
  std::map<std::string, std::vector<Serve>> script;
  int released = 0;
  int holding = 0;  // transfers started and not yet released
  int open = 0;     // sessions not yet released
  int mostOpen = 0;

  // Ends the transfers that wait to end late, in the order they began.
  void EndLate() {
    for (auto& [target, message, wParam, size] : m_late) plat::PostToWindow(target, message, wParam, size);
    m_late.clear();
  }

  ITransferSession* Start(const CTransferRequest& r, CFileErrorRecord*) override {
    requests.push_back({r.strUrl, r.bReload, r.dwResumeFrom});
    const std::string name = DownloadNameOf(r.strUrl);
    const std::string bytes = testing_support::ReadWholeFile(m_server + name);
    Serve how = Serve::kWhole;
    auto it = script.find(name);
    if (it != script.end() && !it->second.empty()) {
      const size_t used = m_attempts[name]++;
      how = it->second[used < it->second.size() ? used : it->second.size() - 1];
    }
    mostOpen = std::max(mostOpen, ++open);
    auto report = [&](int code, uint32_t value) {
      plat::PostToWindow(r.hNotify, r.nNotifyMsg, (static_cast<uintptr_t>(r.wSerial) << 16) | code, value);
    };
    if (how == Serve::kRefuse) {
      report(6, 404);
      return new CSession(*this, false);
    }
    if (how == Serve::kLonger && r.dwMaxBytes != 0) {
      EXPECT_TRUE(testing_support::WriteWholeFile(r.strPath, bytes.substr(0, r.dwMaxBytes)));
      report(3, 0);
      report(12, r.dwMaxBytes + 1);
      return new CSession(*this, false);
    }
    const bool whole = how == Serve::kWhole || how == Serve::kLate;
    const std::string sent = whole ? bytes : bytes.substr(0, bytes.size() / 2);
    // A request for the rest gets it, after the bytes the file keeps (a 206).
    const uint32_t kept = r.dwResumeFrom != 0 && whole && r.dwResumeFrom < bytes.size() &&
                                  testing_support::ReadWholeFile(r.strPath) == bytes.substr(0, r.dwResumeFrom)
                              ? r.dwResumeFrom
                              : 0;
    EXPECT_TRUE(testing_support::WriteWholeFile(r.strPath, sent));
    report(3, kept);
    report(1, static_cast<uint32_t>(bytes.size()));
    report(2, static_cast<uint32_t>(sent.size()));
    if (how == Serve::kBreak) {
      report(8, 10054);
      return new CSession(*this, false);
    }
    if (how == Serve::kHold) {
      ++holding;
      return new CSession(*this, true);
    }
    if (how == Serve::kLate) {
      m_late.emplace_back(r.hNotify, r.nNotifyMsg, (static_cast<uintptr_t>(r.wSerial) << 16), sent.size());
      return new CSession(*this, false);
    }
    report(0, static_cast<uint32_t>(sent.size()));
    return new CSession(*this, false);
  }

 private:
  class CSession : public ITransferSession {
   public:
    CSession(CScriptedTransfer& owner, bool holding) : m_owner(owner), m_bHolding(holding) {}
    void Abort() override {}
    void Release(uint32_t) override {
      ++m_owner.released;
      --m_owner.open;
      if (m_bHolding) --m_owner.holding;
      delete this;
    }

   private:
    CScriptedTransfer& m_owner;
    bool m_bHolding;
  };

  std::string m_server;
  std::map<std::string, size_t> m_attempts;
  std::vector<std::tuple<plat::WindowHandle, uint32_t, uintptr_t, uint32_t>> m_late;
};

// The observer: a record of the run's events and scripted answers.
class CRecordingObserver : public IRunObserver {
 public:
  std::vector<std::string> asked;  // message box texts, retry questions with "retry: " in front
  std::function<int(const std::string& text, unsigned style)> answer = [](const std::string&, unsigned style) {
    return (style & 0xF) == 0 ? IDOK : IDCANCEL;
  };
  std::function<bool(const std::string& text)> retry = [](const std::string&) { return false; };
  std::function<void()> onCancelOffered;
  std::vector<uint64_t> accepted;
  int finishes = 0;
  CRunOutcome outcome;

  int Ask(const std::string& text, unsigned style) override {
    asked.push_back(text);
    return answer(text, style);
  }
  bool AskRetry(const std::string& text) override {
    asked.push_back("retry: " + text);
    return retry(text);
  }
  bool RetryFetch(int) override { return false; }
  void OnCancelOffered(bool offered) override {
    if (offered && onCancelOffered) onCancelOffered();
  }
  void OnPublicationAccepted(uint64_t serial) override { accepted.push_back(serial); }
  void OnFinished(const CRunOutcome& o) override {
    outcome = o;
    ++finishes;
  }
};

// A fixture's image, its list source, transfer and observer, and a run of them.
class RunFixture : public ::testing::Test {
 protected:
  CImageFixture fx;
  CFixedListSource list;
  CScriptedTransfer http{fx.server};
  CRecordingObserver observer;
  CRunSettings settings;
  uint32_t stallLimitMs = 0;  // 0: the run's own
  std::vector<unsigned char> listBytes;  // empty: the fixture's list

  // Runs to the end (at most 30 s of real time); the outcome is the observer's.
  void RunToEnd() {
    list.bytes = listBytes.empty() ? fx.List() : listBytes;
    settings.strImageFolder = fx.image.substr(0, fx.image.size() - 1);
    settings.strDownloadFolder = fx.download;
    CTestHost host;
    CBuildRun run(settings, host, list, http, observer);
    host.run = &run;
    host.onIdle = [this] { http.EndLate(); };
    if (stallLimitMs != 0) run.Downloads().m_dwStallLimit = stallLimitMs;
    observer.onCancelOffered = onCancelOffered ? [&] { onCancelOffered(run); } : std::function<void()>();
    ASSERT_TRUE(run.Start());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (observer.finishes == 0 && std::chrono::steady_clock::now() < deadline) host.Wait(100);
    ASSERT_EQ(1, observer.finishes) << "the run did not end";
    EXPECT_FALSE(run.IsRunning());
  }

  std::function<void(CBuildRun&)> onCancelOffered;

  // The requests of one part or file of the server, by its name.
  std::vector<CScriptedTransfer::Request> RequestsOf(const std::string& name) const {
    std::vector<CScriptedTransfer::Request> out;
    for (const auto& r : http.requests)
      if (DownloadNameOf(r.url) == name) out.push_back(r);
    return out;
  }
};

}  // namespace run_test
