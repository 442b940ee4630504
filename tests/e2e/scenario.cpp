#include "scenario.h"

#include "image_files.h"

#include <shlobj.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace e2e {
namespace {

namespace fs = std::filesystem;

// An address on this machine where nothing listens: a run that gets as far
// as asking the file-information server fails at once and goes nowhere else.
constexpr wchar_t kServerKey[] = L"Software\\Quillmere\\Marlo\\Login";
constexpr wchar_t kDeadServer[] = L"127.0.0.1:1";
constexpr wchar_t kAbsent[] = L"\x01(absent)";

std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name)
    if (c == '/' || c == '\\' || c == ':') c = '_';
  return name;
}

void RemoveSettingsFiles(const std::string& iniPath) {
  std::error_code ec;
  fs::remove(ToWide(iniPath), ec);
  wchar_t temp[MAX_PATH + 1] = {};
  if (GetTempPathW(MAX_PATH + 1, temp)) fs::remove(fs::path(temp) / L"MarloStarter.ini", ec);
}

void SetServer(const wchar_t* value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kServerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  if (value)
    RegSetValueExW(key, L"Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  else
    RegDeleteValueW(key, L"Server");
  RegCloseKey(key);
}

}  // namespace

void WizardScenario::SetUp() {
  exePath_ = Env("WREN_E2E_EXE");
  ASSERT_FALSE(exePath_.empty()) << "WREN_E2E_EXE names the program under test";
  strings_ = std::make_unique<StringTable>(exePath_);
  ASSERT_TRUE(strings_->Loaded()) << "cannot read the string table of " << exePath_;

  EndStrayCopies(exePath_);
  RemoveSettingsFiles(IniPath());
  SetServer(kDeadServer);

  const std::string artifacts = Env("WREN_E2E_ARTIFACTS");
  artifactDir_ = ToWinPath((artifacts.empty() ? std::string("artifacts/e2e") : artifacts) + "/" + CurrentTestName());
  std::error_code ec;
  fs::remove_all(ToWide(artifactDir_), ec);
  fs::create_directories(ToWide(artifactDir_), ec);

  workDir_ = "C:\\e2e-work\\" + CurrentTestName();
  fs::remove_all(ToWide(workDir_), ec);
  ASSERT_TRUE(fs::create_directories(ToWide(workDir_), ec)) << "cannot make " << workDir_;
}

void WizardScenario::TearDown() {
  if (app_ && app_->Running() && HasFailure()) {
    if (HWND popup = app_->ActivePopup()) Shot(popup, "failure-popup");
    if (app_->Frame()) Shot(app_->Frame(), "failure");
  }
  app_.reset();  // ends the program
  EndStrayCopies(exePath_);
  SetServer(nullptr);
  RemoveSettingsFiles(IniPath());
  std::error_code ec;
  fs::remove_all(ToWide(workDir_), ec);
}

::testing::AssertionResult WizardScenario::Start(const Presets& presets, const std::string& exe) {
  app_.reset();
  if (!presets.empty()) {
    const std::wstring ini = ToWide(IniPath());
    std::error_code ec;
    fs::create_directories(fs::path(ini).parent_path(), ec);
    for (const auto& [key, value] : presets)
      WritePrivateProfileStringW(L"Main", ToWide(key).c_str(), ToWide(value).c_str(), ini.c_str());
  }
  const std::string& program = exe.empty() ? exePath_ : exe;
  app_ = std::make_unique<App>(program);
  if (!app_->Started()) return ::testing::AssertionFailure() << "cannot start " << program;
  if (!app_->WaitFrame())
    return ::testing::AssertionFailure() << "no main window appeared (program "
                                         << (app_->Running() ? "still running)" : "ended)");
  if (!WaitUntil([&] { return app_->Title() == Str(kTitleWelcome); }))
    return ::testing::AssertionFailure() << "the welcome page did not come up; header reads \""
                                         << app_->Title() << "\"";
  return ::testing::AssertionSuccess();
}

