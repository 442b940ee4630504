// The file-information server as the starter meets it: the real program on a
// free loopback port, a plain socket client, and a decoder of our own for the
// "$" reply records.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/list_limits.h"
#include "trust/sha256.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

// Generous bound for every wait, so a broken server fails the test instead of hanging it.
constexpr int kHangGuardMs = 10000;

const Bytes kRequest = {0x00, 0x0D, 0x17, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0F, 0xAF, 0xA0, 0x00, 0x00, 0x00, 0x00};

// The server program, its standard output read line by line.
class ServerProcess {
 public:
  ~ServerProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) close(m_out);
  }

  // Starts the server on a free port; false (with the log kept) when it did
  // not report a port.
  bool Start(std::vector<std::string> args) {
    args.insert(args.begin(), {WREN_FILEINFO_SERVER, "--port", "0"});
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(pipeFds[1], 1);
      dup2(pipeFds[1], 2);
      close(pipeFds[0]);
      close(pipeFds[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeFds[1]);
    m_out = pipeFds[0];
    if (!WaitForLog(" on 127.0.0.1:")) return false;
    const size_t at = m_log.find(" on 127.0.0.1:");
    m_port = static_cast<uint16_t>(std::atoi(m_log.c_str() + at + 14));
    return m_port != 0;
  }

  // Reads output until it holds text (count times); false at the end of the output or after the guard.
  bool WaitForLog(const std::string& text, size_t count = 1) {
    auto seen = [&] {
      size_t n = 0;
      for (size_t at = m_log.find(text); at != std::string::npos; at = m_log.find(text, at + 1)) ++n;
      return n;
    };
    while (seen() < count) {
      pollfd p{m_out, POLLIN, 0};
      if (poll(&p, 1, kHangGuardMs) <= 0) return false;
      char buffer[4096];
      const ssize_t got = read(m_out, buffer, sizeof buffer);
      if (got <= 0) return false;
      m_log.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  // Waits for the program to end; its exit code, or -1.
  int Wait() {
    WaitForLog("\x01never");  // drains the output until the pipe closes
    int status = 0;
    const pid_t pid = m_pid;
    m_pid = -1;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  int Signal(int sig) {
    kill(m_pid, sig);
    return Wait();
  }
  void Send(int sig) { kill(m_pid, sig); }

  uint16_t port() const { return m_port; }
  const std::string& log() const { return m_log; }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  uint16_t m_port = 0;
  std::string m_log;
};

class Client {
 public:
  // receiveBuffer: a small one makes a client that reads slowly, or not at all.
  explicit Client(uint16_t port, int receiveBuffer = 0) {
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer) setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~Client() {
    if (m_fd >= 0) close(m_fd);
  }
  bool connected() const { return m_fd >= 0; }
  size_t received() const { return m_received; }

  bool Send(const Bytes& bytes) { return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }

  // Exactly n bytes; nothing when the connection ends or nothing comes within waitMs.
  std::optional<Bytes> Read(size_t n, int waitMs = kHangGuardMs) {
    Bytes out;
    while (out.size() < n) {
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, waitMs) <= 0) return std::nullopt;
      unsigned char buffer[8192];
      const ssize_t got = recv(m_fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
      if (got <= 0) return std::nullopt;
      out.insert(out.end(), buffer, buffer + got);
      m_received += static_cast<size_t>(got);
    }
    return out;
  }

  // One record of the 2-byte length framing.
  std::optional<Bytes> ReadRecord(int waitMs = kHangGuardMs) {
    std::optional<Bytes> header = Read(2, waitMs);
    if (!header) return std::nullopt;
    return Read(static_cast<size_t>((*header)[0] << 8 | (*header)[1]), waitMs);
  }

  // Everything until the server closes the connection.
  Bytes ReadToEnd() {
    Bytes out;
    for (;;) {
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, kHangGuardMs) <= 0) return out;
      unsigned char buffer[65536];
      const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
      if (got <= 0) return out;
      out.insert(out.end(), buffer, buffer + got);
    }
  }

  // True when the server closed the connection.
  bool ClosedByPeer() {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, kHangGuardMs) <= 0) return false;
    unsigned char byte;
    return recv(m_fd, &byte, 1, 0) == 0;
  }

 private:
  int m_fd = -1;
  size_t m_received = 0;
};

