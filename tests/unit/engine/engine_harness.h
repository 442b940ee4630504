// Drives an engine the way the install page does: a second thread pumps the
// notification list under the shared lock, records every notification,
// replies through a script, and receives the final message.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../support/scratch.h"
#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "platform/message.h"
#include "platform/system.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace engine_test {

// What the page saw of one notification.
struct Seen {
  uint32_t kind = 0;
  int value = 0;
  std::string text;
  int extra = 0;
  CDiskSpaceInfo install, download;
};

// The engine with its two seams observable: CRC computations can be counted or
// made to fail, and the free space of each root is set by the test.
class CTestEngine : public CCheckerCore {
 public:
  std::atomic<int> crcCalls{0};
  std::function<bool(const std::string& path)> failCrc;  // true: this computation fails
  std::map<std::string, uint64_t> space;  // by root, missing roots fail; empty: the real drives
  int failNotifyAt = 0;                    // the n-th notification (1-based) cannot be created
  std::atomic<int> notifies{0};

  CUpdateNotify* CreateNotify() override {
    if (++notifies == failNotifyAt) return nullptr;
    return CCheckerCore::CreateNotify();
  }

  bool FileCrc(const std::string& path, uint32_t* crc, uint32_t* error) override {
    ++crcCalls;
    if (failCrc && failCrc(path)) {
      *error = 32;
      return false;
    }
    return CCheckerCore::FileCrc(path, crc, error);
  }
  bool GetAvailableSpace(const std::string& root, uint64_t* available) override {
    if (space.empty()) return CCheckerCore::GetAvailableSpace(root, available);
    auto it = space.find(root);
    if (it == space.end()) return false;
    *available = it->second;
    return true;
  }
};

// The page side. The reply script gets every notification while the lock is
// held, exactly where the page's handlers run, and may call SetResult. The
// final message arrives through the platform's posting: a registered receiver
// on POSIX, a message-only window owned by the pump thread on Windows.
class CPageDriver
#ifndef _WIN32
    : public plat::MessageReceiver
#endif
{
 public:
  using Reply = std::function<void(CCheckerCore& engine, const CUpdateNotify& n)>;

  explicit CPageDriver(CCheckerCore& engine, Reply reply = nullptr) : m_engine(engine), m_reply(std::move(reply)) {
    std::promise<plat::WindowHandle> target;
    std::future<plat::WindowHandle> ready = target.get_future();
    m_pump = std::thread([this, &target] { Pump(target); });
    m_engine.SetNotifyTarget(ready.get(), kFinalMessage);
  }
  ~CPageDriver() {
    m_stop = true;
    m_pump.join();
  }

  // Wake-ups the engine posts with each notification, when it is given kWakeMessage.
  static constexpr uint32_t kWakeMessage = 0x8202;
  std::atomic<int> m_wakes{0};

  void OnFinal(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == kWakeMessage) {
      ++m_wakes;
      return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_message = message;
    m_wParam = wParam;
    m_lParam = lParam;
    ++m_finals;
    m_cv.notify_all();
  }
#ifndef _WIN32
  void OnPostedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    OnFinal(message, wParam, lParam);
  }
#endif

  // Starts the worker and waits for its final message.
  void RunToEnd() {
    ASSERT_TRUE(m_engine.StartThread());
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [&] { return m_finals > 0; });
  }

  std::vector<Seen> Seen_() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seen;
  }
  std::vector<Seen> OfKind(uint32_t kind) {
    std::vector<Seen> out;
    for (const Seen& s : Seen_())
      if (s.kind == kind) out.push_back(s);
    return out;
  }
  std::vector<uint32_t> Kinds() {
    std::vector<uint32_t> out;
    for (const Seen& s : Seen_()) out.push_back(s.kind);
    return out;
  }
  uintptr_t WParam() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wParam;
  }
  intptr_t LParam() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lParam;
  }
  int Finals() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_finals;
  }

 private:
  static constexpr uint32_t kFinalMessage = 0x8201;

#ifdef _WIN32
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kFinalMessage || message == kWakeMessage) {
      auto* self = reinterpret_cast<CPageDriver*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
      self->OnFinal(message, wParam, lParam);
      return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  HWND CreateReceiver() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "WrenEngineTestReceiver";
    RegisterClassA(&wc);  // fails harmlessly when already registered
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return hwnd;
  }
#endif

  void Pump(std::promise<plat::WindowHandle>& target) {
#ifdef _WIN32
    HWND window = CreateReceiver();
    target.set_value(window);
#else
    target.set_value(this);
#endif
    while (!m_stop) {
#ifdef _WIN32
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
#endif
      {
        plat::Lock lock(EngineSharedLock());
        if (!m_engine.m_listNotify.IsEmpty()) {
          for (const CUpdateNotify* n : m_engine.m_listNotify) {
            Seen s;
            s.kind = n->m_nKind;
            s.value = n->m_nValue;
            s.text = n->m_szText;
            s.extra = n->m_nExtra;
            s.install = n->m_install;
            s.download = n->m_download;
            {
              std::lock_guard<std::mutex> guard(m_mutex);
              m_seen.push_back(s);
            }
            if (m_reply) m_reply(m_engine, *n);
          }
          m_engine.m_listNotify.ReleaseAll();
        }
      }
      std::this_thread::yield();
    }
#ifdef _WIN32
    DestroyWindow(window);
#endif
  }

  CCheckerCore& m_engine;
  Reply m_reply;
  std::atomic<bool> m_stop{false};
  std::thread m_pump;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<Seen> m_seen;
  uint32_t m_message = 0;
  uintptr_t m_wParam = 0;
  intptr_t m_lParam = 0;
  int m_finals = 0;
};

inline uint32_t CrcOf(const std::string& bytes) {
  CCrc32 crc;
  crc.Update(bytes.data(), bytes.size());
  return crc.GetValue();
}

// Deterministic, poorly compressible test content.
inline std::string Content(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

// The same bytes with the last four chosen so that the CRC-32 stays: what a
// forger does. The register is run backwards through the last four steps.
inline std::string ForgeSameCrc(std::string changed, uint32_t crc) {
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  CCrc32 prefix;
  prefix.Update(changed.data(), changed.size() - 4);
  uint32_t reg = crc ^ 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i) {
    uint32_t j = 0;
    while ((table[j] >> 24) != (reg >> 24)) ++j;
    reg = ((reg ^ table[j]) << 8) | j;
  }
  reg ^= prefix.GetValue() ^ 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i) changed[changed.size() - 4 + i] = static_cast<char>((reg >> (8 * i)) & 0xFF);
  return changed;
}

}  // namespace engine_test
