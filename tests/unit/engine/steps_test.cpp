// The steps of a run one by one: the installed-file check, the download
// preparation with its disk-space arithmetic, and the installation of one file
// with its progress, retries and clean-up.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include "engine/file_ops.h"
#include "engine/filelist.h"
#include "image_fixture.h"

namespace engine_test {
namespace {

using testing_support::ReadWholeFile;
using testing_support::WriteWholeFile;

// Parses the fixture's list into the engine and sets the folders as the worker
// would, with the local names the check derives.
void Load(CTestEngine& engine, const CImageFixture& fx) {
  std::vector<unsigned char> packed = fx.List();
  unsigned char* data = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(0, UnpackBuffer(packed.data(), packed.size(), &data, &size));
  ASSERT_EQ(0, engine.ParseFileList(data, size));
  FreeUnpacked(data);
  engine.m_strImageFolder = fx.image;
  engine.m_strDownloadFolder = fx.download;
  engine.AssignLocalNames();
}

CCheckFile* FileAt(CCheckerCore& engine, size_t index) {
  auto it = engine.m_listFiles.begin();
  std::advance(it, index);
  return it->get();
}

void DownloadAll(const CImageFixture& fx, const CCheckFile& file) {
  for (const CDLFileInfo& part : file.m_aParts)
    ASSERT_TRUE(WriteWholeFile(fx.download + part.m_strLocalName, ReadWholeFile(CImageFixture::ServerFile(fx.server, part))));
}

std::vector<int> Progress(CPageDriver& page) {
  std::vector<int> out;
  for (const Seen& s : page.OfKind(NOTIFY_FILE_PROGRESS))
    if (s.value == 1) out.push_back(s.extra);
  return out;
}

// ---- Installed-file check ----

TEST(CheckInstalledFiles, CollectsMissingAndDifferentFilesInListOrder) {
  CImageFixture fx;
  fx.Add({"missing.bin", "mmmm", {PartKind::Raw}});
  fx.Add({"longer.bin", "llll", {PartKind::Raw}});
  fx.Add({"good.bin", "gggg", {PartKind::Raw}});
  fx.Add({"changed.bin", "cccc", {PartKind::Raw}});
  fx.Add({"empty.bin", "", {PartKind::Packed}});
  WriteWholeFile(fx.image + "longer.bin", "lllll");
  WriteWholeFile(fx.image + "good.bin", "gggg");
  WriteWholeFile(fx.image + "changed.bin", "ccxc");
  WriteWholeFile(fx.image + "empty.bin", "");

  CTestEngine engine;
  Load(engine, fx);
  for (auto& file : engine.m_listFiles)
    for (CDLFileInfo& part : file->m_aParts) part.m_strLocalName.clear();
  CPageDriver page(engine);
  EXPECT_EQ(3, engine.CheckInstalledFiles());
  std::vector<std::string> names;
  for (CCheckFile* file : engine.m_listUpdate) {
    names.push_back(file->m_strName);
    EXPECT_TRUE(file->m_wFlags & FILE_FLAG_UPDATE);
  }
  EXPECT_EQ((std::vector<std::string>{"missing.bin", "longer.bin", "changed.bin"}), names);
  EXPECT_FALSE(FileAt(engine, 2)->m_wFlags & FILE_FLAG_UPDATE);
  // Local names are derived for every record, installed or not.
  for (auto& file : engine.m_listFiles) EXPECT_FALSE(file->m_aParts[0].m_strLocalName.empty());

  std::vector<uint32_t> kinds = page.Kinds();
  EXPECT_EQ((std::vector<uint32_t>{2, 3, 3, 3, 3, 3, 2}), kinds);
  EXPECT_EQ("missing.bin", page.OfKind(NOTIFY_CHECK_FILE)[0].text);
}

TEST(CheckInstalledFiles, ReadFailuresAskAfterFiveThenEverySix) {
  CImageFixture fx;
  fx.Add({"x.bin", "xxxx", {PartKind::Raw}});
  WriteWholeFile(fx.image + "x.bin", "xxxx");
  CTestEngine engine;
  Load(engine, fx);
  engine.failCrc = [](const std::string&) { return true; };
  std::vector<int> callsAtQuestion;
  CPageDriver page(engine, [&](CCheckerCore& e, const CUpdateNotify& n) {
    if (n.m_nKind != NOTIFY_CHECK_ERROR) return;
    callsAtQuestion.push_back(engine.crcCalls);
    EXPECT_EQ(-300, n.m_nValue);
    EXPECT_EQ(32, n.m_nExtra);
    e.SetResult(callsAtQuestion.size() < 3 ? REPLY_CHECK_RETRY : -298, 0);
  });
  EXPECT_EQ(-300, engine.CheckInstalledFiles());
  EXPECT_EQ((std::vector<int>{5, 11, 17}), callsAtQuestion);
  EXPECT_EQ(32, engine.m_nResultExtra);

  // A retry that succeeds goes on with the check.
  CTestEngine second;
  Load(second, fx);
  second.failCrc = [&](const std::string&) { return second.crcCalls <= 5; };
  CPageDriver page2(second, [](CCheckerCore& e, const CUpdateNotify& n) {
    if (n.m_nKind == NOTIFY_CHECK_ERROR) e.SetResult(REPLY_CHECK_RETRY, 0);
  });
  EXPECT_EQ(0, second.CheckInstalledFiles());
  EXPECT_EQ(1u, page2.OfKind(NOTIFY_CHECK_ERROR).size());
}

TEST(CheckInstalledFiles, LockedFileEndsWithTheSystemError) {
  CImageFixture fx;
  fx.Add({"locked.bin", "llll", {PartKind::Raw}});
  CTestEngine engine;
  Load(engine, fx);
#ifdef _WIN32
  // Held open without sharing, so every read is refused.
  plat::FileHandle lock = plat::OpenFile(fx.image + "locked.bin", plat::OpenMode::CreateAlways);
  ASSERT_NE(plat::kInvalidFile, lock);
  ASSERT_TRUE(plat::WriteFile(lock, "llll", 4));
  const int expectedError = 32;  // sharing violation
#else
  // Root reads every file; a folder of the listed size cannot be read instead.
  plat::MakeDirectory(fx.image + "locked.bin");
  plat::FileStatus status;
  ASSERT_TRUE(plat::GetFileStatus(fx.image + "locked.bin", &status));
  FileAt(engine, 0)->m_dwSize = static_cast<uint32_t>(status.size);
  const int expectedError = -1;  // whatever the platform reports
#endif
  int asked = 0, reportedError = 0;
  CPageDriver page(engine, [&](CCheckerCore& e, const CUpdateNotify& n) {
    if (n.m_nKind != NOTIFY_CHECK_ERROR) return;
    ++asked;
    reportedError = n.m_nExtra;
    e.SetResult(-298, 0);
  });
  EXPECT_EQ(-300, engine.CheckInstalledFiles());
  EXPECT_EQ(1, asked);
  EXPECT_EQ(5, engine.crcCalls);
  EXPECT_EQ(reportedError, engine.m_nResultExtra);
  EXPECT_NE(0, reportedError);
  if (expectedError > 0) {
    EXPECT_EQ(expectedError, reportedError);
  }
#ifdef _WIN32
  plat::CloseFile(lock);
#endif
}

// ---- Download preparation ----

TEST(PrepareDownload, IntactPartsAreKeptAndNotCounted) {
  CImageFixture fx;
  fx.Add({"a.bin", Content(3000, 5), {PartKind::Packed, PartKind::Raw, PartKind::Raw}});
  CTestEngine engine;
  Load(engine, fx);
  CCheckFile* file = FileAt(engine, 0);
  DownloadAll(fx, *file);
  CPageDriver page(engine);
  EXPECT_EQ(0, engine.PrepareDownload(file));
  for (const CDLFileInfo& part : file->m_aParts) EXPECT_TRUE(part.m_wFlags & FILE_FLAG_DOWNLOADED);
  EXPECT_EQ((std::vector<uint32_t>{NOTIFY_PREPARE, NOTIFY_DOWNLOAD}), page.Kinds());  // no disk check
  EXPECT_EQ(3, engine.crcCalls);

  // One part with the right size but a wrong CRC: five computations, then missing.
  std::string damaged = ReadWholeFile(fx.download + file->m_aParts[1].m_strLocalName);
  damaged[0] ^= 1;
  WriteWholeFile(fx.download + file->m_aParts[1].m_strLocalName, damaged);
  engine.crcCalls = 0;
  EXPECT_EQ(0, engine.PrepareDownload(file));
  EXPECT_EQ(1 + 5 + 1, engine.crcCalls);
  EXPECT_TRUE(file->m_aParts[0].m_wFlags & FILE_FLAG_DOWNLOADED);
  EXPECT_FALSE(file->m_aParts[1].m_wFlags & FILE_FLAG_DOWNLOADED);
  EXPECT_TRUE(file->m_aParts[2].m_wFlags & FILE_FLAG_DOWNLOADED);
  EXPECT_EQ(1u, page.OfKind(NOTIFY_DISK_CHECK).size());
}

// File size 100 from parts of 60 and 40 bytes, packed to 30 and 20, both missing.
TEST(PrepareDownload, DiskSpaceArithmetic) {
  struct Case {
    const char* what;
    std::string image, download;
    std::map<std::string, uint64_t> space;
    bool asked;
    CDiskSpaceInfo install, download_;  // expected records
  };
  auto info = [](const char* root, uint64_t needed, uint64_t available) {
    CDiskSpaceInfo i;
    i.Set(root, needed, available);
    return i;
  };
  std::vector<Case> cases = {
      {"same drive, short", "C:\\img\\", "C:\\dl\\", {{"C:\\", 299}}, true, info("C:\\", 310, 299), {}},
      {"same drive, equal is short", "C:\\img\\", "C:\\dl\\", {{"C:\\", 310}}, true, info("C:\\", 310, 310), {}},
      {"same drive, enough", "C:\\img\\", "C:\\dl\\", {{"C:\\", 311}}, false, {}, {}},
      {"same drive in another case", "C:\\img\\", "c:\\dl\\", {{"C:\\", 299}}, true, info("C:\\", 310, 299), {}},
      {"download drive short", "C:\\img\\", "D:\\dl\\", {{"C:\\", 101}, {"D:\\", 210}}, true, {},
       info("D:\\", 210, 210)},
      {"image drive short", "C:\\img\\", "D:\\dl\\", {{"C:\\", 100}, {"D:\\", 211}}, true, info("C:\\", 100, 100), {}},
      {"both short", "C:\\img\\", "D:\\dl\\", {{"C:\\", 5}, {"D:\\", 6}}, true, info("C:\\", 100, 5),
       info("D:\\", 210, 6)},
      {"both enough", "C:\\img\\", "D:\\dl\\", {{"C:\\", 101}, {"D:\\", 211}}, false, {}, {}},
  };
  for (const Case& c : cases) {
    CTestEngine engine;
    engine.space = c.space;
    engine.m_strImageFolder = c.image;
    engine.m_strDownloadFolder = c.download;
    auto file = std::make_unique<CCheckFile>();
    file->m_dwSize = 100;
    file->m_aParts.resize(2);
    file->m_aParts[0].m_dwSize = 60;
    file->m_aParts[0].m_dwPackedSize = 30;
    file->m_aParts[0].m_strLocalName = "p0";
    file->m_aParts[1].m_dwSize = 40;
    file->m_aParts[1].m_dwPackedSize = 20;
    file->m_aParts[1].m_strLocalName = "p1";
    CCheckFile* raw = file.get();
    engine.m_listFiles.push_back(std::move(file));
    CPageDriver page(engine, [](CCheckerCore& e, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_DISK_SPACE) e.SetResult(-297, 0);
    });
    EXPECT_EQ(c.asked ? -297 : 0, engine.PrepareDownload(raw)) << c.what;
    std::vector<Seen> asked = page.OfKind(NOTIFY_DISK_SPACE);
    ASSERT_EQ(c.asked ? 1u : 0u, asked.size()) << c.what;
    if (!c.asked) {
      EXPECT_EQ(1u, page.OfKind(NOTIFY_DOWNLOAD).size()) << c.what;
      continue;
    }
    EXPECT_TRUE(page.OfKind(NOTIFY_DOWNLOAD).empty()) << c.what;
    for (auto [seen, expected] : {std::pair{asked[0].install, c.install}, std::pair{asked[0].download, c.download_}}) {
      EXPECT_STREQ(expected.m_szRoot, seen.m_szRoot) << c.what;
      EXPECT_EQ(expected.m_qwNeeded, seen.m_qwNeeded) << c.what;
      EXPECT_EQ(expected.m_qwAvailable, seen.m_qwAvailable) << c.what;
    }
  }
}

TEST(PrepareDownload, RepliesAndFailures) {
  CTestEngine engine;
  engine.m_strImageFolder = "C:\\img\\";
  engine.m_strDownloadFolder = "C:\\dl\\";
  auto file = std::make_unique<CCheckFile>();
  file->m_dwSize = 10;
  file->m_aParts.resize(1);
  file->m_aParts[0].m_strLocalName = "p0";
  CCheckFile* raw = file.get();
  engine.m_listFiles.push_back(std::move(file));
  // The free space cannot be queried.
  engine.space["Q:\\"] = 1;
  {
    CPageDriver page(engine);
    EXPECT_EQ(ENGINE_FREE_SPACE_FAILED, engine.PrepareDownload(raw));
  }
  // Answering Yes (no reply) goes on to the download; the download's reply is the result.
  engine.space = {{"C:\\", 5}};
  CPageDriver page(engine, [](CCheckerCore& e, const CUpdateNotify& n) {
    if (n.m_nKind == NOTIFY_DOWNLOAD) {
      EXPECT_STREQ("C:\\dl\\", n.m_pszDownloadFolder);
      e.SetResult(-293, 12);
    }
  });
  EXPECT_EQ(-293, engine.PrepareDownload(raw));
  EXPECT_EQ(1u, page.OfKind(NOTIFY_DISK_SPACE).size());
}

// ---- Installing one file ----

class InstallFileTest : public ::testing::Test {
 protected:
  CImageFixture fx;
  CTestEngine engine;