struct Reply {
  unsigned char message = 0;
  uint32_t first = 0, second = 0;
  int32_t status = 0;
  unsigned count = 0, index = 0;
  Bytes data, text;
};

uint32_t BigEndian32(const Bytes& b, size_t at) {
  return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 | b.at(at + 3);
}

// A length-prefixed string: 0-252 itself, 253 + u32, 254 + u64.
Bytes CountedBytes(const Bytes& b, size_t* at) {
  uint64_t length = b.at(*at);
  size_t prefix = 1;
  if (length == 253) {
    length = BigEndian32(b, *at + 1);
    prefix = 5;
  } else if (length == 254) {
    length = uint64_t(BigEndian32(b, *at + 1)) << 32 | BigEndian32(b, *at + 5);
    prefix = 9;
  }
  const size_t from = *at + prefix;
  if (length > b.size() - std::min(from, b.size())) throw std::out_of_range("counted bytes");
  *at = from + length;
  return Bytes(b.begin() + from, b.begin() + from + length);
}

Reply Decode(const Bytes& body) {
  Reply r;
  r.message = body.at(0);
  r.first = BigEndian32(body, 1);
  r.second = BigEndian32(body, 5);
  r.status = static_cast<int32_t>(BigEndian32(body, 9));
  r.count = body.at(13);
  r.index = body.at(14);
  size_t at = 15;
  r.data = CountedBytes(body, &at);
  r.text = CountedBytes(body, &at);
  EXPECT_EQ(at, body.size()) << "bytes after the text";
  return r;
}

