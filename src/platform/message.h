// Posting a message to a window from any thread. On Windows the handle is an
// HWND and PostMessageA does the work; elsewhere it is a MessageReceiver that
// the receiving side registered, so the core can be driven without windows.
#pragma once

#include <cstdint>

namespace plat {

#ifdef _WIN32
using WindowHandle = void*;  // HWND
#else
class MessageReceiver {
 public:
  virtual ~MessageReceiver() = default;
  virtual void OnPostedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
using WindowHandle = MessageReceiver*;
#endif

bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace plat