  CCheckFile* Prepare(const TargetSpec& spec) {
    fx.Add(spec);
    engine.m_listFiles.clear();
    Load(engine, fx);
    CCheckFile* file = FileAt(engine, fx.files.size() - 1);
    DownloadAll(fx, *file);
    return file;
  }
  std::vector<std::string> Download() const {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(testing_support::NativePath(fx.download)))
      names.push_back(entry.path().filename().string());
    return names;
  }
};

TEST_F(InstallFileTest, ProgressRunsThroughPartsThenCopyAndCleansUp) {
  struct Case {
    std::vector<PartKind> parts;
    std::vector<int> progress;
  } cases[] = {
      {{PartKind::Raw}, {0, 75, 80, 85, 95, 100}},
      {{PartKind::Packed, PartKind::Raw}, {0, 38, 75, 80, 85, 95, 100}},
      {{PartKind::Raw, PartKind::Packed, PartKind::Raw}, {0, 25, 50, 75, 80, 85, 95, 100}},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string name = "sub" + std::to_string(index) + "\\deeper\\file.bin";
    const std::string content = Content(70000 + index, index);
    CCheckFile* file = Prepare({name, content, c.parts});
    CPageDriver page(engine);
    ASSERT_EQ(0, engine.InstallFile(file)) << index;
    EXPECT_EQ(c.progress, Progress(page)) << index;
    ASSERT_FALSE(page.Seen_().empty());
    EXPECT_EQ(fx.image + name, page.Seen_()[0].text);
    EXPECT_EQ(0, page.Seen_()[0].value);
    EXPECT_TRUE(content == ReadWholeFile(fx.image + name)) << index;
    EXPECT_TRUE(Download().empty()) << index;
    ++index;
  }
}

