// Unattended starts of the real program: /quiet and /passive builds against
// the local servers of install_servers.py, the exit code read from the
// finished process, and the run log that each start leaves.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image_files.h"
#include "scenario.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Exit codes of the starter.
enum : DWORD {
  kExitOk = 0,
  kExitBadCommandLine = 2,
  kExitAlreadyRunning = 3,
  kExitNoServer = 10,
  kExitServerStatus = 11,
};

enum : unsigned {
  kNoConnection = 10302,
  kMaintenance = 10309,
  kBadOption = 10010,
};

constexpr DWORD kRunWaitMs = 240000;

// A message as the log writes it: its line breaks continue on tab-indented lines.
std::string AsLogged(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out += '\t';
  }
  return out;
}

class Unattended : public WizardScenario {
 protected:
  void SetUp() override {
    WizardScenario::SetUp();
    if (HasFatalFailure()) return;
    image_ = WorkDir() + "\\image";  // not there yet: the build creates it
    download_ = WorkDir() + "\\download";
    log_ = WorkDir() + "\\run.log";
    std::error_code ec;
    fs::create_directories(ToWide(download_), ec);
  }

  bool HaveServers() const { return !Env("WREN_FI_FAST").empty(); }

  std::string Options(const std::string& fileInfoPort) const {
    return "/image=\"" + image_ + "\" /download=\"" + download_ + "\" /server=127.0.0.1:" + fileInfoPort +
           " /proxy=none /log=\"" + log_ + "\"";
  }

  // Starts the program with these arguments and waits for its end; no window
  // of it may become visible on the way when `windowless`.
  DWORD Run(const std::string& arguments, bool windowless, DWORD timeoutMs = kRunWaitMs) {
    App app(exePath_, arguments);
    EXPECT_TRUE(app.Started());
    bool sawWindow = false;
    DWORD code = 0xFFFFFFFF;
    const DWORD start = GetTickCount();
    while (!app.WaitExit(100, &code)) {
      for (HWND w : TopLevelWindows(app.Pid()))
        if (IsWindowVisible(w)) sawWindow = true;
      if (GetTickCount() - start > timeoutMs) {
        ADD_FAILURE() << "the program did not end: " << arguments;
        return code;
      }
    }
    if (windowless) {
      EXPECT_FALSE(sawWindow) << arguments;
    }
    return code;
  }

  std::string Log() const { return ReadFileBytes(fs::path(ToWide(log_))); }
  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

  // Every file of the game folder is in the image with the same bytes, and
  // the log names it.
  void ExpectImageMatchesGame() {
    e2e::ExpectImageMatchesGame(image_, [this](const fs::path&, const fs::path&, const std::string& relative) {
      EXPECT_TRUE(LogHas(relative)) << "the log does not name the file";
    });
  }

  std::string image_;
  std::string download_;
  std::string log_;
};

#define REQUIRE_SERVERS() \
  if (!HaveServers()) GTEST_SKIP() << "no wren-fileinfo-server (build the native preset first)"

