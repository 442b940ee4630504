#include "app/starter_app.h"

#include <commctrl.h>
#include <new>
#include <objbase.h>
#include <shlobj.h>

#include "app/exit_codes.h"
#include "app/ini_path.h"
#include "app/main_frame.h"
#include "settings/settings.h"
#include "app/unattended.h"
#include "framework/msgbox.h"
#include "wizard/resource_ids.h"

namespace {
constexpr unsigned kFatalStartup = 10000;

CWrenStarterApp theApp;

std::string DocumentsFolder() {
  LPITEMIDLIST list = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &list)) || list == nullptr) return {};
  char path[260] = {};
  BOOL ok = ::SHGetPathFromIDListA(list, path);
  ::CoTaskMemFree(list);
  return ok ? std::string(path) : std::string();
}
}  // namespace

BOOL CWrenStarterApp::RegisterMainWindowClass() {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExA(m_hInstance, kMainWindowClass, &existing)) return TRUE;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = 0;
  wc.lpfnWndProc = CWnd::AfxWndProc;
  wc.hInstance = m_hInstance;
  wc.hIcon = LoadIcon(IDR_MAINFRAME);
  wc.hIconSm = LoadIcon(IDR_MAINFRAME);
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = nullptr;
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kMainWindowClass;
  return ::RegisterClassExA(&wc) != 0;
}

BOOL CWrenStarterApp::InitInstance() {
  CWinApp::InitInstance();
  // The folder browser needs COM; the install page's progress bars need the common controls.
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  SetRegistryKey(kRegistryKey);
  m_strProfileName = kProfileName;

  const char* commandLine = ::GetCommandLineA();
  CCommandLine& line = m_commandLine;
  const bool accepted = ParseCommandLine(ArgumentsOf(commandLine), &line);
  if (!accepted || line.bHelp) {
    // The log of a copy that is running stays as it is.
    if (!ActivatePreviousInstance(kInstanceMutexName, nullptr)) OpenRunLog(line, commandLine);
    m_nExitCode = AnswerCommandLine(line, accepted);
    return FALSE;
  }
  // An unattended start leaves the running copy's window where it is.
  if (ActivatePreviousInstance(kInstanceMutexName, line.Unattended() ? nullptr : kMainWindowClass)) {
    m_nExitCode = EXIT_ALREADY_RUNNING;
    return FALSE;
  }
  m_mutex.Create(kInstanceMutexName);
  OpenRunLog(line, commandLine);
  if (line.Unattended()) {
    m_pAnswers = std::make_unique<CUnattendedAnswers>(PumpMessagesFor);
    SetMessageBoxSeam(m_pAnswers.get());
  }

  if (!RegisterMainWindowClass()) {
    AfxMessageBox(kFatalStartup, MB_ICONEXCLAMATION);
    m_nExitCode = EXIT_START_FAILED;
    return FALSE;
  }

  m_strIniPath = ResolveIniPath(DocumentsFolder());
  m_ini.m_strIniPath = m_strIniPath;

  // A quiet build has no window at all: it runs here, to its end.
  if (line.mode == RunMode::Quiet) {
    m_nExitCode = RunQuietBuild(line, m_ini, *m_pAnswers);
    return FALSE;
  }

  auto* frame = new (std::nothrow) CMainFrame(m_ini);
  if (frame == nullptr) {
    AfxMessageBox(kFatalStartup, MB_ICONEXCLAMATION);
    m_nExitCode = EXIT_START_FAILED;
    return FALSE;
  }
  m_pMainWnd = frame;
  if (!frame->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, nullptr, nullptr)) {
    AfxMessageBox(kFatalStartup, MB_ICONEXCLAMATION);
    m_nExitCode = EXIT_START_FAILED;
    return FALSE;
  }
  if (line.mode == RunMode::Passive) {
    const int started = StartPassiveBuild(frame->m_wndWizard, line, m_ini, *m_pAnswers);
    if (started != EXIT_OK) {
      m_nExitCode = started;
      return FALSE;
    }
  }
  frame->ShowWindow(SW_SHOW);
  ::UpdateWindow(frame->m_hWnd);
  return TRUE;
}

int CWrenStarterApp::ExitInstance() {
  CWinApp::ExitInstance();
  auto* frame = static_cast<CMainFrame*>(m_pMainWnd);
  const int exitCode = m_nExitCode >= 0 ? m_nExitCode : frame ? ExitCodeOfWizard(frame->m_wndWizard) : EXIT_FATAL;
  CloseRunLog(exitCode);
  SetMessageBoxSeam(nullptr);
  delete m_pMainWnd;
  m_pMainWnd = nullptr;
  ::CoUninitialize();
  return exitCode;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return AfxWinMain(instance); }