TEST_F(InstallFileTest, ReplacesReadOnlyDestinationAndRemovesLeftovers) {
  CCheckFile* file = Prepare({"ro.bin", "new content", {PartKind::Packed}});
  ASSERT_TRUE(WriteWholeFile(fx.image + "ro.bin", "old"));
  ASSERT_TRUE(plat::SetAttributes(fx.image + "ro.bin", plat::kAttrReadOnly));
  const std::string leftover = fx.download + file->m_aParts[0].m_strLocalName + "_.tmp";
  ASSERT_TRUE(WriteWholeFile(leftover, "partial download"));
  CPageDriver page(engine);
  EXPECT_EQ(0, engine.InstallFile(file));
  EXPECT_EQ("new content", ReadWholeFile(fx.image + "ro.bin"));
  EXPECT_FALSE(plat::FileExists(leftover));
  EXPECT_TRUE(Download().empty());
}

TEST_F(InstallFileTest, PackedPartWithoutMagicIsTreatedAsRaw) {
  CCheckFile* file = Prepare({"plain.bin", "not packed at all", {PartKind::Raw}});
  file->m_aParts[0].m_wFlags = 0;  // listed as packed
  CPageDriver page(engine);
  EXPECT_EQ(0, engine.InstallFile(file));
  EXPECT_EQ("not packed at all", ReadWholeFile(fx.image + "plain.bin"));
}

