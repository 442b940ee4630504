// Drives WrenStarter.exe from outside, the way a user would: it starts the
// program, finds its windows, reads control texts and states, clicks buttons,
// types keys and captures windows to PNG files.
//
// All texts cross this interface as UTF-8; the driver talks to the windows
// with the wide API, so the program's code page 932 texts arrive converted.
// Every wait is bounded; nothing here can hang a test.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

constexpr DWORD kWaitMs = 10000;        // ordinary UI reaction
constexpr DWORD kStartWaitMs = 30000;   // program start under a cold Wine

// Polls `done` until it holds or `timeoutMs` passes; true when it held.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kWaitMs);

std::string ToUtf8(const std::wstring& text);
std::wstring ToWide(const std::string& utf8);
// A path as Windows sees it: Unix paths ("/x/y") become "Z:\x\y".
std::string ToWinPath(const std::string& path);

// ---- windows of any process -------------------------------------------------
std::string ClassOf(HWND hwnd);
std::string TextOf(HWND hwnd);                        // WM_GETTEXT, bounded
bool SetText(HWND hwnd, const std::string& utf8);     // WM_SETTEXT, bounded
HWND Item(HWND parent, int id);                       // GetDlgItem, null-safe
bool IsShown(HWND hwnd);                              // exists and visible
bool IsOn(HWND hwnd);                                 // visible and enabled
bool IsChecked(HWND button);
// Top-level windows of a process, front to back.
std::vector<HWND> TopLevelWindows(DWORD pid);
// The window's process id, 0 when there is none.
DWORD ProcessOf(HWND hwnd);

// Presses a button as a click would (posted, so a modal loop it opens does
// not block the driver). Refuses, returning false, a button that a user could
// not press: missing, hidden, disabled, or under a disabled top-level window.
bool Click(HWND button);
// Posts a key press and release to `target`, as if it had the keyboard focus.
void PressKey(HWND target, UINT vk);

// A message box: a dialog whose text sits in static 0xFFFF and whose other
// controls are only buttons and the icon.
bool IsMessageBox(HWND hwnd);
std::string MessageBoxText(HWND box);

// Copies what the screen shows of the window into a PNG file.
bool CaptureWindow(HWND hwnd, const std::string& pngPath);

// ---- the program's string table ---------------------------------------------
class StringTable {
 public:
  explicit StringTable(const std::string& exePath);
  ~StringTable();
  StringTable(const StringTable&) = delete;
  StringTable& operator=(const StringTable&) = delete;
  bool Loaded() const { return module_ != nullptr; }
  // The text of `id` in UTF-8; empty when there is no such string.
  std::string Get(unsigned id) const;

 private:
  HMODULE module_ = nullptr;
};

// printf-style formatting of a UTF-8 template (the table's %s/%d/%u texts).
std::string Format(const std::string& format, ...);

// ---- one running copy of the program ----------------------------------------
class App {
 public:
  static constexpr const char* kFrameClass = "Plumbrook Starter MainFrame";

  // `arguments` (UTF-8) follow the quoted program path on the command line.
  explicit App(const std::string& exePath, const std::string& arguments = {});
  ~App();  // ends the program if it still runs
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Pid() const { return pid_; }
  bool Running() const;
  bool WaitExit(DWORD timeoutMs = kWaitMs, DWORD* exitCode = nullptr);
  void Kill();

  // The visible main frame of this process (waits for it to appear).
  HWND WaitFrame(DWORD timeoutMs = kStartWaitMs);
  HWND Frame() const { return frame_; }
  HWND Wizard() const;          // the wizard dialog inside the frame
  HWND Header() const;          // the header pane (it holds 1004 and 1005)
  HWND CurrentPage() const;     // the one visible page below the header
  HWND Button(int id) const;    // a wizard button: 1002, 1003, 1006 or 2
  std::string Title() const;    // header title
  std::string Subtitle() const;

  // The enabled, visible dialog or message box of this process that a user
  // can act on now (modal owners are disabled), or null.
  HWND ActivePopup() const;
  // Waits for an active popup other than `except` (a dialog that is open
  // already and is about to show a message box, for example).
  HWND WaitPopup(DWORD timeoutMs = kWaitMs, HWND except = nullptr) const;
  // Waits until no popup of this process is visible.
  bool WaitNoPopup(DWORD timeoutMs = kWaitMs) const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND frame_ = nullptr;
};

// Ends every running copy of the program (a process of that image with a
// main window, left over by an aborted earlier run), by process id. Returns
// how many were ended.
int EndStrayCopies(const std::string& exePath);

}  // namespace e2e