class FileInfoServerTest : public ::testing::Test {
 protected:
  FileInfoServerTest() {
    std::string pattern = (fs::temp_directory_path() / "wren-fileinfo-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    m_dir = pattern;
  }
  ~FileInfoServerTest() override { fs::remove_all(m_dir); }

  std::string ListFile(const Bytes& bytes) {
    const fs::path path = m_dir / ("filelist" + std::to_string(++m_lists) + ".dat");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
  }

  static Bytes RandomBytes(size_t size) {
    std::mt19937 gen(static_cast<unsigned>(size));
    Bytes out(size);
    for (auto& b : out) b = static_cast<unsigned char>(gen());
    return out;
  }

  // Requests the list and joins the chunks the way the starter's buffer does.
  static Bytes FetchList(Client& client, std::vector<Reply>* replies = nullptr) {
    EXPECT_TRUE(client.Send(kRequest));
    return ReadList(client, {}, replies);
  }

  // Reads reply records until the last chunk, after the list's first bytes.
  static Bytes ReadList(Client& client, Bytes list, std::vector<Reply>* replies = nullptr) {
    for (;;) {
      std::optional<Bytes> record = client.ReadRecord();
      if (!record) {
        ADD_FAILURE() << "reply ended early";
        return list;
      }
      const Reply r = Decode(*record);
      EXPECT_EQ(r.message, '$');
      EXPECT_EQ(r.status, 1);
      list.insert(list.end(), r.data.begin(), r.data.end());
      EXPECT_LE(list.size(), (r.count + 1) * wren_tools::kClientBufferUnit) << "would not fit the client's buffer";
      if (replies) replies->push_back(r);
      if (r.index + 1 == r.count) return list;
    }
  }

  fs::path m_dir;
  int m_lists = 0;
};

TEST_F(FileInfoServerTest, ServesTheListInChunks) {
  struct Case {
    size_t listSize;
    const char* chunkSize;  // null: the default
    size_t chunks;
  } cases[] = {
      {0, nullptr, 1},
      {100, nullptr, 1},
      {5000, nullptr, 5},
      {5000, "1000", 5},
      {20000, "100", 200},
      {wren_tools::kMaxListBytes, nullptr, 255},  // the largest list: 255 chunks of 1029 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listSize);
    const Bytes list = RandomBytes(c.listSize);
    ServerProcess server;
    std::vector<std::string> args = {ListFile(list)};
    if (c.chunkSize) args.insert(args.begin(), {"--chunk-size", c.chunkSize});
    ASSERT_TRUE(server.Start(args)) << server.log();
    Client client(server.port());
    ASSERT_TRUE(client.connected());
    std::vector<Reply> replies;
    EXPECT_EQ(FetchList(client, &replies), list);
    ASSERT_EQ(replies.size(), c.chunks);
    for (size_t i = 0; i < replies.size(); ++i) {
      EXPECT_EQ(replies[i].count, c.chunks);
      EXPECT_EQ(replies[i].index, i);
      EXPECT_LE(replies[i].data.size(), wren_tools::kMaxChunkData);
      EXPECT_TRUE(replies[i].text.empty());
    }
    EXPECT_TRUE(server.WaitForLog("request from 127.0.0.1:")) << server.log();
  }
}

TEST_F(FileInfoServerTest, AnswersEveryRequestAndEveryClient) {
  const Bytes list = RandomBytes(3000);
  ServerProcess server;
  ASSERT_TRUE(server.Start({ListFile(list)})) << server.log();
  Client a(server.port()), b(server.port());
  EXPECT_EQ(FetchList(a), list);
  EXPECT_EQ(FetchList(b), list);
  EXPECT_EQ(FetchList(a), list);  // a second request on the same connection
}

TEST_F(FileInfoServerTest, StatusSwitches) {
  struct Case {
    const char* option;
    int32_t status;
    unsigned count, index;
  } cases[] = {
      {"-3", -3, 0, 0},     {"-1", -1, 0, 0},     {"-100", -100, 0, 0},
      {"-98", -98, 0, 0},   {"7", 7, 0, 0},       {"-100,1,0", -100, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--status", c.option})) << server.log();
    Client client(server.port());
    ASSERT_TRUE(client.Send(kRequest));
    std::optional<Bytes> record = client.ReadRecord();
    ASSERT_TRUE(record);
    const Reply r = Decode(*record);
    EXPECT_EQ(r.message, '$');
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.count, c.count);
    EXPECT_EQ(r.index, c.index);
    EXPECT_TRUE(r.data.empty());
  }
}

TEST_F(FileInfoServerTest, BadRecordSwitchSendsSomethingElseThanDollar) {
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--bad-record"})) << server.log();
  Client client(server.port());
  ASSERT_TRUE(client.Send(kRequest));
  std::optional<Bytes> record = client.ReadRecord();
  ASSERT_TRUE(record);
  EXPECT_NE(record->at(0), '$');
}

TEST_F(FileInfoServerTest, SilentSwitchNeverAnswers) {
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--silent"})) << server.log();
  Client client(server.port());
  ASSERT_TRUE(client.Send(kRequest));
  EXPECT_TRUE(server.WaitForLog("not answering")) << server.log();
  EXPECT_FALSE(client.Read(1, 300));
}

TEST_F(FileInfoServerTest, ForeignRecordClosesTheConnection) {
  ServerProcess server;
  ASSERT_TRUE(server.Start({ListFile(RandomBytes(10))})) << server.log();
  const Bytes cases[] = {
      {0x00, 0x01, 0x63},              // another message number
      {0x00, 0x05, 0x17, 0, 0, 0, 1},  // a pair announced but missing
      {0x00, 0x00},                    // an empty record
      {0x03, 0xE8, 0x17},              // 1000 bytes announced: more than any request
      {0xFF, 0xFF},
  };
  for (const Bytes& bytes : cases) {
    Client client(server.port());
    ASSERT_TRUE(client.Send(bytes));
    EXPECT_TRUE(client.ClosedByPeer());
  }
  EXPECT_TRUE(server.WaitForLog("unexpected record from")) << server.log();
  EXPECT_TRUE(server.WaitForLog("malformed request from")) << server.log();
  EXPECT_TRUE(server.WaitForLog("oversized request from")) << server.log();
  Client still(server.port());
  EXPECT_EQ(FetchList(still), RandomBytes(10));
}

TEST_F(FileInfoServerTest, StopsCleanlyOnSignals) {
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--silent"})) << server.log();
    Client client(server.port());  // an open connection does not hold the server up
    ASSERT_TRUE(client.Send(kRequest));
    ASSERT_TRUE(server.WaitForLog("not answering"));
    EXPECT_EQ(server.Signal(sig), 0);
    EXPECT_NE(server.log().find("stopped"), std::string::npos) << server.log();
    EXPECT_TRUE(client.ClosedByPeer());
  }
}

TEST_F(FileInfoServerTest, RefusesListsItCannotDeliverWhole) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{ListFile(RandomBytes(5000)), "--chunk-size", "8192"}, "does not fit"},  // one chunk, a 2 KiB buffer
      {{ListFile(RandomBytes(wren_tools::kMaxListBytes + 1))}, "does not fit"},
      {{(m_dir / "missing.dat").string()}, "cannot read"},
  };
  for (const Case& c : cases) {
    ServerProcess server;
    EXPECT_FALSE(server.Start(c.args));
    EXPECT_EQ(server.Wait(), 1);
    EXPECT_NE(server.log().find(c.message), std::string::npos) << server.log();
  }
}

