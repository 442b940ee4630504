#include "driver.h"

#include <cstdarg>
#include <cstdio>

#include "png.h"

namespace e2e {
namespace {

constexpr UINT kMessageTimeoutMs = 3000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 0x0440;

// Sends a message to a window of another thread without ever blocking for
// long: a hung or busy target gives false.
bool SendBounded(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, kMessageTimeoutMs, &r))
    return false;
  if (result) *result = r;
  return true;
}

struct EnumState {
  DWORD pid;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lp) {
  auto* state = reinterpret_cast<EnumState*>(lp);
  if (ProcessOf(hwnd) == state->pid) state->out->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> DirectChildren(HWND parent) {
  std::vector<HWND> out;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
  return out;
}

bool IsDialogClass(HWND hwnd) { return ClassOf(hwnd) == "#32770"; }

}  // namespace

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(25);
  }
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring ToWide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string ToWinPath(const std::string& path) {
  std::string out = (!path.empty() && path[0] == '/') ? "Z:" + path : path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  if (!hwnd || !GetClassNameA(hwnd, name, sizeof name)) return {};
  return name;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  if (hwnd) GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

std::string TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!hwnd || !SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendBounded(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied))
    return {};
  text.resize(copied < text.size() ? copied : text.size() - 1);
  return ToUtf8(text);
}

bool SetText(HWND hwnd, const std::string& utf8) {
  const std::wstring text = ToWide(utf8);
  DWORD_PTR ok = 0;
  return hwnd && SendBounded(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &ok) && ok;
}

HWND Item(HWND parent, int id) { return parent ? GetDlgItem(parent, id) : nullptr; }

bool IsShown(HWND hwnd) { return hwnd && IsWindow(hwnd) && IsWindowVisible(hwnd); }

bool IsOn(HWND hwnd) { return IsShown(hwnd) && IsWindowEnabled(hwnd); }

