// Build runs of the real program against local servers: the static HTTP
// server of tests/support/http_servers.py with the sample image's part files,
// a throttled one for transfers slow enough to catch, nginx with the sample
// part-file configuration, and wren-fileinfo-server for the lists and the
// server statuses, two of them behind haproxy (all started by
// install_servers.py). The built image is compared with the game folder byte
// for byte, with its file times.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "settings/password.h"
#include "build_run.h"

namespace e2e {
namespace {

TEST_F(BuildRun, BuildsTheImageThenFindsNothingToDo) {
  REQUIRE_SERVERS();
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  ShotPage("finish");
  HWND page = InstallPage();
  EXPECT_EQ(TextOf(Item(page, 1019)), Str(kPhaseFileInfoDone));
  EXPECT_EQ(TextOf(Item(page, 1020)), Str(kPhaseCheckDone));
  EXPECT_EQ(TextOf(Item(page, 1021)), Str(kPhaseInstallDone));
  EXPECT_TRUE(IsWindowEnabled(Item(page, 1034)));
  // The finish page names the installer inside the image.
  EXPECT_EQ(TextOf(Item(app().CurrentPage(), 1000)), image_ + "\\MarloSetup.exe");
  // ... and the run log that support asks for.
  EXPECT_NE(TextOf(Item(app().CurrentPage(), 1036)).find("\\MarloStarter.log"), std::string::npos)
      << TextOf(Item(app().CurrentPage(), 1036));
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();
  EXPECT_EQ(DownloadFolderFiles(), 0) << "part files are removed once their file is installed";
  const int requests = PartRequests();
  EXPECT_GT(requests, 5);

  // Same settings again: everything is in place, nothing is fetched.
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  page = InstallPage();
  EXPECT_EQ(TextOf(Item(page, 1020)), Str(kPhaseCheckDone));
  EXPECT_EQ(TextOf(Item(page, 1021)), Str(kPhaseInstall)) << "the installation phase never started";
  for (int id : {1029, 1033, 1034}) EXPECT_FALSE(IsWindowEnabled(Item(page, id))) << id;
  ShotPage("finish-second-run");
  EXPECT_EQ(PartRequests(), requests) << "the second run asked the HTTP server for parts";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
}

TEST_F(BuildRun, BuildsThroughTheNamedProxyWithBasicAuthentication) {
  REQUIRE_SERVERS();
  if (Env("WREN_PROXY_PORT").empty()) GTEST_SKIP() << "tinyproxy is not installed";
  auto proxy = [&](const std::string& password) {
    std::string stored;
    EXPECT_TRUE(EncodePassword(password, kPasswordKey, stored));
    return Presets{{"UseProxy", "1"},
                   {"ProxyServer", "127.0.0.1:" + Env("WREN_PROXY_PORT")},
                   {"ProxyUser", Env("WREN_PROXY_USER")},
                   {"ProxyPasswd", stored}};
  };

  // A wrong password: the proxy refuses (tinyproxy answers 401) and nothing is fetched.
  const int before = PartRequests();
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false, proxy("wrong")));
  HWND dialog = nullptr;
  ASSERT_TRUE(ExpectRetryDialog(Format(Str(kCannotReachDownload), 6, 401), &dialog));
  ASSERT_TRUE(Answer(dialog, IDCANCEL));
  ASSERT_NO_FATAL_FAILURE(ExpectRunFailure(Format(Str(kDownloadNetError), -292, 401)));
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  EXPECT_EQ(PartRequests(), before);

  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false, proxy(Env("WREN_PROXY_PASSWORD"))));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();
  EXPECT_GT(PartRequests() - before, 5) << "the parts did not come from the HTTP server behind the proxy";
}

