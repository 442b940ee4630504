// Whole runs of the worker, driven from a second thread as the install page
// drives them: the image is built byte for byte, the final message carries the
// right words, and replies that stop the run stop it at every question.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/mbcs.h"

#include "image_fixture.h"

namespace engine_test {
namespace {

using testing_support::ReadWholeFile;

const std::string kHyouji = "\x95\x5c\x8e\xa6.txt";  // "表示.txt": 95 5C is one character

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(testing_support::NativePath(folder)))
    names.push_back(entry.path().filename().string());
  return names;
}

std::string RootOf(const std::string& folder) {
  std::string root = plat::StripToRoot(folder);
  if (root.empty() || root.back() != '\\') root += '\\';
  return root;
}

class RunTest : public ::testing::Test {
 protected:
  CImageFixture fx;

  void AddImage() {
    fx.Add({"readme.txt", "hello, image\r\n", {PartKind::Raw}});
    fx.Add({"data\\sub\\big.bin", Content(200000, 1), {PartKind::Packed, PartKind::Raw, PartKind::Packed}});
    fx.Add({"empty.dat", "", {PartKind::Packed}});
    fx.Add({"data\\" + kHyouji, "CP932 name", {PartKind::Packed}, 0x01DB111122223333ULL});
  }

  // One run with a fresh engine; returns the driver's record of it.
  std::unique_ptr<CPageDriver> Run(CTestEngine& engine, CPageDriver::Reply reply) {
    auto list = std::make_shared<std::vector<unsigned char>>(fx.List());
    fx.Configure(engine, list);
    auto driver = std::make_unique<CPageDriver>(engine, std::move(reply));
    driver->RunToEnd();
    return driver;
  }
};

TEST_F(RunTest, BuildsTheImageThenFindsNothingToDo) {
  AddImage();
  {
    CTestEngine engine;
    auto page = Run(engine, fx.StandardPage());
    EXPECT_EQ(0x00040000u, page->WParam());
    EXPECT_EQ(0, page->LParam());
    EXPECT_EQ(fx.image, engine.m_strImageFolder);

    // Install progress: start, one per file with done rising, finished.
    std::vector<Seen> phase = page->OfKind(NOTIFY_INSTALL_PHASE);
    std::vector<int> values, done;
    for (const Seen& s : phase) {
      values.push_back(s.value);
      done.push_back(s.extra & 0xFFFF);
      EXPECT_EQ(4, s.extra >> 16);
    }
    EXPECT_EQ((std::vector<int>{0, 2, 2, 2, 2, 1}), values);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 4}), done);
    ASSERT_FALSE(page->OfKind(NOTIFY_CHECK_PHASE).empty());
    EXPECT_EQ("setup.exe", page->OfKind(NOTIFY_CHECK_PHASE)[0].text);
  }
  for (const CCheckFile& file : fx.files) {
    const std::string path = fx.image + file.m_strName;
    plat::FileStatus status;
    ASSERT_TRUE(plat::GetFileStatus(path, &status)) << file.m_strName;
    EXPECT_EQ(file.m_dwSize, status.size) << file.m_strName;
    EXPECT_EQ(file.m_dwCrc, CrcOf(ReadWholeFile(path))) << file.m_strName;
    EXPECT_EQ(file.m_ftLastWrite, status.lastWriteTime) << file.m_strName;
  }
  EXPECT_TRUE(Content(200000, 1) == ReadWholeFile(fx.image + "data\\sub\\big.bin"));
  EXPECT_EQ("CP932 name", ReadWholeFile(fx.image + "data\\" + kHyouji));
  EXPECT_TRUE(FolderEntries(fx.download).empty());  // parts and temporary files are gone

  CTestEngine again;
  auto page = Run(again, fx.StandardPage());
  EXPECT_EQ(0u, page->WParam());
  EXPECT_EQ(0, page->LParam());
  for (uint32_t kind : page->Kinds()) EXPECT_LE(kind, 3u);
}

