#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/exit_codes.h"

namespace {

TEST(CommandLine, ArgumentsFollowTheProgramName) {
  EXPECT_EQ(ArgumentsOf("\"C:\\Program Files\\WrenStarter.exe\" /quiet"), " /quiet");
  EXPECT_EQ(ArgumentsOf("WrenStarter.exe /quiet /boot"), " /quiet /boot");
  EXPECT_EQ(ArgumentsOf("WrenStarter.exe"), "");
  EXPECT_EQ(ArgumentsOf("\"unterminated /quiet"), "");
}

TEST(CommandLine, QuotesKeepBlanksInsideOneWord) {
  const std::vector<std::string> words = SplitArguments("  /quiet /image=\"C:\\My Games\\Marlo\"  \"/log=a b.log\" ");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[0], "/quiet");
  EXPECT_EQ(words[1], "/image=C:\\My Games\\Marlo");
  EXPECT_EQ(words[2], "/log=a b.log");
  // A path in code page 932 whose second byte is a backslash (表 = 0x95 0x5C) stays whole.
  EXPECT_EQ(SplitArguments("/image=C:\\\x95\x5C"), std::vector<std::string>{"/image=C:\\\x95\x5C"});
}

TEST(CommandLine, AcceptedLines) {
  CCommandLine line;
  ASSERT_TRUE(ParseCommandLine("", &line));
  EXPECT_EQ(line.mode, RunMode::Wizard);

  ASSERT_TRUE(ParseCommandLine(
      "/QUIET /image=C:\\img /download=D:\\dl /server=files.example:9071 /proxy=proxy.example:8080 /boot /save "
      "/log=C:\\run.log",
      &line));
  EXPECT_EQ(line.mode, RunMode::Quiet);
  EXPECT_EQ(line.strImage, "C:\\img");
  EXPECT_EQ(line.strDownload, "D:\\dl");
  EXPECT_EQ(line.strServer, "files.example:9071");
  EXPECT_EQ(line.proxy, ProxyChoice::Named);
  EXPECT_EQ(line.strProxyServer, "proxy.example:8080");
  EXPECT_TRUE(line.bBoot);
  EXPECT_TRUE(line.bSave);
  EXPECT_EQ(line.strLog, "C:\\run.log");

  ASSERT_TRUE(ParseCommandLine("-passive -proxy=None -server=files.example", &line));
  EXPECT_EQ(line.mode, RunMode::Passive);
  EXPECT_EQ(line.proxy, ProxyChoice::None);
  EXPECT_EQ(line.strServer, "files.example");
  EXPECT_FALSE(line.bBoot);

  ASSERT_TRUE(ParseCommandLine("/passive /proxy=system", &line));
  EXPECT_EQ(line.proxy, ProxyChoice::System);
  EXPECT_EQ(line.nConnections, 0);  // the stored ones
  EXPECT_EQ(line.nSpeedLimit, -1);
  ASSERT_TRUE(ParseCommandLine("/quiet /connections=8 /limit=0", &line));
  EXPECT_EQ(line.nConnections, 8);
  EXPECT_EQ(line.nSpeedLimit, 0);
  ASSERT_TRUE(ParseCommandLine("/quiet /connections=1 /limit=1000000", &line));
  EXPECT_EQ(line.nConnections, 1);
  EXPECT_EQ(line.nSpeedLimit, 1000000);
  // The wizard takes a log file and the usage, nothing that overrides settings.
  ASSERT_TRUE(ParseCommandLine("/log=C:\\support.log", &line));
  EXPECT_EQ(line.mode, RunMode::Wizard);
  ASSERT_TRUE(ParseCommandLine("/?", &line));
  EXPECT_TRUE(line.bHelp);
}

