// The whole fetch against a real server context of the middleware on
// 127.0.0.1: replies, statuses, broken records, lost connections, the
// 60-second question and the ways the page can end the wait.
#include <gtest/gtest.h>

#include "harness.h"

namespace fileinfo_test {
namespace {

struct ReplyCase {
  const char* name;
  ServerScript::Action action;
  std::vector<Bytes> replies;
  int result;
  Bytes list;  // the file-list data the fetch leaves behind
};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class ReplyTest : public FetchTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, ResultAndListData) {
  const ReplyCase& c = GetParam();
  m_script.action = c.action;
  m_script.replies = c.replies;

  EXPECT_EQ(c.result, Fetch());

  EXPECT_EQ(kRequestOnWire, m_server.Received());
  EXPECT_EQ(c.list, m_host.ListData());
  EXPECT_EQ(c.result == 0 ? SuccessCalls() : FailureCalls(c.result), m_host.m_calls);
  EXPECT_TRUE(m_box.m_asked.empty());
  EXPECT_EQ(1, m_host.m_nIdleResets);  // once the request is on its way
  EXPECT_FALSE(m_socket.IsOpen());
}

const Bytes kChunkA = Pattern(1024, 1);
const Bytes kChunkB = Pattern(1000, 2);
const Bytes kChunkC = Pattern(1, 3);

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    ::testing::Values(
        ReplyCase{"OneChunk", ServerScript::kAnswer, {Reply(1, 1, 0, Pattern(300, 9), "ok", 7, 8)}, 0, Pattern(300, 9)},
        ReplyCase{"ThreeChunks",
                  ServerScript::kAnswer,
                  {Reply(1, 3, 0, kChunkA), Reply(1, 3, 1, kChunkB), Reply(1, 3, 2, kChunkC)},
                  0,
                  Join({kChunkA, kChunkB, kChunkC})},
        // Chunk 0 again starts the block anew.
        ReplyCase{"FirstChunkAgainRestarts",
                  ServerScript::kAnswer,
                  {Reply(1, 2, 0, Pattern(900, 7)), Reply(1, 2, 0, kChunkC), Reply(1, 2, 1, kChunkA)},
                  0,
                  Join({kChunkC, kChunkA})},
        ReplyCase{"LargestChunk",
                  ServerScript::kAnswer,
                  {Reply(1, 8, 0, Pattern(8192, 8)), Reply(1, 8, 7, kChunkC)},
                  0,
                  Join({Pattern(8192, 8), kChunkC})},
        // A chunk too big for what is left of the block is dropped.
        ReplyCase{"ChunkThatDoesNotFitIsDropped",
                  ServerScript::kAnswer,
                  {Reply(1, 3, 0, Pattern(2000, 4)), Reply(1, 3, 1, Pattern(2000, 5)), Reply(1, 3, 2, kChunkB)},
                  0,
                  Join({Pattern(2000, 4), Pattern(2000, 5)})},
        // An empty chunk completes a reply like any other.
        ReplyCase{"EmptyLastChunk", ServerScript::kAnswer, {Reply(1, 2, 0, kChunkC), Reply(1, 2, 1, {})}, 0, kChunkC},
        // Maintenance and busy count only on their closing record.
        ReplyCase{"MaintenanceNoticeIgnored",
                  ServerScript::kAnswer,
                  {Reply(-100, 1, 0), Reply(1, 1, 0, kChunkC)},
                  0,
                  kChunkC},
        ReplyCase{"BusyNoticeIgnored", ServerScript::kAnswer, {Reply(-98, 2, 1), Reply(1, 1, 0, kChunkC)}, 0, kChunkC},
        ReplyCase{"Updated", ServerScript::kAnswer, {Reply(-3, 0, 0)}, -193, {}},
        ReplyCase{"NoService", ServerScript::kAnswer, {Reply(-1, 5, 1)}, -192, {}},
        ReplyCase{"Maintenance", ServerScript::kAnswer, {Reply(-100, 0, 0)}, -191, {}},
        ReplyCase{"Busy", ServerScript::kAnswer, {Reply(-98, 3, 3)}, -190, {}},
        ReplyCase{"UnknownStatus", ServerScript::kAnswer, {Reply(2, 1, 0, kChunkC)}, -189, {}},
        ReplyCase{"StatusZero", ServerScript::kAnswer, {Reply(0, 0, 0)}, -189, {}},
        ReplyCase{"StatusAfterPartialList", ServerScript::kAnswer, {Reply(1, 2, 0, kChunkC), Reply(-3, 0, 0)}, -193,
                  kChunkC},
        // A record that is not a reply is a protocol error: the library
        // drops the connection.
        ReplyCase{"NotAReply", ServerScript::kAnswer, {Bytes{'#', 0, 0, 0, 0}}, -197, {}},
        ReplyCase{"TruncatedReply", ServerScript::kAnswer, {Bytes{'$', 0, 0, 0, 0, 0, 0}}, -197, {}},
        ReplyCase{"ChunkLongerThanAllowed", ServerScript::kAnswer, {Reply(1, 9, 0, Pattern(8193, 6))}, -197, {}},
        ReplyCase{"TextLongerThanAllowed", ServerScript::kAnswer, {Reply(1, 1, 0, kChunkC, std::string(257, 'x'))},
                  -197, {}},
        ReplyCase{"EmptyRecordThenReply", ServerScript::kAnswer, {Bytes{}, Reply(1, 1, 0, kChunkC)}, 0, kChunkC},
        ReplyCase{"ClosedWithoutAnswer", ServerScript::kCloseOnRequest, {}, -197, {}},
        ReplyCase{"ClosedBeforePartialReplyEnds", ServerScript::kAnswerThenClose, {Reply(1, 2, 0, kChunkC)}, -197,
                  kChunkC},
        // A reply is handled in the heartbeat that brought it, before a
        // close right behind it can be seen.
        ReplyCase{"ClosedRightAfterCompleteReply", ServerScript::kAnswerThenClose, {Reply(1, 1, 0, kChunkC)}, 0,
                  kChunkC},
        ReplyCase{"ClosedRightAfterStatus", ServerScript::kAnswerThenClose, {Reply(-1, 0, 0)}, -192, {}}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(FetchTest, OneChunkFillsABlockOfCountPlusOneKilobytes) {
  m_script.replies = {Reply(1, 1, 0, kChunkC)};
  EXPECT_EQ(0, Fetch());
  EXPECT_EQ(2048u, m_host.m_list.GetSize(true));
  EXPECT_EQ(1u, m_host.m_list.GetSize(false));
}

TEST_F(FetchTest, ListBlockThatCannotBeHadIsFatal) {
  m_script.replies = {Reply(1, 1, 0, kChunkC)};
  m_host.m_bFailAlloc = true;
  EXPECT_EQ(-189, Fetch());
  EXPECT_EQ(1, m_host.m_nAllocs);
  EXPECT_EQ(FailureCalls(-189), m_host.m_calls);
}

TEST_F(FetchTest, SilentServerAsksAfterSixtySecondsAndNoGivesUp) {
  m_script.action = ServerScript::kSilent;
  EXPECT_EQ(-195, Fetch());
  ASSERT_EQ(1u, m_box.m_asked.size());
  EXPECT_EQ(LoadResString(IDS_FETCH_KEEP_WAITING), m_box.m_asked[0]);
  EXPECT_FALSE(m_box.m_asked[0].empty());
  EXPECT_EQ(static_cast<unsigned>(MB_YESNO | MB_ICONEXCLAMATION), m_box.m_styles[0]);
  // 500 ms a pass: not before the watch passed 60 seconds.
  EXPECT_GE(m_box.m_askedAtPass[0], 121);
  EXPECT_EQ(1, m_server.Requests());
  EXPECT_EQ(FailureCalls(-195), m_host.m_calls);
  EXPECT_FALSE(m_socket.IsOpen());
}

TEST_F(FetchTest, YesKeepsWaitingAnotherSixtySeconds) {
  m_script.action = ServerScript::kSilent;
  m_box.m_answers = {IDYES, IDYES, IDNO};
  EXPECT_EQ(-195, Fetch());
  ASSERT_EQ(3u, m_box.m_asked.size());
  EXPECT_GE(m_box.m_askedAtPass[1] - m_box.m_askedAtPass[0], 121);
  EXPECT_GE(m_box.m_askedAtPass[2] - m_box.m_askedAtPass[1], 121);
}

TEST_F(FetchTest, QuestionWhileConnectingNoGivesUp) {
  // The first pass already takes longer than the limit.
  m_host.m_advance = [](int pass) { return pass == 1 ? 61000u : 0u; };
  EXPECT_EQ(-198, Fetch());
  EXPECT_EQ(1u, m_box.m_asked.size());
  EXPECT_EQ(0, m_server.Requests());
  EXPECT_EQ(FailureCalls(-198), m_host.m_calls);
}

TEST_F(FetchTest, QuestionWhileConnectingYesGoesOn) {
  m_script.replies = {Reply(1, 1, 0, kChunkC)};
  m_host.m_advance = [](int pass) { return pass == 1 ? 61000u : 0u; };
  m_box.m_answers = {IDYES};
  EXPECT_EQ(0, Fetch());
  EXPECT_EQ(1u, m_box.m_asked.size());
  EXPECT_EQ(kChunkC, m_host.ListData());
}

TEST_F(FetchTest, QuestionWhileDisconnectingNoAborts) {
  m_script.replies = {Reply(1, 1, 0, kChunkC)};
  // Time runs only once the reply is in, while the close drains.
  g_nReplyState = REPLY_WAITING;
  m_host.m_advance = [seen = false](int) mutable {
    const uint32_t step = seen ? 61000u : 0u;
    seen = g_nReplyState == REPLY_COMPLETE;
    return step;
  };
  EXPECT_EQ(-194, Fetch());
  EXPECT_EQ(1u, m_box.m_asked.size());
  EXPECT_EQ(FailureCalls(-194), m_host.m_calls);
}

TEST_F(FetchTest, ConnectRefusedIsLostWhileConnecting) {
  m_bUseServer = false;
  // Take a free port and close it again: nobody listens there.
  CTestFileInfoServer probe;
  m_host.m_onAddress = [&] {
    ASSERT_TRUE(probe.Start(m_script));
    m_host.m_nPort = probe.Port();
    probe.Stop();
  };
  const int result = Fetch();
#ifdef _WIN32
  // Windows sockets may report the refused connect as writable, i.e. as
  // completed; the loss then shows once the request goes out.
  EXPECT_TRUE(result == -198 || result == -197) << result;
#else
  EXPECT_EQ(-198, result);
#endif
  EXPECT_EQ(FailureCalls(result), m_host.m_calls);
  EXPECT_FALSE(m_socket.IsOpen());
}

TEST_F(FetchTest, ServerClosingOnAcceptIsLost) {
  m_script.action = ServerScript::kCloseOnAccept;
  int result = Fetch();
  // The client may or may not have seen its connect complete first.
  EXPECT_TRUE(result == -198 || result == -197) << result;
  EXPECT_EQ(1, m_server.Accepts());
}

struct EarlyEndCase {
  const char* name;
  bool useServer;
  ServerScript::Action action;
  int port;
  int quitAfter;
  int pageGoneAfter;
  int result;
};

class EarlyEndTest : public FetchTest, public ::testing::WithParamInterface<EarlyEndCase> {};

TEST_P(EarlyEndTest, Result) {
  const EarlyEndCase& c = GetParam();
  m_bUseServer = c.useServer;
  m_script.action = c.action;
  m_host.m_nPort = c.port;
  m_host.m_nQuitAfter = c.quitAfter;
  m_host.m_nPageGoneAfter = c.pageGoneAfter;
  EXPECT_EQ(c.result, Fetch());
  EXPECT_EQ(FailureCalls(c.result), m_host.m_calls);
  EXPECT_TRUE(m_box.m_asked.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EarlyEnds, EarlyEndTest,
    ::testing::Values(
        // Quitting or a vanished page ends the very first wait.
        EarlyEndCase{"QuitWhileConnecting", true, ServerScript::kSilent, 0, 1, -1, -194},
        EarlyEndCase{"PageGoneWhileConnecting", true, ServerScript::kSilent, 0, -1, 1, -194},
        EarlyEndCase{"QuitWhileWaitingForReply", true, ServerScript::kSilent, 0, 20, -1, -194},
        EarlyEndCase{"PageGoneWhileWaitingForReply", true, ServerScript::kSilent, 0, -1, 20, -194},
        // Without a port to go to the connect is never tried.
        EarlyEndCase{"PortZero", false, ServerScript::kSilent, 0, -1, -1, -199},
        EarlyEndCase{"PortTooLarge", false, ServerScript::kSilent, 65536 + 9070, -1, -1, -199},
        EarlyEndCase{"NegativePort", false, ServerScript::kSilent, -1, -1, -1, -199}),
    [](const ::testing::TestParamInfo<EarlyEndCase>& info) { return std::string(info.param.name); });

TEST_F(FetchTest, LibraryThatCannotStartGivesMinus200WithoutConnecting) {
  m_bUseServer = false;
  m_socket.m_nMaxConnOverride = -5;  // refused by the library's set-up
  bool asked = false;
  m_host.m_onAddress = [&] { asked = true; };
  EXPECT_EQ(-200, Fetch());
  EXPECT_FALSE(asked);
  EXPECT_FALSE(g_bNetInitialized);
  EXPECT_EQ(0, m_host.m_nPasses);
  EXPECT_EQ((std::vector<std::string>{"start 7001", "result -200 0", "stop"}), m_host.m_calls);
}

TEST_F(FetchTest, ConnectThatCannotStartGivesMinus199) {
  m_bUseServer = false;
  m_socket.m_nMaxConnOverride = 0;  // no connection record to be had
  g_nConnectState = 0;
  EXPECT_EQ(-199, Fetch());
  // The failed start was reported as a failed connect first.
  EXPECT_EQ(CONNECT_FAILED, g_nConnectState);
  EXPECT_EQ(FailureCalls(-199), m_host.m_calls);
  EXPECT_FALSE(m_socket.IsOpen());
}

TEST_F(FetchTest, RequestThatCannotBeQueuedGivesMinus196) {
  m_script.action = ServerScript::kSilent;
  m_socket.m_nWriteBuffer = 14;  // one byte short of the request
  EXPECT_EQ(-196, Fetch());
  EXPECT_TRUE(m_server.Received().empty());
  EXPECT_EQ(FailureCalls(-196), m_host.m_calls);
}

TEST_F(FetchTest, SecondFetchReusesTheRunningLibrary) {
  m_script.replies = {Reply(1, 1, 0, kChunkC)};
  EXPECT_EQ(0, Fetch());
  EXPECT_TRUE(g_bNetInitialized);
  m_host.m_calls.clear();
  EXPECT_EQ(0, Fetch());
  EXPECT_EQ(2, m_server.Requests());
  EXPECT_EQ(Join({kRequestOnWire, kRequestOnWire}), m_server.Received());
  EXPECT_EQ(SuccessCalls(), m_host.m_calls);
}

}  // namespace
}  // namespace fileinfo_test
