// Wizard navigation as a user meets it: the buttons offered on each page, the
// Next caption, the keyboard inside a page, Cancel, and a second start.
#include "scenario.h"

#include <filesystem>
#include <system_error>

namespace e2e {
namespace {

constexpr char kNormalButtons[] = "back:on next:on finish:hidden cancel:on";

class Wizard : public WizardScenario {
 protected:
  // An existing image folder, so Next on the folder page asks nothing.
  Presets ExistingFolder() const { return {{"InstallPath", WorkDir()}}; }
  std::string NextCaption() const { return TextOf(app_->Button(kNext)); }
};

TEST_F(Wizard, ButtonsAndNextCaptionFollowThePages) {
  // The texts the program shows must be its own, byte for byte.
  EXPECT_EQ(Str(kNextCaption), "次へ(&>)");
  EXPECT_EQ(Str(kStartCaption), "開始(&>)");
  EXPECT_EQ(Str(kTitleWelcome), "『マーロウ』スターターへようこそ");

  ASSERT_TRUE(Start(ExistingFolder()));
  EXPECT_EQ(TextOf(app().Frame()), Str(57344));
  EXPECT_EQ(Str(57344), "『マーロウ』 スターター Ver.1.0");
  EXPECT_EQ(app().Subtitle(), " ");
  EXPECT_EQ(ButtonStates(), "back:off next:on finish:hidden cancel:on");
  EXPECT_EQ(NextCaption(), "次へ(&>)");
  EXPECT_EQ(TextOf(app().Button(kBack)), "戻る(&<)");
  EXPECT_EQ(TextOf(app().Button(kFinish)), "完了(&F)");
  EXPECT_EQ(TextOf(app().Button(kCancel)), "キャンセル");
  ShotPage("welcome");

  ASSERT_TRUE(Go(kNext, kTitleFolder));
  EXPECT_EQ(app().Subtitle(), Str(5011));
  EXPECT_EQ(ButtonStates(), kNormalButtons);
  EXPECT_EQ(NextCaption(), "次へ(&>)");
  EXPECT_EQ(TextOf(Item(app().CurrentPage(), 1000)), WorkDir());
  ShotPage("folder");

  ASSERT_TRUE(Go(kNext, kTitleOption));
  EXPECT_EQ(app().Subtitle(), Str(5012));
  EXPECT_EQ(ButtonStates(), kNormalButtons);
  EXPECT_EQ(NextCaption(), "開始(&>)");
  ShotPage("option");

  ASSERT_TRUE(Go(kBack, kTitleFolder));
  EXPECT_EQ(ButtonStates(), kNormalButtons);
  EXPECT_EQ(NextCaption(), "次へ(&>)");

  ASSERT_TRUE(Go(kBack, kTitleWelcome));
  EXPECT_EQ(ButtonStates(), "back:off next:on finish:hidden cancel:on");
  EXPECT_EQ(NextCaption(), "次へ(&>)");
  ShotPage("welcome-again");

  // Back is disabled on the first page; the wizard stays there.
  EXPECT_FALSE(Click(app().Button(kBack)));
  EXPECT_TRUE(CancelAndExit());
}

TEST_F(Wizard, EnterDoesNothingAndEscapeCancelsInsideEveryPage) {
  ASSERT_TRUE(Start(ExistingFolder()));
  // Each page, and a control in it that can hold the keyboard focus. The
  // welcome page has none (the focus sits on the wizard's own buttons), so
  // only Escape is tried there, sent to the page itself.
  const struct {
    unsigned title;
    int focusId;  // 0: none
  } pages[] = {{kTitleWelcome, 0}, {kTitleFolder, 1000}, {kTitleOption, 1017}};

  for (const auto& page : pages) {
    SCOPED_TRACE(Str(page.title));
    if (page.title != kTitleWelcome) {
      ASSERT_TRUE(Go(kNext, page.title));
    }
    HWND target = page.focusId ? Item(app().CurrentPage(), page.focusId) : app().CurrentPage();
    ASSERT_TRUE(target);

    if (page.focusId) {
      PressKey(target, VK_RETURN);
      EXPECT_EQ(app().WaitPopup(1500), nullptr) << "Enter opened something";
      EXPECT_EQ(app().Title(), Str(page.title)) << "Enter changed the page";
    }

    PressKey(target, VK_ESCAPE);
    HWND box = nullptr;
    ASSERT_TRUE(ExpectMessage(Str(kAskCancel), &box));
    Shot(box, "escape-asks");
    ASSERT_TRUE(Answer(box, IDNO));
    EXPECT_TRUE(app().Running());
    EXPECT_EQ(app().Title(), Str(page.title));
    EXPECT_EQ(ButtonStates(), page.title == kTitleWelcome ? "back:off next:on finish:hidden cancel:on"
                                                          : kNormalButtons);
  }
  PressKey(Item(app().CurrentPage(), 1017), VK_ESCAPE);
  HWND box = nullptr;
  ASSERT_TRUE(ExpectMessage(Str(kAskCancel), &box));
  ASSERT_TRUE(Answer(box, IDYES));
  EXPECT_TRUE(app().WaitExit());
}

TEST_F(Wizard, CancelAsksAndEndsOnlyOnYesWithoutWritingSettings) {
  EXPECT_EQ(Str(kAskCancel), "インストールをキャンセルしますか？");
  ASSERT_TRUE(Start(ExistingFolder()));
  ASSERT_TRUE(Go(kNext, kTitleFolder));

  ASSERT_TRUE(Click(app().Button(kCancel)));
  HWND box = nullptr;
  ASSERT_TRUE(ExpectMessage(Str(kAskCancel), &box));
  Shot(box, "cancel-asks");
  ASSERT_TRUE(Answer(box, IDNO));
  EXPECT_TRUE(app().Running());
  EXPECT_EQ(app().Title(), Str(kTitleFolder));

  ASSERT_TRUE(Go(kNext, kTitleOption));
  EXPECT_TRUE(CancelAndExit());
  // Only the folder page's Next wrote anything; the option page's keys were
  // never saved because its Next was never pressed.
  EXPECT_EQ(IniGet("InstallPath"), WorkDir());
  for (const char* key : {"UseProxy", "ProxyServer", "ProxyUser", "ProxyPasswd", "DownloadPath", "BootInstaller"})
    EXPECT_FALSE(IniHas(key)) << key;
}

TEST_F(Wizard, SettingsAreWrittenOnlyOnNext) {
  // No settings file: the folder box shows the default, a missing folder
  // beside the program. Declining to create it still saves it and moves on.
  // The program runs from a folder of this test's own, so nothing that the
  // demo or an earlier run built beside the build's program can be in the way.
  const std::string program = WorkDir() + "\\program";
  std::error_code ec;
  ASSERT_TRUE(std::filesystem::create_directory(ToWide(program), ec)) << program;
  ASSERT_TRUE(std::filesystem::copy_file(ToWide(ToWinPath(exePath_)), ToWide(program + "\\WrenStarter.exe"), ec))
      << ec.message();
  exePath_ = program + "\\WrenStarter.exe";
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Go(kNext, kTitleFolder));
  const std::string folder = TextOf(Item(app().CurrentPage(), 1000));
  EXPECT_EQ(folder, program + "\\MarloInstaller");
  EXPECT_FALSE(IniHas("InstallPath"));

