// Whole build runs without a window: the run object with a fixed list, a
// scripted transfer and a recording observer. What the image holds at the
// end, which parts were asked for and how, what the observer was asked and
// told, and how the run ended.
#include <filesystem>

#include "common/strings.h"
#include "engine/checker_core.h"
#include "engine/filelist.h"
#include "run/run_texts.h"
#include "run_harness.h"
#include "trust/manifest.h"
#include "trust/sha256.h"

namespace run_test {
namespace {

using engine_test::Content;
using engine_test::PartKind;
using testing_support::ReadWholeFile;

bool FolderEmpty(const std::string& folder) {
  return std::filesystem::is_empty(testing_support::NativePath(folder));
}

class BuildRun : public RunFixture {
 protected:
  std::vector<std::string> contents;

  void SetUp() override {
    Add("readme.txt", "hello, image\r\n", {PartKind::Raw});
    Add("data\\big.bin", Content(200000, 1), {PartKind::Packed, PartKind::Raw, PartKind::Packed});
    Add("setup.exe", Content(5000, 2), {PartKind::Raw});
  }
  void Add(const std::string& name, const std::string& content, std::vector<PartKind> parts) {
    fx.Add({name, content, std::move(parts)});
    contents.push_back(content);
  }
  void ExpectImageComplete() const {
    for (size_t i = 0; i < fx.files.size(); ++i)
      EXPECT_EQ(contents[i], ReadWholeFile(fx.image + fx.files[i].m_strName)) << fx.files[i].m_strName;
  }
  int FailureCode() const {
    EXPECT_TRUE(observer.outcome.bStarted);
    EXPECT_EQ(RESULT_TYPE_FAILURE, observer.outcome.nType);
    return observer.outcome.nCode;
  }
};

TEST_F(BuildRun, BuildsTheImageByteForByteThenFindsNothingToDo) {
  RunToEnd();
  EXPECT_TRUE(observer.outcome.bStarted);
  EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
  EXPECT_EQ("setup.exe", observer.outcome.strInstallerName);
  ExpectImageComplete();
  EXPECT_EQ(5u, http.requests.size());  // every part once
  for (const auto& r : http.requests) {
    EXPECT_EQ(0u, r.url.find("http://127.0.0.1/game/parts/")) << r.url;
    EXPECT_FALSE(r.reload);
  }
  EXPECT_EQ(http.requests.size(), static_cast<size_t>(http.released));
  EXPECT_TRUE(FolderEmpty(fx.download));
  EXPECT_TRUE(observer.asked.empty());

  http.requests.clear();
  observer = CRecordingObserver();
  RunToEnd();
  EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
  EXPECT_TRUE(http.requests.empty());
}

bool NoTemporaryFiles(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(testing_support::NativePath(folder)))
    if (entry.path().filename().string().rfind("_gs", 0) == 0) return false;
  return true;
}

// Many small files, each part ending late or at once: whatever order the
// transfers end in, at most N run at once and the image is built in full.
TEST_F(BuildRun, PartsAheadEndInAnyOrderWithinTheBound) {
  for (int i = 0; i < 12; ++i) Add("small\\f" + std::to_string(i) + ".dat", Content(3000 + i, 10 + i), {PartKind::Raw});
  for (unsigned connections : {1u, 2u, 4u, 8u}) {
    SCOPED_TRACE(connections);
    std::filesystem::remove_all(testing_support::NativePath(fx.image));
    std::filesystem::create_directories(testing_support::NativePath(fx.image));
    http = CScriptedTransfer(fx.server);
    for (int i = 3; i < 15; i += 2) http.script["f" + std::to_string(i) + "p0.bin"] = {Serve::kLate};
    observer = CRecordingObserver();
    settings.transfer.nConnections = connections;
    RunToEnd();
    ASSERT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType) << observer.outcome.nCode << " "
                                                           << (observer.asked.empty() ? "" : observer.asked[0]);
    ExpectImageComplete();
    EXPECT_LE(static_cast<unsigned>(http.mostOpen), connections);
    if (connections > 1) {
      EXPECT_GT(http.mostOpen, 1);
    }
    EXPECT_EQ(17u, http.requests.size());  // every part once
    EXPECT_EQ(0, http.open);
    EXPECT_TRUE(NoTemporaryFiles(fx.download));
    EXPECT_TRUE(observer.asked.empty());
  }
}