TEST_F(BuildRun, LaunchesTheInstallerOnFinishAndWaitsForIt) {
  REQUIRE_SERVERS();
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), true));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  EXPECT_EQ(ButtonStates(), "back:off next:hidden finish:on cancel:off");
  ShotPage("finish-boot");
  const fs::path marker = fs::path(ToWide(image_)) / "MarloSetup.done";
  EXPECT_FALSE(fs::exists(marker));
  ASSERT_TRUE(Click(app().Button(kFinish)));
  // The starter ends only once the installer has ended.
  ASSERT_TRUE(app().WaitExit(60000));
  EXPECT_TRUE(fs::exists(marker)) << "the installer did not run to its end before the starter exited";
}

TEST_F(BuildRun, ServerTroubleEndsOnTheErrorPageWithItsText) {
  struct Case {
    const char* port;  // environment variable with the server's port; null: nothing listens
    unsigned text;
  };
  const Case cases[] = {
      {nullptr, kNoConnection},           {"WREN_FI_STATUS_3", kUpdated}, {"WREN_FI_STATUS_1", kNoService},
      {"WREN_FI_STATUS_100", kMaintenance}, {"WREN_FI_STATUS_98", kBusy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port ? c.port : "no server");
    if (c.port && !HaveServers()) continue;
    ASSERT_TRUE(StartRun(c.port ? Env(c.port) : "1", false));
    ASSERT_NO_FATAL_FAILURE(ExpectRunFailure(Str(c.text)));
    EXPECT_EQ(TextOf(Item(InstallPage(), 1020)), Str(7010)) << "the check never started";
    ASSERT_TRUE(Click(app().Button(kFinish)));
    ASSERT_TRUE(app().WaitExit());
  }
  if (!HaveServers()) GTEST_SKIP() << "only the unreachable server was tried";
}

TEST_F(BuildRun, MissingPartAsksToRetryAndEndsOnCancel) {
  REQUIRE_SERVERS();
  const fs::path part = ServedPart("readme.txt.p00");
  const std::string bytes = ReadFileBytes(part);
  ASSERT_FALSE(bytes.empty());
  fs::remove(part);
  // The part comes back however this test ends, so later scenarios find it.
  struct Restore {
    const fs::path& path;
    const std::string& bytes;
    ~Restore() { WriteFileBytes(path, bytes); }
  } restore{part, bytes};
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false));
  HWND dialog = nullptr;
  ASSERT_TRUE(ExpectRetryDialog(Format(Str(kCannotReachDownload), 6, 404), &dialog));
  ShotPage("install-page-download-failed");
  Shot(dialog, "retry-dialog");
  ASSERT_TRUE(Answer(dialog, IDCANCEL));
  ExpectRunFailure(Format(Str(kDownloadNetError), -292, 404));
  ShotPage("finish-error");
}

TEST_F(BuildRun, WrongPartIsDownloadedAgainUntilItIsRight) {
  REQUIRE_SERVERS();
  const fs::path part = ServedPart("readme.txt.p00");
  const std::string bytes = ReadFileBytes(part);
  ASSERT_FALSE(bytes.empty());
  std::string wrong = bytes;
  wrong[0] = static_cast<char>(wrong[0] ^ 0x5A);  // same size, other CRC
  ASSERT_TRUE(WriteFileBytes(part, wrong));
  const int before = PartRequests("readme.txt.p00");
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false));

  HWND dialog = nullptr;
  bool asked = ExpectRetryDialog(Str(kBadDownload), &dialog);
  if (asked) {
    Shot(dialog, "wrong-part");
    asked = Answer(dialog, IDRETRY);  // the server still has the wrong bytes
  }
  if (asked) asked = ExpectRetryDialog(Str(kBadDownload), &dialog);
  WriteFileBytes(part, bytes);
  ASSERT_TRUE(asked);
  ASSERT_TRUE(Answer(dialog, IDRETRY));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  EXPECT_EQ(PartRequests("readme.txt.p00") - before, 3);
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();
}

