// The progress display's numbers and texts, and the texts of the run's
// questions and phase labels.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/strings.h"
#include "engine/records.h"
#include "framework/msgbox.h"
#include "run/progress_display.h"
#include "run/run_observer.h"
#include "run/run_texts.h"
#include "../wizard/scripted_message_box.h"

namespace {

std::string Text(unsigned id) { return LoadResString(id); }

TEST(ProgressDisplay, FileBarIsFullOnlyWithEveryByte) {
  struct Case {
    uint32_t done, total;
    int position;
  } cases[] = {
      {99, 100, 99},  {100, 100, 100}, {0, 100, 0},      {50, 0, 0},
      {150, 100, 100}, {999, 1000, 99}, {4294967294u, 4294967295u, 99}, {1, 3, 33},
  };
  for (const Case& c : cases) EXPECT_EQ(FileBarPosition(c.done, c.total), c.position) << c.done << "/" << c.total;
}

TEST(ProgressDisplay, ByteCountsHaveNoSpacesAroundTheSlash) {
  EXPECT_EQ(ByteCountText(1536, 1572864), "1 KB/1.50 MB");
  EXPECT_EQ(ByteCountText(0, 5368709120ull), "0 BYTE/5.000 GB");
}

TEST(ProgressDisplay, EstimateAtTenThousandBytesASecond) {
  // 10 000 bytes in 1 000 ms.
  struct Case {
    uint64_t remaining;
    std::string text;
  } cases[] = {
      {2000000, FormatText(Text(IDS_ESTIMATE_MINUTES).c_str(), 3u, 20u)},
      {50000000, FormatText(Text(IDS_ESTIMATE_HOURS).c_str(), 1u, 23u)},
      {15000, FormatText(Text(IDS_ESTIMATE_SECONDS).c_str(), 1u)},
      {1, FormatText(Text(IDS_ESTIMATE_SECONDS).c_str(), 1u)},  // never "0 seconds" with bytes left
      {0, FormatText(Text(IDS_ESTIMATE_SECONDS).c_str(), 0u)},
      {600000, FormatText(Text(IDS_ESTIMATE_SECONDS).c_str(), 60u)},
      {610000, FormatText(Text(IDS_ESTIMATE_MINUTES).c_str(), 1u, 1u)},
      {36000000, FormatText(Text(IDS_ESTIMATE_MINUTES).c_str(), 60u, 0u)},
  };
  for (const Case& c : cases) EXPECT_EQ(EstimateText(c.remaining, 10000, 1000), c.text) << c.remaining;
}

TEST(ProgressDisplay, EstimateIsUnknownWithoutAMeasuredRate) {
  const std::string unknown = Text(IDS_ESTIMATE_UNKNOWN);
  ASSERT_FALSE(unknown.empty());
  EXPECT_EQ(EstimateText(1000, 0, 0), unknown);
  EXPECT_EQ(EstimateText(1000, 5000, 0), unknown);
  EXPECT_EQ(EstimateText(1000, 0, 800), unknown);
  EXPECT_EQ(EstimateText(1000, 1, 5000), unknown);  // below one byte a second
}

TEST(ProgressDisplay, CountersAndInstallBar) {
  // Texts are in code page 932; only their numbers are compared here.
  const std::string parts = RemainingPartsText(3, 10);
  EXPECT_EQ(parts.substr(parts.size() - 7), "  3/ 10");
  const std::string installed = InstallCounterText(1, 3);
  EXPECT_EQ(installed.substr(installed.size() - 5), " 1/ 3");
  EXPECT_EQ(InstallBarPosition(1, 3), 33);
  EXPECT_EQ(InstallBarPosition(2, 3), 67);  // rounded, not cut
  EXPECT_EQ(InstallBarPosition(1, 200), 1);
  EXPECT_EQ(InstallBarPosition(3, 3), 100);
  EXPECT_EQ(InstallBarPosition(0, 0), 0);
}

TEST(PhaseLabel, DotsRunToSixteenAndStartAgain) {
  int dots = 0;
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(dots = NextStatusDots(dots), i);
  EXPECT_EQ(NextStatusDots(dots), 0);
}

TEST(PhaseLabel, ItemAndDotsFollowTheText) {
  EXPECT_EQ(StatusLabelText("check: ", "data\\a.pak", false, 3), "check: data\\a.pak ...");
  EXPECT_EQ(StatusLabelText("check: ", "", false, 3), "check: ");
  // The file-information phase has no item but still shows its dots.
  EXPECT_EQ(StatusLabelText("fetch", "", true, 2), "fetch ..");
}

TEST(RunQuestions, DiskSpaceNamesTheShortDrives) {
  CUpdateNotify notify;
  notify.m_nKind = NOTIFY_DISK_SPACE;
  notify.m_install.Set("C:\\", 1572864, 1024);
  notify.m_download.Set("D:\\", 1073741824, 5368709120ull);
  EXPECT_EQ(DiskSpaceQuestion(notify), FormatText(Text(IDS_DISK_BOTH_SHORT).c_str(), "C:\\", "1.50 MB", "1 KB", "D:\\",
                                                  "1.000 GB", "5.000 GB"));

  CUpdateNotify installOnly;
  installOnly.m_install.Set("C:\\", 2048, 1023);
  EXPECT_EQ(DiskSpaceQuestion(installOnly),
            FormatText(Text(IDS_DISK_INSTALL_SHORT).c_str(), "C:\\", "2 KB", "1023 BYTE"));

  CUpdateNotify downloadOnly;
  downloadOnly.m_download.Set("E:\\", 1048576, 0);
  EXPECT_EQ(DiskSpaceQuestion(downloadOnly),
            FormatText(Text(IDS_DISK_DOWNLOAD_SHORT).c_str(), "E:\\", "1.00 MB", "0 BYTE"));
}

// The run's questions as the wizard answers them: message boxes.
class CMessageBoxAnswers : public IRunAnswers {
 public:
  int Ask(const std::string& text, unsigned style) override { return AfxMessageBox(text, style); }
  bool AskRetry(const std::string&) override { return false; }
  bool RetryFetch(int) override { return false; }
};

TEST(RunQuestions, RepliesFollowTheAnswers) {
  CMessageBoxAnswers answers;
  CUpdateNotify checkError;
  checkError.m_nKind = NOTIFY_CHECK_ERROR;
  checkError.m_nValue = -300;
  checkError.m_nExtra = 32;
  CUpdateNotify diskShort;
  diskShort.m_nKind = NOTIFY_DISK_SPACE;
  diskShort.m_install.Set("C:\\", 2048, 1024);
  diskShort.m_download.Set("D:\\", 4096, 0);
  CUpdateNotify installError;
  installError.m_nKind = NOTIFY_INSTALL_ERROR;
  installError.m_nValue = -376;
  installError.m_nExtra = 5;
  installError.SetText("C:\\image\\data\\world.pak");

  const std::string checkText = FormatText(Text(IDS_CHECK_ERROR).c_str(), -300, 32);
  const std::string installText = FormatText(Text(11011).c_str(), -376, 5, "C:\\image\\data\\world.pak");
  const unsigned retryStyle = MB_RETRYCANCEL | MB_ICONEXCLAMATION;
  const unsigned diskStyle = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;
  struct Case {
    bool (*ask)(IRunAnswers&, const CUpdateNotify&, int*);
    const CUpdateNotify* notify;
    int answer;
    bool replied;
    int reply;
    std::string text;
    unsigned style;
  } cases[] = {
      {AskCheckRetry, &checkError, IDRETRY, true, -299, checkText, retryStyle},
      {AskCheckRetry, &checkError, IDCANCEL, true, -298, checkText, retryStyle},
      {AskDiskSpace, &diskShort, IDYES, false, 0, DiskSpaceQuestion(diskShort), diskStyle},
      {AskDiskSpace, &diskShort, IDNO, true, -297, DiskSpaceQuestion(diskShort), diskStyle},
      {AskInstallRetry, &installError, IDRETRY, true, -368, installText, retryStyle},
      {AskInstallRetry, &installError, IDCANCEL, true, -367, installText, retryStyle},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScriptedMessageBox boxes;
    boxes.Answer(c.answer);
    int reply = 0;
    EXPECT_EQ(c.ask(answers, *c.notify, &reply), c.replied);
    if (c.replied) {
      EXPECT_EQ(reply, c.reply);
    }
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text, c.text);
    EXPECT_EQ(boxes.asked[0].style, c.style);
  }
}

