#include "engine/records.h"

#include <algorithm>
#include <cstring>
#include <new>

void CDiskSpaceInfo::Set(const std::string& root, uint64_t needed, uint64_t available) {
  std::memset(m_szRoot, 0, sizeof m_szRoot);
  std::memcpy(m_szRoot, root.data(), std::min(root.size(), sizeof m_szRoot - 1));
  m_qwNeeded = needed;
  m_qwAvailable = available;
}

void CUpdateNotify::SetText(const char* text) {
  std::memset(m_szText, 0, sizeof m_szText);
  if (text) std::memcpy(m_szText, text, std::min(std::strlen(text), sizeof m_szText - 1));
}

plat::CriticalSection& EngineSharedLock() {
  static plat::CriticalSection s_lock;
  return s_lock;
}

CUpdateNotifyList::CUpdateNotifyList() : m_event(true) {}

CUpdateNotifyList::~CUpdateNotifyList() { ReleaseAll(); }

bool CUpdateNotifyList::Add(CUpdateNotify* notify) {
  plat::Lock lock(EngineSharedLock());
  try {
    m_list.push_back(notify);
  } catch (const std::bad_alloc&) {
    delete notify;
    return false;
  }
  m_tQueued = std::chrono::steady_clock::now();
  m_event.Reset();
  return true;
}

void CUpdateNotifyList::ReleaseAll() {
  plat::Lock lock(EngineSharedLock());
  while (!m_list.empty()) {
    delete m_list.back();
    m_list.pop_back();
  }
  m_event.Set();
}
