#include "platform/message.h"

#include <windows.h>

namespace plat {

bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::PostMessageA(static_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

}  // namespace plat
