// Patch day: the publisher publishes version 2 into the same folder while a
// player's run is part-way through version 1 (stalled on a slow link in the
// middle of world.pak, one of the three files that change). The run finishes
// version 1 byte for byte from the parts that are still there; the next run
// builds version 2 and fetches only the changed files' parts. Once with the
// build without a key against an unsigned publication whose list server is
// told with SIGHUP, once with the build that carries the demo key against a
// signed one whose server watches the folder (patch_day_servers.py).
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "build_run.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

class PatchDay : public BuildRun {
 protected:
  // The case's value of WREN_PATCH_<NAME>_<what>.
  static std::string Of(const std::string& name, const std::string& what) {
    return Env(("WREN_PATCH_" + name + "_" + what).c_str());
  }

  // One run of exe on the list server to its finish page and its end.
  void RunToTheEnd(const std::string& port, const std::string& exe, const fs::path& control) {
    ASSERT_TRUE(StartRun(port, false, {}, exe));
    ASSERT_EQ(WaitForFinishPage(), kTitleFinish)
        << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"; " << ReadFileBytes(control / "error");
    ASSERT_TRUE(Click(app().Button(kFinish)));
    ASSERT_TRUE(app().WaitExit());
  }

  void ExpectImageIs(const std::string& game) {
    e2e::ExpectImageMatchesGame(
        image_,
        [](const fs::path& built, const fs::path& source, const std::string&) {
          EXPECT_EQ(LastWrite(built), LastWrite(source));
        },
        game);
  }

  // The part files the part server was asked for in lines [from, to) of its log.
  static std::multiset<std::string> PartsFetched(const std::vector<std::string>& lines, size_t from, size_t to) {
    std::multiset<std::string> parts;
    for (size_t i = from; i < std::min(to, lines.size()); ++i) {
      const size_t start = lines[i].find(' ') + 1, end = lines[i].find(' ', start);
      const std::string path = lines[i].substr(start, end - start);
      if (path.rfind("/files/", 0) == 0) parts.insert(path);
    }
    return parts;
  }
};

TEST_F(PatchDay, ARunUnderWayFinishesTheOldVersionAndTheNextFetchesOnlyWhatChanged) {
  struct Case {
    const char* name;  // of the publication in patch_day_servers.py
    bool withKey;      // the build that carries the demo publisher's key
  } cases[] = {{"PLAIN", false}, {"SIGNED", true}};
  if (Of("PLAIN", "LIST").empty())
    GTEST_SKIP() << "no native wren-publish / wren-fileinfo-server (build the native preset)";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string exe = c.withKey ? Env("WREN_E2E_SIGNED_EXE") : std::string();
    ASSERT_TRUE(!c.withKey || !exe.empty()) << "WREN_E2E_SIGNED_EXE names the build with the demo key";
    const std::string port = Of(c.name, "LIST");
    const fs::path control = ToWide(Of(c.name, "CONTROL_WIN"));
    const fs::path log = ToWide(Of(c.name, "LOG_WIN"));
    image_ = WorkDir() + "\\image-" + c.name;
    download_ = WorkDir() + "\\download-" + c.name;
    std::error_code ec;
    fs::create_directories(ToWide(image_), ec);
    fs::create_directories(ToWide(download_), ec);

    // Version 1, stalled in the middle of world.pak; version 2 published
    // meanwhile. One part at a time, so that parts are still to be fetched then.
    ASSERT_TRUE(StartRun(port, false, {{"UseProxy", "0"}, {"Connections", "1"}}, exe));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(control / "stalled"); }, kRunWaitMs))
        << "the slow transfer never started; header reads \"" << app().Title() << "\"";
    ShotPage(std::string("stalled-") + c.name);
    ASSERT_TRUE(WriteFileBytes(control / "republish", ""));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(control / "republished") || fs::exists(control / "error"); },
                          kRunWaitMs));
    ASSERT_FALSE(fs::exists(control / "error")) << ReadFileBytes(control / "error");
    ASSERT_EQ(WaitForFinishPage(), kTitleFinish) << "a popup says \"" << MessageBoxText(app().ActivePopup()) << "\"";
    ShotPage(std::string("finished-version-1-") + c.name);
    ASSERT_TRUE(Click(app().Button(kFinish)));
    ASSERT_TRUE(app().WaitExit());
    ExpectImageIs(Of(c.name, "OLD_WIN"));
    // The parts it fetched once version 2 was served were version 1's, also
    // those of readme.txt, which changed.
    const std::vector<std::string> firstRun = Lines(log);
    const size_t marker = std::find(firstRun.begin(), firstRun.end(), "# republished") - firstRun.begin();
    const std::multiset<std::string> late = PartsFetched(firstRun, marker, firstRun.size());
    const std::vector<std::string> changed = Lines(control / "changed-parts");
    std::set<std::string> lateShort;
    for (const std::string& part : late) {
      lateShort.insert(ShortPartName(part.substr(part.rfind('/') + 1)));
      EXPECT_EQ(std::count(changed.begin(), changed.end(), part), 0) << part << " of version 2 in the first run";
    }
    EXPECT_TRUE(lateShort.count("world.pak.p02") && lateShort.count("readme.txt.p00"))
        << "the run did not go on fetching after the new version came";

    // The next run: version 2, and of its parts only those of the changed files.
    ASSERT_NO_FATAL_FAILURE(RunToTheEnd(port, exe, control));
    ExpectImageIs(Of(c.name, "NEW_WIN"));
    EXPECT_EQ(changed.size(), 5u) << "world.pak's three parts, field01.map's and readme.txt's";
    EXPECT_EQ(PartsFetched(Lines(log), firstRun.size(), SIZE_MAX),
              std::multiset<std::string>(changed.begin(), changed.end()));
    if (c.withKey) {
      EXPECT_FALSE(IniGet("PublicationSerial").empty());
    }
  }
}

}  // namespace
}  // namespace e2e