TEST(RunQuestions, InstallErrorWithoutATextRetriesWithoutAsking) {
  CUpdateNotify notify;
  notify.m_nKind = NOTIFY_INSTALL_ERROR;
  notify.m_nValue = -376;
  CMessageBoxAnswers answers;
  ScriptedMessageBox boxes;
  int reply = 0;
  EXPECT_TRUE(AskInstallRetry(answers, notify, &reply));
  EXPECT_EQ(reply, -368);
  EXPECT_TRUE(boxes.asked.empty());
}

TEST(RunQuestions, InstallErrorTextByCode) {
  struct Case {
    int code;
    unsigned id;
  } cases[] = {
      {-400, 11004}, {-375, 11004}, {-391, 11005}, {-383, 11005}, {-397, 11006}, {-372, 11006},
      {-396, 11007}, {-373, 11007}, {-393, 11008}, {-369, 11008}, {-378, 11009}, {-377, 11010},
      {-376, 11011}, {-368, 11012}, {-401, 11012}, {0, 11012},
  };
  for (const Case& c : cases) EXPECT_EQ(InstallErrorStringId(c.code), c.id) << c.code;
}

TEST(RunQuestions, FileNameStepsOverDoubleByteCharacters) {
  EXPECT_EQ(FileNameOfPath("C:\\image\\data\\world.pak"), "world.pak");
  EXPECT_EQ(FileNameOfPath("readme.txt"), "readme.txt");
  // "表" is 95 5C: its trail byte is not a folder separator.
  EXPECT_EQ(FileNameOfPath("C:\\img\\\x95\x5C.txt"), "\x95\x5C.txt");
  EXPECT_EQ(FileNameOfPath("C:\\img\\\x95\x5C\\a.txt"), "a.txt");
}

}  // namespace
