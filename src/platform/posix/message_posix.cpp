#include "platform/message.h"

namespace plat {

bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!window) return false;
  window->OnPostedMessage(message, wParam, lParam);
  return true;
}

}  // namespace plat
