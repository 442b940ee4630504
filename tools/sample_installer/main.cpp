// MarloSetup.exe: the stand-in installer of the sample image. It shows a
// window for a moment, then writes "MarloSetup.done" beside itself and exits,
// so a test can see that the starter launched it and waited for its end.
// "/ms=N" sets how long the window stays (default 2000 ms).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kCloseTimer) DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT rect;
      GetClientRect(window, &rect);
      DrawTextA(dc, "Marlo sample installer: nothing is installed.", -1, &rect,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

UINT ShowMilliseconds(const char* commandLine) {
  const char* option = std::strstr(commandLine, "/ms=");
  if (!option) return 2000;
  const long ms = std::strtol(option + 4, nullptr, 10);
  return ms > 0 && ms < 600000 ? static_cast<UINT>(ms) : 2000;
}

// The marker names this program's own path and command line, and when it ended.
bool WriteMarker(const char* commandLine) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  char* slash = std::strrchr(path, '\\');
  if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof "MarloSetup.done" > MAX_PATH) return false;
  char self[MAX_PATH];
  std::memcpy(self, path, sizeof self);
  std::strcpy(slash + 1, "MarloSetup.done");
  FILE* marker = std::fopen(path, "wb");
  if (!marker) return false;
  SYSTEMTIME now;
  GetSystemTime(&now);
  std::fprintf(marker, "ran %s\r\nargs %s\r\nended %04u-%02u-%02uT%02u:%02u:%02u.%03uZ\r\n", self, commandLine,
               now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  return std::fclose(marker) == 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "MarloSampleSetup";
  if (!RegisterClassA(&wc)) return 1;
  HWND window = CreateWindowA("MarloSampleSetup", "Marlo Setup (sample)", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                              CW_USEDEFAULT, CW_USEDEFAULT, 420, 140, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);
  SetTimer(window, kCloseTimer, ShowMilliseconds(commandLine), nullptr);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return WriteMarker(commandLine) ? 0 : 2;
}