TEST_F(BuildRun, PartFileThatCannotBeCreatedIsReported) {
  REQUIRE_SERVERS();
  // A folder in the way of the part file.
  std::error_code ec;
  const std::wstring partName = ServedPart("readme.txt.p00").filename().wstring();
  ASSERT_TRUE(fs::create_directories(fs::path(ToWide(download_)) / partName, ec));
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false));
  HWND box = nullptr;
  WaitUntil([&] { return IsMessageBox(box = app().ActivePopup()); }, kRunWaitMs);
  ASSERT_TRUE(IsMessageBox(box)) << "header reads \"" << app().Title() << "\"";
  const std::string shown = MessageBoxText(box);
  const std::string pattern = Str(11110);
  EXPECT_EQ(shown.substr(0, pattern.find('(')), pattern.substr(0, pattern.find('(')));
  const std::string path = download_ + "\\" + ToUtf8(partName);
  EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), path.size())), path);
  ASSERT_TRUE(Answer(box, IDOK));
  ExpectRunFailure(Format(Str(kDownloadFailed), -1));
}

TEST_F(BuildRun, CancelDuringATransferRemovesThePartialFile) {
  REQUIRE_SERVERS();
  ASSERT_TRUE(StartRun(Env("WREN_FI_SLOW"), false));
  const std::string downloading = Str(kDownloading);
  const std::string suffix = downloading.substr(downloading.find("%s") + 2);
  HWND page = InstallPage();
  std::string name;
  HWND box = nullptr;
  bool shot = false;
  // Cancel is offered only while a transfer runs. It is pressed during one
  // of the large parts (each takes several seconds from the throttled
  // server), so the transfer still runs when the question is answered.
  const std::set<std::string> largeParts = {"world.pak.p00", "world.pak.p01", "theme.ogg.p00"};
  const bool asked = WaitUntil(
      [&] {
        if (!IsOn(app().Button(kCancel))) return false;
        const std::string activity = TextOf(Item(page, 1025));
        if (activity.size() <= suffix.size()) return false;
        name = activity.substr(0, activity.size() - suffix.size());
        if (!largeParts.count(ShortPartName(name))) return false;
        if (!shot) {
          Sleep(1000);  // let some bytes arrive
          ShotPage("install-page-mid-download");
          shot = true;
        }
        if (!Click(app().Button(kCancel))) return false;
        box = app().WaitPopup(3000);
        return box != nullptr;
      },
      kRunWaitMs);
  ASSERT_TRUE(asked) << "Cancel was never offered during a transfer";
  ASSERT_TRUE(IsMessageBox(box));
  EXPECT_EQ(MessageBoxText(box), Str(kAskCancelDownload));
  ShotPage("install-page-asking-to-cancel");
  ASSERT_TRUE(Answer(box, IDYES));
  ExpectRunFailure(Str(kDownloadInterrupted));
  ShotPage("finish-error-cancelled");
  EXPECT_FALSE(fs::exists(fs::path(ToWide(download_)) / ToWide(name))) << name << " was left behind";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
}

