// The fault matrix: one row per thing that can go wrong during a build run of
// the real program, with the question it must ask, the message and finish
// page it must end on and what it must leave on disk; then a rerun without the
// fault, which must complete the image, fetch only what was missing and leave
// no part or temporary file behind. The faults come from the fault server of
// fault_server.py (steered through its /_control), a small tmpfs mounted by
// install_servers.py, files held open by this program, tinyproxy refusing a
// wrong password, the system ending the program, and kills.
#include <windows.h>
#include <wininet.h>

#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "settings/password.h"
#include "build_run.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

enum : unsigned {
  kCheckRetry = 11003,
  kInstallCopyError = 11011,
  kDownloadFileError = 10405,
  kTransferError = 11105,
  kListRefused = 10401,
};

// What goes wrong.
enum class Fault {
  kServer,            // the fault server answers the part wrongly (Row::server)
  kStallCancel,       // the transfer of the part stalls; the user cancels
  kStallEndSession,   // ... and the system ends the program (shut-down refused first)
  kProxyRefuses,      // the named proxy refuses the password
  kDiskFullDownload,  // the download folder's disk is full
  kDiskFullInstall,   // the image folder's disk is full
  kReadOnlyImage,     // the image folder's file system is read-only
  kLockedTarget,      // another process holds the installed file open
  kKillInCheck,       // killed while the check asks about a file it cannot read
  kKillInDownload,    // killed during a (stalled) transfer
  kKillInInstall,     // killed while the installation asks about a locked file
  kOverlap,           // download folder = image folder, parts named like targets
  kBadList,           // a list the starter must refuse (Row::list)
};

// What the user does with the run's question.
enum class Reply { kNone, kCancel, kRetryOnceCured, kKill };

struct Row {
  const char* name;
  Fault fault;
  const char* list;    // variable with the port of the row's list server; null = the fault server's list
  const char* server;  // the fault server's fault for the part, or null
  const char* part;    // the part (or, for install faults, the part of the file) that is hit
  // The run's question: string id and its numbers; 0 = none. Install
  // questions end with the file's path, which is not compared.
  unsigned question;
  int q1, q2;
  bool retryDialog;  // asked in the retry dialog, else in a message box
  Reply reply;
  // The message at the end; 0 = none.
  unsigned message;
  int m1, m2;
  unsigned page;  // finish page reached; 0 when the program ended before one
  // The hit part's file after the run: true = left (wrong or partial, for
  // the next run to replace), false = gone.
  bool partLeft;
};

constexpr const char* kTheme = "theme.ogg.p00";
constexpr const char* kWorld1 = "world.pak.p01";
constexpr const char* kReadme = "readme.txt.p00";
constexpr const char* kInstaller = "MarloSetup.exe.p00";

