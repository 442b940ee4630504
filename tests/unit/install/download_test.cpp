// The download phase against a scripted session: which parts are fetched,
// how often, with which questions, and what the engine is told in the end.
// The session "downloads" by writing the part file into a scratch folder and
// reporting the way the HTTP session does.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "../../support/scratch.h"
#include "common/strings.h"
#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "engine/records.h"
#include "framework/msgbox.h"
#include "run/download_phase.h"
#include "platform/files.h"
#include "trust/manifest.h"

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

namespace {

uint32_t CrcOf(const std::string& bytes) {
  CCrc32 crc;
  crc.Update(bytes.data(), bytes.size());
  return crc.GetValue();
}

std::string Bytes(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7);
  return bytes;
}

class ScriptedPhase : public CDownloadPhase {
 public:
  struct Attempt {
    std::string url;
    std::string path;
    bool reload;
    uint32_t maxBytes;
    uint32_t resumeFrom;
  };
  // One session: gets the attempt's number (0-based) and returns what
  // RunSession returns.
  std::function<int(const Attempt&, int index, int* extra)> session;
  std::vector<Attempt> attempts;
  std::vector<std::string> questions;
  std::deque<bool> answers;  // Retry or not, in order; Cancel once they run out
  bool alwaysRetry = false;
  int estimates = 0;
  uint32_t now = 1000;

  // A session that delivers `bytes` completely.
  int Deliver(const Attempt& a, const std::string& bytes) {
    EXPECT_TRUE(WriteWholeFile(a.path, bytes));
    OnHttpNotify(3, 0);
    OnHttpNotify(1, static_cast<uint32_t>(bytes.size()));
    OnHttpNotify(2, static_cast<uint32_t>(bytes.size()));
    OnHttpNotify(0, static_cast<uint32_t>(bytes.size()));
    return SessionResult(CAttemptWatch{});
  }
  // A session that ends with a terminal code of the HTTP session.
  int Fail(int code, uint32_t value) {
    OnHttpNotify(code, value);
    return SessionResult(CAttemptWatch{});
  }
  using CDownloadPhase::CAttemptWatch;
  using CDownloadPhase::CheckAbort;
  using CDownloadPhase::SessionResult;

 protected:
  int RunSession(const CTransferRequest& r, int* extra) override {
    attempts.push_back({r.strUrl, r.strPath, r.bReload, r.dwMaxBytes, r.dwResumeFrom});
    return session(attempts.back(), static_cast<int>(attempts.size()) - 1, extra);
  }
  bool AskRetry(const std::string& text) override {
    questions.push_back(text);
    if (alwaysRetry) return true;
    if (answers.empty()) return false;
    const bool retry = answers.front();
    answers.pop_front();
    return retry;
  }
  uint32_t Now() const override { return now; }
  void ShowEstimate(bool) override { ++estimates; }
};

class DownloadPhase : public ::testing::Test {
 protected:
  // Adds a part with the given content to the request's file.
  void AddPart(const std::string& name, const std::string& bytes, uint16_t flags = 0) {
    CDLFileInfo part;
    part.m_wFlags = flags;
    part.m_strRemoteName = "files/" + name;
    part.m_strLocalName = name;
    part.m_dwPackedSize = static_cast<uint32_t>(bytes.size());
    part.m_dwPackedCrc = CrcOf(bytes);
    file_.m_aParts.push_back(part);
    content_.push_back(bytes);
  }

  // Runs the request; true when a reply was given.
  bool Run() {
    CUpdateNotify request;
    request.m_nKind = NOTIFY_DOWNLOAD;
    request.m_pFile = &file_;
    request.m_pszBaseUrl = "/127.0.0.1:8080/marlo/";
    request.m_pszDownloadFolder = folder_.Path().c_str();
    return phase_.DownloadRequest(request, &reply_, &replyExtra_);
  }

  std::string Question(unsigned id, int code, int extra) const {
    return FormatText(LoadResString(id).c_str(), code, extra);
  }

  ScratchFolder folder_;
  CCheckFile file_;
  std::vector<std::string> content_;
  ScriptedPhase phase_;
  int reply_ = 0;
  int replyExtra_ = 0;
};

