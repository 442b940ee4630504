// Signed publications: the build of the program that carries the demo
// publisher's public key (WREN_E2E_SIGNED_EXE) against the publications of
// signed_servers.py. It builds and launches what the publisher signed; it
// refuses a list or a file that someone between them changed, a manifest it
// cannot trust and an older manifest replayed after a newer one, and then
// leaves no such file in the image. The build without a key goes on as before.
#include <filesystem>
#include <string>
#include <vector>

#include "build_run.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

enum : unsigned {
  kManifestUnavailable = 10600,
  kManifestRefused = 10601,
  kListNotSigned = 10602,
  kManifestOlder = 10603,
  kFileNotSigned = 10604,
};

constexpr DWORD kInstallerWaitMs = 60000;

class SignedRun : public BuildRun {
 protected:
  void SetUp() override {
    BuildRun::SetUp();
    if (HasFatalFailure()) return;
    signedExe_ = Env("WREN_E2E_SIGNED_EXE");
    ASSERT_FALSE(signedExe_.empty()) << "WREN_E2E_SIGNED_EXE names the build with the demo key";
    if (Env("WREN_FI_CURRENT").empty())
      GTEST_SKIP() << "no signed publications (the native wren-publish cannot sign, or is not built)";
  }

  // A run of the build with the key on the list server that `portVariable` names.
  ::testing::AssertionResult StartSignedRun(const char* portVariable, bool bootInstaller) {
    return StartRun(Env(portVariable), bootInstaller, {}, signedExe_);
  }

  // Waits for the finish page of a run that must succeed.
  void ExpectRunSuccess() {
    ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
  }

  void FinishAndExit() {
    ASSERT_TRUE(Click(app().Button(kFinish)));
    ASSERT_TRUE(app().WaitExit(kInstallerWaitMs));
  }

  static bool IsEmptyFolder(const std::string& folder) {
    std::error_code ec;
    return fs::is_empty(ToWide(folder), ec) && !ec;
  }

  // Files below folder whose bytes are `bytes`.
  static std::vector<std::string> FilesHolding(const std::string& folder, const std::string& bytes) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(ToWide(folder)))
      if (entry.is_regular_file() && entry.file_size() == bytes.size() && ReadFileBytes(entry.path()) == bytes)
        found.push_back(ToUtf8(entry.path().wstring()));
    return found;
  }

  std::string signedExe_;
};

TEST_F(SignedRun, BuildsWhatThePublisherSignedAndLaunchesItsInstaller) {
  ASSERT_TRUE(StartSignedRun("WREN_FI_CURRENT", true));
  ASSERT_NO_FATAL_FAILURE(ExpectRunSuccess());
  ShotPage("finish");
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  ExpectImageMatchesGame();
  EXPECT_TRUE(fs::exists(fs::path(ToWide(image_)) / "MarloSetup.done")) << "the installer did not run";
  EXPECT_EQ(IniGet("PublicationSerial"), Env("WREN_SERIAL_CURRENT"));
}

// The forged installer part has the genuine one's size and CRC-32: only the
// manifest's SHA-256 tells them apart.
TEST_F(SignedRun, RefusesAFileThatIsNotTheSignedOne) {
  const std::string part = Env("WREN_FORGED_PART");  // its URL path
  const std::string forged = ReadFileBytes(fs::path(ToWide(Env("WREN_HTTP_ROOT_WIN"))) / ToWide(part.substr(1)));
  ASSERT_FALSE(forged.empty()) << part;
  const int before = PartRequests(part);
  ASSERT_TRUE(StartSignedRun("WREN_FI_FORGED", true));
  ASSERT_NO_FATAL_FAILURE(ExpectRunFailure(Format(Str(kFileNotSigned), -175)));
  ShotPage("finish-error");
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  EXPECT_EQ(PartRequests(part) - before, 3) << "the first fetch and two more";
  const fs::path image = ToWide(image_);
  EXPECT_FALSE(fs::exists(image / "MarloSetup.exe")) << "an installer that is not the signed one was installed";
  EXPECT_FALSE(fs::exists(image / "MarloSetup.done")) << "the forged installer was launched";
  EXPECT_EQ(FilesHolding(image_, forged), std::vector<std::string>{});
  EXPECT_EQ(FilesHolding(download_, forged), std::vector<std::string>{}) << "the forged part was kept";
}

