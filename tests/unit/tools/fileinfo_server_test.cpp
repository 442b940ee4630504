// The file-information server as the starter meets it: the real program on a
// free loopback port, a plain socket client, and a decoder of our own for the
// "$" reply records.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/list_limits.h"

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

  // Reads output until it holds text; false at the end of the output or after the guard.
  bool WaitForLog(const std::string& text) {
    while (m_log.find(text) == std::string::npos) {
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
  explicit Client(uint16_t port) {
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
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
    }
    return out;
  }

  // One record of the 2-byte length framing.
  std::optional<Bytes> ReadRecord(int waitMs = kHangGuardMs) {
    std::optional<Bytes> header = Read(2, waitMs);
    if (!header) return std::nullopt;
    return Read(static_cast<size_t>((*header)[0] << 8 | (*header)[1]), waitMs);
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
    Bytes list;
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
  };
  for (const Bytes& bytes : cases) {
    Client client(server.port());
    ASSERT_TRUE(client.Send(bytes));
    EXPECT_TRUE(client.ClosedByPeer());
  }
  EXPECT_TRUE(server.WaitForLog("unexpected record from")) << server.log();
  EXPECT_TRUE(server.WaitForLog("malformed request from")) << server.log();
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

}  // namespace