// Failures of one attempt; the page declines at the first question, so the
// run ends with the fifth attempt's code and detail.
TEST_F(InstallFileTest, AttemptFailuresGiveTheirCodeAndDetail) {
  struct Case {
    const char* what;
    std::function<void(CImageFixture&, CCheckFile&)> spoil;
    int code, detail;
  } cases[] = {
      {"part missing", [](CImageFixture& f, CCheckFile& file) {
         plat::RemoveFile(f.download + file.m_aParts[0].m_strLocalName);
       }, -399, 0},
      {"damaged deflate data", [](CImageFixture& f, CCheckFile& file) {
         const std::string path = f.download + file.m_aParts[0].m_strLocalName;
         std::string bytes = ReadWholeFile(path);
         bytes[14] ^= 0x55;
         bytes[15] ^= 0x55;
         WriteWholeFile(path, bytes);
       }, -371, -3},
      {"container size off by one", [](CImageFixture& f, CCheckFile& file) {
         const std::string path = f.download + file.m_aParts[0].m_strLocalName;
         WriteWholeFile(path, ReadWholeFile(path) + "x");
       }, -371, 6},
      {"raw part of another size", [](CImageFixture& f, CCheckFile& file) {
         file.m_aParts[0].m_wFlags = FILE_FLAG_RAW;  // the packed bytes are now taken as they are
         (void)f;
       }, -389, 0},
      {"raw part of another CRC", [](CImageFixture& f, CCheckFile& file) {
         const std::string path = f.download + file.m_aParts[0].m_strLocalName;
         file.m_aParts[0].m_wFlags = FILE_FLAG_RAW;
         file.m_aParts[0].m_dwSize = static_cast<uint32_t>(ReadWholeFile(path).size());
       }, -387, 0},
      {"joined file of another size", [](CImageFixture&, CCheckFile& file) { file.m_dwSize += 1; }, -381, 0},
      {"joined file of another CRC", [](CImageFixture&, CCheckFile& file) { file.m_dwCrc ^= 1; }, -379, 0},
      {"a folder on the way is a file", [](CImageFixture& f, CCheckFile&) {
         WriteWholeFile(f.image + "a", "in the way");
       }, -377, 0},
  };
  for (const Case& c : cases) {
    CImageFixture local;
    local.Add({"a\\b\\target.bin", Content(5000, 3), {PartKind::Packed}});
    CTestEngine e;
    Load(e, local);
    CCheckFile* file = FileAt(e, 0);
    DownloadAll(local, *file);
    c.spoil(local, *file);
    CPageDriver page(e, [](CCheckerCore& eng, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_INSTALL_ERROR) eng.SetResult(-367, 0);
    });
    EXPECT_EQ(c.code, e.InstallFile(file)) << c.what;
    EXPECT_EQ(c.detail, e.m_nResultExtra) << c.what;
    ASSERT_EQ(1u, page.OfKind(NOTIFY_INSTALL_ERROR).size()) << c.what;
    const Seen question = page.OfKind(NOTIFY_INSTALL_ERROR)[0];
    EXPECT_EQ(c.code, question.value) << c.what;
    EXPECT_EQ(c.detail, question.extra) << c.what;
    EXPECT_EQ(local.image + "a\\b\\target.bin", question.text) << c.what;
  }
}