// Many requests in one go: their replies are more than every socket buffer
// on the way holds, so a client that does not read keeps a reply in flight.
Bytes ManyRequests() {
  Bytes requests;
  for (int i = 0; i < 64; ++i) requests.insert(requests.end(), kRequest.begin(), kRequest.end());
  return requests;
}

TEST_F(FileInfoServerTest, PrintsItsVersion) {
  ServerProcess server;
  EXPECT_FALSE(server.Start({"--version"}));
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_EQ(server.log().rfind("wren-fileinfo-server 1.", 0), 0u) << server.log();
}

// A connection holds a slot only while it keeps to the time limits: a whole
// request soon after connecting (or after its last reply), whatever it sends.
TEST_F(FileInfoServerTest, DropsConnectionsWithoutAWholeRequestInTime) {
  const Bytes list = RandomBytes(3000);
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--request-timeout", "0.5", ListFile(list)})) << server.log();
  struct Case {
    const char* what;
    Bytes sent;
    bool fetchFirst;
  } cases[] = {
      {"nothing", {}, false},
      {"one byte", {0x00}, false},
      {"all but the last byte", Bytes(kRequest.begin(), kRequest.end() - 1), false},
      {"nothing after a reply", {}, true},
  };
  std::vector<std::unique_ptr<Client>> clients;
  for (const Case& c : cases) {
    clients.push_back(std::make_unique<Client>(server.port()));
    ASSERT_TRUE(clients.back()->connected());
    if (c.fetchFirst) {
      EXPECT_EQ(FetchList(*clients.back()), list);
    }
    ASSERT_TRUE(clients.back()->Send(c.sent));
  }
  for (size_t i = 0; i < clients.size(); ++i) EXPECT_TRUE(clients[i]->ClosedByPeer()) << cases[i].what;
  EXPECT_TRUE(server.WaitForLog("no complete request within 0.5 s")) << server.log();
  Client ordinary(server.port());
  EXPECT_EQ(FetchList(ordinary), list);
}

// Ten thousand connections that sent one byte each, and an ordinary fetch
// among them is still answered.
TEST_F(FileInfoServerTest, HoldsTenThousandConnectionsAndServesAnotherOne) {
  constexpr size_t kHeld = 10000;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < kHeld + 100) GTEST_SKIP() << "the descriptor limit is " << limit.rlim_cur;
  const Bytes list = RandomBytes(41886);
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--request-timeout", "120", ListFile(list)})) << server.log();
  std::vector<std::unique_ptr<Client>> held;
  for (size_t i = 0; i < kHeld; ++i) {
    held.push_back(std::make_unique<Client>(server.port()));
    ASSERT_TRUE(held.back()->connected()) << i;
    ASSERT_TRUE(held.back()->Send({0x00}));
  }
  Client ordinary(server.port());
  EXPECT_EQ(FetchList(ordinary), list);
  EXPECT_EQ(server.log().find("refused"), std::string::npos) << server.log().substr(0, 2000);
}

TEST_F(FileInfoServerTest, DropsAReplyTheClientStopsReading) {
  const Bytes list = RandomBytes(wren_tools::kMaxListBytes);
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--send-timeout", "0.5", ListFile(list)})) << server.log();
  Client stalled(server.port(), 2048);
  ASSERT_TRUE(stalled.Send(ManyRequests()));  // and reads nothing
  EXPECT_TRUE(server.WaitForLog("the client stopped reading the reply for 0.5 s")) << server.log();
  Client ordinary(server.port());
  EXPECT_EQ(FetchList(ordinary), list);
}

TEST_F(FileInfoServerTest, LimitsConnectionsInAllAndPerAddress) {
  const Bytes list = RandomBytes(100);
  for (const char* option : {"--max-connections", "--max-per-address"}) {
    SCOPED_TRACE(option);
    ServerProcess server;
    ASSERT_TRUE(server.Start({option, "2", "--request-timeout", "60", ListFile(list)})) << server.log();
    auto first = std::make_unique<Client>(server.port());
    Client second(server.port());
    EXPECT_EQ(FetchList(second), list);
    Client third(server.port());  // accepted and closed at once
    EXPECT_TRUE(third.ClosedByPeer());
    EXPECT_TRUE(server.WaitForLog("refused 127.0.0.1:")) << server.log();
    first.reset();
    ASSERT_TRUE(server.WaitForLog("closed by the client")) << server.log();
    Client fourth(server.port());
    EXPECT_EQ(FetchList(fourth), list);
  }
}