// clang-format off
const Row kRows[] = {
  // name                  fault                     list                       server       part        question              q1    q2     dialog reply                   message               m1    m2     page               part left
  {"ServerDrop",            Fault::kServer,           nullptr,                   "drop",      kTheme,     kTransferError,       8,    10054, true,  Reply::kCancel,         kDownloadFileError,   -290, 10054, kTitleFinishError, true},
  {"ServerStall",           Fault::kStallCancel,      nullptr,                   "stall",     kTheme,     kAskCancelDownload,   0,    0,     false, Reply::kCancel,         kDownloadInterrupted, 0,    0,     kTitleFinishError, false},
  {"Server404",             Fault::kServer,           nullptr,                   "404",       kTheme,     kCannotReachDownload, 6,    404,   true,  Reply::kCancel,         kDownloadNetError,    -292, 404,   kTitleFinishError, true},
  {"Server500",             Fault::kServer,           nullptr,                   "500",       kTheme,     kCannotReachDownload, 6,    500,   true,  Reply::kCancel,         kDownloadNetError,    -292, 500,   kTitleFinishError, true},
  {"Truncated",             Fault::kServer,           nullptr,                   "truncated", kTheme,     kBadDownload,         0,    0,     true,  Reply::kCancel,         kDownloadFileError,   -295, 0,     kTitleFinishError, true},
  {"Corrupted",             Fault::kServer,           nullptr,                   "corrupted", kTheme,     kBadDownload,         0,    0,     true,  Reply::kCancel,         kDownloadFileError,   -294, 0,     kTitleFinishError, true},
  {"LongerBody",            Fault::kServer,           nullptr,                   "longer",    kTheme,     kBadDownload,         0,    0,     true,  Reply::kCancel,         kDownloadFileError,   -295, 0,     kTitleFinishError, true},
  {"EndlessBody",           Fault::kServer,           nullptr,                   "endless",   kTheme,     kBadDownload,         0,    0,     true,  Reply::kCancel,         kDownloadFileError,   -295, 0,     kTitleFinishError, true},
  {"DropThenResume",        Fault::kServer,           nullptr,                   "drop",      kTheme,     kTransferError,       8,    10054, true,  Reply::kRetryOnceCured, 0,                    0,    0,     kTitleFinish,      false},
  {"CorruptedThenNoCache",  Fault::kServer,           nullptr,                   "corrupted", kTheme,     kBadDownload,         0,    0,     true,  Reply::kRetryOnceCured, 0,                    0,    0,     kTitleFinish,      false},
  {"ProxyRefuses",          Fault::kProxyRefuses,     nullptr,                   nullptr,     kInstaller, kCannotReachDownload, 6,    401,   true,  Reply::kCancel,         kDownloadNetError,    -292, 401,   kTitleFinishError, true},
  {"StallThenEndOfSession", Fault::kStallEndSession,  nullptr,                   "stall",     kTheme,     0,                    0,    0,     false, Reply::kNone,           0,                    0,    0,     0,                 true},
  {"DiskFullDownload",      Fault::kDiskFullDownload, nullptr,                   nullptr,     kInstaller, kTransferError,       7,    13,    true,  Reply::kRetryOnceCured, 0,                    0,    0,     kTitleFinish,      false},
  {"DiskFullInstall",       Fault::kDiskFullInstall,  nullptr,                   nullptr,     kInstaller, kInstallCopyError,    -376, 112,   false, Reply::kRetryOnceCured, 0,                    0,    0,     kTitleFinish,      false},
  {"ReadOnlyImage",         Fault::kReadOnlyImage,    nullptr,                   nullptr,     kInstaller, kInstallCopyError,    -376, 5,     false, Reply::kRetryOnceCured, 0,                    0,    0,     kTitleFinish,      false},
  {"LockedTarget",          Fault::kLockedTarget,     nullptr,                   nullptr,     kReadme,    kInstallCopyError,    -376, 32,    false, Reply::kRetryOnceCured, 0,                    0,    0,     kTitleFinish,      false},
  {"KillInCheck",           Fault::kKillInCheck,      nullptr,                   nullptr,     kReadme,    kCheckRetry,          -300, 32,    false, Reply::kKill,           0,                    0,    0,     0,                 false},
  {"KillInDownload",        Fault::kKillInDownload,   nullptr,                   "stall",     kWorld1,    0,                    0,    0,     false, Reply::kKill,           0,                    0,    0,     0,                 true},
  {"KillInInstall",         Fault::kKillInInstall,    nullptr,                   nullptr,     kReadme,    kInstallCopyError,    -376, 32,    false, Reply::kKill,           0,                    0,    0,     0,                 true},
  {"OverlapOfFolders",      Fault::kOverlap,          "WREN_FI_LIST_OVERLAP",    nullptr,     kReadme,    0,                    0,    0,     false, Reply::kNone,           0,                    0,    0,     kTitleFinish,      false},
  {"DuplicateTargets",      Fault::kBadList,          "WREN_FI_LIST_DUP_TARGET", nullptr,     kReadme,    0,                    0,    0,     false, Reply::kNone,           kListRefused,         -184, 0,     kTitleFinishError, false},
  {"DuplicatePartNames",    Fault::kBadList,          "WREN_FI_LIST_DUP_PART",   nullptr,     kReadme,    0,                    0,    0,     false, Reply::kNone,           kListRefused,         -184, 0,     kTitleFinishError, false},
  {"ShortOfRecords",        Fault::kBadList,          "WREN_FI_LIST_SHORT",      nullptr,     kReadme,    0,                    0,    0,     false, Reply::kNone,           kListRefused,         -185, 0,     kTitleFinishError, false},
};
// clang-format on