TEST_F(InstallFileTest, CreatesMissingSubFolders) {
  CCheckFile* file = Prepare({"a\\b\\c.bin", "abc", {PartKind::Raw}});
  plat::MakeDirectory(fx.image + "a");
  CPageDriver page(engine);
  EXPECT_EQ(0, engine.InstallFile(file));
  EXPECT_EQ("abc", ReadWholeFile(fx.image + "a\\b\\c.bin"));
}

TEST_F(InstallFileTest, RetryRhythmAndAbandonedTemporaryFiles) {
  CCheckFile* file = Prepare({"r.bin", "rrrr", {PartKind::Raw}});
  file->m_dwCrc ^= 1;  // every attempt fails at the check of the joined file
  std::vector<int> attemptsAtQuestion;
  std::atomic<int> attempts{0};
  CPageDriver page(engine, [&](CCheckerCore& e, const CUpdateNotify& n) {
    if (n.m_nKind == NOTIFY_FILE_PROGRESS && n.m_nValue == 1 && n.m_nExtra == 0) ++attempts;
    if (n.m_nKind == NOTIFY_INSTALL_ERROR) {
      attemptsAtQuestion.push_back(attempts);
      e.SetResult(attemptsAtQuestion.size() < 3 ? REPLY_INSTALL_RETRY : -367, 0);
    }
  });
  EXPECT_EQ(-379, engine.InstallFile(file));
  EXPECT_EQ((std::vector<int>{5, 11, 17}), attemptsAtQuestion);
  // Failed attempts take their temporary files with them; the part stays.
  EXPECT_EQ(std::vector<std::string>{file->m_aParts[0].m_strLocalName}, Download());
  EXPECT_FALSE(plat::FileExists(fx.image + "r.bin"));

  // A retry that works installs the file.
  file->m_dwCrc ^= 1;
  EXPECT_EQ(0, engine.InstallFile(file));
  EXPECT_EQ("rrrr", ReadWholeFile(fx.image + "r.bin"));
}

