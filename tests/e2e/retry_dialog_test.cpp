// The retry/cancel dialog, shown on its own by a small host program (the
// install run that normally shows it needs servers). The host's exit code is
// the dialog's answer: 4 retry, 2 cancel.
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "scenario.h"

namespace e2e {
namespace {

constexpr DWORD kRetry = 4, kCancelAnswer = 2;
constexpr char kMessage[] = "ダウンロードに失敗しました。もう一度試しますか？";

class RetryDialog : public WizardScenario {
 protected:
  // Starts the host with `message` and returns its dialog (null on failure).
  HWND Show(const std::string& message) {
    const char* host = std::getenv("WREN_E2E_RETRY_HOST");
    if (!host) return nullptr;
    host_ = std::make_unique<App>(host, "\"" + message + "\"");
    HWND dialog = host_->WaitPopup(kStartWaitMs);
    return dialog && Item(dialog, 1026) ? dialog : nullptr;
  }
  void TearDown() override {
    host_.reset();
    WizardScenario::TearDown();
  }
  std::unique_ptr<App> host_;
};

TEST_F(RetryDialog, ShowsTheMessageAndAnswersAsTheUserChooses) {
  const struct {
    const char* name;
    std::function<void(HWND)> act;
    DWORD answer;
  } cases[] = {
      {"enter", [](HWND d) { PressKey(d, VK_RETURN); }, kRetry},
      {"escape", [](HWND d) { PressKey(d, VK_ESCAPE); }, kCancelAnswer},
      {"retry-button", [](HWND d) { Click(Item(d, 4)); }, kRetry},
      {"cancel-button", [](HWND d) { Click(Item(d, 2)); }, kCancelAnswer},
      {"close-command", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, kCancelAnswer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HWND dialog = Show(kMessage);
    ASSERT_TRUE(dialog) << "the retry dialog did not appear";
    EXPECT_EQ(TextOf(dialog), Str(57344));
    EXPECT_EQ(TextOf(Item(dialog, 1026)), kMessage);
    EXPECT_EQ(TextOf(Item(dialog, 4)), "再試行");
    EXPECT_EQ(TextOf(Item(dialog, 2)), "キャンセル");
    EXPECT_NE(SendMessageW(Item(dialog, 1027), STM_GETICON, 0, 0), 0) << "no question icon";
    if (c.answer == kRetry && std::string(c.name) == "enter") Shot(dialog, "retry-dialog");

    c.act(dialog);
    DWORD code = 0;
    ASSERT_TRUE(host_->WaitExit(kWaitMs, &code)) << "the dialog did not close";
    EXPECT_EQ(code, c.answer);
  }
}

TEST_F(RetryDialog, LongMessageWrapsWithoutGrowingTheDialog) {
  HWND dialog = Show(kMessage);
  ASSERT_TRUE(dialog);
  RECT small{};
  GetWindowRect(dialog, &small);
  host_.reset();

  std::string longMessage;
  for (int i = 0; i < 6; ++i) longMessage += kMessage;
  dialog = Show(longMessage);
  ASSERT_TRUE(dialog);
  RECT large{};
  GetWindowRect(dialog, &large);
  EXPECT_EQ(TextOf(Item(dialog, 1026)), longMessage);
  EXPECT_EQ(large.right - large.left, small.right - small.left);
  EXPECT_EQ(large.bottom - large.top, small.bottom - small.top);
  Shot(dialog, "long-message");
}

// The one slow scenario: left alone, the dialog answers retry by itself once
// a minute has passed. The time it took is printed, not asserted.
TEST_F(RetryDialog, LeftAloneItAnswersRetryAfterAMinute) {
  HWND dialog = Show(kMessage);
  ASSERT_TRUE(dialog);
  const ULONGLONG shown = GetTickCount64();
  DWORD code = 0;
  ASSERT_TRUE(host_->WaitExit(120000, &code)) << "still open after two minutes";
  EXPECT_EQ(code, kRetry);
  std::printf("the dialog answered by itself after %.1f s\n", (GetTickCount64() - shown) / 1000.0);
}

}  // namespace
}  // namespace e2e
