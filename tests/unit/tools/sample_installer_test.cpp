// The sample installer under Windows: launched as the starter launches it, it
// must stay until its window closes and then leave its marker beside itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string TempFolder() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string folder = std::string(base) + "wren-sample-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

TEST(SampleInstaller, WritesItsMarkerWhenItEnds) {
  const std::string folder = TempFolder();
  const std::string exe = folder + "MarloSetup.exe";
  const std::string marker = folder + "MarloSetup.done";
  ASSERT_TRUE(CopyFileA(WREN_SAMPLE_INSTALLER, exe.c_str(), FALSE)) << GetLastError();
  DeleteFileA(marker.c_str());

  std::string commandLine = "\"" + exe + "\" /ms=200";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                             &pi))
      << GetLastError();
  // Generous: only a hang guard.
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  GetExitCodeProcess(pi.hProcess, &exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(exitCode, 0u);

  std::ifstream in(marker, std::ios::binary);
  ASSERT_TRUE(in) << "no marker";
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("ran " + exe), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("args /ms=200"), std::string::npos) << text.str();
  in.close();

  DeleteFileA(marker.c_str());
  DeleteFileA(exe.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