// Whatever is wrong with the manifest or the list, the run ends before it
// fetches a single file.
TEST_F(SignedRun, RefusesAnUntrustedManifestOrListBeforeFetchingAnyFile) {
  struct Case {
    const char* port;   // variable with the port of the case's list server
    const char* files;  // where the list's part files are served
    unsigned text;
    int code, status;   // the numbers of the message (status: where it has two)
  };
  const Case cases[] = {
      {"WREN_FI_UNSIGNED", "/unsigned/files/", kManifestUnavailable, -170, 404},  // no manifest.dat
      {"WREN_FI_GARBLED", "/garbled/files/", kManifestRefused, -171, 0},          // cut short
      {"WREN_FI_FOREIGN", "/foreign/files/", kManifestRefused, -172, 0},          // another publisher's key
      {"WREN_FI_TAMPERED", "/current/files/", kListNotSigned, -173, 0},           // not the signed list
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    const int before = PartRequests(c.files);
    ASSERT_TRUE(StartSignedRun(c.port, false));
    ASSERT_NO_FATAL_FAILURE(ExpectRunFailure(Format(Str(c.text), c.code, c.status)));
    ShotPage(std::string("refused-") + c.port);
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    EXPECT_EQ(PartRequests(c.files), before) << "files were fetched";
    EXPECT_TRUE(IsEmptyFolder(image_));
    EXPECT_TRUE(IsEmptyFolder(download_));
    EXPECT_FALSE(IniHas("PublicationSerial"));
  }
}

// "old" is a genuine publication with a lower serial: accepted while it is
// the newest this user has seen, refused once a newer one was accepted.
TEST_F(SignedRun, RefusesAnOlderManifestOnceANewerOneWasAccepted) {
  ASSERT_TRUE(StartSignedRun("WREN_FI_OLD", false));
  ASSERT_NO_FATAL_FAILURE(ExpectRunSuccess());
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  ExpectImageMatchesGame();
  EXPECT_EQ(IniGet("PublicationSerial"), Env("WREN_SERIAL_OLD"));

  ASSERT_TRUE(StartSignedRun("WREN_FI_CURRENT", false));
  ASSERT_NO_FATAL_FAILURE(ExpectRunSuccess());
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  const std::string serial = Env("WREN_SERIAL_CURRENT");
  ASSERT_EQ(IniGet("PublicationSerial"), serial);

  const int before = PartRequests("/old/files/");
  ASSERT_TRUE(StartSignedRun("WREN_FI_OLD", false));
  ASSERT_NO_FATAL_FAILURE(ExpectRunFailure(Format(Str(kManifestOlder), -174)));
  ShotPage("finish-error-replayed");
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  EXPECT_EQ(PartRequests("/old/files/"), before);
  EXPECT_EQ(IniGet("PublicationSerial"), serial) << "the refused manifest changed the accepted serial";

  // The refusal leaves the newer publication usable.
  ASSERT_TRUE(StartSignedRun("WREN_FI_CURRENT", false));
  ASSERT_NO_FATAL_FAILURE(ExpectRunSuccess());
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  ExpectImageMatchesGame();
}

TEST_F(SignedRun, BuildWithoutAKeyIgnoresTheManifest) {
  const int manifests = PartRequests("/current/manifest.dat");
  ASSERT_TRUE(StartRun(Env("WREN_FI_CURRENT"), false));
  ASSERT_NO_FATAL_FAILURE(ExpectRunSuccess());
  ASSERT_NO_FATAL_FAILURE(FinishAndExit());
  ExpectImageMatchesGame();
  EXPECT_EQ(PartRequests("/current/manifest.dat"), manifests) << "the build without a key fetched the manifest";
  EXPECT_FALSE(IniHas("PublicationSerial"));
}

}  // namespace
}  // namespace e2e