TEST_F(Unattended, QuietBuildsTheImageWithoutAWindowAndSavesNothing) {
  REQUIRE_SERVERS();
  ASSERT_EQ(Run("/quiet " + Options(Env("WREN_FI_FAST")), true), kExitOk) << Log();
  ExpectImageMatchesGame();
  EXPECT_FALSE(fs::exists(fs::path(ToWide(IniPath())))) << "settings were written without /save";

  const std::string log = Log();
  ASSERT_EQ(log.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark";
  for (const std::string& part :
       {std::string("mode: quiet"), "SETTING   image folder: " + image_, std::string("proxy: none"),
        std::string("server: 127.0.0.1:" + Env("WREN_FI_FAST")), std::string("file list received"),
        std::string("QUESTION"), std::string("ANSWER    Yes"),  // the image folder was created
        std::string("DOWNLOAD  http://127.0.0.1"), std::string(": verified"), std::string("build run ends: image complete"),
        std::string("TOTALS"), std::string("OUTCOME   exit code 0 (success)")})
    EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;

  // Again: everything is in place and nothing is asked.
  ASSERT_EQ(Run("/quiet " + Options(Env("WREN_FI_FAST")), true), kExitOk) << Log();
  EXPECT_TRUE(LogHas("0 files installed")) << Log();
  EXPECT_TRUE(fs::exists(fs::path(ToWide(log_ + ".old")))) << "the previous run's log is kept";
}

TEST_F(Unattended, QuietWithTheServerDownStopsAfterTheBoundedRetries) {
  // Nothing listens on port 1; /save keeps the folder even though the run fails.
  ASSERT_EQ(Run("/quiet " + Options("1") + " /save", true), kExitNoServer) << Log();
  const std::string log = Log();
  EXPECT_NE(log.find("retry 10 of 10"), std::string::npos) << log;
  EXPECT_NE(log.find("all 10 retries of the run are used"), std::string::npos) << log;
  EXPECT_NE(log.find(AsLogged(Str(kNoConnection))), std::string::npos) << "the user's text is not in the log\n" << log;
  EXPECT_NE(log.find("OUTCOME   exit code 10 (no-server)"), std::string::npos) << log;
  EXPECT_EQ(IniGet("InstallPath"), image_);
  EXPECT_EQ(IniGet("UseProxy"), "0");
}

TEST_F(Unattended, AServerStatusHasItsOwnCode) {
  REQUIRE_SERVERS();
  ASSERT_EQ(Run("/quiet " + Options(Env("WREN_FI_STATUS_100")), true), kExitServerStatus) << Log();
  EXPECT_TRUE(LogHas(AsLogged(Str(kMaintenance)))) << Log();
}

TEST_F(Unattended, ABadOptionRunsNothingAndNamesTheOption) {
  struct Case {
    const char* arguments;
    const char* option;
  };
  const Case cases[] = {
      {"/quiet /frobnicate", "/frobnicate"},
      {"/quiet /server=127.0.0.1:99999", "/server=127.0.0.1:99999"},
      {"/quiet /proxy=somewhere", "/proxy=somewhere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(Run(std::string(c.arguments) + " /log=\"" + log_ + "\"", true, kStartWaitMs), kExitBadCommandLine);
    EXPECT_TRUE(LogHas(AsLogged(Format(Str(kBadOption), c.option)))) << Log();
    EXPECT_TRUE(LogHas("OUTCOME   exit code 2 (bad-command-line)")) << Log();
  }
  EXPECT_FALSE(fs::exists(fs::path(ToWide(image_))));

  // Without /quiet a message box says it.
  App app(exePath_, "/passive /image=");
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return IsMessageBox(box = app.ActivePopup()); }, kStartWaitMs));
  EXPECT_EQ(MessageBoxText(box), Format(Str(kBadOption), "/image="));
  ASSERT_TRUE(Click(Item(box, IDOK)));
  DWORD code = 0;
  ASSERT_TRUE(app.WaitExit(kWaitMs, &code));
  EXPECT_EQ(code, kExitBadCommandLine);
}

TEST_F(Unattended, ASecondStartWhileOneRunsHasItsOwnCode) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(Run("/quiet " + Options("1"), true, kStartWaitMs), kExitAlreadyRunning);
  EXPECT_FALSE(fs::exists(fs::path(ToWide(log_)))) << "the second copy wrote a log";
  EXPECT_TRUE(app().Running());
}

TEST_F(Unattended, PassiveShowsTheInstallPageAndEndsByItself) {
  REQUIRE_SERVERS();
  App app(exePath_, "/passive " + Options(Env("WREN_FI_FAST")));
  ASSERT_TRUE(app.WaitFrame());
  EXPECT_TRUE(WaitUntil([&] { return app.Title() == Str(kTitleInstall) || !app.Running(); }));
  DWORD code = 0xFFFFFFFF;
  ASSERT_TRUE(app.WaitExit(kRunWaitMs, &code));
  EXPECT_EQ(code, kExitOk) << Log();
  ExpectImageMatchesGame();
  EXPECT_TRUE(LogHas("mode: passive"));
}

}  // namespace
}  // namespace e2e
