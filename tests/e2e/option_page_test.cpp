// The option page and its download-settings dialog: the summary before and
// after the dialog, the dialog's controls, port validation, and what Next
// writes. Proxy addresses here are only ever shown and stored: no run in
// these scenarios gets as far as a download.
#include <filesystem>
#include <fstream>

#include "scenario.h"

namespace e2e {
namespace {

// Controls of the option page and of the download-settings dialog.
enum : int {
  kFolderSummary = 1000,
  kSettingsButton = 1007,
  kProxySummary = 1016,
  kBootInstaller = 1017,
  kCustomFolder = 1008,
  kFolderBox = 1000,
  kBrowse = 1001,
  kUseProxy = 1009,
  kSystemProxy = 1010,
  kNamedProxy = 1011,
  kHost = 1012,
  kPort = 1013,
  kUser = 1014,
  kPassword = 1015,
  kConnections = 1037,
  kConnectionsLabel = 1038,
  kSpeedLimit = 1039,
  kSpeedLimitLabel = 1040,
};
constexpr unsigned kEnterRange = 10112;

class OptionPage : public WizardScenario {
 protected:
  ::testing::AssertionResult Open(Presets presets = {}) {
    presets.emplace_back("InstallPath", WorkDir());
    if (auto r = Start(presets); !r) return r;
    if (auto r = Go(kNext, kTitleFolder); !r) return r;
    return Go(kNext, kTitleOption);
  }
  HWND Page() const { return app_->CurrentPage(); }
  std::string ProxySummary() const { return TextOf(Item(Page(), kProxySummary)); }
  std::string FolderSummary() const { return TextOf(Item(Page(), kFolderSummary)); }

  // Opens the download-settings dialog and returns it (null on failure).
  HWND OpenDialog() {
    if (!Click(Item(Page(), kSettingsButton))) return nullptr;
    HWND dialog = app_->WaitPopup();
    return dialog && Item(dialog, kUseProxy) ? dialog : nullptr;
  }

  // "+" enabled, "-" disabled, for the listed controls of a dialog.
  static std::string Enabled(HWND dialog, std::initializer_list<int> ids) {
    std::string out;
    for (int id : ids) out += IsWindowEnabled(Item(dialog, id)) ? '+' : '-';
    return out;
  }

