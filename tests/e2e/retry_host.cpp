// Test-only host: shows the retry/cancel dialog on its own, as the install
// run shows it, and ends with the dialog's answer as its exit code. The one
// command-line argument is the message.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "wizard/retry_dialog.h"

namespace {

// The message in the ANSI code page, as the run would pass it. Taken from
// the wide command line: the runtime's narrow one is not safe for
// double-byte text at its start.
std::string MessageArgument() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::string message;
  if (args && count > 1) {
    const int n = WideCharToMultiByte(CP_ACP, 0, args[1], -1, nullptr, 0, nullptr, nullptr);
    if (n > 1) {
      message.resize(static_cast<size_t>(n));
      WideCharToMultiByte(CP_ACP, 0, args[1], -1, message.data(), n, nullptr, nullptr);
      message.resize(static_cast<size_t>(n) - 1);
    }
  }
  LocalFree(args);
  return message;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CRetryCancelDialog dialog(MessageArgument(), nullptr);
  return static_cast<int>(dialog.DoModal());
}
