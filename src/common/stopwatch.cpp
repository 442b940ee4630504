#include "common/stopwatch.h"

#include "platform/system.h"

CTickStopwatch::CTickStopwatch(TickSource ticks) : m_pfnTicks(ticks ? ticks : plat::GetTickCount) {}

void CTickStopwatch::Start() {
  m_bRunning = true;
  m_dwLastTick = m_pfnTicks();
}

void CTickStopwatch::Reset() {
  m_dwLastTick = m_pfnTicks();
  m_dwAccumulated = 0;
}

uint32_t CTickStopwatch::GetSeconds() {
  if (m_bRunning) {
    uint32_t now = m_pfnTicks();
    m_dwAccumulated += ElapsedTicks(m_dwLastTick, now);
    m_dwLastTick = now;
  }
  return m_dwAccumulated / 1000;
}
