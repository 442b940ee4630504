// The real message box: owned by the program's active popup (an open dialog
// or the main window) and captioned with the program's title (string 57344).
#include <windows.h>

#include "common/strings.h"
#include "framework/app.h"
#include "framework/msgbox.h"

namespace {
constexpr unsigned kAppTitleId = 57344;

class CWin32MessageBox : public CMessageBoxSeam {
 public:
  int Show(const std::string& text, unsigned style) override {
    HWND owner = nullptr;
    if (CWnd* main = AfxGetMainWnd(); main != nullptr && main->m_hWnd != nullptr) {
      owner = ::GetLastActivePopup(main->m_hWnd);
    }
    std::string caption = LoadResString(kAppTitleId);
    return ::MessageBoxA(owner, text.c_str(), caption.c_str(), style | MB_SETFOREGROUND);
  }
};
}  // namespace

CMessageBoxSeam& Win32MessageBoxSeam() {
  static CWin32MessageBox seam;
  return seam;
}
