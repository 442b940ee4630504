// Whole runs of a worker that requires the publisher's signature: what it
// accepts, what it refuses before anything is downloaded, and a joined file
// whose size and CRC-32 are right but whose SHA-256 is not.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "image_fixture.h"
#include "trust/manifest.h"
#include "trust/sha256.h"

namespace engine_test {
namespace {

using testing_support::ReadWholeFile;

// Any seed will do; this one is RFC 8032's first.
constexpr ed25519::Seed kSeed = {0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60, 0xba, 0x84, 0x4a,
                                 0xf4, 0x92, 0xec, 0x2c, 0xc4, 0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32,
                                 0x69, 0x19, 0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60};
constexpr uint64_t kSerial = 200;

CSha256::Digest ShaOf(const std::string& text) { return CSha256::Of(text.data(), text.size()); }

class SignedRunTest : public ::testing::Test {
 protected:
  CImageFixture fx;
  std::vector<std::string> contents;  // as listed
  ed25519::PublicKey key{};

  void SetUp() override {
    ASSERT_TRUE(ed25519::PublicKeyOf(kSeed, &key));
    Add("readme.txt", "hello, signed image\r\n", {PartKind::Raw});
    Add("data\\big.bin", Content(150000, 3), {PartKind::Packed, PartKind::Raw});
    Add("setup.exe", Content(5000, 9), {PartKind::Raw});
  }

  void Add(const std::string& name, const std::string& content, std::vector<PartKind> parts) {
    fx.Add({name, content, std::move(parts)});
    contents.push_back(content);
  }

  // The manifest of the fixture's list, as the publisher signs it.
  CManifest Manifest(const std::vector<unsigned char>& list) const {
    CManifest m;
    m.m_qwSerial = kSerial;
    m.m_listSha256 = CSha256::Of(list.data(), list.size());
    for (size_t i = 0; i < fx.files.size(); ++i) m.m_files.push_back({fx.files[i].m_dwSize, ShaOf(contents[i])});
    return m;
  }

  // A run whose page serves manifestBytes (or replies pageReply to the
  // manifest request instead, when not 0).
  std::unique_ptr<CPageDriver> Run(CTestEngine& engine, const std::vector<uint8_t>& manifestBytes,
                                   uint64_t lowestSerial = 0, int pageReply = 0) {
    auto list = std::make_shared<std::vector<unsigned char>>(fx.List());
    fx.Configure(engine, list);
    engine.RequireSignature(key, lowestSerial);
    CPageDriver::Reply standard = fx.StandardPage();
    auto driver = std::make_unique<CPageDriver>(engine, [=](CCheckerCore& e, const CUpdateNotify& n) {
      if (n.m_nKind == NOTIFY_LOAD_MANIFEST) {
        if (pageReply != 0) {
          e.SetResult(pageReply, 404);
          return;
        }
        testing_support::WriteWholeFile(std::string(n.m_pszDownloadFolder) + n.m_szText,
                                        std::string(manifestBytes.begin(), manifestBytes.end()));
      }
      standard(e, n);
    });
    driver->RunToEnd();
    return driver;
  }

  std::vector<uint8_t> SignedManifest() const { return BuildSignedManifest(Manifest(fx.List()), kSeed); }