  // Picks a named proxy in the open dialog and fills its boxes.
  static ::testing::AssertionResult NamedProxy(HWND dialog, const char* host, const char* port,
                                               const char* user, const char* password) {
    // The radio buttons follow 1009, which may have been clicked just now.
    if (!WaitUntil([&] { return IsOn(Item(dialog, kNamedProxy)); }) || !Click(Item(dialog, kNamedProxy)))
      return ::testing::AssertionFailure() << "cannot pick 1011";
    if (!WaitUntil([&] { return IsWindowEnabled(Item(dialog, kHost)); }))
      return ::testing::AssertionFailure() << "the address box stayed disabled";
    const std::pair<int, const char*> boxes[] = {{kHost, host}, {kPort, port}, {kUser, user}, {kPassword, password}};
    for (const auto& [id, text] : boxes)
      if (!SetText(Item(dialog, id), text)) return ::testing::AssertionFailure() << "cannot fill " << id;
    return ::testing::AssertionSuccess();
  }
};

TEST_F(OptionPage, DefaultsShowSystemProxyAndTemporaryFolder) {
  EXPECT_EQ(Str(kSummarySystemProxy), "InternetExplorerの設定を使用");
  ASSERT_TRUE(Open());
  EXPECT_EQ(FolderSummary(), Str(kSummaryTempFolder));
  EXPECT_EQ(ProxySummary(), Str(kSummarySystemProxy));
  EXPECT_TRUE(IsChecked(Item(Page(), kBootInstaller)));
  ShotPage("option-defaults");

  HWND dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(TextOf(dialog), "ダウンロード設定");
  EXPECT_FALSE(IsChecked(Item(dialog, kCustomFolder)));
  EXPECT_TRUE(IsChecked(Item(dialog, kUseProxy)));
  EXPECT_TRUE(IsChecked(Item(dialog, kSystemProxy)));
  EXPECT_FALSE(IsChecked(Item(dialog, kNamedProxy)));
  EXPECT_EQ(TextOf(Item(dialog, kHost)), "");
  EXPECT_EQ(TextOf(Item(dialog, kPort)), "80");
  // folder box, browse | both radios | address, port, user, password
  EXPECT_EQ(Enabled(dialog, {kFolderBox, kBrowse, kSystemProxy, kNamedProxy, kHost, kPort, kUser, kPassword}),
            "--++----");
  Shot(dialog, "dialog-defaults");

  // The controls follow the check boxes and radio buttons.
  ASSERT_TRUE(Click(Item(dialog, kCustomFolder)));
  ASSERT_TRUE(Click(Item(dialog, kNamedProxy)));
  EXPECT_TRUE(WaitUntil([&] {
    return Enabled(dialog, {kFolderBox, kBrowse, kSystemProxy, kNamedProxy, kHost, kPort, kUser, kPassword}) ==
           "++++++++";
  }));
  ASSERT_TRUE(Click(Item(dialog, kUseProxy)));
  EXPECT_TRUE(WaitUntil([&] {
    return Enabled(dialog, {kFolderBox, kBrowse, kSystemProxy, kNamedProxy, kHost, kPort, kUser, kPassword}) ==
           "++------";
  }));
  Shot(dialog, "dialog-edited");

  // Cancel after edits changes nothing.
  ASSERT_TRUE(Answer(dialog, IDCANCEL));
  EXPECT_EQ(ProxySummary(), Str(kSummarySystemProxy));
  EXPECT_EQ(FolderSummary(), Str(kSummaryTempFolder));
}

TEST_F(OptionPage, DialogChoicesShowInTheSummary) {
  ASSERT_TRUE(Open());

  // Mode 1: no proxy.
  HWND dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(Click(Item(dialog, kUseProxy)));
  ASSERT_TRUE(Answer(dialog, IDOK));
  EXPECT_EQ(ProxySummary(), Str(kSummaryNoProxy));
  EXPECT_EQ(Str(kSummaryNoProxy), "プロキシを使用しない");
  ShotPage("summary-no-proxy");

  // Mode 2: a named proxy with a user name.
  dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(IsChecked(Item(dialog, kUseProxy)));
  ASSERT_TRUE(Click(Item(dialog, kUseProxy)));
  ASSERT_TRUE(NamedProxy(dialog, "192.168.0.1", "8080", "u", ""));
  Shot(dialog, "dialog-named-proxy");
  ASSERT_TRUE(Answer(dialog, IDOK));
  EXPECT_EQ(Str(kSummaryNamedProxy), "プロキシ情報を設定 : %s:%u （ユーザー名 : %s）");
  EXPECT_EQ(ProxySummary(), Format(Str(kSummaryNamedProxy), "192.168.0.1", 8080u, "u"));
  ShotPage("summary-named-proxy");

  // Opening the dialog again shows the record as it now is.
  dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(IsChecked(Item(dialog, kUseProxy)));
  EXPECT_TRUE(IsChecked(Item(dialog, kNamedProxy)));
  EXPECT_EQ(TextOf(Item(dialog, kHost)), "192.168.0.1");
  EXPECT_EQ(TextOf(Item(dialog, kPort)), "8080");
  EXPECT_EQ(TextOf(Item(dialog, kUser)), "u");
  ASSERT_TRUE(Answer(dialog, IDCANCEL));

  // None of it reached the settings file: only Next writes.
  for (const char* key : {"UseProxy", "ProxyServer", "ProxyUser", "BootInstaller"}) EXPECT_FALSE(IniHas(key)) << key;
}

TEST_F(OptionPage, EmptyPortIsRefusedAndTheDialogStaysOpen) {
  ASSERT_TRUE(Open());
  HWND dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(NamedProxy(dialog, "127.0.0.1", "", "", ""));
  ASSERT_TRUE(Click(Item(dialog, IDOK)));

  HWND box = app().WaitPopup(kWaitMs, dialog);
  ASSERT_TRUE(box);
  ASSERT_TRUE(IsMessageBox(box)) << "expected a message about the port";
  EXPECT_FALSE(MessageBoxText(box).empty());
  Shot(box, "port-refused");
  ASSERT_TRUE(Answer(box, IDOK));

  EXPECT_TRUE(WaitUntil([&] { return app().ActivePopup() == dialog; })) << "the dialog closed";
  ASSERT_TRUE(Answer(dialog, IDCANCEL));
  EXPECT_EQ(ProxySummary(), Str(kSummarySystemProxy));
}

TEST_F(OptionPage, NextSavesNamedProxyAndTheCheckBox) {
  ASSERT_TRUE(Open());
  HWND dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(NamedProxy(dialog, "127.0.0.1", "3128", "u", "secret"));
  ASSERT_TRUE(Answer(dialog, IDOK));
  ASSERT_TRUE(Click(Item(Page(), kBootInstaller)));
  ASSERT_TRUE(WaitUntil([&] { return !IsChecked(Item(Page(), kBootInstaller)); }));
  EXPECT_FALSE(IniHas("BootInstaller"));

  ASSERT_TRUE(Click(app().Button(kNext)));
  ASSERT_TRUE(WaitUntil([&] { return IniHas("BootInstaller"); })) << "Next wrote nothing";
  EXPECT_EQ(IniGet("BootInstaller"), "0");
  EXPECT_EQ(IniGet("UseProxy"), "1");
  EXPECT_EQ(IniGet("ProxyServer"), "127.0.0.1:3128");
  EXPECT_EQ(IniGet("ProxyUser"), "u");
  const std::string stored = IniGet("ProxyPasswd");
  EXPECT_FALSE(stored.empty());
  EXPECT_EQ(stored.find("secret"), std::string::npos) << "the password is stored readable";
  EXPECT_FALSE(IniHas("DownloadPath"));
}

// The downloads at once and the speed cap: shown from the settings file,
// checked against their range on Next, and stored by it.
TEST_F(OptionPage, DownloadsAtOnceAndSpeedCapAreCheckedAndStored) {
  ASSERT_TRUE(Open({{"Connections", "6"}, {"SpeedLimit", "250"}}));
  EXPECT_EQ(TextOf(Item(Page(), kConnectionsLabel)), Str(6030));
  EXPECT_EQ(TextOf(Item(Page(), kSpeedLimitLabel)), Str(6031));
  EXPECT_EQ(TextOf(Item(Page(), kConnections)), "6");
  EXPECT_EQ(TextOf(Item(Page(), kSpeedLimit)), "250");
  Shot(Page(), "downloads-at-once");

  ASSERT_TRUE(SetText(Item(Page(), kConnections), "9"));
  ASSERT_TRUE(Click(app().Button(kNext)));
  HWND box = app().WaitPopup();
  ASSERT_TRUE(box && IsMessageBox(box)) << "9 downloads at once were taken";
  EXPECT_EQ(MessageBoxText(box), Format(Str(kEnterRange), 1u, 8u));
  ASSERT_TRUE(Answer(box, IDOK));
  EXPECT_EQ(app().Title(), Str(kTitleOption)) << "Next left the page";

  ASSERT_TRUE(SetText(Item(Page(), kConnections), "2"));
  ASSERT_TRUE(SetText(Item(Page(), kSpeedLimit), "0"));
  ASSERT_TRUE(Click(app().Button(kNext)));
  ASSERT_TRUE(WaitUntil([&] { return IniGet("Connections") == "2"; })) << "Next stored no number";
  EXPECT_EQ(IniGet("SpeedLimit"), "0");
}

TEST_F(OptionPage, NextWithoutProxyDeletesTheProxyAccount) {
  ASSERT_TRUE(Open({{"UseProxy", "1"}, {"ProxyServer", "127.0.0.1:3128"}, {"ProxyUser", "old"}}));
  EXPECT_EQ(ProxySummary(), Format(Str(kSummaryNamedProxy), "127.0.0.1", 3128u, "old"));

  HWND dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(Click(Item(dialog, kUseProxy)));
  ASSERT_TRUE(Answer(dialog, IDOK));
  EXPECT_EQ(ProxySummary(), Str(kSummaryNoProxy));
  EXPECT_EQ(IniGet("ProxyUser"), "old") << "changed before Next";

  ASSERT_TRUE(Click(app().Button(kNext)));
  ASSERT_TRUE(WaitUntil([&] { return IniHas("BootInstaller"); })) << "Next wrote nothing";
  EXPECT_EQ(IniGet("UseProxy"), "0");
  EXPECT_EQ(IniGet("BootInstaller"), "1");
  EXPECT_FALSE(IniHas("ProxyUser"));
  EXPECT_FALSE(IniHas("ProxyPasswd"));
}

// A download folder of the user's choice, typed into the dialog.
struct FolderCase {
  const char* name;
  std::string folder;        // relative names are made inside the test's work folder
  const char* fileInTheWay;  // a file to create first, if any
  unsigned messageId;
  std::string named;         // the path the message names, if it takes one
  int answer;                // the button pressed in the message box
  bool dialogStays;          // the dialog is still open afterwards
  std::string summary;       // the folder summary afterwards; empty: 6010
};

class DownloadFolder : public OptionPage, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(DownloadFolder, IsCheckedWhenTheDialogCloses) {
  FolderCase c = GetParam();
  for (std::string* path : {&c.folder, &c.named, &c.summary})
    if (!path->empty() && path->find(':') == std::string::npos) *path = WorkDir() + "\\" + *path;
  if (c.fileInTheWay)
    std::ofstream(std::filesystem::path(ToWide(WorkDir() + "\\" + c.fileInTheWay))) << "not a folder";

