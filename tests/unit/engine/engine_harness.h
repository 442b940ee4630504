// Drives an engine the way the install page does: a second thread pumps the
// notification list under the shared lock, records every notification,
// replies through a script, and receives the final message.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
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
// held, exactly where the page's handlers run, and may call SetResult.
class CPageDriver : public plat::MessageReceiver {
 public:
  using Reply = std::function<void(CCheckerCore& engine, const CUpdateNotify& n)>;

  explicit CPageDriver(CCheckerCore& engine, Reply reply = nullptr) : m_engine(engine), m_reply(std::move(reply)) {
    m_engine.SetNotifyTarget(this, 0x8201);
    m_pump = std::thread([this] { Pump(); });
  }
  ~CPageDriver() override {
    m_stop = true;
    m_pump.join();
  }

  void OnPostedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_message = message;
    m_wParam = wParam;
    m_lParam = lParam;
    ++m_finals;
    m_cv.notify_all();
  }

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
  void Pump() {
    while (!m_stop) {
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

}  // namespace engine_test