// A run killed during a transfer keeps the parts it verified and the files it
// installed; the next run fetches only what is still missing.
TEST_F(BuildRun, KilledRunKeepsWhatItHadAndTheNextRunFetchesOnlyTheRest) {
  REQUIRE_SERVERS();
  const fs::path served = fs::path(ToWide(Env("WREN_FAST_ROOT_WIN"))) / "files";
  // Part files in the download folder that are whole (the size the server has).
  auto completeParts = [&] {
    std::set<std::wstring> names;
    for (const auto& part : fs::recursive_directory_iterator(served)) {
      const fs::path local = fs::path(ToWide(download_)) / part.path().filename();
      std::error_code ec;
      if (part.is_regular_file() && fs::is_regular_file(local, ec) && fs::file_size(local) == part.file_size())
        names.insert(part.path().filename().wstring());
    }
    return names;
  };
  auto installedFiles = [&] {
    std::set<std::wstring> names;
    for (const auto& entry : fs::recursive_directory_iterator(ToWide(image_)))
      if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), ToWide(image_)).wstring());
    return names;
  };

  ASSERT_TRUE(StartRun(Env("WREN_FI_SLOW"), false));
  const std::string downloading = Str(kDownloading);
  const std::string suffix = downloading.substr(downloading.find("%s") + 2);
  const std::set<std::string> largeParts = {"world.pak.p00", "world.pak.p01", "world.pak.p02", "theme.ogg.p00"};
  HWND page = InstallPage();
  const bool midTransfer = WaitUntil(
      [&] {
        const std::string activity = TextOf(Item(page, 1025));
        if (activity.size() <= suffix.size()) return false;
        const std::string name = activity.substr(0, activity.size() - suffix.size());
        return largeParts.count(ShortPartName(name)) && IsOn(app().Button(kCancel)) &&
               !(completeParts().empty() && installedFiles().empty());
      },
      kRunWaitMs);
  ASSERT_TRUE(midTransfer) << "no large transfer after a finished part";
  Sleep(1000);  // some bytes of the large part arrive
  app().Kill();
  const std::set<std::wstring> kept = completeParts();
  const std::set<std::wstring> installed = installedFiles();

  std::map<std::wstring, int> before;
  for (const auto& name : kept) before[name] = PartRequests("/" + ToUtf8(name));
  ASSERT_TRUE(StartRun(Env("WREN_FI_FAST"), false));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();
  for (const auto& [name, count] : before)
    EXPECT_EQ(PartRequests("/" + ToUtf8(name)), count) << ToUtf8(name) << " was verified before and fetched again";
  EXPECT_FALSE(kept.empty() && installed.empty());
}

TEST_F(BuildRun, BuildsWithPartsFromNginx) {
  REQUIRE_SERVERS();
  if (Env("WREN_FI_NGINX").empty()) GTEST_SKIP() << "nginx is not installed";
  ASSERT_TRUE(StartRun(Env("WREN_FI_NGINX"), false));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();
  EXPECT_GT(PartRequests("/marlo/files/", "WREN_NGINX_LOG_WIN"), 5) << "the parts did not come from nginx";
}

// Two list servers behind haproxy, plain clients fetching through it all the
// time: one server stops during a run, and the run, the clients and a second
// run with the one server left are all served.
TEST_F(BuildRun, BuildsThroughHaproxyWhileOneServerStops) {
  REQUIRE_SERVERS();
  if (Env("WREN_FI_BALANCED").empty()) GTEST_SKIP() << "haproxy is not installed";
  const fs::path control = ToWide(Env("WREN_BALANCE_CONTROL_WIN"));
  auto steer = [&](const char* name) { std::ofstream(control / name) << name << "\n"; };
  auto appears = [&](const char* name) { return WaitUntil([&] { return fs::exists(control / name); }, 60000); };

  steer("start-load");
  ASSERT_TRUE(StartRun(Env("WREN_FI_BALANCED"), false));
  steer("stop-first");
  ASSERT_TRUE(appears("first-stopped"));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();

  image_ = WorkDir() + "\\image-second";
  ASSERT_TRUE(fs::create_directories(ToWide(image_)));
  ASSERT_TRUE(StartRun(Env("WREN_FI_BALANCED"), false));
  ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  ASSERT_TRUE(Click(app().Button(kFinish)));
  ASSERT_TRUE(app().WaitExit());
  ExpectImageMatchesGame();

  steer("end-load");
  ASSERT_TRUE(appears("load-result"));
  std::ifstream in(control / "load-result");
  std::string result((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  RecordProperty("balanced_load", result);
  long fetched = -1, failed = -1, afterStop = -1;
  ASSERT_EQ(std::sscanf(result.c_str(), "fetched=%ld failed=%ld after_stop=%ld", &fetched, &failed, &afterStop), 3)
      << result;
  EXPECT_EQ(failed, 0) << result;
  EXPECT_GT(afterStop, 0) << result;
}

}  // namespace
}  // namespace e2e
