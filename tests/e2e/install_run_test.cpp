// The install run while it waits for a file-information server that accepts
// the connection and never answers: what the user can and cannot do then.
#include <winsock2.h>

#include "scenario.h"

namespace e2e {
namespace {

// A TCP listener on 127.0.0.1 that accepts connections (the system does, from
// its backlog) and never sends a byte.
class SilentServer {
 public:
  SilentServer() {
    WSADATA wsa;
    started_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof addr;
    if (socket_ != INVALID_SOCKET && bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        listen(socket_, 4) == 0 && getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
      port_ = ntohs(addr.sin_port);
  }
  ~SilentServer() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (started_) WSACleanup();
  }
  unsigned Port() const { return port_; }

 private:
  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  unsigned port_ = 0;
};

class InstallRun : public WizardScenario {
 protected:
  // The frame's answer to a shut-down request: nonzero allows it.
  DWORD_PTR QueryEndSession() const {
    DWORD_PTR answer = 0xDEAD;
    SendMessageTimeoutW(app_->Frame(), WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 3000, &answer);
    return answer;
  }
};

TEST_F(InstallRun, WaitingRunOffersNoButtonAndRefusesShutDown) {
  SilentServer server;
  ASSERT_NE(server.Port(), 0u);
  UseServer("127.0.0.1:" + std::to_string(server.Port()));

  ASSERT_TRUE(Start({{"InstallPath", WorkDir()}}));
  EXPECT_NE(QueryEndSession(), 0u) << "refused on the welcome page";
  ASSERT_TRUE(Go(kNext, kTitleFolder));
  ASSERT_TRUE(Go(kNext, kTitleOption));
  EXPECT_NE(QueryEndSession(), 0u) << "refused on the option page";

  ASSERT_TRUE(Go(kNext, kTitleInstall));
  EXPECT_EQ(app().Subtitle(), Str(5013));
  // The run waits for the server's reply: nothing to press.
  EXPECT_TRUE(WaitUntil([&] { return ButtonStates() == "back:off next:off finish:hidden cancel:off"; }))
      << ButtonStates();
  EXPECT_EQ(QueryEndSession(), 0u) << "a shut-down was allowed during the run";
  EXPECT_EQ(app().Title(), Str(kTitleInstall));
  ShotPage("install-waiting");
}

// Cancel is off while no transfer runs, and Escape, which stands for it, is
// ignored then: no question, and the run goes on.
TEST_F(InstallRun, EscapeWithoutATransferIsIgnored) {
  SilentServer server;
  ASSERT_NE(server.Port(), 0u);
  UseServer("127.0.0.1:" + std::to_string(server.Port()));
  ASSERT_TRUE(Start({{"InstallPath", WorkDir()}}));
  ASSERT_TRUE(Go(kNext, kTitleFolder));
  ASSERT_TRUE(Go(kNext, kTitleOption));
  ASSERT_TRUE(Go(kNext, kTitleInstall));
  ASSERT_TRUE(WaitUntil([&] { return ButtonStates() == "back:off next:off finish:hidden cancel:off"; }))
      << ButtonStates();
  PressKey(app().CurrentPage(), VK_ESCAPE);
  PressKey(app().Wizard(), VK_ESCAPE);
  EXPECT_EQ(app().WaitPopup(2000), nullptr) << "Escape asked something";
  EXPECT_EQ(app().Title(), Str(kTitleInstall));
  EXPECT_TRUE(app().Running());
}

}  // namespace
}  // namespace e2e
