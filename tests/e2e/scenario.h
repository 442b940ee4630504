// The fixture every wizard scenario starts from: a clean settings location,
// a file-information server address that fails at once on this machine, the
// program started fresh, screenshots kept under artifacts/e2e/, and the
// program ended at the end whatever happened.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver.h"

namespace e2e {

// String ids the scenarios check.
enum : unsigned {
  kTitleWelcome = 5000,
  kTitleFolder = 5001,
  kTitleOption = 5002,
  kTitleInstall = 5003,
  kTitleFinish = 5004,
  kTitleFinishError = 5005,
  kNextCaption = 5100,
  kStartCaption = 5101,
  kSummaryTempFolder = 6010,
  kSummaryNoProxy = 6011,
  kSummarySystemProxy = 6012,
  kSummaryNamedProxy = 6013,
  kAskCreateFolder = 10100,
  kCannotCreateFolder = 10101,
  kFileInTheWay = 10102,
  kInvalidDrive = 10103,
  kRemovableDrive = 10104,
  kNetworkDrive = 10106,
  kAskCancel = 12000,
};

// Wizard button ids.
enum : int { kBack = 1002, kNext = 1003, kFinish = 1006, kCancel = 2 };

class WizardScenario : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the program and waits for its frame and the welcome page.
  // `presets` are written to section "Main" of the settings file first.
  // `exe`: another build of the program to start instead of WREN_E2E_EXE.
  using Presets = std::vector<std::pair<std::string, std::string>>;
  ::testing::AssertionResult Start(const Presets& presets = {}, const std::string& exe = {});
  App& app() { return *app_; }

  std::string Str(unsigned id) const { return strings_->Get(id); }

  // Saves a PNG of the window under artifacts/e2e/<test>/NN-<label>.png.
  void Shot(HWND hwnd, const std::string& label);
  void ShotPage(const std::string& label) { Shot(app_->Frame(), label); }

  // "back:on next:off finish:hidden cancel:on" for the four wizard buttons.
  std::string ButtonStates() const;

  // Clicks a wizard button and waits for the header title to become `title`.
  ::testing::AssertionResult Go(int button, unsigned titleId);
  // Waits for a message box of the program and checks its text.
  ::testing::AssertionResult ExpectMessage(const std::string& text, HWND* box = nullptr);
  // Clicks button `id` of a dialog or message box and waits for it to close.
  ::testing::AssertionResult Answer(HWND popup, int id);
  // Cancel, answered Yes: the program must end.
  ::testing::AssertionResult CancelAndExit();

  // The settings file the program uses, and its "Main" values.
  static std::string IniPath();
  static bool IniHas(const std::string& key);
  static std::string IniGet(const std::string& key);

  // Points the program at another file-information server ("host:port");
  // the default is an address where nothing listens. Takes effect at Start.
  static void UseServer(const std::string& hostPort);

  // A scratch folder on the fixed drive C:, emptied for each test.
  std::string WorkDir() const { return workDir_; }

  std::string exePath_;
  std::unique_ptr<StringTable> strings_;
  std::unique_ptr<App> app_;

 private:
  std::string artifactDir_;
  std::string workDir_;
  int shots_ = 0;
};

}  // namespace e2e
