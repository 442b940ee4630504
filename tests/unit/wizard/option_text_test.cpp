#include <gtest/gtest.h>

#include "../../support/scratch.h"
#include "common/strings.h"
#include "framework/msgbox.h"
#include "framework/text_parse.h"
#include "wizard/installer_path.h"
#include "wizard/option_summary.h"

using namespace testing_support;

namespace {

TEST(OptionSummary, ProxyTextsByMode) {
  CBinaryDownloadSetting setting;
  setting.Set(false, false, nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(ProxySummary(setting), LoadResString(6011));

  setting.Set(true, true, "ignored", 8080, "u", "p");
  EXPECT_EQ(ProxySummary(setting), LoadResString(6012));

  setting.Set(true, false, "192.168.0.1", 8080, "u", "p");
  EXPECT_EQ(ProxySummary(setting), FormatText(LoadResString(6013).c_str(), "192.168.0.1", 8080u, "u"));
  EXPECT_NE(ProxySummary(setting).find("192.168.0.1:8080"), std::string::npos);

  // An empty address is kept as a colon and the port.
  setting.Set(true, false, "", 3128, "", "");
  EXPECT_EQ(ProxySummary(setting), FormatText(LoadResString(6013).c_str(), "", 3128u, ""));
}

TEST(OptionSummary, DownloadFolderOrTheTemporaryFolderText) {
  CBinaryDownloadSetting setting;
  EXPECT_EQ(DownloadFolderSummary(setting), LoadResString(6010));

  ScratchFolder dir;
  std::string folder = dir.Path().substr(0, dir.Path().size() - 1);  // without the final backslash
  ASSERT_TRUE(setting.SetDownloadPath(false, folder.c_str()));
  EXPECT_EQ(DownloadFolderSummary(setting), dir.Path());

  // A folder that went away since it was chosen falls back to the text.
  setting.m_strDownloadPath = dir / "gone\\";
  EXPECT_EQ(DownloadFolderSummary(setting), LoadResString(6010));
}

TEST(InstallerPath, JoinedWithExactlyOneBackslash) {
  struct Case {
    const char* folder;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\Games\\MarloInstaller", "Setup.exe", "C:\\Games\\MarloInstaller\\Setup.exe"},
      {"D:\\", "Disk1\\Setup.exe", "D:\\Disk1\\Setup.exe"},
      {"C:\\My Games\\", "Setup.exe", "C:\\My Games\\Setup.exe"},
      // "表" ends with the byte 5C but is no backslash.
      {"C:\\\x95\x5C", "Setup.exe", "C:\\\x95\x5C\\Setup.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinInstallerPath(c.folder, c.name), c.expected) << c.folder;
  EXPECT_EQ(QuoteCommandPath("C:\\My Games\\Setup.exe"), "\"C:\\My Games\\Setup.exe\"");
}

TEST(NumberBox, OnlyWholeUnsignedNumbersParse) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
  };
  const Case cases[] = {
      {"80", true, 80},          {" 8080 ", true, 8080},      {"0", true, 0},
      {"65536", true, 65536},    {"4294967295", true, 4294967295u},
      {"", false, 0},            {"   ", false, 0},           {"4294967296", false, 0},
      {"99999999999999999999", false, 0},                     {"-1", false, 0},
      {"12a", false, 0},         {"8 0", false, 0},           {"+5", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t value = 12345;
    EXPECT_EQ(ParseUnsignedText(c.text, &value), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