  ASSERT_TRUE(Open());
  HWND dialog = OpenDialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(Click(Item(dialog, kCustomFolder)));
  ASSERT_TRUE(WaitUntil([&] { return IsOn(Item(dialog, kFolderBox)); }));
  ASSERT_TRUE(SetText(Item(dialog, kFolderBox), c.folder));
  ASSERT_TRUE(Click(Item(dialog, IDOK)));

  const std::string text = Str(c.messageId);
  ASSERT_FALSE(text.empty()) << "no string " << c.messageId;
  HWND box = nullptr;
  ASSERT_TRUE(ExpectMessage(c.named.empty() ? text : Format(text, c.named.c_str()), &box));
  Shot(box, "message");
  ASSERT_TRUE(Answer(box, c.answer));

  if (c.dialogStays) {
    EXPECT_TRUE(WaitUntil([&] { return app().ActivePopup() == dialog; })) << "the dialog closed";
    EXPECT_EQ(TextOf(Item(dialog, kFolderBox)), c.folder) << "the user's input was lost";
    ASSERT_TRUE(Answer(dialog, IDCANCEL));
  } else {
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "the dialog stayed open";
  }
  EXPECT_TRUE(app().WaitNoPopup());
  EXPECT_EQ(FolderSummary(), c.summary.empty() ? Str(kSummaryTempFolder) : c.summary);
  ShotPage("summary");
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, DownloadFolder,
    ::testing::Values(
        FolderCase{"CdRom", "R:\\dl", nullptr, 10108, "", IDOK, false, ""},
        FolderCase{"MissingCreated", "dl\\x", nullptr, kAskCreateFolder, "dl\\x", IDYES, false, "dl\\x\\"},
        FolderCase{"MissingDeclined", "dl\\x", nullptr, kAskCreateFolder, "dl\\x", IDNO, false, ""},
        FolderCase{"FileInTheWay", "file\\dl", "file", kFileInTheWay, "file", IDOK, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