// SIGHUP reads the list again: open connections stay, replies in flight end
// with the list they started with, later requests get the new one, and a list
// that cannot be served leaves the previous one in place.
TEST_F(FileInfoServerTest, ReloadsTheListOnSighup) {
  const Bytes before = RandomBytes(wren_tools::kMaxListBytes), after = RandomBytes(5000);
  const std::string path = ListFile(before);
  ServerProcess server;
  ASSERT_TRUE(server.Start({path})) << server.log();
  Client idle(server.port()), slow(server.port(), 2048);
  EXPECT_EQ(FetchList(idle), before);
  ASSERT_TRUE(slow.Send(ManyRequests()));
  std::optional<Bytes> first = slow.ReadRecord();
  ASSERT_TRUE(first);

  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(after.data()), static_cast<std::streamsize>(after.size()));
  server.Send(SIGHUP);
  ASSERT_TRUE(server.WaitForLog("reloaded " + path)) << server.log();
  EXPECT_EQ(FetchList(idle), after);
  // Every reply whole: the old list until the reload, the new one after it.
  std::string order;
  for (int i = 0; i < 64; ++i) {
    const Bytes got = ReadList(slow, i == 0 ? Decode(*first).data : Bytes{});
    order += got == before ? 'B' : got == after ? 'A' : '?';
  }
  EXPECT_EQ(order.find_first_not_of('B'), order.find('A')) << order;
  EXPECT_EQ(order.find_first_not_of('A', order.find('A')), std::string::npos) << order;
  EXPECT_EQ(order[0], 'B') << order;
  EXPECT_EQ(order.back(), 'A') << order;

  fs::remove(path);
  server.Send(SIGHUP);
  ASSERT_TRUE(server.WaitForLog("reload failed, still serving the previous list: cannot read")) << server.log();
  Client later(server.port());
  EXPECT_EQ(FetchList(later), after);
}

// SIGTERM: no new connections; a connection between two requests is closed,
// one that has not asked yet may still ask; replies in flight are sent whole;
// then the end.
TEST_F(FileInfoServerTest, StopLetsRepliesInFlightFinish) {
  const Bytes list = RandomBytes(wren_tools::kMaxListBytes);
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--shutdown-grace", "60", ListFile(list)})) << server.log();
  Client between(server.port());
  EXPECT_EQ(FetchList(between), list);
  auto fresh = std::make_unique<Client>(server.port());
  auto slow = std::make_unique<Client>(server.port(), 2048);
  ASSERT_TRUE(slow->Send(ManyRequests()));
  std::optional<Bytes> first = slow->ReadRecord();
  ASSERT_TRUE(first);
  server.Send(SIGTERM);
  ASSERT_TRUE(server.WaitForLog("stopping: 1 replies in flight and 1 connections waiting")) << server.log();
  EXPECT_TRUE(between.ClosedByPeer());
  EXPECT_EQ(FetchList(*fresh), list);
  fresh.reset();
  EXPECT_FALSE(Client(server.port()).connected()) << "still accepting after SIGTERM";
  // The replies already under way arrive whole, then the connection ends.
  const Bytes rest = slow->ReadToEnd();
  Bytes joined = Decode(*first).data;
  size_t lists = 0;
  for (size_t at = 0; at + 2 <= rest.size();) {
    const size_t length = size_t(rest[at]) << 8 | rest[at + 1];
    ASSERT_LE(at + 2 + length, rest.size()) << "a record cut short";
    const Reply r = Decode(Bytes(rest.begin() + at + 2, rest.begin() + at + 2 + length));
    at += 2 + length;
    joined.insert(joined.end(), r.data.begin(), r.data.end());
    if (r.index + 1 == r.count) {
      EXPECT_EQ(joined, list);
      joined.clear();
      ++lists;
    }
  }
  EXPECT_TRUE(joined.empty()) << "a reply cut short";
  EXPECT_GE(lists, 1u);
  EXPECT_LT(lists, 64u) << "requests after SIGTERM were answered";
  slow.reset();
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_NE(server.log().find("closed after the reply: the server is stopping"), std::string::npos) << server.log();
  EXPECT_NE(server.log().find("stopped"), std::string::npos) << server.log();
}

