// The fixture of the build-run scenarios: the real program against the local
// servers of install_servers.py, walked to the install page, and the checks of
// what a run leaves on disk.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "image_files.h"
#include "scenario.h"

namespace e2e {


namespace fs = std::filesystem;

// String ids of the run.
enum : unsigned {
  kPhaseFileInfo = 7000,
  kPhaseFileInfoDone = 7002,
  kPhaseCheckDone = 7012,
  kPhaseInstall = 7020,
  kPhaseInstallDone = 7022,
  kDownloading = 8005,
  kNoConnection = 10302,
  kUpdated = 10307,
  kNoService = 10308,
  kMaintenance = 10309,
  kBusy = 10310,
  kDownloadFailed = 10404,
  kDownloadNetError = 10406,
  kDownloadInterrupted = 10407,
  kAskCancelDownload = 11101,
  kBadDownload = 11102,
  kCannotReachDownload = 11104,
};

constexpr DWORD kRunWaitMs = 180000;

// Requests of a static HTTP server for part files so far (by default of
// Python's, else of the server whose log the variable names).
// Part files are served as <name>.pNN.<digest of their bytes>; the
// scenarios name them by the part of that which stays: "readme.txt.p00".
inline std::string ShortPartName(const std::string& servedName) {
  const size_t dot = servedName.rfind('.');
  return dot != std::string::npos && servedName.size() - dot == 17 ? servedName.substr(0, dot) : servedName;
}

// The served name of a part below folder (recursively), "" when there is none.
inline std::string ServedPartName(const fs::path& folder, const std::string& shortName) {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    const std::string name = ToUtf8(entry.path().filename().wstring());
    if (entry.is_regular_file() && ShortPartName(name) == shortName) return name;
  }
  return std::string();
}

inline int PartRequests(const std::string& name = "/files/", const char* logVariable = "WREN_HTTP_LOG_WIN") {
  std::ifstream log(fs::path(ToWide(Env(logVariable))));
  int count = 0;
  for (std::string line; std::getline(log, line);)
    if (line.find(name) != std::string::npos) ++count;
  return count;
}

class BuildRun : public WizardScenario {
 protected:
  void SetUp() override {
    WizardScenario::SetUp();
    if (HasFatalFailure()) return;
    image_ = WorkDir() + "\\image";
    download_ = WorkDir() + "\\download";
    std::error_code ec;
    fs::create_directories(ToWide(image_), ec);
    fs::create_directories(ToWide(download_), ec);
  }

  bool HaveServers() const { return !Env("WREN_FI_FAST").empty(); }

  // Starts the program on a list server and walks to the install page, which
  // starts the run at once.
  // proxy: extra settings for the download's proxy; none = a direct connection.
  // exe: another build of the program (see Start).
  ::testing::AssertionResult StartRun(const std::string& fileInfoPort, bool bootInstaller, Presets proxy = {},
                                      const std::string& exe = {}) {
    UseServer("127.0.0.1:" + fileInfoPort);
    Presets presets = {{"InstallPath", image_},
                       {"DownloadPath", download_},
                       {"BootInstaller", bootInstaller ? "1" : "0"}};
    if (proxy.empty()) proxy = {{"UseProxy", "0"}};
    presets.insert(presets.end(), proxy.begin(), proxy.end());
    if (auto r = Start(presets, exe); !r) return r;
    if (auto r = Go(kNext, kTitleFolder); !r) return r;
    if (auto r = Go(kNext, kTitleOption); !r) return r;
    return Go(kNext, kTitleInstall);
  }

  // Waits for the run to end on a finish page and returns its title id.
  unsigned WaitForFinishPage() {
    unsigned reached = 0;
    WaitUntil(
        [&] {
          for (unsigned id : {kTitleFinish, kTitleFinishError})
            if (app().Title() == Str(id)) reached = id;
          return reached != 0 || app().ActivePopup() != nullptr;
        },
        kRunWaitMs);
    return reached;
  }

  // The install page window, also once another page is shown.
  HWND InstallPage() const {
    for (HWND c = GetWindow(app_->Wizard(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (Item(c, 1019) && Item(c, 1034)) return c;
    return nullptr;
  }

  // Every file of the game folder is in the image with the same bytes and
  // the same last-write time.
  void ExpectImageMatchesGame() {
    e2e::ExpectImageMatchesGame(image_, [](const fs::path& built, const fs::path& source, const std::string&) {
      EXPECT_EQ(LastWrite(built), LastWrite(source));
    });
  }

  int DownloadFolderFiles() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(ToWide(download_)))
      if (entry.is_regular_file()) ++count;
    return count;
  }

  // Waits for the retry dialog and checks its text.
  ::testing::AssertionResult ExpectRetryDialog(const std::string& text, HWND* dialog) {
    HWND popup = nullptr;
    WaitUntil([&] { return (popup = app().ActivePopup()) != nullptr && Item(popup, 1026) != nullptr; }, kRunWaitMs);
    *dialog = popup;
    if (!popup || !Item(popup, 1026))
      return ::testing::AssertionFailure() << "no retry dialog; header reads \"" << app().Title() << "\""
                                           << (popup ? ", a popup says \"" + MessageBoxText(popup) + "\"" : "");
    const std::string shown = TextOf(Item(popup, 1026));
    if (shown != text)
      return ::testing::AssertionFailure() << "the retry dialog says \"" << shown << "\", expected \"" << text << "\"";
    return ::testing::AssertionSuccess();
  }

  // The failure message at the end of a run, then the error finish page with
  // the same text.
  void ExpectRunFailure(const std::string& text) {
    HWND box = nullptr;
    // The run may take a while to get there; ExpectMessage waits the ordinary time.
    WaitUntil([&] { return IsMessageBox(app().ActivePopup()); }, kRunWaitMs);
    ASSERT_TRUE(ExpectMessage(text, &box));
    ASSERT_TRUE(Answer(box, IDOK));
    ASSERT_TRUE(WaitUntil([&] { return app().Title() == Str(kTitleFinishError); }))
        << "header reads \"" << app().Title() << "\"";
    EXPECT_EQ(TextOf(Item(app().CurrentPage(), 1035)), text);
  }

  // The served file of a part of the /fast/ publication, by its short name.
  fs::path ServedPart(const std::string& shortName) const {
    const fs::path files = fs::path(ToWide(Env("WREN_FAST_ROOT_WIN"))) / "files";
    return files / ToWide(ServedPartName(files, shortName));
  }

  std::string image_;
  std::string download_;
};

#define REQUIRE_SERVERS() \
  if (!HaveServers()) GTEST_SKIP() << "no wren-fileinfo-server (build the native preset first)"

}  // namespace e2e
