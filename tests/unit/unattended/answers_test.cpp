#include <gtest/gtest.h>

#include <vector>

#include "app/unattended_answers.h"
#include "common/strings.h"
#include "engine/records.h"
#include "run/run_texts.h"

namespace {

// The unattended answers as the run's questions meet them, through the one
// message-box seam.
class UnattendedAnswers : public ::testing::Test {
 protected:
  void SetUp() override { m_previous = SetMessageBoxSeam(&answers); }
  void TearDown() override { SetMessageBoxSeam(m_previous); }

  std::vector<uint32_t> pauses;
  CUnattendedAnswers answers{[this](uint32_t ms) { pauses.push_back(ms); }, 3};

 private:
  CMessageBoxSeam* m_previous = nullptr;
};

TEST_F(UnattendedAnswers, RetryQuestionsRetryUntilTheRunsBoundThenStop) {
  CUpdateNotify check;
  check.m_nKind = NOTIFY_CHECK_ERROR;
  check.m_nValue = -300;
  CUpdateNotify install;
  install.m_nKind = NOTIFY_INSTALL_ERROR;
  install.m_nValue = -376;
  install.SetText("C:\\image\\setup.exe");
  int reply = 0;

  // The bound is shared by every kind of retry of the run.
  ASSERT_TRUE(AskCheckRetry(answers, check, &reply));
  EXPECT_EQ(reply, REPLY_CHECK_RETRY);
  EXPECT_TRUE(answers.AskRetry("download failed"));
  ASSERT_TRUE(AskInstallRetry(answers, install, &reply));
  EXPECT_EQ(reply, REPLY_INSTALL_RETRY);
  EXPECT_EQ(answers.RetriesUsed(), 3);
  EXPECT_EQ(pauses, (std::vector<uint32_t>{CUnattendedAnswers::kRetryPauseMs, CUnattendedAnswers::kRetryPauseMs,
                                           CUnattendedAnswers::kRetryPauseMs}));

  ASSERT_TRUE(AskInstallRetry(answers, install, &reply));
  EXPECT_EQ(reply, REPLY_INSTALL_CANCELLED);
  ASSERT_TRUE(AskCheckRetry(answers, check, &reply));
  EXPECT_EQ(reply, REPLY_CHECK_CANCELLED);
  EXPECT_FALSE(answers.AskRetry("download failed"));
  EXPECT_FALSE(answers.RetryFetch(-198));
  EXPECT_EQ(pauses.size(), 3u);  // no pause before stopping
}

TEST_F(UnattendedAnswers, KeepWaitingForTheServerCountsAsARetry) {
  const std::string keepWaiting = LoadResString(10304);
  ASSERT_FALSE(keepWaiting.empty());
  EXPECT_EQ(AfxMessageBox(keepWaiting, MB_YESNO | MB_ICONEXCLAMATION), IDYES);
  EXPECT_TRUE(answers.RetryFetch(-198));
  EXPECT_TRUE(answers.RetryFetch(-198));
  EXPECT_EQ(AfxMessageBox(keepWaiting, MB_YESNO | MB_ICONEXCLAMATION), IDNO);
}

TEST_F(UnattendedAnswers, DiskSpaceStopsAndAMissingFolderIsCreated) {
  CUpdateNotify disk;
  disk.m_nKind = NOTIFY_DISK_SPACE;
  disk.m_install.Set("C:\\", 1 << 20, 1024);
  int reply = 0;
  ASSERT_TRUE(AskDiskSpace(answers, disk, &reply));
  EXPECT_EQ(reply, REPLY_DISK_DECLINED);

  const std::string create = FormatText(LoadResString(10100).c_str(), "C:\\MarloInstaller");
  EXPECT_EQ(AfxMessageBox(create, MB_YESNO | MB_ICONEXCLAMATION), IDYES);
  // A person pressed Cancel on the install page: that was the answer.
  EXPECT_EQ(AfxMessageBox(LoadResString(11101), MB_YESNO | MB_ICONEXCLAMATION), IDYES);
  // Anything else gets the cautious answer; messages are simply taken.
  EXPECT_EQ(AfxMessageBox(LoadResString(12000), MB_YESNO | MB_ICONEXCLAMATION), IDNO);
  EXPECT_EQ(AfxMessageBox(LoadResString(10403), MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(answers.RetriesUsed(), 0);
  EXPECT_TRUE(pauses.empty());
}

}  // namespace