// Loops on several threads share the port, the reload and the stop.
TEST_F(FileInfoServerTest, ThreadsShareThePortTheReloadAndTheStop) {
  const Bytes before = RandomBytes(3000), after = RandomBytes(7000);
  const std::string path = ListFile(before);
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--threads", "3", path})) << server.log();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 30; ++i) clients.push_back(std::make_unique<Client>(server.port()));
  for (auto& c : clients) EXPECT_EQ(FetchList(*c), before);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(after.data()), static_cast<std::streamsize>(after.size()));
  server.Send(SIGHUP);
  ASSERT_TRUE(server.WaitForLog("reloaded " + path)) << server.log();
  for (auto& c : clients) EXPECT_EQ(FetchList(*c), after);
  EXPECT_EQ(server.Signal(SIGTERM), 0) << server.log();
  EXPECT_NE(server.log().find("stopped"), std::string::npos) << server.log();
}

// ---- Figures and health (--metrics), and --watch ----

struct HttpReply {
  int status = 0;
  std::string body;
};

// One request to the metrics listener, the way a scraper or a load balancer asks.
HttpReply HttpGet(uint16_t port, const std::string& request) {
  Client client(port);
  EXPECT_TRUE(client.Send(Bytes(request.begin(), request.end())));
  const Bytes bytes = client.ReadToEnd();
  const std::string text(bytes.begin(), bytes.end());
  HttpReply reply;
  if (text.rfind("HTTP/1.1 ", 0) == 0) reply.status = std::atoi(text.c_str() + 9);
  const size_t body = text.find("\r\n\r\n");
  if (body != std::string::npos) reply.body = text.substr(body + 4);
  return reply;
}

uint16_t MetricsPort(ServerProcess& server) {
  const std::string marker = "metrics on http://127.0.0.1:";
  if (!server.WaitForLog(marker)) return 0;
  return static_cast<uint16_t>(std::atoi(server.log().c_str() + server.log().find(marker) + marker.size()));
}

// Prometheus text read back: every sample by its name and labels, and each
// family's type. A sample whose family has no HELP and TYPE line fails.
struct Scrape {
  std::map<std::string, double> samples;
  std::map<std::string, std::string> types;

  explicit Scrape(const std::string& text) {
    std::istringstream in(text);
    std::map<std::string, int> described;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("# HELP ", 0) == 0) {
        ++described[line.substr(7, line.find(' ', 7) - 7)];
      } else if (line.rfind("# TYPE ", 0) == 0) {
        const std::string name = line.substr(7, line.find(' ', 7) - 7);
        types[name] = line.substr(line.rfind(' ') + 1);
        ++described[name];
      } else {
        const size_t space = line.rfind(' ');
        EXPECT_NE(space, std::string::npos) << line;
        if (space == std::string::npos) continue;
        const std::string key = line.substr(0, space);
        char* end = nullptr;
        const double value = std::strtod(line.c_str() + space + 1, &end);
        EXPECT_EQ(*end, '\0') << line;
        EXPECT_TRUE(samples.emplace(key, value).second) << "twice: " << key;
        std::string family = key.substr(0, key.find('{'));
        for (const char* suffix : {"_bucket", "_sum", "_count"})
          if (!types.count(family) && family.size() > std::strlen(suffix) &&
              family.compare(family.size() - std::strlen(suffix), std::string::npos, suffix) == 0)
            family.resize(family.size() - std::strlen(suffix));
        EXPECT_EQ(described[family], 2) << "no HELP and TYPE for " << key;
      }
    }
  }
  double operator[](const std::string& key) const {
    auto it = samples.find(key);
    EXPECT_NE(it, samples.end()) << key;
    return it == samples.end() ? -1 : it->second;
  }
};