  bool FolderEmpty(const std::string& folder) const {
    return std::filesystem::is_empty(testing_support::NativePath(folder));
  }
};

TEST_F(SignedRunTest, AcceptsTheSignedPublicationAndKeepsItsSerial) {
  {
    CTestEngine engine;
    auto page = Run(engine, SignedManifest(), kSerial);  // the same serial again is no replay
    EXPECT_EQ(0x00030000u, page->WParam());
    ASSERT_EQ(1u, page->OfKind(NOTIFY_PUBLICATION_ACCEPTED).size());
    EXPECT_EQ("200", page->OfKind(NOTIFY_PUBLICATION_ACCEPTED)[0].text);
    EXPECT_EQ(3, page->OfKind(NOTIFY_PUBLICATION_ACCEPTED)[0].value);
    for (size_t i = 0; i < fx.files.size(); ++i)
      EXPECT_EQ(contents[i], ReadWholeFile(fx.image + fx.files[i].m_strName)) << fx.files[i].m_strName;
    EXPECT_TRUE(FolderEmpty(fx.download));  // the manifest's temporary file is gone too
  }
  // The next run reads every installed file once, for CRC and SHA-256 together.
  CTestEngine again;
  auto page = Run(again, SignedManifest());
  EXPECT_EQ(0u, page->WParam());
  EXPECT_EQ(0, again.crcCalls.load());  // the signed check does not take the CRC-only path
}

TEST_F(SignedRunTest, RefusesBeforeDownloadingAnything) {
  const std::vector<unsigned char> list = fx.List();
  auto signedWith = [&](const CManifest& m) { return BuildSignedManifest(m, kSeed); };
  CManifest otherList = Manifest(list);
  otherList.m_listSha256[0] ^= 1;
  CManifest otherSize = Manifest(list);
  otherSize.m_files[1].m_dwSize += 1;
  CManifest fewerFiles = Manifest(list);
  fewerFiles.m_files.pop_back();
  ed25519::Seed otherSeed = kSeed;
  otherSeed[0] ^= 1;
  std::vector<uint8_t> flipped = SignedManifest();
  flipped[20] ^= 0x10;

  struct Case {
    const char* name;
    std::vector<uint8_t> manifest;
    uint64_t lowestSerial;
    int pageReply;
    int code;
  } cases[] = {
      {"not downloadable", {}, 0, TRUST_MANIFEST_UNAVAILABLE, TRUST_MANIFEST_UNAVAILABLE},
      {"not a manifest", {'<', 'h', 't', 'm', 'l', '>'}, 0, 0, TRUST_MANIFEST_MALFORMED},
      {"empty file", {}, 0, 0, TRUST_MANIFEST_MALFORMED},
      {"another publisher", BuildSignedManifest(Manifest(list), otherSeed), 0, 0, TRUST_BAD_SIGNATURE},
      {"changed after signing", flipped, 0, 0, TRUST_BAD_SIGNATURE},
      {"signs another list", signedWith(otherList), 0, 0, TRUST_LIST_MISMATCH},
      {"another size", signedWith(otherSize), 0, 0, TRUST_LIST_MISMATCH},
      {"fewer files", signedWith(fewerFiles), 0, 0, TRUST_LIST_MISMATCH},
      {"older than accepted", SignedManifest(), kSerial + 1, 0, TRUST_OLDER_PUBLICATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestEngine engine;
    auto page = Run(engine, c.manifest, c.lowestSerial, c.pageReply);
    EXPECT_EQ(static_cast<uint16_t>(c.code), page->WParam() >> 16);
    EXPECT_EQ(RESULT_TYPE_FAILURE, page->WParam() & 0xFFFF);
    EXPECT_EQ(c.pageReply ? 404 : 0, page->LParam());
    EXPECT_EQ((std::vector<uint32_t>{NOTIFY_LOAD_LIST, NOTIFY_LOAD_MANIFEST}), page->Kinds());
    EXPECT_TRUE(FolderEmpty(fx.image));
    EXPECT_TRUE(FolderEmpty(fx.download));
  }

  // A starter whose own key cannot be read trusts nothing, and asks for nothing.
  CTestEngine engine;
  auto list2 = std::make_shared<std::vector<unsigned char>>(list);
  fx.Configure(engine, list2);
  engine.RequireSignature(std::nullopt, 0);
  CPageDriver page(engine, fx.StandardPage());
  page.RunToEnd();
  EXPECT_EQ(static_cast<uint16_t>(TRUST_BAD_KEY), page.WParam() >> 16);
  EXPECT_EQ((std::vector<uint32_t>{NOTIFY_LOAD_LIST}), page.Kinds());
}

TEST_F(SignedRunTest, ForgedFileIsFetchedAgainAndNeverInstalled) {
  // The server's setup.exe has the listed size and CRC-32 but other bytes.
  std::string forged = contents[2];
  forged[100] ^= 0x5A;
  forged = ForgeSameCrc(forged, fx.files[2].m_dwCrc);
  ASSERT_EQ(fx.files[2].m_dwCrc, CrcOf(forged));
  ASSERT_NE(contents[2], forged);
  ASSERT_TRUE(testing_support::WriteWholeFile(CImageFixture::ServerFile(fx.server, fx.files[2].m_aParts[0]), forged));

  CTestEngine engine;
  auto page = Run(engine, SignedManifest());
  EXPECT_EQ(static_cast<uint16_t>(TRUST_FILE_MISMATCH), page->WParam() >> 16);
  EXPECT_EQ(RESULT_TYPE_FAILURE, page->WParam() & 0xFFFF);
  EXPECT_TRUE(page->OfKind(NOTIFY_INSTALL_ERROR).empty());  // joining the same parts again is pointless

  // Fetched three times: the first ordinary, the others past caches; nothing of it kept.
  EXPECT_EQ(2u + 3u, page->OfKind(NOTIFY_DOWNLOAD).size());
  EXPECT_FALSE(plat::FileExists(fx.image + "setup.exe"));
  EXPECT_TRUE(FolderEmpty(fx.download));
  EXPECT_EQ(contents[0], ReadWholeFile(fx.image + "readme.txt"));  // what was verified stays
}

TEST_F(SignedRunTest, InstalledFileWithForgedCrcIsInstalledAgain) {
  CTestEngine first;
  ASSERT_EQ(0x00030000u, Run(first, SignedManifest())->WParam());
  std::string forged = contents[0];
  forged[0] ^= 0x20;
  forged = ForgeSameCrc(forged, fx.files[0].m_dwCrc);
  ASSERT_TRUE(testing_support::WriteWholeFile(fx.image + "readme.txt", forged));

  CTestEngine again;
  auto page = Run(again, SignedManifest());
  EXPECT_EQ(0x00010000u, page->WParam());  // one file installed: the forged one, replaced
  EXPECT_EQ(contents[0], ReadWholeFile(fx.image + "readme.txt"));
}

}  // namespace
}  // namespace engine_test
