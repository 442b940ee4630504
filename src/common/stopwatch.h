// A stopwatch over the millisecond tick counter. The tick source can be
// replaced so that tests can drive time, including the 32-bit wrap.
#pragma once

#include <cstdint>

using TickSource = uint32_t (*)();

class CTickStopwatch {
 public:
  explicit CTickStopwatch(TickSource ticks = nullptr);
  virtual ~CTickStopwatch() = default;

  void Start();
  void Reset();
  uint32_t GetSeconds();

  // to - from in unsigned 32-bit arithmetic, so a counter wrap in between counts right.
  static uint32_t ElapsedTicks(uint32_t from, uint32_t to) { return to - from; }

 private:
  TickSource m_pfnTicks;
  bool m_bRunning = false;
  uint32_t m_dwLastTick = 0;
  uint32_t m_dwAccumulated = 0;
};
