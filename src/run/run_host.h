// The thread that serves a build run, as the run sees it: its clock, its
// waits, and the address the run's messages go to. The run's worker and its
// transfers post there; whatever receives them hands them to
// CBuildRun::OnMessage on this same thread.
#pragma once

#include <cstdint>

#include "platform/message.h"

class IRunHost {
 public:
  virtual ~IRunHost() = default;
  // Milliseconds of a counter that wraps (GetTickCount).
  virtual uint32_t Now() = 0;
  // Lets the thread handle what arrives for at most ms (the run's own
  // messages among it); 1 when the program is quitting: the wait's caller
  // must give up at once.
  virtual int Wait(int ms) = 0;
  // The wait should do the thread's idle work again before it sleeps.
  virtual void ResetIdle() {}
  // false once the face that serves the run is gone.
  virtual bool IsAlive() = 0;
  virtual plat::WindowHandle Target() = 0;
};