bool IsChecked(HWND button) {
  DWORD_PTR state = 0;
  return button && SendBounded(button, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
  std::vector<HWND> out;
  EnumState state{pid, &out};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
  return out;
}

bool Click(HWND button) {
  if (!IsOn(button)) return false;
  HWND root = GetAncestor(button, GA_ROOT);
  if (root && !IsWindowEnabled(root)) return false;
  return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}

void PressKey(HWND target, UINT vk) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(target, WM_KEYDOWN, vk, scan | 1);
  PostMessageW(target, WM_KEYUP, vk, scan | 1 | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

bool IsMessageBox(HWND hwnd) {
  if (!IsDialogClass(hwnd) || !Item(hwnd, kMessageBoxTextId)) return false;
  for (HWND c : DirectChildren(hwnd)) {
    const int id = GetDlgCtrlID(c);
    const bool standardButton = id >= IDOK && id <= 11;  // IDOK ... IDCONTINUE
    if (id != kMessageBoxTextId && id != kMessageBoxIconId && !standardButton) return false;
  }
  return true;
}

std::string MessageBoxText(HWND box) { return TextOf(Item(box, kMessageBoxTextId)); }

bool CaptureWindow(HWND hwnd, const std::string& pngPath) {
  RECT r{};
  if (!hwnd || !GetWindowRect(hwnd, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;

  // Read the screen rather than ask the window to print itself: a device
  // context cannot be handed to another process.
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (dib && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT) != 0;
    GdiFlush();
    SelectObject(mem, old);
  }
  std::vector<uint8_t> rgb;
  if (ok) {
    rgb.reserve(static_cast<size_t>(w) * h * 3);
    const auto* px = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
      rgb.push_back(px[i * 4 + 2]);
      rgb.push_back(px[i * 4 + 1]);
      rgb.push_back(px[i * 4 + 0]);
    }
  }
  if (dib) DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok && WritePng(pngPath, static_cast<uint32_t>(w), static_cast<uint32_t>(h), rgb);
}

// ---- string table -----------------------------------------------------------

StringTable::StringTable(const std::string& exePath) {
  module_ = LoadLibraryExW(ToWide(ToWinPath(exePath)).c_str(), nullptr,
                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module_)
    module_ = LoadLibraryExW(ToWide(ToWinPath(exePath)).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

StringTable::~StringTable() {
  if (module_) FreeLibrary(module_);
}

std::string StringTable::Get(unsigned id) const {
  if (!module_) return {};
  // With a zero buffer size LoadStringW hands out a pointer to the resource
  // text itself, so no length limit applies.
  const wchar_t* text = nullptr;
  const int n = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (n <= 0 || !text) return {};
  return ToUtf8(std::wstring(text, static_cast<size_t>(n)));
}

std::string Format(const std::string& format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format.c_str(), copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format.c_str(), args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

// ---- App --------------------------------------------------------------------

App::App(const std::string& exePath, const std::string& arguments) {
  const std::wstring exe = ToWide(ToWinPath(exePath));
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + ToWide(arguments);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                     &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
  }
}

App::~App() {
  Kill();
  if (process_) CloseHandle(process_);
}

bool App::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool App::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(process_, exitCode);
  return true;
}

void App::Kill() {
  if (!Running()) return;
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, kWaitMs);
}

HWND App::WaitFrame(DWORD timeoutMs) {
  WaitUntil(
      [&] {
        for (HWND w : TopLevelWindows(pid_))
          if (ClassOf(w) == kFrameClass && IsWindowVisible(w)) {
            frame_ = w;
            return true;
          }
        return !Running();
      },
      timeoutMs);
  return frame_;
}

HWND App::Wizard() const {
  for (HWND c : DirectChildren(frame_))
    if (IsDialogClass(c)) return c;
  return nullptr;
}

HWND App::Header() const {
  for (HWND c : DirectChildren(Wizard()))
    if (IsDialogClass(c) && Item(c, 1004) && Item(c, 1005)) return c;
  return nullptr;
}

HWND App::CurrentPage() const {
  HWND header = Header();
  for (HWND c : DirectChildren(Wizard()))
    if (c != header && IsDialogClass(c) && IsWindowVisible(c)) return c;
  return nullptr;
}

HWND App::Button(int id) const { return Item(Wizard(), id); }

std::string App::Title() const { return TextOf(Item(Header(), 1004)); }

std::string App::Subtitle() const { return TextOf(Item(Header(), 1005)); }

HWND App::ActivePopup() const {
  for (HWND w : TopLevelWindows(pid_))
    if (w != frame_ && IsDialogClass(w) && IsWindowVisible(w) && IsWindowEnabled(w)) return w;
  return nullptr;
}

HWND App::WaitPopup(DWORD timeoutMs, HWND except) const {
  HWND popup = nullptr;
  WaitUntil([&] { return (popup = ActivePopup()) != nullptr && popup != except; }, timeoutMs);
  return popup != except ? popup : nullptr;
}

bool App::WaitNoPopup(DWORD timeoutMs) const {
  return WaitUntil(
      [&] {
        for (HWND w : TopLevelWindows(pid_))
          if (w != frame_ && IsDialogClass(w) && IsWindowVisible(w)) return false;
        return true;
      },
      timeoutMs);
}

int EndStrayCopies(const std::string& exePath) {
  const std::string path = ToWinPath(exePath);
  const std::wstring image = ToWide(path.substr(path.find_last_of('\\') + 1));
  int ended = 0;
  for (HWND w = FindWindowExA(nullptr, nullptr, App::kFrameClass, nullptr); w && ended < 8;
       w = FindWindowExA(nullptr, w, App::kFrameClass, nullptr)) {
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessOf(w));
    if (!p) continue;
    // Only our program: another test's window of the same class is left alone.
    wchar_t name[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(p, 0, name, &size)) {
      const std::wstring full(name, size);
      const std::wstring base = full.substr(full.find_last_of(L"\\/") + 1);
      if (_wcsicmp(base.c_str(), image.c_str()) == 0) {
        TerminateProcess(p, 1);
        WaitForSingleObject(p, kWaitMs);
        ++ended;
        w = nullptr;  // the window list changed: start again from the top
      }
    }
    CloseHandle(p);
  }
  return ended;
}

}  // namespace e2e