TEST_F(RunTest, FinalMessageWords) {
  // Second of three files fails: its destination is a folder, so the copy fails.
  fx.Add({"a.bin", "aaaa", {PartKind::Raw}});
  fx.Add({"b.bin", "bbbb", {PartKind::Raw}});
  fx.Add({"c.bin", "cccc", {PartKind::Raw}});
  plat::MakeDirectory(fx.image + "b.bin");
  CTestEngine engine;
  auto page = Run(engine, fx.StandardPage());
  EXPECT_EQ(0xFE880001u, page->WParam());  // -376 in the high word, type 1
  EXPECT_EQ(5, page->LParam());           // access denied
  std::vector<int> values;
  for (const Seen& s : page->OfKind(NOTIFY_INSTALL_PHASE)) values.push_back(s.value);
  EXPECT_EQ((std::vector<int>{0, 2, 1}), values);
  ASSERT_EQ(1u, page->OfKind(NOTIFY_INSTALL_ERROR).size());
  EXPECT_EQ(-376, page->OfKind(NOTIFY_INSTALL_ERROR)[0].value);
  EXPECT_EQ(5, page->OfKind(NOTIFY_INSTALL_ERROR)[0].extra);
  EXPECT_EQ("aaaa", ReadWholeFile(fx.image + "a.bin"));
  EXPECT_FALSE(plat::FileExists(fx.image + "c.bin"));
}

TEST_F(RunTest, NoServerAndEmptyList) {
  {
    CTestEngine engine;
    auto page = Run(engine, [](CCheckerCore& e, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_LOAD_LIST) e.SetResult(-199, 7);
    });
    EXPECT_EQ(2u, page->WParam());
    EXPECT_EQ(7, page->LParam());
    EXPECT_EQ((std::vector<uint32_t>{NOTIFY_LOAD_LIST}), page->Kinds());
  }
  {
    // Another session failure keeps its own code.
    CTestEngine engine;
    auto page = Run(engine, [](CCheckerCore& e, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_LOAD_LIST) e.SetResult(-197, 3);
    });
    EXPECT_EQ(0xFF3B0001u, page->WParam());
    EXPECT_EQ(3, page->LParam());
  }
  {
    CTestEngine engine;
    auto page = Run(engine, fx.StandardPage());  // no files listed
    EXPECT_EQ(0u, page->WParam());
    EXPECT_EQ(0, page->LParam());
    EXPECT_EQ((std::vector<uint32_t>{NOTIFY_LOAD_LIST, NOTIFY_CHECK_PHASE, NOTIFY_CHECK_PHASE}), page->Kinds());
  }
}

TEST_F(RunTest, ListDataThatIsNotPackedIsParsedAsItIs) {
  fx.Add({"a.bin", "aaaa", {PartKind::Raw}});
  CFileListWriter writer(1, fx.base, "setup.exe");
  writer.AddFile(fx.files[0]);
  auto list = std::make_shared<std::vector<unsigned char>>(writer.Build());
  CTestEngine engine;
  fx.Configure(engine, list);
  CPageDriver page(engine, fx.StandardPage());
  page.RunToEnd();
  EXPECT_EQ(0x00010000u, page.WParam());
  EXPECT_EQ("aaaa", ReadWholeFile(fx.image + "a.bin"));
}

TEST_F(RunTest, HostileListsEndWithTheirCodeAndTouchNothing) {
  struct Case {
    const char* what;
    std::vector<unsigned char> list;
    int code;
  } cases[] = {
      {"escaping target", {}, -184},
      {"escaping part", {}, -184},
      {"garbage", {0x4D, 0x57, 0x43, 0x1A, 1, 2, 3}, -186},
      {"huge declared size", {}, -186},
      {"truncated", {}, -185},
      {"empty", {}, -186},
      {"name length 260", {}, -184},
      {"base length beyond the data", {}, -185},
  };
  {
    CFileListWriter w(1, fx.base, "setup.exe");
    CCheckFile f;
    f.m_strName = "..\\..\\escaped.txt";
    f.m_aParts.resize(1);
    f.m_aParts[0].m_strRemoteName = "x.bin";
    w.AddFile(f);
    cases[0].list = w.BuildPacked();
    f.m_strName = "ok.txt";
    f.m_aParts[0].m_strRemoteName = "..";
    CFileListWriter w2(1, fx.base + "x/", "setup.exe");
    w2.AddFile(f);
    cases[1].list = w2.BuildPacked();
    std::vector<unsigned char> huge = PackBuffer("abc", 3);
    huge[4] = huge[5] = huge[6] = huge[7] = 0xFF;
    cases[3].list = huge;
    std::vector<unsigned char> data = w2.Build();
    data.resize(data.size() - 3);
    cases[4].list = PackBuffer(data.data(), data.size());
    // One record whose name claims 260 bytes (FF 04 01), unpacked.
    std::vector<unsigned char> longName = {1, 1, '/', 1, 's', 1, 0, 0, 0, 0, 0, 4};
    longName.insert(longName.end(), 16, 0);
    for (unsigned char b : {0xFF, 0x04, 0x01}) longName.push_back(b);
    longName.insert(longName.end(), 260, 'n');
    cases[6].list = longName;
    // A download base that claims 4 GiB - 1 bytes.
    cases[7].list = {1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, '/'};
  }
  for (Case& c : cases) {
    CTestEngine engine;
    auto list = std::make_shared<std::vector<unsigned char>>(c.list);
    fx.Configure(engine, list);
    CPageDriver page(engine, fx.StandardPage());
    page.RunToEnd();
    EXPECT_EQ(((static_cast<uint32_t>(c.code) & 0xFFFF) << 16) | 1, page.WParam()) << c.what;
    EXPECT_EQ((std::vector<uint32_t>{NOTIFY_LOAD_LIST}), page.Kinds()) << c.what;
  }
  EXPECT_TRUE(FolderEntries(fx.image).empty());
  EXPECT_TRUE(FolderEntries(fx.download).empty());
  EXPECT_FALSE(plat::FileExists(fx.root / "escaped.txt"));
}

