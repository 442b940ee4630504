// Checks the environment the other tests rely on and prints it in the log.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

TEST(Environment, JapaneseCodePageAndTestDrives) {
  UINT acp = ::GetACP();
  std::printf("GetACP() = %u\n", acp);
  EXPECT_EQ(acp, 932u);
  EXPECT_EQ(::GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(::GetDriveTypeA("R:\\"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(::GetDriveTypeA("S:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
  EXPECT_EQ(::GetDriveTypeA("T:\\"), static_cast<UINT>(DRIVE_REMOTE));
  EXPECT_EQ(::GetDriveTypeA("W:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
}
#else
TEST(Environment, NativeBuild) { SUCCEED(); }
#endif