TEST(FileOps, CreateFolderPathAndForcedOperations) {
  testing_support::ScratchFolder root;
  int reason = 0;
  EXPECT_TRUE(CreateFolderPath("name.bin", &reason));
  EXPECT_TRUE(CreateFolderPath(root / "x\\y\\" + "\x95\x5c\\z.bin", &reason));
  plat::FileStatus status;
  ASSERT_TRUE(plat::GetFileStatus(root / "x\\y\\\x95\x5c", &status));  // one folder named "表"
  EXPECT_TRUE(status.attributes & plat::kAttrDirectory);
  WriteWholeFile(root / "file", "f");
  EXPECT_FALSE(CreateFolderPath(root / "file\\sub\\z.bin", &reason));
  EXPECT_EQ(FOLDER_IS_A_FILE, reason);

  EXPECT_FALSE(DeleteFileForced(root / "nothing"));
  WriteWholeFile(root / "ro", "r");
  plat::SetAttributes(root / "ro", plat::kAttrReadOnly);
  EXPECT_TRUE(DeleteFileForced(root / "ro"));
  EXPECT_FALSE(plat::FileExists(root / "ro"));

  uint32_t error = 1;
  EXPECT_FALSE(CopyFileForced(root / "nothing", root / "copy", &error));
  EXPECT_NE(0u, error);
  EXPECT_TRUE(CopyFileForced(root / "file", root / "copy", &error));
  EXPECT_EQ(0u, error);
}

}  // namespace
}  // namespace engine_test