TEST_F(DownloadPhase, FetchesOnlyWhatIsNotInPlace) {
  AddPart("a.p00", Bytes(5000, 'a'), FILE_FLAG_DOWNLOADED);  // verified by the engine
  AddPart("a.p01", Bytes(6000, 'b'));                        // complete from an earlier run
  AddPart("a.p02", Bytes(7000, 'c'));                        // missing
  ASSERT_TRUE(WriteWholeFile(folder_ / "a.p01", content_[1]));
  phase_.session = [&](const ScriptedPhase::Attempt& a, int, int*) { return phase_.Deliver(a, content_[2]); };

  EXPECT_FALSE(Run()) << "reply " << reply_;
  ASSERT_EQ(phase_.attempts.size(), 1u);
  EXPECT_EQ(phase_.attempts[0].url, "http://127.0.0.1:8080/marlo/files/a.p02");
  EXPECT_EQ(phase_.attempts[0].path, folder_ / "a.p02");
  EXPECT_FALSE(phase_.attempts[0].reload);
  EXPECT_EQ(ReadWholeFile(folder_ / "a.p02"), content_[2]);
  EXPECT_EQ(phase_.m_qwPhaseTotal, 18000u);
  EXPECT_EQ(phase_.m_qwPhaseDone, 18000u);
  EXPECT_EQ(phase_.m_strDownloadName, "a.p02");
  EXPECT_TRUE(phase_.questions.empty());
}

TEST_F(DownloadPhase, NothingToFetchWhenEveryPartIsVerified) {
  AddPart("b.p00", Bytes(10, 'x'), FILE_FLAG_DOWNLOADED);
  AddPart("b.p01", Bytes(10, 'y'), FILE_FLAG_DOWNLOADED);
  phase_.session = [&](const ScriptedPhase::Attempt&, int, int*) { return -1; };
  EXPECT_FALSE(Run());
  EXPECT_TRUE(phase_.attempts.empty());
}

TEST_F(DownloadPhase, PartWithTheRightSizeButWrongBytesIsFetchedAgain) {
  AddPart("c.p00", Bytes(3000, 'c'));
  ASSERT_TRUE(WriteWholeFile(folder_ / "c.p00", Bytes(3000, 'd')));
  phase_.session = [&](const ScriptedPhase::Attempt& a, int, int*) { return phase_.Deliver(a, content_[0]); };
  EXPECT_FALSE(Run());
  EXPECT_EQ(phase_.attempts.size(), 1u);
  EXPECT_EQ(ReadWholeFile(folder_ / "c.p00"), content_[0]);
}