void WizardScenario::Shot(HWND hwnd, const std::string& label) {
  // Let the last change paint before reading the screen.
  Sleep(200);
  char prefix[8];
  std::snprintf(prefix, sizeof prefix, "%02d-", ++shots_);
  const std::string path = artifactDir_ + "\\" + prefix + label + ".png";
  if (!CaptureWindow(hwnd, path)) ADD_FAILURE() << "screenshot failed: " << path;
}

std::string WizardScenario::ButtonStates() const {
  static const std::pair<const char*, int> kButtons[] = {
      {"back", kBack}, {"next", kNext}, {"finish", kFinish}, {"cancel", kCancel}};
  std::string out;
  for (const auto& [name, id] : kButtons) {
    HWND b = app_->Button(id);
    if (!out.empty()) out += ' ';
    out += std::string(name) + ":" + (!IsShown(b) ? "hidden" : IsWindowEnabled(b) ? "on" : "off");
  }
  return out;
}

::testing::AssertionResult WizardScenario::Go(int button, unsigned titleId) {
  const std::string title = Str(titleId);
  if (!Click(app_->Button(button)))
    return ::testing::AssertionFailure() << "button " << button << " cannot be pressed (" << ButtonStates()
                                         << ")";
  if (WaitUntil([&] { return app_->Title() == title || app_->ActivePopup(); }) && app_->Title() == title)
    return ::testing::AssertionSuccess();
  HWND popup = app_->ActivePopup();
  return ::testing::AssertionFailure() << "expected page \"" << title << "\", header reads \"" << app_->Title()
                                       << "\"" << (popup ? ", a popup says \"" + MessageBoxText(popup) + "\"" : "");
}

::testing::AssertionResult WizardScenario::ExpectMessage(const std::string& text, HWND* box) {
  // A dialog of the program may be open already: wait for the box itself.
  HWND popup = nullptr;
  WaitUntil([&] { return IsMessageBox(popup = app_->ActivePopup()); });
  if (box) *box = popup;
  if (!popup) return ::testing::AssertionFailure() << "no message box appeared; expected \"" << text << "\"";
  if (!IsMessageBox(popup))
    return ::testing::AssertionFailure() << "no message box appeared, the dialog \"" << TextOf(popup)
                                         << "\" is active; expected \"" << text << "\"";
  const std::string shown = MessageBoxText(popup);
  if (shown != text)
    return ::testing::AssertionFailure() << "message box says \"" << shown << "\", expected \"" << text << "\"";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WizardScenario::Answer(HWND popup, int id) {
  if (!Click(Item(popup, id)))
    return ::testing::AssertionFailure() << "button " << id << " of \"" << TextOf(popup) << "\" cannot be pressed";
  if (!WaitUntil([&] { return !IsWindow(popup) || !IsWindowVisible(popup); }))
    return ::testing::AssertionFailure() << "\"" << TextOf(popup) << "\" stayed open after button " << id;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WizardScenario::CancelAndExit() {
  if (!Click(app_->Button(kCancel)))
    return ::testing::AssertionFailure() << "Cancel cannot be pressed (" << ButtonStates() << ")";
  HWND box = nullptr;
  if (auto r = ExpectMessage(Str(kAskCancel), &box); !r) return r;
  if (auto r = Answer(box, IDYES); !r) return r;
  if (!app_->WaitExit()) return ::testing::AssertionFailure() << "the program did not end after Yes to 12000";
  return ::testing::AssertionSuccess();
}

void WizardScenario::UseServer(const std::string& hostPort) { SetServer(ToWide(hostPort).c_str()); }

std::string WizardScenario::IniPath() {
  wchar_t docs[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, docs))) return {};
  std::wstring path = docs;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return ToUtf8(path + L"Quillmere\\Marlo\\MarloStarter.ini");
}

bool WizardScenario::IniHas(const std::string& key) {
  wchar_t value[64] = {};
  GetPrivateProfileStringW(L"Main", ToWide(key).c_str(), kAbsent, value, 64, ToWide(IniPath()).c_str());
  return std::wstring(value) != kAbsent;
}

std::string WizardScenario::IniGet(const std::string& key) {
  wchar_t value[4096] = {};
  GetPrivateProfileStringW(L"Main", ToWide(key).c_str(), L"", value, 4096, ToWide(IniPath()).c_str());
  return ToUtf8(value);
}

}  // namespace e2e
