// Walks the starter's wizard with its defaults, as a first-time user would:
// Next on every page, Yes to creating the image folder, then waits for the
// build run and presses Finish. Saves a screenshot of every page and message
// box it meets. Used by scripts/demo when there is no person at a display.
//
//   wren-demo-walk <WrenStarter.exe> <screenshot folder> [time limit in seconds]
//
// Exit code 0 when the run ended on a success page and the program exited
// after Finish; 1 when it ended on the error page; 2 on anything else.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/driver.h"

namespace {

constexpr int kNext = 1003, kFinish = 1006;

std::string Slug(int n, const std::string& what) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%02d-", n);
  return prefix + what + ".png";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wren-demo-walk <WrenStarter.exe> <screenshot folder> [seconds]\n");
    return 2;
  }
  const std::string exe = argv[1];
  const std::string shots = e2e::ToWinPath(argv[2]);
  const DWORD limitMs = (argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 900) * 1000;
  ::CreateDirectoryA(shots.c_str(), nullptr);

  e2e::StringTable strings(exe);
  e2e::App app(exe);
  if (!app.Started() || !app.WaitFrame()) {
    std::fprintf(stderr, "demo: the starter did not open its window\n");
    return 2;
  }
  const std::string finishTitle = strings.Get(5004), errorTitle = strings.Get(5005);
  const std::string installTitle = strings.Get(5003);
  int shot = 0;
  std::string lastTitle;
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < limitMs) {
    if (!app.Running()) {
      std::fprintf(stderr, "demo: the starter ended before the finish page\n");
      return 2;
    }
    if (HWND popup = app.ActivePopup()) {
      std::string text = e2e::IsMessageBox(popup) ? e2e::MessageBoxText(popup) : e2e::TextOf(popup);
      std::printf("demo: message: %s\n", text.c_str());
      std::fflush(stdout);
      e2e::CaptureWindow(popup, shots + "\\" + Slug(++shot, "message"));
      // Yes to creating the folder, OK to a notice, Retry to a download question.
      for (int answer : {IDYES, IDOK, IDRETRY}) {
        if (e2e::Click(e2e::Item(popup, answer))) break;
      }
      app.WaitNoPopup();
      continue;
    }
    std::string title = app.Title();
    if (title != lastTitle) {
      lastTitle = title;
      ::Sleep(300);  // let the page finish painting
      e2e::CaptureWindow(app.Frame(), shots + "\\" + Slug(++shot, "page"));
      std::printf("demo: page: %s\n", title.c_str());
      std::fflush(stdout);
    }
    if (title == finishTitle || title == errorTitle) {
      const bool success = title == finishTitle;
      e2e::Click(app.Button(kFinish));
      // On the launch page Finish starts the installer and waits for it.
      if (!app.WaitExit(120000)) {
        std::fprintf(stderr, "demo: the starter did not end after Finish\n");
        return 2;
      }
      return success ? 0 : 1;
    }
    if (title != installTitle && e2e::IsOn(app.Button(kNext))) e2e::Click(app.Button(kNext));
    ::Sleep(200);
  }
  std::fprintf(stderr, "demo: no finish page within the time limit\n");
  return 2;
}