  ASSERT_TRUE(Click(app().Button(kNext)));
  HWND box = nullptr;
  ASSERT_TRUE(ExpectMessage(Format(Str(kAskCreateFolder), folder.c_str()), &box));
  ASSERT_TRUE(Answer(box, IDNO));
  ASSERT_TRUE(WaitUntil([&] { return app().Title() == Str(kTitleOption); }));
  EXPECT_EQ(GetFileAttributesW(ToWide(folder).c_str()), INVALID_FILE_ATTRIBUTES) << "created after No";
  EXPECT_EQ(IniGet("InstallPath"), folder);
  EXPECT_FALSE(IniHas("BootInstaller"));

  // Back from the options saves nothing.
  ASSERT_TRUE(Go(kBack, kTitleFolder));
  EXPECT_FALSE(IniHas("UseProxy"));
  EXPECT_FALSE(IniHas("BootInstaller"));
}

// A second start brings the first copy (or its open dialog) to the front and
// ends by itself; only one main window ever exists.
TEST_F(Wizard, SecondCopyBringsTheFirstForwardAndEnds) {
  ASSERT_TRUE(Start(ExistingFolder()));
  ASSERT_TRUE(Go(kNext, kTitleFolder));
  ASSERT_TRUE(Go(kNext, kTitleOption));

  auto countFrames = [] {
    int n = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, App::kFrameClass, nullptr); w;
         w = FindWindowExA(nullptr, w, App::kFrameClass, nullptr))
      ++n;
    return n;
  };
  // A window of our own takes the foreground first, so the move is visible.
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(other);
  auto steal = [&] {
    SetForegroundWindow(other);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return GetForegroundWindow() == other;
  };

  const struct {
    const char* name;
    bool withDialog;
  } cases[] = {{"frame", false}, {"dialog", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HWND expected = app().Frame();
    if (c.withDialog) {
      ASSERT_TRUE(Click(Item(app().CurrentPage(), 1007)));
      expected = app().WaitPopup();
      ASSERT_TRUE(expected);
    }
    EXPECT_TRUE(WaitUntil(steal, 3000)) << "could not take the foreground";

    App second(exePath_);
    ASSERT_TRUE(second.Started());
    DWORD code = 0;
    EXPECT_TRUE(second.WaitExit(kStartWaitMs, &code)) << "the second copy kept running";
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == expected; }))
        << "foreground is \"" << TextOf(GetForegroundWindow()) << "\"";
    EXPECT_EQ(countFrames(), 1);
    EXPECT_TRUE(app().Running());
    Shot(expected, std::string("in-front-") + c.name);
    if (c.withDialog) {
      ASSERT_TRUE(Answer(expected, IDCANCEL));
    }
  }
  DestroyWindow(other);
}

}  // namespace
}  // namespace e2e