// A notification that cannot be created ends the run with the code of the
// step that wanted it. One file with a missing part on a short drive passes
// every kind: 1, 2, 3, 2, 5, 6, 7, 8, 9, 10, 11 (start), 11 (attempt), ...
TEST_F(RunTest, NotificationsThatCannotBeCreated) {
  struct Case {
    int failAt;
    int code;
  } cases[] = {
      {1, ENGINE_LOAD_NOTIFY_FAILED},          {2, ENGINE_CHECK_NOTIFY_FAILED},
      {3, ENGINE_CHECK_NOTIFY_FAILED},         {4, ENGINE_CHECK_NOTIFY_FAILED},
      {5, ENGINE_INSTALL_ALL_NOTIFY_FAILED},   {6, ENGINE_INSTALL_ONE_NOTIFY_FAILED},
      {7, ENGINE_INSTALL_ONE_NOTIFY_FAILED},   {8, ENGINE_INSTALL_ONE_NOTIFY_FAILED},
      {9, ENGINE_DISK_NOTIFY_FAILED},          {10, ENGINE_DOWNLOAD_NOTIFY_FAILED},
      {11, ENGINE_INSTALL_FILE_NOTIFY_FAILED}, {12, ENGINE_INSTALL_FILE_NOTIFY_FAILED},
      {17, ENGINE_INSTALL_FILE_NOTIFY_FAILED},  // the last progress, after the copy
  };
  fx.Add({"x.bin", "xxxx", {PartKind::Raw}});
  for (const Case& c : cases) {
    // Start each case with nothing downloaded yet.
    std::filesystem::remove_all(testing_support::NativePath(fx.download));
    plat::MakeDirectory(fx.root / "dl");
    CTestEngine engine;
    engine.failNotifyAt = c.failAt;
    engine.space[RootOf(fx.image)] = 1;  // short, so the disk-space question is asked
    auto page = Run(engine, [&](CCheckerCore&, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_DOWNLOAD) CImageFixture::Download(n, fx.server);
    });
    EXPECT_EQ(((static_cast<uint32_t>(c.code) & 0xFFFF) << 16) | 1, page->WParam()) << c.failAt;
    // Inside the installation phase its end is still reported.
    const bool phaseEnds = c.failAt > 5;
    std::vector<Seen> seen = page->Seen_();
    EXPECT_EQ(static_cast<size_t>(c.failAt - 1 + phaseEnds), seen.size()) << c.failAt;
    if (phaseEnds && !seen.empty()) {
      EXPECT_EQ(NOTIFY_INSTALL_PHASE, seen.back().kind) << c.failAt;
      EXPECT_EQ(1, seen.back().value) << c.failAt;
    }
  }
}