TEST_F(BuildRun, QuestionsAnsweredEitherWay) {
  const std::string noConnection = FormatText(LoadResString(IDS_DOWNLOAD_NO_CONNECTION).c_str(), 6, 404);
  const std::string badFile = LoadResString(IDS_DOWNLOAD_BAD_FILE);
  const std::string broken = FormatText(LoadResString(IDS_DOWNLOAD_TRANSFER_ERROR).c_str(), 8, 10054);
  struct Case {
    const char* name;
    Serve first;
    bool retry;
    int code;          // 0: the run succeeds
    size_t requests;   // of f0p0.bin
    bool lastReload;   // whether the last request went past caches
    std::string question;
  } cases[] = {
      {"refused, retried", Serve::kRefuse, true, 0, 2, false, noConnection},
      {"refused, given up", Serve::kRefuse, false, -292, 1, false, noConnection},
      {"short copy, fetched again past caches", Serve::kTruncate, true, 0, 2, true, badFile},
      {"short copy, given up", Serve::kTruncate, false, -295, 1, false, badFile},
      {"longer body, fetched again past caches", Serve::kLonger, true, 0, 2, true, badFile},
      {"longer body, given up", Serve::kLonger, false, -295, 1, false, badFile},
      {"broken transfer, the rest asked for", Serve::kBreak, true, 0, 2, false, broken},
  };
  // One transfer at a time: each request is the part's own attempt.
  settings.transfer.nConnections = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Each case starts from empty folders.
    for (const std::string& folder : {fx.image, fx.download}) {
      std::filesystem::remove_all(testing_support::NativePath(folder));
      std::filesystem::create_directories(testing_support::NativePath(folder));
    }
    http = CScriptedTransfer(fx.server);
    http.script = {{"f0p0.bin", {c.first, Serve::kWhole}}};
    observer = CRecordingObserver();
    observer.retry = [&](const std::string&) { return c.retry; };
    RunToEnd();
    // The question, and after a refusal the failure's message.
    ASSERT_EQ(c.code == 0 ? 1u : 2u, observer.asked.size());
    EXPECT_EQ("retry: " + c.question, observer.asked[0]);
    const auto requests = RequestsOf("f0p0.bin");
    ASSERT_EQ(c.requests, requests.size());
    EXPECT_EQ(c.lastReload, requests.back().reload);
    // Only what broke off part-way is resumed.
    EXPECT_EQ(c.first == Serve::kBreak, requests.back().resumeFrom != 0);
    if (c.code == 0) {
      EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
      ExpectImageComplete();
    } else {
      EXPECT_EQ(c.code, FailureCode());
      EXPECT_FALSE(plat::FileExists(fx.image + "readme.txt"));
    }
  }
}

// A transfer ahead that fails is forgotten: the part's own download, when its
// turn comes, fetches it again and asks only if that fails too.
TEST_F(BuildRun, FailedTransferAheadIsFetchedAgainWithoutAQuestion) {
  for (Serve fault : {Serve::kRefuse, Serve::kLonger}) {
    http = CScriptedTransfer(fx.server);
    std::filesystem::remove_all(testing_support::NativePath(fx.image));
    std::filesystem::create_directories(testing_support::NativePath(fx.image));
    http.script = {{"f2p0.bin", {fault, Serve::kWhole}}};
    observer = CRecordingObserver();
    RunToEnd();
    EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
    ExpectImageComplete();
    EXPECT_TRUE(observer.asked.empty());
    EXPECT_EQ(2u, RequestsOf("f2p0.bin").size());
    EXPECT_TRUE(NoTemporaryFiles(fx.download));
  }
}

TEST_F(BuildRun, InstallErrorAskedAndRetriedOrCancelled) {
  // A folder where readme.txt belongs: installing it fails until it is gone.
  for (bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "retry" : "cancel");
    std::filesystem::remove_all(testing_support::NativePath(fx.image));
    std::filesystem::create_directories(testing_support::NativePath(fx.image + "readme.txt\\x"));
    http = CScriptedTransfer(fx.server);
    observer = CRecordingObserver();
    observer.answer = [&](const std::string&, unsigned style) {
      if ((style & 0xF) != MB_RETRYCANCEL) return IDOK;
      if (!retry) return IDCANCEL;
      std::filesystem::remove_all(testing_support::NativePath(fx.image + "readme.txt"));
      return IDRETRY;
    };
    RunToEnd();
    ASSERT_FALSE(observer.asked.empty());
    if (retry) {
      EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
      ExpectImageComplete();
    } else {
      // The run ends on the step's own code, told last as a message.
      EXPECT_EQ(-376, FailureCode());
      EXPECT_EQ(2u, observer.asked.size());
    }
  }
}

TEST_F(BuildRun, CancelStopsTheTransferAndTheRun) {
  // Every part of big.bin holds: several are in flight when the user cancels.
  http.script = {{"f1p0.bin", {Serve::kHold}}, {"f1p1.bin", {Serve::kHold}}, {"f1p2.bin", {Serve::kHold}}};
  onCancelOffered = [](CBuildRun& run) { run.Cancel(); };
  RunToEnd();
  EXPECT_EQ(REPLY_DOWNLOAD_CANCELLED, FailureCode());
  EXPECT_EQ(0, http.holding);  // the held transfers were let go
  EXPECT_EQ(0, http.open);
  EXPECT_FALSE(plat::FileExists(fx.download + "f1p1.bin"));  // its partial file is gone
  EXPECT_TRUE(NoTemporaryFiles(fx.download));
  EXPECT_EQ(contents[0], ReadWholeFile(fx.image + "readme.txt"));  // what was verified stays
  EXPECT_FALSE(plat::FileExists(fx.image + "data\\big.bin"));
}