// A GET of the fault server's /_control; the reply's text, "" when it failed.
std::string Control(const std::string& query) {
  std::string reply;
  HINTERNET net = InternetOpenA("e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  const std::string url = "http://127.0.0.1:" + Env("WREN_FAULT_PORT") + "/_control?" + query;
  HINTERNET request =
      net ? InternetOpenUrlA(net, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
          : nullptr;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (request &&
      HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    char buffer[512];
    DWORD got = 0;
    while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0) reply.append(buffer, got);
    if (status != 200) reply = "HTTP " + std::to_string(status) + ": " + reply;
  }
  if (request) InternetCloseHandle(request);
  if (net) InternetCloseHandle(net);
  return reply;
}

// A file held open without sharing, as another program would hold it.
class HeldFile {
 public:
  bool Hold(const fs::path& path) {
    Drop();
    handle_ = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }
  void Drop() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  ~HeldFile() { Drop(); }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class FaultMatrix : public BuildRun, public ::testing::WithParamInterface<Row> {
 protected:
  void TearDown() override {
    held_.Drop();
    if (HaveServers()) {
      Control("fault=none");
      if (!Env("WREN_SMALL_DISK_WIN").empty()) {
        Control("disk=rw");
        Control("disk=free");
      }
    }
    BuildRun::TearDown();
    std::error_code ec;
    if (!smallDir_.empty()) fs::remove_all(ToWide(smallDir_), ec);
  }

  static bool OnSmallDisk(Fault f) {
    return f == Fault::kDiskFullDownload || f == Fault::kDiskFullInstall || f == Fault::kReadOnlyImage;
  }

  fs::path Game() const { return ToWide(Env("WREN_GAME_WIN")); }
  fs::path Served() const { return fs::path(ToWide(Env("WREN_FAULT_ROOT_WIN"))) / "files"; }

  // Every part the server holds: its file by its name.
  std::map<std::string, fs::path> ServedParts() const {
    std::map<std::string, fs::path> parts;
    for (const auto& entry : fs::recursive_directory_iterator(Served()))
      if (entry.is_regular_file()) parts[ToUtf8(entry.path().filename().wstring())] = entry.path();
    return parts;
  }
  // The game file a part belongs to ("world.pak.p01" -> data/world.pak).
  fs::path TargetOf(const std::string& part) const {
    const std::wstring name = ToWide(part.substr(0, part.rfind(".p")));
    for (const auto& entry : fs::recursive_directory_iterator(Game()))
      if (entry.is_regular_file() && entry.path().filename() == name) return fs::relative(entry.path(), Game());
    return {};
  }

  // The part's activity line shows and Cancel is offered: its transfer runs.
  bool WaitTransferOf(const std::string& part) {
    const std::string text = Format(Str(kDownloading), part.c_str());
    return WaitUntil([&] { return IsOn(app().Button(kCancel)) && TextOf(Item(InstallPage(), 1025)) == text; },
                     kRunWaitMs);
  }

  // The question of the row, waited for and checked; the popup, or null.
  HWND ExpectQuestion(const Row& row) {
    HWND popup = nullptr;
    if (row.retryDialog) {
      EXPECT_TRUE(ExpectRetryDialog(Format(Str(row.question), row.q1, row.q2), &popup));
      return popup;
    }
    WaitUntil([&] { return IsMessageBox(popup = app().ActivePopup()); }, kRunWaitMs);
    if (!IsMessageBox(popup)) {
      ADD_FAILURE() << "no message box; header reads \"" << app().Title() << "\"";
      return nullptr;
    }
    // Install questions end with "\n\n" and the file's path.
    std::string expected = Format(Str(row.question), row.q1, row.q2, "");
    std::string shown = MessageBoxText(popup);
    const size_t path = expected.find("\n\n");
    if (path != std::string::npos && path + 2 == expected.size()) {
      expected.resize(path);
      shown = shown.substr(0, shown.find("\n\n"));
    }
    EXPECT_EQ(shown, expected);
    return popup;
  }

  // Removes the row's cause: no server fault, the disk freed and writable,
  // the held file let go.
  // What the fault server saw of the hit part, for the rows about the wire.
  void ExpectOnTheWire(const Row& row) {
    std::vector<std::string> requests;
    uint64_t endlessSent = 0;
    std::ifstream log(fs::path(ToWide(Env("WREN_FAULT_LOG_WIN"))));
    for (std::string line; std::getline(log, line);) {
      if (line.find("/" + part_) != std::string::npos) requests.push_back(line);
      if (line.rfind("SENT endless ", 0) == 0) endlessSent = std::stoull(line.substr(13));
    }
    ASSERT_FALSE(requests.empty());
    const std::string name = row.name;
    if (name == "EndlessBody") {
      // Cut off at once: nothing near the server's limit went out, nothing
      // beyond the part's size reached the disk.
      EXPECT_LT(endlessSent, 64u << 20);
      const fs::path left = fs::path(ToWide(download_)) / ToWide(part_);
      if (fs::exists(left)) {
        EXPECT_LE(fs::file_size(left), fs::file_size(ServedParts().at(part_)));
      }
    } else if (name == "DropThenResume") {
      // The retry asked for the rest of what arrived.
      EXPECT_NE(requests.back().find(" range=bytes="), std::string::npos) << requests.back();
      EXPECT_EQ(requests.front().find(" range="), std::string::npos) << requests.front();
    } else if (name == "CorruptedThenNoCache") {
      // The copy after the bad one came past every cache; the first did not ask to.
      EXPECT_NE(requests.back().find(" no-cache"), std::string::npos) << requests.back();
      EXPECT_EQ(requests.front().find(" no-cache"), std::string::npos) << requests.front();
    }
  }

  void Cure() {
    EXPECT_EQ(Control("fault=none"), "ok");
    if (OnSmallDisk(GetParam().fault)) {
      EXPECT_EQ(Control("disk=rw"), "ok");
      EXPECT_EQ(Control("disk=free"), "ok");
    }
    held_.Drop();
  }

  // What may be on disk after the faulted run: image files are the game's
  // bytes or the bytes placed there before (never half a file under a final
  // name); download-folder files are verified parts, the hit part when the
  // row leaves it, and temporary files only after a kill. Returns the parts
  // the rerun must not fetch again (verified, or their file is installed).
  std::string part_;  // the served name of the row's part

  std::set<std::string> CheckDiskAfterFault(const Row& row, bool killed) {
    std::set<std::string> done;
    for (const auto& entry : fs::recursive_directory_iterator(ToWide(image_))) {
      if (!entry.is_regular_file()) continue;
      const fs::path relative = fs::relative(entry.path(), ToWide(image_));
      SCOPED_TRACE("image: " + ToUtf8(relative.wstring()));
      const std::string bytes = ReadFileBytes(entry.path());
      const bool installed = bytes == ReadFileBytes(Game() / relative);
      EXPECT_TRUE(installed || (placed_.count(relative) && placed_[relative] == bytes)) << "a half or foreign file";
      if (installed)
        for (const auto& [part, path] : ServedParts())
          if (TargetOf(part) == relative) done.insert(part);
    }
    const std::map<std::string, fs::path> served = ServedParts();
    for (const auto& entry : fs::directory_iterator(ToWide(download_))) {
      const std::string name = ToUtf8(entry.path().filename().wstring());
      SCOPED_TRACE("download folder: " + name);
      if (served.count(name) && ReadFileBytes(entry.path()) == ReadFileBytes(served.at(name))) {
        done.insert(name);
        continue;
      }
      if (name == part_) {
        EXPECT_TRUE(row.partLeft) << "the hit part was to be removed";
        continue;
      }
      const bool temporary = name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
      EXPECT_TRUE(killed && temporary) << "left behind";
    }
    if (!row.partLeft) {
      EXPECT_FALSE(fs::exists(fs::path(ToWide(download_)) / ToWide(part_)));
    }
    return done;
  }

  // The rerun without the fault: it completes the image, fetches none of
  // `done`, and leaves the download folder empty.
  void RerunCompletes(const std::set<std::string>& done, const std::string& listPort) {
    std::map<std::string, int> before;
    for (const std::string& part : done) before[part] = PartRequests("/" + part, "WREN_FAULT_LOG_WIN");
    ASSERT_TRUE(StartRun(listPort, false));
    ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
    ASSERT_TRUE(Click(app().Button(kFinish)));
    ASSERT_TRUE(app().WaitExit());
    ExpectImageMatchesGame();
    std::vector<std::string> extra;
    for (const auto& entry : fs::recursive_directory_iterator(ToWide(image_)))
      if (entry.is_regular_file() && !fs::exists(Game() / fs::relative(entry.path(), ToWide(image_))))
        extra.push_back(ToUtf8(entry.path().wstring()));
    EXPECT_TRUE(extra.empty()) << "not a file of the image: " << extra.front();
    // (When both folders are one, the image's own check covers the parts.)
    if (download_ != image_)
      for (const auto& entry : fs::directory_iterator(ToWide(download_)))
        ADD_FAILURE() << "left in the download folder: " << ToUtf8(entry.path().filename().wstring());
    for (const auto& [part, count] : before)
      EXPECT_EQ(PartRequests("/" + part, "WREN_FAULT_LOG_WIN"), count) << part << " was fetched again";
  }

  // Puts a file of the image in place before the run: the game's own (with
  // its file times), or other bytes.
  void Place(const fs::path& relative, bool wrong) {
    const fs::path path = fs::path(ToWide(image_)) / relative;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (wrong) {
      ASSERT_TRUE(WriteFileBytes(path, "an older copy of this file\r\n"));
    } else {
      ASSERT_TRUE(CopyFileW((Game() / relative).c_str(), path.c_str(), FALSE));
    }
    placed_[relative] = ReadFileBytes(path);
  }

  HeldFile held_;
  std::map<fs::path, std::string> placed_;
  std::string smallDir_;
};

TEST_P(FaultMatrix, EndsRightKeepsWhatWasVerifiedAndTheRerunCompletes) {
  const Row& row = GetParam();
  REQUIRE_SERVERS();
  part_ = ServedPartName(Served(), row.part);
  ASSERT_FALSE(part_.empty()) << "no served part " << row.part;
  if (OnSmallDisk(row.fault) && Env("WREN_SMALL_DISK_WIN").empty())
    GTEST_SKIP() << "no small disk for this fault: " << Env("WREN_SMALL_DISK_SKIP");
  if (row.fault == Fault::kProxyRefuses && Env("WREN_PROXY_PORT").empty()) GTEST_SKIP() << "tinyproxy is not installed";

  if (OnSmallDisk(row.fault)) {
    smallDir_ = Env("WREN_SMALL_DISK_WIN") + "\\" + row.name;
    std::string& moved = row.fault == Fault::kDiskFullDownload ? download_ : image_;
    moved = smallDir_ + (row.fault == Fault::kDiskFullDownload ? "\\download" : "\\image");
    std::error_code ec;
    ASSERT_TRUE(fs::create_directories(ToWide(moved), ec)) << moved;
  }
  const std::string listPort = Env(row.list ? row.list : "WREN_FI_FAULT");
  ASSERT_FALSE(listPort.empty()) << "no list server for " << row.list;
  if (row.fault == Fault::kOverlap) download_ = image_;
  const fs::path target = TargetOf(part_);
  const fs::path targetPath = fs::path(ToWide(image_)) / target;
  if (row.fault == Fault::kKillInCheck) {
    // Everything in place but the large file; the one held open cannot be checked.
    for (const auto& entry : fs::recursive_directory_iterator(Game())) {
      if (entry.is_regular_file() && entry.path().filename() != L"world.pak") {
        ASSERT_NO_FATAL_FAILURE(Place(fs::relative(entry.path(), Game()), false));
      }
    }
    ASSERT_TRUE(held_.Hold(targetPath));
  }
  if (row.fault == Fault::kLockedTarget || row.fault == Fault::kKillInInstall) {
    ASSERT_NO_FATAL_FAILURE(Place(target, true));
  }
  if (row.server) {
    ASSERT_EQ(Control(std::string("fault=") + row.server + "&part=" + part_), "ok");
  }
  if (row.fault == Fault::kDiskFullDownload || row.fault == Fault::kDiskFullInstall) {
    ASSERT_EQ(Control("disk=fill"), "ok");
  }
  if (row.fault == Fault::kReadOnlyImage) {
    ASSERT_EQ(Control("disk=ro"), "ok");
  }

  Presets proxy;
  if (row.fault == Fault::kProxyRefuses) {
    std::string stored;
    ASSERT_TRUE(EncodePassword("wrong", kPasswordKey, stored));
    proxy = {{"UseProxy", "1"},
             {"ProxyServer", "127.0.0.1:" + Env("WREN_PROXY_PORT")},
             {"ProxyUser", Env("WREN_PROXY_USER")},
             {"ProxyPasswd", stored}};
  }
  const int requestsBefore = PartRequests("/files/", "WREN_FAULT_LOG_WIN");
  ASSERT_TRUE(StartRun(listPort, false, proxy));

  // The installed file is taken only once the check has passed it.
  if (row.fault == Fault::kLockedTarget || row.fault == Fault::kKillInInstall) {
    ASSERT_TRUE(WaitUntil([&] { return TextOf(Item(InstallPage(), 1020)) == Str(kPhaseCheckDone); }, kRunWaitMs));
    ASSERT_TRUE(held_.Hold(targetPath));
  }

  bool killed = false;
  switch (row.fault) {
    case Fault::kStallCancel: {
      ASSERT_TRUE(WaitTransferOf(part_)) << "the stalled transfer never offered Cancel";
      // Escape asks like Cancel, and No lets the transfer go on.
      PressKey(InstallPage(), VK_ESCAPE);
      HWND box = nullptr;
      ASSERT_TRUE(ExpectMessage(Str(kAskCancelDownload), &box));
      ASSERT_TRUE(Answer(box, IDNO));
      EXPECT_EQ(app().Title(), Str(kTitleInstall));
      ASSERT_TRUE(Click(app().Button(kCancel)));
      ASSERT_TRUE(ExpectMessage(Str(row.question), &box));
      ASSERT_TRUE(Answer(box, IDYES));
      // The server holds the stall for 150 s: the run must not wait for it.
      ASSERT_TRUE(WaitUntil([&] { return IsMessageBox(app().ActivePopup()); }, 60000))
          << "the run did not stop within a minute of the confirmed Cancel";
      break;
    }
    case Fault::kStallEndSession: {
      ASSERT_TRUE(WaitTransferOf(part_));
      DWORD_PTR answer = 0xDEAD;
      SendMessageTimeoutW(app().Frame(), WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 3000, &answer);
      EXPECT_EQ(answer, 0u) << "a shut-down was allowed during the run";
      PostThreadMessageW(GetWindowThreadProcessId(app().Frame(), nullptr), WM_QUIT, 0, 0);
      ASSERT_TRUE(app().WaitExit(60000)) << "the program did not end within a minute of its WM_QUIT";
      break;
    }
    case Fault::kKillInDownload:
      ASSERT_TRUE(WaitTransferOf(part_));
      Sleep(500);
      app().Kill();
      killed = true;
      break;
    default: {
      if (!row.question) break;
      HWND popup = ExpectQuestion(row);
      ASSERT_TRUE(popup);
      Shot(popup, "question");
      if (row.reply == Reply::kKill) {
        app().Kill();
        killed = true;
      } else if (row.reply == Reply::kRetryOnceCured) {
        Cure();
        ASSERT_TRUE(Answer(popup, IDRETRY));
      } else {
        ASSERT_TRUE(Answer(popup, IDCANCEL));
      }
    }
  }

  if (row.message) {
    ASSERT_NO_FATAL_FAILURE(ExpectRunFailure(Format(Str(row.message), row.m1, row.m2)));
  } else if (row.page) {
    ASSERT_EQ(WaitForFinishPage(), row.page) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  }
  if (row.page) {
    ShotPage("finish");
    EXPECT_EQ(app().Title(), Str(row.page));
    ASSERT_TRUE(Click(app().Button(kFinish)));
    ASSERT_TRUE(app().WaitExit());
  }
  ASSERT_FALSE(app().Running());

  if (row.fault == Fault::kBadList) {
    // Refused before any byte was fetched or written.
    EXPECT_EQ(PartRequests("/files/", "WREN_FAULT_LOG_WIN"), requestsBefore);
    EXPECT_TRUE(fs::is_empty(ToWide(image_)));
    EXPECT_TRUE(fs::is_empty(ToWide(download_)));
    RerunCompletes({}, Env("WREN_FI_FAULT"));
    return;
  }
  if (row.fault == Fault::kOverlap) {
    // The image holds exactly the list's files (checked by the rerun, which
    // must find everything in place and fetch nothing).
    std::set<std::string> all;
    for (const auto& [part, path] : ServedParts()) all.insert(part);
    RerunCompletes(all, listPort);
    return;
  }
  held_.Drop();  // the program is gone; this test reads the file now
  ExpectOnTheWire(row);
  const std::set<std::string> done = CheckDiskAfterFault(row, killed);
  Cure();
  RerunCompletes(done, listPort);
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