std::string Hex(const CSha256::Digest& digest) {
  std::string out;
  char two[3];
  for (uint8_t b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

TEST_F(FileInfoServerTest, MetricsCountWhatHappened) {
  const Bytes list = RandomBytes(5000), next = RandomBytes(3000);
  const std::string path = ListFile(list);
  const double started = static_cast<double>(std::time(nullptr));
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--metrics", "127.0.0.1:0", "--request-timeout", "0.3", "--max-connections", "3", path}))
      << server.log();
  const uint16_t metrics = MetricsPort(server);
  ASSERT_NE(metrics, 0) << server.log();
  EXPECT_EQ(HttpGet(metrics, "GET /health HTTP/1.0\r\n\r\n").status, 200);

  size_t received = 0;
  {
    Client client(server.port());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FetchList(client), list);
    received = client.received();
  }
  ASSERT_TRUE(server.WaitForLog("closed by the client")) << server.log();
  Client oversized(server.port()), garbage(server.port());
  ASSERT_TRUE(oversized.Send({0x01, 0x00}));
  ASSERT_TRUE(garbage.Send({0x00, 0x03, 0x18, 0x00, 0x00}));
  ASSERT_TRUE(server.WaitForLog("oversized request")) << server.log();
  ASSERT_TRUE(server.WaitForLog("unexpected record")) << server.log();
  {
    // Three connections that never ask fill the limit; a fourth is refused;
    // the three are dropped on the request time-out.
    Client a(server.port()), b(server.port()), c(server.port());
    Client refused(server.port());
    EXPECT_TRUE(refused.ClosedByPeer());
    ASSERT_TRUE(server.WaitForLog("no complete request within", 3)) << server.log();
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(next.data()), static_cast<std::streamsize>(next.size()));
  server.Send(SIGHUP);
  ASSERT_TRUE(server.WaitForLog("reloaded")) << server.log();
  fs::rename(path, path + ".away");
  server.Send(SIGHUP);
  ASSERT_TRUE(server.WaitForLog("reload failed")) << server.log();

  const HttpReply reply = HttpGet(metrics, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_EQ(reply.status, 200);
  const Scrape m(reply.body);
  EXPECT_EQ(m["wren_fileinfo_connections_open"], 0);
  EXPECT_EQ(m["wren_fileinfo_connections_max"], 3);
  EXPECT_EQ(m["wren_fileinfo_connections_accepted_total"], 7);
  EXPECT_EQ(m["wren_fileinfo_fetches_total"], 3);
  EXPECT_EQ(m["wren_fileinfo_sent_bytes_total"], received);
  EXPECT_EQ(m["wren_fileinfo_refused_total{kind=\"timeout\"}"], 3);
  EXPECT_EQ(m["wren_fileinfo_refused_total{kind=\"oversized\"}"], 1);
  EXPECT_EQ(m["wren_fileinfo_refused_total{kind=\"garbage\"}"], 1);
  EXPECT_EQ(m["wren_fileinfo_refused_total{kind=\"limit\"}"], 1);
  EXPECT_EQ(m["wren_fileinfo_replies_dropped_total"], 0);
  EXPECT_EQ(m["wren_fileinfo_reloads_total{result=\"ok\"}"], 1);
  EXPECT_EQ(m["wren_fileinfo_reloads_total{result=\"failed\"}"], 1);
  EXPECT_EQ(m["wren_fileinfo_list_bytes"], next.size());
  EXPECT_EQ(m["wren_fileinfo_list_info{sha256=\"" + Hex(CSha256::Of(next.data(), next.size())) + "\"}"], 1);
  EXPECT_GE(m["wren_fileinfo_list_loaded_timestamp_seconds"], started);
  EXPECT_LE(m["wren_fileinfo_list_loaded_timestamp_seconds"], static_cast<double>(std::time(nullptr)) + 1);
  EXPECT_EQ(m["wren_fileinfo_stopping"], 0);
  EXPECT_EQ(m["wren_fileinfo_threads"], 1);
  EXPECT_EQ(m.types.at("wren_fileinfo_fetches_total"), "counter");
  EXPECT_EQ(m.types.at("wren_fileinfo_connections_open"), "gauge");
  // The histogram: cumulative buckets up to +Inf, which is the count.
  EXPECT_EQ(m.types.at("wren_fileinfo_fetch_duration_seconds"), "histogram");
  double previous = 0;
  size_t buckets = 0;
  for (const auto& [key, value] : m.samples)
    if (key.rfind("wren_fileinfo_fetch_duration_seconds_bucket{", 0) == 0) ++buckets;
  EXPECT_GE(buckets, 5u);
  for (const char* le : {"0.0005", "0.001", "0.01", "0.1", "1", "10", "+Inf"}) {
    const double value = m[std::string("wren_fileinfo_fetch_duration_seconds_bucket{le=\"") + le + "\"}"];
    EXPECT_GE(value, previous) << le;
    previous = value;
  }
  EXPECT_EQ(previous, 3);
  EXPECT_EQ(m["wren_fileinfo_fetch_duration_seconds_count"], 3);
  EXPECT_GT(m["wren_fileinfo_fetch_duration_seconds_sum"], 0);

  struct Case {
    const char* request;
    int status;
  } cases[] = {
      {"HEAD /metrics HTTP/1.0\r\n\r\n", 200},
      {"GET /health?x=1 HTTP/1.0\r\n\r\n", 200},
      {"GET /other HTTP/1.0\r\n\r\n", 404},
      {"POST /metrics HTTP/1.0\r\n\r\n", 405},
  };
  for (const Case& c : cases) EXPECT_EQ(HttpGet(metrics, c.request).status, c.status) << c.request;
  EXPECT_TRUE(HttpGet(metrics, "HEAD /metrics HTTP/1.0\r\n\r\n").body.empty());
}

// From SIGTERM on, /health says 503 so that a load balancer sends new
// clients elsewhere while the replies in flight finish.
TEST_F(FileInfoServerTest, HealthTurnsUnavailableWhenStopping) {
  const Bytes list = RandomBytes(3000);
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--metrics", "127.0.0.1:0", "--shutdown-grace", "30", "--request-timeout", "30",
                            ListFile(list)}))
      << server.log();
  const uint16_t metrics = MetricsPort(server);
  ASSERT_NE(metrics, 0) << server.log();
  Client waiting(server.port());  // has not asked yet: the server waits for it
  ASSERT_TRUE(server.WaitForLog("metrics on"));
  server.Send(SIGTERM);
  ASSERT_TRUE(server.WaitForLog("stopping:")) << server.log();
  const HttpReply health = HttpGet(metrics, "GET /health HTTP/1.0\r\n\r\n");
  EXPECT_EQ(health.status, 503);
  EXPECT_EQ(health.body, "stopping\n");
  EXPECT_EQ(Scrape(HttpGet(metrics, "GET /metrics HTTP/1.0\r\n\r\n").body)["wren_fileinfo_stopping"], 1);
  EXPECT_EQ(FetchList(waiting), list);
}