TEST_F(BuildRun, StalledTransferAskedThenRetriedOrGivenUp) {
  stallLimitMs = 5000;
  const std::string stalled = FormatText(LoadResString(IDS_DOWNLOAD_TIMEOUT).c_str(), kHttpStalled);
  for (bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "retry" : "give up");
    std::filesystem::remove_all(testing_support::NativePath(fx.image));
    std::filesystem::create_directories(testing_support::NativePath(fx.image));
    http = CScriptedTransfer(fx.server);
    http.script = {{"f2p0.bin", {Serve::kHold, Serve::kWhole}}};
    observer = CRecordingObserver();
    observer.retry = [&](const std::string&) { return retry; };
    RunToEnd();
    ASSERT_EQ(retry ? 1u : 2u, observer.asked.size());
    EXPECT_EQ("retry: " + stalled, observer.asked[0]);
    EXPECT_EQ(0, http.holding);
    EXPECT_EQ(0, http.open);
    // The other parts went on and were fetched once; only the stalled one again.
    EXPECT_EQ(retry ? 6u : 5u, http.requests.size());
    if (retry) {
      EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
      ExpectImageComplete();
    } else {
      EXPECT_EQ(PART_STALLED - 299, FailureCode());
    }
  }
}

// A transfer that receives nothing for a minute is given up and connected
// again at once, asking for the rest; nobody is asked.
TEST_F(BuildRun, SilentConnectionIsReplacedAndTheRestAskedFor) {
  settings.transfer.nConnections = 1;
  http.script = {{"f1p1.bin", {Serve::kHold, Serve::kWhole}}};
  RunToEnd();
  EXPECT_EQ(RESULT_TYPE_SUCCESS, observer.outcome.nType);
  ExpectImageComplete();
  EXPECT_TRUE(observer.asked.empty());
  const auto requests = RequestsOf("f1p1.bin");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(0u, requests[0].resumeFrom);
  EXPECT_GT(requests[1].resumeFrom, 0u);  // the half that had arrived
  EXPECT_FALSE(requests[1].reload);
  EXPECT_EQ(0, http.holding);
}

TEST_F(BuildRun, RefusedListsStopBeforeAnyDownload) {
  struct Case {
    const char* name;
    int refusal;
    std::vector<unsigned char> bytes;  // empty: the fixture's list
    int code;
  } cases[] = {
      {"server out of service", FETCH_NO_SERVICE, {}, FETCH_NO_SERVICE},
      {"not a list", 0, {'n', 'o', 't', ' ', 'a', ' ', 'l', 'i', 's', 't'}, PARSE_UNREADABLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    observer = CRecordingObserver();
    list.refusal = c.refusal;
    listBytes = c.bytes;
    RunToEnd();
    EXPECT_EQ(c.code, FailureCode());
    EXPECT_EQ(1u, observer.asked.size());  // the failure's message
    EXPECT_TRUE(FolderEmpty(fx.image));
  }
  EXPECT_TRUE(http.requests.empty());
}

TEST_F(BuildRun, SignedRunNeverInstallsAForgedFile) {
  constexpr ed25519::Seed kSeed = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                   17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
  settings.keyState = EmbeddedKey::kValid;
  ASSERT_TRUE(ed25519::PublicKeyOf(kSeed, &settings.publisherKey));
  const std::vector<unsigned char> listBytes = fx.List();
  CManifest manifest;
  manifest.m_qwSerial = 77;
  manifest.m_listSha256 = CSha256::Of(listBytes.data(), listBytes.size());
  for (size_t i = 0; i < fx.files.size(); ++i)
    manifest.m_files.push_back({fx.files[i].m_dwSize, CSha256::Of(contents[i].data(), contents[i].size())});
  const std::vector<uint8_t> signedBytes = BuildSignedManifest(manifest, kSeed);
  ASSERT_TRUE(testing_support::WriteWholeFile(fx.server + kManifestName,
                                              std::string(signedBytes.begin(), signedBytes.end())));
  // setup.exe on the server has the listed size and CRC-32, and other bytes.
  std::string forged = contents[2];
  forged[100] ^= 0x5A;
  forged = engine_test::ForgeSameCrc(forged, fx.files[2].m_dwCrc);
  ASSERT_TRUE(testing_support::WriteWholeFile(fx.server + "f2p0.bin", forged));

  RunToEnd();
  EXPECT_EQ(TRUST_FILE_MISMATCH, FailureCode());
  EXPECT_EQ(std::vector<uint64_t>{77}, observer.accepted);
  const auto manifestRequests = RequestsOf(kManifestName);
  ASSERT_EQ(1u, manifestRequests.size());
  EXPECT_TRUE(manifestRequests[0].reload);  // always past caches
  const auto forgedRequests = RequestsOf("f2p0.bin");
  ASSERT_EQ(3u, forgedRequests.size());
  EXPECT_FALSE(forgedRequests[0].reload);
  EXPECT_TRUE(forgedRequests[1].reload);
  EXPECT_TRUE(forgedRequests[2].reload);
  EXPECT_FALSE(plat::FileExists(fx.image + "setup.exe"));
  EXPECT_EQ(contents[0], ReadWholeFile(fx.image + "readme.txt"));
}

}  // namespace
}  // namespace run_test
