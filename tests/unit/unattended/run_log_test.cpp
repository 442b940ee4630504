#include <gtest/gtest.h>

#include "../../support/scratch.h"
#include "settings/settings.h"
#include "common/run_log.h"
#include "common/strings.h"
#include "engine/records.h"
#include "framework/msgbox.h"
#include "run/download_phase.h"
#include "run/run_record.h"

namespace {

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

// The log's lines without their time stamps.
std::vector<std::string> Entries(const std::string& bytes) {
  std::vector<std::string> entries;
  size_t pos = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(pos, end - pos);
    // "YYYY-MM-DD HH:MM:SS.mmm  " is 25 characters.
    entries.push_back(line.size() > 25 ? line.substr(25) : line);
    pos = end + 2;
  }
  return entries;
}

bool Contains(const std::vector<std::string>& entries, const std::string& part) {
  for (const std::string& entry : entries)
    if (entry.find(part) != std::string::npos) return true;
  return false;
}

class RunLog : public ::testing::Test {
 protected:
  void TearDown() override { runlog::Close(); }
  ScratchFolder scratch;
};

TEST_F(RunLog, Utf8WithAByteOrderMarkAndIndentedLineBreaks) {
  const std::string path = scratch / "run.log";
  ASSERT_TRUE(runlog::Open(path));
  EXPECT_EQ(runlog::Path(), path);
  // 表示 in code page 932; its first character's second byte is a backslash.
  runlog::Write("CHECK", "C:\\\x95\x5C\x8E\xA6\\a.bin");
  runlog::Writef("ERROR", "first\nsecond (%d)", -198);
  runlog::Close();
  EXPECT_FALSE(runlog::IsOpen());
  runlog::Write("CHECK", "after the end");  // dropped

  const std::string bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0);
  const std::vector<std::string> entries = Entries(bytes);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "CHECK     C:\\\xE8\xA1\xA8\xE7\xA4\xBA\\a.bin");
  EXPECT_EQ(entries[1], "ERROR     first\n\tsecond (-198)");
  // "2026-12-10 14:45:01.123": a local date and time with milliseconds.
  EXPECT_EQ(bytes.substr(3, 2), "20");
  EXPECT_EQ(bytes[7], '-');
  EXPECT_EQ(bytes[22], '.');
}

TEST_F(RunLog, KeepsThePreviousRunAndStopsWhenFull) {
  const std::string path = scratch / "run.log";
  ASSERT_TRUE(WriteWholeFile(path, "older run"));
  ASSERT_TRUE(WriteWholeFile(path + ".old", "oldest run"));
  ASSERT_TRUE(runlog::Open(path));
  const std::string big(64 * 1024, 'x');
  for (uint64_t written = 0; written < runlog::kMaxBytes + big.size(); written += big.size())
    runlog::Write("CHECK", big);
  runlog::Close();

  EXPECT_EQ(ReadWholeFile(path + ".old"), "older run");
  const std::string bytes = ReadWholeFile(path);
  EXPECT_LE(bytes.size(), runlog::kMaxBytes + 200);
  EXPECT_TRUE(Contains(Entries(bytes), "the log is full"));
}

TEST_F(RunLog, AFailedRunTellsWhichFileFailedHowAndWhatTheUserWasTold) {
  const std::string path = scratch / "run.log";
  ASSERT_TRUE(runlog::Open(path));
  CBinaryDownloadSetting setting;
  setting.m_nProxyMode = kProxyNamed;
  setting.m_strProxyServer = "proxy.example:8080";
  setting.m_strProxyUser = "admin";
  setting.m_strProxyPassword = "s3cret";
  CTransferSetting transfer;
  transfer.nConnections = 6;
  transfer.nSpeedLimit = 250;
  RecordRunStart("C:\\image", "C:\\download\\", setting, transfer, "files.example", 9071, false);

  CUpdateNotify notify;
  notify.m_nKind = NOTIFY_CHECK_FILE;
  notify.SetText("data\\level1.pak");
  RecordNotification(notify);
  CCheckFile file;
  file.m_strName = "data\\level1.pak";
  file.m_dwSize = 5000;
  file.m_aParts.resize(2);
  file.m_aParts[0].m_dwPackedSize = 1000;
  file.m_aParts[0].m_wFlags = FILE_FLAG_DOWNLOADED;
  file.m_aParts[1].m_dwPackedSize = 2000;
  CUpdateNotify download;
  download.m_nKind = NOTIFY_DOWNLOAD;
  download.m_pFile = &file;
  RecordNotification(download);
  RecordPartAttempt("http://127.0.0.1:1/files/level1.pak.1", 2000, 1, PART_RETRY, 0, 12);
  RecordPartAttempt("http://127.0.0.1:1/files/level1.pak.1", 2000, 2, PART_RETRY + 4, 0, 10);
  AfxMessageBox(FormatText(LoadResString(10406).c_str(), -292, 12029), MB_ICONEXCLAMATION);
  RecordRunEnd(1, -292, 12029);
  runlog::Close();

  const std::vector<std::string> entries = Entries(ReadWholeFile(path));
  EXPECT_TRUE(Contains(entries, "proxy: named proxy.example:8080, user \"admin\", password given"));
  EXPECT_FALSE(Contains(entries, "s3cret"));
  EXPECT_TRUE(Contains(entries, "server: files.example:9071"));
  EXPECT_TRUE(Contains(entries, "downloads at once: 6"));
  EXPECT_TRUE(Contains(entries, "download speed limit: 250 KB/s"));
  EXPECT_TRUE(Contains(entries, "CHECK     data\\level1.pak"));
  EXPECT_TRUE(Contains(entries, "data\\level1.pak: 5000 bytes, 2 parts, 1 to download (2000 bytes)"));
  EXPECT_TRUE(Contains(entries, "level1.pak.1: attempt 2, 2000 bytes"));
  EXPECT_TRUE(Contains(entries, "build run ends: type 1, code -292, extra 12029"));
  EXPECT_TRUE(Contains(entries, "(-292:12029)"));  // the text the user was shown, in the message and the outcome
  EXPECT_TRUE(Contains(entries, "MESSAGE"));
  EXPECT_TRUE(Contains(entries, "TOTALS    1 checked"));
}

}  // namespace
