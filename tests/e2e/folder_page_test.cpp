// The image-folder page: which folders Next accepts, what it asks, what it
// creates. Drive letters are real Wine drives of the test prefix: R: CD-ROM,
// S: removable, T: network, W: not mapped, C: fixed.
#include <filesystem>
#include <fstream>

#include "scenario.h"

#include <commctrl.h>  // after <windows.h>, which scenario.h brings

namespace e2e {
namespace {

namespace fs = std::filesystem;

bool IsFolder(const std::string& path) {
  const DWORD a = GetFileAttributesW(ToWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

class FolderPage : public WizardScenario {
 protected:
  // Starts with `folder` as the stored image folder and opens the page.
  ::testing::AssertionResult OpenWith(const std::string& folder) {
    if (auto r = Start({{"InstallPath", folder}}); !r) return r;
    if (auto r = Go(kNext, kTitleFolder); !r) return r;
    const std::string shown = TextOf(Item(app().CurrentPage(), 1000));
    if (shown != folder) return ::testing::AssertionFailure() << "folder box reads \"" << shown << "\"";
    return ::testing::AssertionSuccess();
  }
};

TEST_F(FolderPage, MissingFolderIsCreatedLevelByLevelAfterOneQuestion) {
  const std::string folder = WorkDir() + "\\a\\b\\c";
  ASSERT_TRUE(OpenWith(folder));
  ShotPage("folder-page");

  ASSERT_TRUE(Click(app().Button(kNext)));
  HWND box = nullptr;
  ASSERT_TRUE(ExpectMessage(Format(Str(kAskCreateFolder), folder.c_str()), &box));
  EXPECT_EQ(Str(kAskCreateFolder), "指定のフォルダは存在しません。\n作成しますか？\n%s");
  Shot(box, "asks-10100");
  ASSERT_TRUE(Answer(box, IDYES));

  // No second question for the deeper levels: straight on to the options.
  ASSERT_TRUE(WaitUntil([&] { return app().Title() == Str(kTitleOption) || app().ActivePopup(); }));
  EXPECT_EQ(app().ActivePopup(), nullptr) << MessageBoxText(app().ActivePopup());
  EXPECT_EQ(app().Title(), Str(kTitleOption));
  for (const char* level : {"\\a", "\\a\\b", "\\a\\b\\c"}) EXPECT_TRUE(IsFolder(WorkDir() + level)) << level;
  EXPECT_EQ(IniGet("InstallPath"), folder);
}

TEST_F(FolderPage, EmptyFolderBoxLeavesOnlyBack) {
  ASSERT_TRUE(OpenWith(""));
  EXPECT_EQ(ButtonStates(), "back:on next:off finish:hidden cancel:on");
  ShotPage("empty-folder");
}

// The shell's folder browser opens at the current folder; what it returns
// goes into the box and decides whether Next is offered.
TEST_F(FolderPage, BrowserFillsTheBoxAndEnablesNext) {
  // Wine's browser did not select the freshly made work folder (OK gave the
  // desktop), so the folder it must open at is one that comes with the prefix.
  const struct {
    const char* name;
    std::string start;
    int button;  // in the browser
  } cases[] = {
      {"empty-ok", "", IDOK},
      {"folder-ok", "C:\\windows", IDOK},
      {"folder-cancel", WorkDir(), IDCANCEL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(OpenWith(c.start));
    ASSERT_TRUE(Click(Item(app().CurrentPage(), 1001)));
    HWND browser = app().WaitPopup();
    ASSERT_TRUE(browser) << "no folder browser";
    if (c.start.empty()) {
      // Nothing is selected yet: click the rows of the tree from the top
      // until the browser accepts one as a folder.
      HWND tree = FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr);
      ASSERT_TRUE(tree) << "no folder tree";
      const int row = static_cast<int>(SendMessageW(tree, TVM_GETITEMHEIGHT, 0, 0));
      const int indent = static_cast<int>(SendMessageW(tree, TVM_GETINDENT, 0, 0));
      ASSERT_GT(row, 0);
      for (int i = 1; i < 4 && !IsOn(Item(browser, IDOK)); ++i) {
        const LPARAM at = MAKELPARAM(indent + 24, row * i + row / 2);
        PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(tree, WM_LBUTTONUP, 0, at);
        WaitUntil([&] { return IsOn(Item(browser, IDOK)); }, 1000);
      }
    }
    Shot(browser, std::string("browser-") + c.name);
    ASSERT_TRUE(WaitUntil([&] { return IsOn(Item(browser, c.button)); })) << "button " << c.button << " is off";
    ASSERT_TRUE(Answer(browser, c.button));
    const std::string chosen = TextOf(Item(app().CurrentPage(), 1000));
    if (c.start.empty()) {
      EXPECT_FALSE(chosen.empty());
      EXPECT_TRUE(WaitUntil([&] { return ButtonStates() == "back:on next:on finish:hidden cancel:on"; }))
          << ButtonStates();
    } else {
      EXPECT_EQ(chosen, c.start);
    }
  }
}

TEST_F(FolderPage, DriveRootIsAcceptedAsChosen) {
  ASSERT_TRUE(OpenWith("C:\\"));
  ASSERT_TRUE(Go(kNext, kTitleOption));
  EXPECT_EQ(IniGet("InstallPath"), "C:\\");
}

// Folders Next refuses: the page stays, nothing is created or saved.
struct Refusal {
  const char* name;
  std::string folder;      // relative names are made inside the test's work folder
  unsigned messageId;
  std::string named;       // the path the message names, if it takes one
  const char* fileInTheWay;  // a file to create first, if any
};

class FolderRefusal : public FolderPage, public ::testing::WithParamInterface<Refusal> {};

TEST_P(FolderRefusal, StaysOnThePageWithTheMessage) {
  Refusal c = GetParam();
  auto inWork = [&](std::string& path) {
    if (!path.empty() && path.find(':') == std::string::npos) path = WorkDir() + "\\" + path;
  };
  inWork(c.folder);
  inWork(c.named);
  if (c.fileInTheWay) std::ofstream(fs::path(ToWide(WorkDir() + "\\" + c.fileInTheWay))) << "not a folder";

  ASSERT_TRUE(OpenWith(c.folder));
  ASSERT_TRUE(Click(app().Button(kNext)));
  const std::string text = Str(c.messageId);
  ASSERT_FALSE(text.empty()) << "no string " << c.messageId;
  HWND box = nullptr;
  ASSERT_TRUE(ExpectMessage(c.named.empty() ? text : Format(text, c.named.c_str()), &box));
  Shot(box, "message");
  ASSERT_TRUE(Answer(box, IDOK));

  EXPECT_EQ(app().Title(), Str(kTitleFolder));
  EXPECT_EQ(app().WaitPopup(500), nullptr) << "a second message: " << MessageBoxText(app().ActivePopup());
  EXPECT_EQ(ButtonStates(), "back:on next:on finish:hidden cancel:on");
  EXPECT_FALSE(IsFolder(c.folder));
  EXPECT_EQ(IniGet("InstallPath"), c.folder) << "the stored folder must stay as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Drives, FolderRefusal,
    ::testing::Values(Refusal{"FileInTheWay", "file\\sub\\dir", kFileInTheWay, "file", "file"},
                      Refusal{"CdRom", "R:\\Marlo", kRemovableDrive, "", nullptr},
                      Refusal{"Removable", "S:\\Marlo", kRemovableDrive, "", nullptr},
                      Refusal{"Network", "T:\\Marlo", kNetworkDrive, "", nullptr},
                      Refusal{"NoSuchDrive", "W:\\Marlo", kInvalidDrive, "", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
