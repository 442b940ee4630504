#include "wizard/folder_browser.h"

#include <shlobj.h>

#include <cstring>

#include "common/strings.h"
#include "wizard/resource_ids.h"

namespace {
int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED) ::SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

// Copies text into a 260-byte buffer; a text that does not fit leaves it empty,
// so the browser starts at the desktop rather than at a cut path.
void CopyPath(char (&buffer)[260], const std::string& text) {
  buffer[0] = '\0';
  if (text.size() < sizeof buffer) std::memcpy(buffer, text.c_str(), text.size() + 1);
}
}  // namespace

void BrowseForFolder(CDialog* owner, const std::string& currentFolder, unsigned titleId, CBrowseBuffer& initial) {
  owner->UpdateData(TRUE);
  char displayName[260];
  CopyPath(initial.szPath, currentFolder);
  CopyPath(displayName, currentFolder);
  std::string title = LoadResString(titleId);

  BROWSEINFOA info{};
  info.hwndOwner = owner->m_hWnd;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial.szPath);
  LPITEMIDLIST chosen = ::SHBrowseForFolderA(&info);
  if (chosen == nullptr) return;
  char path[MAX_PATH] = {};
  if (::SHGetPathFromIDListA(chosen, path)) owner->SetDlgItemText(IDC_FOLDER, path);
  ::CoTaskMemFree(chosen);
}