// Every question of a run, answered with "stop": the run ends with the code
// of the step that asked, and the worker asks nothing more.
TEST_F(RunTest, StoppingAtEachQuestion) {
  struct Case {
    const char* what;
    uint32_t kind;
    int reply;
    uint32_t wParam;
    int lParam;
  } cases[] = {
      {"check read fails", NOTIFY_CHECK_ERROR, -298, 0xFED40001u, 32},     // -300, the read's error
      {"disk space short", NOTIFY_DISK_SPACE, -297, 0xFED70001u, 0},
      {"download fails", NOTIFY_DOWNLOAD, -286, 0xFEE20001u, 0},
      {"install fails", NOTIFY_INSTALL_ERROR, -367, 0xFE8B0001u, 32},  // -373, the read-back CRC's error
  };
  for (const Case& c : cases) {
    CImageFixture local;
    local.Add({"x.bin", "xxxx", {PartKind::Raw}});
    CTestEngine engine;
    engine.space[RootOf(local.image)] = c.kind == NOTIFY_DISK_SPACE ? 3 : 1u << 30;
    if (c.kind == NOTIFY_CHECK_ERROR) {
      testing_support::WriteWholeFile(local.image + "x.bin", "yyyy");  // right size, so the CRC is read
      engine.failCrc = [](const std::string&) { return true; };
    }
    if (c.kind == NOTIFY_INSTALL_ERROR)
      engine.failCrc = [&](const std::string& path) { return path == local.image + "x.bin"; };
    auto list = std::make_shared<std::vector<unsigned char>>(local.List());
    local.Configure(engine, list);
    const std::string server = local.server;
    CPageDriver page(engine, [&](CCheckerCore& e, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_DOWNLOAD && c.kind != NOTIFY_DOWNLOAD) CImageFixture::Download(n, server);
      if (n.m_nKind == c.kind) e.SetResult(c.reply, 0);
    });
    page.RunToEnd();
    EXPECT_EQ(c.wParam, page.WParam()) << c.what;
    EXPECT_EQ(c.lParam, page.LParam()) << c.what;
    EXPECT_EQ(1u, page.OfKind(c.kind).size()) << c.what;
    EXPECT_FALSE(plat::FileExists(local.image + "x.bin") && c.kind != NOTIFY_CHECK_ERROR) << c.what;
  }
}

// The page is woken for every notification rather than finding it at its
// next timer tick.
TEST_F(RunTest, EveryNotificationWakesThePage) {
  AddImage();
  CTestEngine engine;
  engine.SetWakeMessage(CPageDriver::kWakeMessage);
  auto page = Run(engine, fx.StandardPage());
  EXPECT_EQ(RESULT_TYPE_SUCCESS, page->WParam() & 0xFFFF);
  EXPECT_EQ(1, page->Finals());
  EXPECT_EQ(static_cast<int>(page->Seen_().size()), page->m_wakes.load());
}

// The download folder may be the image folder or lie inside it, with parts
// named like target files or like a folder on a target's way: the run ends
// with exactly the list's files in the image, every one byte for byte.
TEST_F(RunTest, DownloadFolderSharedWithTheImage) {
  struct Case {
    const char* what;
    std::string download;  // below the image folder
  } cases[] = {
      {"download folder = image folder", ""},
      {"download folder inside the image folder", "sub\\"},
  };
  for (const Case& c : cases) {
    CImageFixture local;
    const std::string sub = c.download;
    local.Add({sub + "readme.txt", "raw single part\r\n", {PartKind::Raw}, 0x01DA000000000000ULL, {"readme.txt"}});
    local.Add({sub + "data.pak", Content(3000, 2), {PartKind::Packed}, 0x01DA000000000000ULL, {"data.pak"}});
    local.Add({sub + "big.bin", Content(9000, 3), {PartKind::Packed, PartKind::Raw}, 0x01DA000000000000ULL,
               {"big.bin", "big.bin.wrenpart"}});
    local.Add({sub + "data\\x.bin", "in a folder named like a part", {PartKind::Raw}, 0x01DA000000000000ULL, {"data"}});
    local.Add({"installed.txt", "already verified", {PartKind::Raw}, 0x01DA000000000000ULL, {"installed.txt"}});
    testing_support::WriteWholeFile(local.image + "installed.txt", "already verified");
    if (!sub.empty()) plat::MakeDirectory(local.image + "sub");

    CTestEngine engine;
    auto list = std::make_shared<std::vector<unsigned char>>(local.List());
    local.Configure(engine, list, local.image + sub);
    CPageDriver page(engine, local.StandardPage());
    page.RunToEnd();
    EXPECT_EQ(RESULT_TYPE_SUCCESS, page.WParam() & 0xFFFF) << c.what;

    std::vector<std::string> expected, found;
    for (const CCheckFile& file : local.files) {
      expected.push_back(mbcs::ReplaceChar(file.m_strName, '\\', '/'));
      EXPECT_EQ(file.m_dwCrc, CrcOf(ReadWholeFile(local.image + file.m_strName))) << c.what << " " << file.m_strName;
    }
    const auto root = testing_support::NativePath(local.image);
    for (auto& entry : std::filesystem::recursive_directory_iterator(root))
      if (entry.is_regular_file()) found.push_back(entry.path().lexically_relative(root).generic_string());
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(expected, found) << c.what;
  }
}

}  // namespace
}  // namespace engine_test