TEST_F(DownloadPhase, DeclinedSessionFailuresBecomeTheirReplies) {
  struct Case {
    int code;
    uint32_t value;
    unsigned question;
    int reply;
    int replyExtra;
  } cases[] = {
      {6, 404, IDS_DOWNLOAD_NO_CONNECTION, -292, 404},
      {5, 12029, IDS_DOWNLOAD_NO_CONNECTION, -293, 12029},
      {11, 12007, IDS_DOWNLOAD_NO_CONNECTION, -284, 12007},
      {7, 13, IDS_DOWNLOAD_TRANSFER_ERROR, -291, 13},
      {8, 12002, IDS_DOWNLOAD_TRANSFER_ERROR, -290, 12002},
      {10, 0, IDS_DOWNLOAD_TRANSFER_ERROR, -288, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ScriptedPhase phase;
    phase.session = [&](const ScriptedPhase::Attempt&, int, int*) { return phase.Fail(c.code, c.value); };
    CCheckFile file;
    file.m_aParts.resize(1);
    file.m_aParts[0].m_strRemoteName = file.m_aParts[0].m_strLocalName = "d.p00";
    file.m_aParts[0].m_dwPackedSize = 10;
    CUpdateNotify request;
    request.m_pFile = &file;
    request.m_pszBaseUrl = "/host/";
    request.m_pszDownloadFolder = folder_.Path().c_str();
    int reply = 0;
    int extra = 0;
    ASSERT_TRUE(phase.DownloadRequest(request, &reply, &extra));
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(extra, c.replyExtra);
    ASSERT_EQ(phase.questions.size(), 1u);
    EXPECT_EQ(phase.questions[0], Question(c.question, c.code, static_cast<int>(c.value)));
  }
}

TEST_F(DownloadPhase, NineRetriedAttemptsThenTheRequestGivesUp) {
  AddPart("e.p00", Bytes(100, 'e'));
  phase_.alwaysRetry = true;
  phase_.session = [&](const ScriptedPhase::Attempt&, int, int*) { return phase_.Fail(6, 404); };
  ASSERT_TRUE(Run());
  EXPECT_EQ(phase_.attempts.size(), 9u);
  EXPECT_EQ(reply_, REPLY_DOWNLOAD_GAVE_UP);
  EXPECT_EQ(replyExtra_, 0);
}

TEST_F(DownloadPhase, AfterAMismatchEveryAttemptBypassesCaches) {
  AddPart("f.p00", Bytes(4000, 'f'));
  phase_.answers = {true, true};
  phase_.session = [&](const ScriptedPhase::Attempt& a, int index, int*) {
    if (index == 0) return phase_.Deliver(a, Bytes(4000, 'g'));  // same size, other bytes
    if (index == 1) return phase_.Fail(8, 12002);                 // a broken transfer, retried
    return phase_.Deliver(a, content_[0]);
  };
  EXPECT_FALSE(Run());
  ASSERT_EQ(phase_.attempts.size(), 3u);
  EXPECT_FALSE(phase_.attempts[0].reload);
  EXPECT_TRUE(phase_.attempts[1].reload);
  EXPECT_TRUE(phase_.attempts[2].reload);
  ASSERT_EQ(phase_.questions.size(), 2u);
  EXPECT_EQ(phase_.questions[0], LoadResString(IDS_DOWNLOAD_BAD_FILE));
  EXPECT_EQ(phase_.questions[1], Question(IDS_DOWNLOAD_TRANSFER_ERROR, 8, 12002));
}

TEST_F(DownloadPhase, DeclinedMismatchesStopTheRequest) {
  struct Case {
    std::string delivered;
    int reply;
  } cases[] = {
      {Bytes(99, 'h'), -295},   // size differs
      {Bytes(100, 'i'), -294},  // CRC differs
  };
  for (const Case& c : cases) {
    ScriptedPhase phase;
    phase.session = [&](const ScriptedPhase::Attempt& a, int, int*) { return phase.Deliver(a, c.delivered); };
    CCheckFile file;
    file.m_aParts.resize(1);
    file.m_aParts[0].m_strRemoteName = file.m_aParts[0].m_strLocalName = "h.p00";
    file.m_aParts[0].m_dwPackedSize = 100;
    file.m_aParts[0].m_dwPackedCrc = CrcOf(Bytes(100, 'h'));
    CUpdateNotify request;
    request.m_pFile = &file;
    request.m_pszBaseUrl = "/host/";
    request.m_pszDownloadFolder = folder_.Path().c_str();
    int reply = 0;
    int extra = 0;
    ASSERT_TRUE(phase.DownloadRequest(request, &reply, &extra));
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(phase.questions, std::vector<std::string>{LoadResString(IDS_DOWNLOAD_BAD_FILE)});
    // The wrong file stays for the next run to replace.
    EXPECT_TRUE(plat::FileExists(folder_ / "h.p00"));
  }
}

TEST_F(DownloadPhase, CancelStopsTheTransferAndRemovesThePartialFile) {
  AddPart("g.p00", Bytes(9000, 'g'));
  AddPart("g.p01", Bytes(9000, 'h'));
  // A cancel left over from before the request does not count.
  phase_.m_bCancelRequested = true;
  phase_.session = [&](const ScriptedPhase::Attempt& a, int index, int*) {
    if (index == 0) return phase_.Deliver(a, content_[0]);
    EXPECT_TRUE(WriteWholeFile(a.path, content_[1].substr(0, 4096)));
    phase_.OnHttpNotify(3, 0);
    phase_.OnHttpNotify(2, 4096);
    ScriptedPhase::CAttemptWatch watch;
    EXPECT_FALSE(phase_.CheckAbort(watch));
    phase_.m_bCancelRequested = true;  // the user confirmed Cancel
    EXPECT_TRUE(phase_.CheckAbort(watch));
    EXPECT_FALSE(phase_.CheckAbort(watch)) << "the session is aborted once";
    phase_.OnHttpNotify(4, 0);
    return phase_.SessionResult(watch);
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(reply_, REPLY_DOWNLOAD_CANCELLED);
  EXPECT_EQ(replyExtra_, 0);
  EXPECT_TRUE(plat::FileExists(folder_ / "g.p00"));
  EXPECT_FALSE(plat::FileExists(folder_ / "g.p01"));
  EXPECT_TRUE(phase_.questions.empty());
}

TEST_F(DownloadPhase, LateReportsOfAnEndedAttemptAreDropped) {
  AddPart("l.p00", Bytes(5000, 'l'));
  AddPart("l.p01", Bytes(6000, 'm'));
  auto message = [](int code, uint16_t serial) { return static_cast<uintptr_t>(code) | (uintptr_t{serial} << 16); };
  std::vector<uint16_t> serials;
  phase_.answers = {true};  // Retry after the stall
  phase_.session = [&](const ScriptedPhase::Attempt& a, int index, int*) {
    const uint16_t serial = phase_.m_wAttemptSerial;
    serials.push_back(serial);
    const std::string& bytes = content_[index == 2 ? 1 : 0];
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    if (index == 0) {
      // Given up on while its worker still runs.
      phase_.OnHttpMessage(message(3, serial), 0);
      return kHttpStalled;
    }
    EXPECT_TRUE(WriteWholeFile(a.path, bytes));
    // What the first worker says late, and reports without a serial, belong
    // to no attempt of this page.
    phase_.OnHttpMessage(message(7, serials[0]), 13);
    phase_.OnHttpMessage(message(0, serials[0]), 1);
    phase_.OnHttpMessage(message(8, 0), 1);
    EXPECT_EQ(phase_.m_nHttpResult, kHttpRunning);
    for (int code : {3, 1, 2, 0}) phase_.OnHttpMessage(message(code, serial), size);
    return phase_.SessionResult(ScriptedPhase::CAttemptWatch{});
  };
  EXPECT_FALSE(Run());
  ASSERT_EQ(serials.size(), 3u);
  EXPECT_NE(serials[0], 0);
  EXPECT_NE(serials[0], serials[1]);
  EXPECT_NE(serials[1], serials[2]);
  EXPECT_EQ(ReadWholeFile(folder_ / "l.p00"), content_[0]);
  EXPECT_EQ(phase_.m_wAttemptSerial, 0) << "no attempt runs after the request";
  phase_.OnHttpMessage(message(7, serials[2]), 13);
  EXPECT_EQ(phase_.m_nHttpResult, 0) << "a report after the attempt ended was taken";
}

TEST_F(DownloadPhase, StalledTransferTimesOutAfterTheLimit) {
  AddPart("s.p00", Bytes(100, 's'));
  phase_.m_dwStallLimit = 5000;
  phase_.session = [&](const ScriptedPhase::Attempt&, int, int*) {
    ScriptedPhase::CAttemptWatch watch;
    phase_.m_dwLastDataTick = phase_.now;
    phase_.now += 60000;
    EXPECT_FALSE(phase_.CheckAbort(watch)) << "no time-out before the transfer started";
    phase_.OnHttpNotify(3, 0);
    phase_.now += 5000;
    EXPECT_FALSE(phase_.CheckAbort(watch));
    phase_.now += 1;
    EXPECT_TRUE(phase_.CheckAbort(watch));
    phase_.OnHttpNotify(4, 0);
    return phase_.SessionResult(watch);
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(reply_, -287);
  EXPECT_EQ(phase_.questions,
            std::vector<std::string>{FormatText(LoadResString(IDS_DOWNLOAD_TIMEOUT).c_str(), kHttpStalled)});
}

TEST_F(DownloadPhase, StallLimitCountsAcrossATickWrap) {
  phase_.m_dwStallLimit = 1000;
  phase_.now = 0xFFFFFF00u;
  phase_.OnHttpNotify(3, 0);
  ScriptedPhase::CAttemptWatch watch;
  phase_.now = 0x100;  // 512 ms later
  EXPECT_FALSE(phase_.CheckAbort(watch));
  phase_.now = 0x400;
  EXPECT_TRUE(phase_.CheckAbort(watch));
}

TEST_F(DownloadPhase, SessionThatNeverRanFailsTheRequest) {
  AddPart("n.p00", Bytes(100, 'n'));
  phase_.session = [&](const ScriptedPhase::Attempt&, int, int* extra) {
    *extra = -1;  // the local file could not be opened
    return -1000;
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(reply_, REPLY_DOWNLOAD_FAILED);
  EXPECT_EQ(replyExtra_, -1);
  EXPECT_EQ(phase_.attempts.size(), 1u);
}

TEST_F(DownloadPhase, RequestWithoutAFileIsRefused) {
  CUpdateNotify request;
  request.m_nKind = NOTIFY_DOWNLOAD;
  EXPECT_TRUE(phase_.DownloadRequest(request, &reply_, &replyExtra_));
  EXPECT_EQ(reply_, REPLY_DOWNLOAD_FAILED);
}

TEST_F(DownloadPhase, PartMarkedForReloadBypassesCachesFromTheFirstAttempt) {
  AddPart("r.p00", Bytes(300, 'r'), FILE_FLAG_RELOAD);
  phase_.session = [&](const ScriptedPhase::Attempt& a, int, int*) { return phase_.Deliver(a, content_[0]); };
  EXPECT_FALSE(Run());
  ASSERT_EQ(phase_.attempts.size(), 1u);
  EXPECT_TRUE(phase_.attempts[0].reload);
}

// The publisher's manifest: fetched beside the list, always past caches, a
// few times without asking; the engine reads and checks what arrived.
TEST_F(DownloadPhase, ManifestFetch) {
  struct Case {
    const char* name;
    std::vector<int> sessions;  // per attempt: 0 delivers, 4 cancelled, else that code with value 404
    int reply;
    int extra;
  } cases[] = {
      {"first attempt", {0}, 0, 0},
      {"after two failures", {6, 8, 0}, 0, 0},
      {"three failures", {6, 6, 6}, TRUST_MANIFEST_UNAVAILABLE, 404},
      {"cancelled", {4}, REPLY_DOWNLOAD_CANCELLED, 0},
      {"never ran", {-1000}, TRUST_MANIFEST_UNAVAILABLE, -2},
      {"longer than a manifest can be", {kHttpTooLong}, TRUST_MANIFEST_MALFORMED, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPhase phase;
    phase.session = [&](const ScriptedPhase::Attempt& a, int index, int* extra) {
      const int code = c.sessions[static_cast<size_t>(index)];
      if (code == 0) return phase.Deliver(a, "signed");
      if (code == -1000) {
        *extra = -2;  // the page went away
        return code;
      }
      if (code == 4 || code == kHttpTooLong) {
        WriteWholeFile(a.path, "half");
        return code;
      }
      return phase.Fail(code, 404);
    };
    CUpdateNotify request;
    request.m_nKind = NOTIFY_LOAD_MANIFEST;
    request.m_pszBaseUrl = "/127.0.0.1:8080/marlo/";
    request.m_pszDownloadFolder = folder_.Path().c_str();
    request.SetText("_gs0000000100000002.tmp");
    int extra = 0;
    EXPECT_EQ(c.reply, phase.FetchManifest(request, &extra));
    EXPECT_EQ(c.extra, extra);
    ASSERT_EQ(c.sessions.size(), phase.attempts.size());
    for (const ScriptedPhase::Attempt& a : phase.attempts) {
      EXPECT_EQ("http://127.0.0.1:8080/marlo/manifest.dat", a.url);
      EXPECT_EQ(folder_.Path() + "_gs0000000100000002.tmp", a.path);
      EXPECT_TRUE(a.reload);
      EXPECT_EQ(kMaxManifestBytes, a.maxBytes);
    }
    EXPECT_TRUE(phase.questions.empty());
    if (c.reply == REPLY_DOWNLOAD_CANCELLED || c.reply == TRUST_MANIFEST_MALFORMED) {
      EXPECT_FALSE(plat::FileExists(folder_.Path() + "_gs0000000100000002.tmp"));
    }
    plat::RemoveFile(folder_.Path() + "_gs0000000100000002.tmp");
  }
}

// A body longer than the part can be is the wrong size: the same question, the
// same reply, and the part's size bounds every attempt.
TEST_F(DownloadPhase, LongerBodyIsTheWrongSize) {
  AddPart("e.p00", Bytes(100, 'e'));
  for (bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "fetched again" : "declined");
    ScriptedPhase phase;
    phase.answers = {retry};
    phase.session = [&](const ScriptedPhase::Attempt& a, int index, int*) {
      return index == 0 ? phase.Fail(kHttpTooLong, 101) : phase.Deliver(a, content_[0]);
    };
    CUpdateNotify request;
    request.m_nKind = NOTIFY_DOWNLOAD;
    request.m_pFile = &file_;
    request.m_pszBaseUrl = "/host/";
    request.m_pszDownloadFolder = folder_.Path().c_str();
    int reply = 0;
    int extra = 0;
    EXPECT_EQ(!retry, phase.DownloadRequest(request, &reply, &extra));
    ASSERT_EQ(phase.questions.size(), 1u);
    EXPECT_EQ(phase.questions[0], LoadResString(IDS_DOWNLOAD_BAD_FILE));
    ASSERT_EQ(phase.attempts.size(), retry ? 2u : 1u);
    for (const ScriptedPhase::Attempt& a : phase.attempts) EXPECT_EQ(100u, a.maxBytes);
    if (retry) {
      EXPECT_TRUE(phase.attempts[1].reload);
    } else {
      EXPECT_EQ(reply, -295);
    }
  }
}

TEST(DownloadMeasure, RateCountsNewBytesAndTheTimeTheyTook) {
  ScriptedPhase phase;
  phase.now = 1000;
  phase.OnHttpNotify(3, 0);
  EXPECT_TRUE(phase.m_bStarted);
  phase.now = 1500;
  phase.OnHttpNotify(1, 100000);
  EXPECT_EQ(phase.m_dwFileTotal, 100000u);
  phase.OnHttpNotify(2, 8192);
  EXPECT_EQ(phase.m_qwMeasuredBytes, 8192u);
  EXPECT_EQ(phase.m_qwMeasuredMs, 500u);
  phase.OnHttpNotify(2, 16384);  // same tick: counts as 1 ms
  EXPECT_EQ(phase.m_qwMeasuredMs, 501u);
  phase.now = 2000;
  phase.OnHttpNotify(2, 16384);  // no new bytes: only the time
  EXPECT_EQ(phase.m_qwMeasuredBytes, 16384u);
  EXPECT_EQ(phase.m_qwMeasuredMs, 1001u);
  EXPECT_EQ(phase.m_nHttpResult, kHttpRunning);
  phase.OnHttpNotify(0, 20000);
  EXPECT_EQ(phase.m_nHttpResult, 0);
  EXPECT_EQ(phase.m_nHttpExtra, 20000);
  EXPECT_EQ(phase.m_dwFileDone, 20000u);
}

TEST(DownloadMeasure, EstimateIsRefreshedAtMostOnceASecond) {
  ScriptedPhase phase;
  phase.now = 0;
  phase.m_dwEstimateTick = 0;
  for (uint32_t t = 100; t <= 3000; t += 100) {
    phase.now = t;
    phase.OnHttpNotify(2, t * 10);
  }
  EXPECT_EQ(phase.estimates, 3);  // at 1000, 2000 and 3000
}

TEST(DownloadNames, UrlAndNameOfAPart) {
  EXPECT_EQ(PartUrl("/files.example.com:8080/marlo/", "files/data/world.pak.p00"),
            "http://files.example.com:8080/marlo/files/data/world.pak.p00");
  EXPECT_EQ(DownloadNameOf("http://host/files/data/world.pak.p00"), "world.pak.p00");
  EXPECT_EQ(DownloadNameOf("noslash"), "noslash");
  int extra = 7;
  EXPECT_EQ(DownloadReplyOf(2, 5, &extra), REPLY_DOWNLOAD_FAILED);
  EXPECT_EQ(extra, 0);
  EXPECT_EQ(DownloadReplyOf(15, 5, &extra), REPLY_DOWNLOAD_FAILED);
  EXPECT_EQ(DownloadReplyOf(3, -2, &extra), -296);
  EXPECT_EQ(extra, -2);
  EXPECT_EQ(DownloadReplyOf(12, 0, &extra), -287);
}

}  // namespace