TEST_F(FileInfoServerTest, WatchReadsTheListAgainWhenItIsReplaced) {
  const fs::path folder = m_dir / "publish";
  fs::create_directories(folder);
  const fs::path path = folder / "filelist.dat";
  auto write = [](const fs::path& to, const Bytes& bytes) {
    std::ofstream(to, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  write(path, RandomBytes(100));
  ServerProcess server;
  ASSERT_TRUE(server.Start({"--watch", path.string()})) << server.log();
  ASSERT_TRUE(server.WaitForLog("watching " + folder.string())) << server.log();

  struct Case {
    const char* what;
    std::function<void(const Bytes&)> replace;
  } cases[] = {
      {"renamed into place, as wren-publish does",
       [&](const Bytes& b) {
         write(folder / ".tmp-1", b);  // another file of the folder: no reload
         fs::rename(folder / ".tmp-1", path);
       }},
      {"written over", [&](const Bytes& b) { write(path, b); }},
      {"the whole folder replaced",
       [&](const Bytes& b) {
         fs::create_directories(m_dir / "new");
         write(m_dir / "new" / "filelist.dat", b);
         fs::rename(folder, m_dir / "old");
         fs::rename(m_dir / "new", folder);
       }},
      {"renamed into the new folder", [&](const Bytes& b) {
         write(folder / "next.dat", b);
         fs::rename(folder / "next.dat", path);
       }},
  };
  size_t reloads = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes bytes = RandomBytes(200 + 100 * reloads);
    c.replace(bytes);
    ASSERT_TRUE(server.WaitForLog("reloaded " + path.string(), ++reloads)) << server.log();
    Client client(server.port());
    EXPECT_EQ(FetchList(client), bytes);
  }
  EXPECT_EQ(server.Signal(SIGTERM), 0);
  size_t replaced = 0;
  for (size_t at = server.log().find("was replaced"); at != std::string::npos;
       at = server.log().find("was replaced", at + 1))
    ++replaced;
  EXPECT_EQ(replaced, reloads) << server.log();
}

}  // namespace