TEST(CommandLine, RefusedLinesNameTheOption) {
  struct Case {
    const char* line;
    const char* bad;
    RunMode mode;  // what a refused line still tells about the window
  };
  const Case cases[] = {
      {"/quiet /frobnicate", "/frobnicate", RunMode::Quiet},
      {"/quiet stray", "stray", RunMode::Quiet},
      {"/quiet /", "/", RunMode::Quiet},
      {"/quiet /image=", "/image=", RunMode::Quiet},
      {"/quiet /download=", "/download=", RunMode::Quiet},
      {"/quiet /log=", "/log=", RunMode::Quiet},
      {"/quiet /boot=1", "/boot=1", RunMode::Quiet},
      {"/quiet=yes", "/quiet=yes", RunMode::Wizard},
      {"/quiet /server=", "/server=", RunMode::Quiet},
      {"/quiet /server=:9070", "/server=:9070", RunMode::Quiet},
      {"/quiet /server=host:0", "/server=host:0", RunMode::Quiet},
      {"/quiet /server=host:65536", "/server=host:65536", RunMode::Quiet},
      {"/quiet /server=host:90a", "/server=host:90a", RunMode::Quiet},
      {"/quiet /server=\"my host\"", "/server=my host", RunMode::Quiet},
      {"/quiet /proxy=proxy.example", "/proxy=proxy.example", RunMode::Quiet},
      {"/quiet /proxy=", "/proxy=", RunMode::Quiet},
      {"/quiet /passive", "/passive", RunMode::Quiet},
      {"/quiet /connections=0", "/connections=0", RunMode::Quiet},
      {"/quiet /connections=9", "/connections=9", RunMode::Quiet},
      {"/quiet /connections=", "/connections=", RunMode::Quiet},
      {"/quiet /connections=-1", "/connections=-1", RunMode::Quiet},
      {"/quiet /limit=1000001", "/limit=1000001", RunMode::Quiet},
      {"/quiet /limit=5k", "/limit=5k", RunMode::Quiet},
      {"/quiet /limit=\" 4294967297\"", "/limit= 4294967297", RunMode::Quiet},
      {"/connections=2", "/connections=2", RunMode::Wizard},
      {"/frobnicate /quiet", "/frobnicate", RunMode::Quiet},
      {"/image=C:\\img", "/image=C:\\img", RunMode::Wizard},
      {"/log=C:\\a.log /save", "/save", RunMode::Wizard},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CCommandLine line;
    EXPECT_FALSE(ParseCommandLine(c.line, &line));
    EXPECT_EQ(line.strBadOption, c.bad);
    EXPECT_EQ(line.mode, c.mode);
  }
  // The log still goes where the line asked, wherever /log stands.
  CCommandLine line;
  EXPECT_FALSE(ParseCommandLine("/quiet /frobnicate /log=C:\\a.log", &line));
  EXPECT_EQ(line.strLog, "C:\\a.log");
}

TEST(ExitCodes, OnePerOutcome) {
  struct Case {
    int type;
    int code;
    int exit;
  };
  const Case cases[] = {
      {0, 0, EXIT_OK},           {0, 12, EXIT_OK},
      {2, 0, EXIT_NO_SERVER},    {1, -199, EXIT_NO_SERVER},       {1, -198, EXIT_NO_SERVER},
      {1, -197, EXIT_NO_SERVER}, {1, -195, EXIT_NO_SERVER},       {1, -193, EXIT_SERVER_STATUS},
      {1, -192, EXIT_SERVER_STATUS}, {1, -191, EXIT_SERVER_STATUS}, {1, -190, EXIT_SERVER_STATUS},
      {1, -189, EXIT_SERVER_STATUS}, {1, -188, EXIT_LIST_REFUSED},  {1, -183, EXIT_LIST_REFUSED},
      {1, -296, EXIT_DOWNLOAD_FAILED}, {1, -285, EXIT_DOWNLOAD_FAILED}, {1, -284, EXIT_DOWNLOAD_FAILED},
      {1, -286, EXIT_CANCELLED}, {1, -297, EXIT_DISK_SHORT},     {1, -300, EXIT_INSTALL_FAILED},
      {1, -298, EXIT_INSTALL_FAILED}, {1, -400, EXIT_INSTALL_FAILED}, {1, -367, EXIT_INSTALL_FAILED},
      {1, -200, EXIT_FATAL},     {1, -196, EXIT_FATAL},           {1, -194, EXIT_FATAL},
      {1, -97, EXIT_FATAL},      {1, -150, EXIT_FATAL},           {3, 0, EXIT_FATAL},
      {1, -170, EXIT_NOT_SIGNED}, {1, -175, EXIT_NOT_SIGNED},     {1, -176, EXIT_NOT_SIGNED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.code));
    EXPECT_EQ(ExitCodeOfRun(c.type, c.code), c.exit);
  }
  EXPECT_STREQ(ExitCodeName(EXIT_NO_SERVER), "no-server");
  EXPECT_STREQ(ExitCodeName(99), "unknown");
}

}  // namespace
