// Publishing folders and reading the result back the way the starter does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "common/list_limits.h"
#include "platform/mbcs.h"
#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "engine/filelist.h"
#include "engine/packed.h"
#include "publish/publish.h"
#include "publish/publish_folder.h"
#include "trust/key_text.h"
#include "trust/manifest.h"
#include "trust/sha256.h"

namespace fs = std::filesystem;
using namespace wren_tools;

namespace {

using Bytes = std::vector<unsigned char>;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "wren-publish-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    m_path = pattern;
  }
  ~TempDir() { fs::remove_all(m_path); }
  const fs::path& path() const { return m_path; }

 private:
  fs::path m_path;
};

void WriteFile(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes RandomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<unsigned char>(gen());
  return out;
}

Bytes TextBytes(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>("publish me, "[i % 12]);
  return out;
}

uint32_t Crc(const Bytes& bytes) {
  CCrc32 crc;
  crc.Update(bytes.data(), bytes.size());
  return crc.GetValue();
}

uint64_t MtimeAsFileTime(const fs::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return static_cast<uint64_t>(st.st_mtim.tv_sec + 11644473600LL) * 10000000u + st.st_mtim.tv_nsec / 100;
}

// The list of a publish folder, unpacked and parsed by the engine.
struct ParsedList {
  CCheckerCore core;
  int parseResult = 1;
};

std::unique_ptr<ParsedList> ReadList(const fs::path& publishFolder) {
  const Bytes packed = ReadFile(publishFolder / kListFileName);
  unsigned char* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(UnpackBuffer(packed.data(), packed.size(), &data, &size), UNPACK_OK);
  auto list = std::make_unique<ParsedList>();
  if (data) list->parseResult = list->core.ParseFileList(data, size);
  FreeUnpacked(data);
  return list;
}

// The content a part file stands for: unpacked, or the file itself when raw.
Bytes PartContent(const fs::path& publishFolder, const CDLFileInfo& part) {
  const Bytes stored = ReadFile(publishFolder / part.m_strRemoteName);
  EXPECT_EQ(stored.size(), part.m_dwPackedSize) << part.m_strRemoteName;
  EXPECT_EQ(Crc(stored), part.m_dwPackedCrc) << part.m_strRemoteName;
  if (part.m_wFlags & FILE_FLAG_RAW) return stored;
  unsigned char* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(UnpackBuffer(stored.data(), stored.size(), &data, &size), UNPACK_OK) << part.m_strRemoteName;
  Bytes content(data, data + size);
  FreeUnpacked(data);
  return content;
}

class PublishTest : public ::testing::Test {
 protected:
  PublishTest() {
    options.source = dir.path() / "game";
    options.output = dir.path() / "site" / "marlo";
    options.host = "localhost:8080";
    options.urlPath = "/marlo";
    options.installer = "MarloSetup.exe";
    options.partSize = 64 * 1024;
    fs::create_directories(options.source);
    WriteText(options.source / "MarloSetup.exe", "MZ not really");
  }

  // The source folder must not be touched and nothing may be left beside the output.
  void ExpectNoOutput() {
    EXPECT_FALSE(fs::exists(options.output));
    for (const auto& entry : fs::directory_iterator(options.output.parent_path()))
      ADD_FAILURE() << "left behind: " << entry.path();
  }

  TempDir dir;
  PublishOptions options;
};

TEST_F(PublishTest, PublishedFolderReadsBackByteForByte) {
  std::map<std::string, Bytes> files = {
      {"MarloSetup.exe", ReadFile(options.source / "MarloSetup.exe")},
      {"data/big.bin", RandomBytes(64 * 1024 * 2 + 1000, 1)},       // three parts, all raw
      {"data/text/readme.txt", TextBytes(64 * 1024 * 3 + 7)},       // four packed parts
      {"data/exact.bin", RandomBytes(64 * 1024, 2)},                // exactly one part
      {"empty.dat", {}},
      {"表示.txt", TextBytes(5000)},
      {"other/readme.txt", TextBytes(300)},  // same last name as data/text/readme.txt
  };
  for (const auto& [name, bytes] : files) WriteFile(options.source / name, bytes);
  options.leadNumber = 7;

  const PublishSummary summary = Publish(options);
  EXPECT_EQ(summary.files, files.size());
  EXPECT_EQ(summary.parts, 1u + 3 + 4 + 1 + 1 + 1 + 1);

  auto list = ReadList(options.output);
  ASSERT_EQ(list->parseResult, 0);
  EXPECT_EQ(list->core.m_nLeadNumber, 7);
  EXPECT_EQ(list->core.m_strBaseUrl, "/localhost:8080/marlo/");
  EXPECT_EQ(list->core.m_strInstallerName, "MarloSetup.exe");
  ASSERT_EQ(list->core.m_listFiles.size(), files.size());

  std::set<std::string> localNames;
  for (const auto& file : list->core.m_listFiles) {
    // Back to the UTF-8 name of the source: '\' -> '/', and the one CP932 name.
    std::string key = mbcs::ReplaceChar(file->m_strName, '\\', '/');
    if (key == "\x95\x5C\x8E\xA6.txt") key = "表示.txt";
    ASSERT_TRUE(files.count(key)) << key;
    const Bytes& source = files[key];
    SCOPED_TRACE(key);
    EXPECT_EQ(file->m_dwSize, source.size());
    EXPECT_EQ(file->m_dwCrc, Crc(source));
    EXPECT_EQ(file->m_ftLastWrite, MtimeAsFileTime(options.source / key));
    EXPECT_NE(file->m_ftCreation, 0u);

    Bytes joined;
    for (const CDLFileInfo& part : file->m_aParts) {
      const Bytes content = PartContent(options.output, part);
      EXPECT_EQ(content.size(), part.m_dwSize);
      EXPECT_EQ(Crc(content), part.m_dwCrc);
      joined.insert(joined.end(), content.begin(), content.end());
      // Every part file lands in the one download folder under this name.
      const std::string local = DeriveLocalName(list->core.m_strBaseUrl, part.m_strRemoteName);
      EXPECT_TRUE(localNames.insert(local).second) << "two parts share " << local;
      for (unsigned char c : part.m_strRemoteName) EXPECT_LT(c, 0x80) << part.m_strRemoteName;
    }
    EXPECT_EQ(joined, source);
  }

  auto find = [&](const std::string& name) -> const CCheckFile& {
    for (const auto& f : list->core.m_listFiles)
      if (f->m_strName == name) return *f;
    throw std::runtime_error("missing " + name);
  };
  EXPECT_EQ(find("data\\big.bin").m_aParts.size(), 3u);
  EXPECT_EQ(find("data\\big.bin").m_wFlags, FILE_FLAG_RAW);  // random bytes do not shrink
  EXPECT_EQ(find("data\\text\\readme.txt").m_aParts.size(), 4u);
  EXPECT_EQ(find("data\\text\\readme.txt").m_aParts[0].m_wFlags, 0);
  EXPECT_EQ(find("data\\exact.bin").m_aParts.size(), 1u);
  EXPECT_EQ(find("empty.dat").m_aParts[0].m_dwPackedSize, 0u);
  EXPECT_EQ(find("empty.dat").m_wFlags, FILE_FLAG_RAW);
  EXPECT_LT(find("\x95\x5C\x8E\xA6.txt").m_aParts[0].m_dwPackedSize, 5000u);
}

TEST_F(PublishTest, RawPolicyKeepsChosenFilesUnpacked) {
  WriteFile(options.source / "music/theme.ogg", TextBytes(10000));
  WriteFile(options.source / "data/table.txt", TextBytes(10000));

  struct Case {
    bool rawAll;
    std::vector<std::string> patterns;
    bool oggRaw, txtRaw;
  } cases[] = {
      {false, {}, false, false},
      {false, {"*.ogg"}, true, false},
      {false, {"data/*"}, false, true},
      {true, {}, true, true},
  };
  for (const Case& c : cases) {
    options.rawAll = c.rawAll;
    options.rawPatterns = c.patterns;
    Publish(options);
    auto list = ReadList(options.output);
    ASSERT_EQ(list->parseResult, 0);
    for (const auto& file : list->core.m_listFiles) {
      if (file->m_strName == "MarloSetup.exe") continue;
      const bool wantRaw = file->m_strName == "music\\theme.ogg" ? c.oggRaw : c.txtRaw;
      EXPECT_EQ(file->m_aParts[0].m_wFlags == FILE_FLAG_RAW, wantRaw) << file->m_strName;
      EXPECT_EQ(PartContent(options.output, file->m_aParts[0]), TextBytes(10000)) << file->m_strName;
    }
  }
}

// ---- Publishing again into the same folder ----

// Every regular file below a folder, by its path relative to it.
std::map<std::string, Bytes> Snapshot(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(folder).generic_string()] = ReadFile(entry.path());
  return files;
}

// The parts of a list by target file: their remote names in order.
std::map<std::string, std::vector<std::string>> PartNames(const fs::path& publishFolder, const fs::path& list) {
  std::map<std::string, std::vector<std::string>> names;
  const Bytes packed = ReadFile(list);
  unsigned char* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(UnpackBuffer(packed.data(), packed.size(), &data, &size), UNPACK_OK);
  CCheckerCore core;
  EXPECT_EQ(core.ParseFileList(data, size), 0);
  FreeUnpacked(data);
  for (const auto& file : core.m_listFiles)
    for (const CDLFileInfo& part : file->m_aParts) {
      names[file->m_strName].push_back(part.m_strRemoteName);
      EXPECT_TRUE(fs::exists(publishFolder / part.m_strRemoteName)) << part.m_strRemoteName;
    }
  return names;
}

std::vector<std::string> PublicationFolders(const fs::path& output) {
  std::vector<std::string> names;
  for (const Publication& p : ListPublications(output)) names.push_back(p.name);
  return names;
}

TEST_F(PublishTest, PartNamesFollowTheBytesAcrossPublications) {
  const Bytes world = RandomBytes(64 * 1024 * 3, 1);  // three parts
  WriteFile(options.source / "data/world.pak", world);
  WriteFile(options.source / "data/readme.txt", TextBytes(100));
  WriteFile(options.source / "readme.txt", TextBytes(100));  // same name and bytes elsewhere
  WriteFile(options.source / "music.ogg", RandomBytes(1000, 2));
  const std::string longName = std::string(240, 'n') + ".bin";  // the part name must be cut to fit
  WriteFile(options.source / longName, RandomBytes(10, 3));
  Publish(options);
  const auto first = PartNames(options.output, options.output / kListFileName);
  const std::map<std::string, Bytes> firstFiles = Snapshot(options.output / kPartsFolder);

  Bytes changed = world;
  changed[64 * 1024 + 5] ^= 1;  // only the second part
  WriteFile(options.source / "data/world.pak", changed);
  WriteFile(options.source / "music.ogg", RandomBytes(1000, 4));
  Publish(options);
  const auto second = PartNames(options.output, options.output / kListFileName);

  // Readable: folder and stem first, then the part number and 16 hex digits.
  const std::vector<std::string>& worldParts = first.at("data\\world.pak");
  for (size_t i = 0; i < worldParts.size(); ++i)
    EXPECT_EQ(worldParts[i].substr(0, 24), "files/data/world.pak.p0" + std::to_string(i)) << worldParts[i];
  EXPECT_EQ(worldParts[0].size(), std::string("files/data/world.pak.p00.").size() + 16);
  EXPECT_EQ(first.at("readme.txt")[0].substr(0, 18), "files/readme.txt~2") << "the local names must differ";
  EXPECT_LE(first.at(longName)[0].size(), MAX_LIST_NAME);

  // Same bytes, same name; other bytes, another name.
  const std::vector<std::string>& newWorld = second.at("data\\world.pak");
  EXPECT_EQ(newWorld[0], worldParts[0]);
  EXPECT_NE(newWorld[1], worldParts[1]);
  EXPECT_EQ(newWorld[2], worldParts[2]);
  EXPECT_NE(second.at("music.ogg"), first.at("music.ogg"));
  for (const char* same : {"data\\readme.txt", "readme.txt", "MarloSetup.exe"}) EXPECT_EQ(second.at(same), first.at(same));
  EXPECT_EQ(second.at(longName), first.at(longName));
  // Every name of the first publication still holds the bytes it held.
  for (const auto& [name, bytes] : firstFiles) EXPECT_EQ(ReadFile(options.output / kPartsFolder / name), bytes) << name;
}

TEST_F(PublishTest, RepublishWritesOnlyThePartsThatAreNotThereYet) {
  WriteFile(options.source / "data/world.pak", RandomBytes(64 * 1024 * 4, 1));  // four parts
  WriteFile(options.source / "data/table.txt", TextBytes(70000));             // two packed parts
  WriteText(options.source / "old.txt", "old");
  const PublishSummary first = Publish(options);
  EXPECT_EQ(first.partsWritten, first.parts);
  EXPECT_EQ(first.bytesWritten, first.partBytes);
  EXPECT_EQ(first.partsKept, 0u);
  const Bytes firstList = ReadFile(options.output / kListFileName);
  const auto firstNames = PartNames(options.output, options.output / kListFileName);
  struct stat before {};
  const fs::path kept = options.output / firstNames.at("data\\world.pak")[0];
  ASSERT_EQ(stat(kept.c_str(), &before), 0);
  // A part cut short (a copy that went wrong) is written again whole.
  const fs::path cut = options.output / firstNames.at("data\\world.pak")[3];
  fs::resize_file(cut, 100);

  // A packed part that is gone: the packing remembered from the first
  // publication does not stand in for its file. A memo line of garbage is
  // passed over.
  const fs::path gone = options.output / firstNames.at("data\\table.txt")[0];
  const uint64_t goneSize = fs::file_size(gone);
  fs::remove(gone);
  std::ofstream(options.output / kPublicationsFolder / PublicationFolders(options.output)[0] / "packing.txt",
                std::ios::app)
      << "zz 12 x\n";

  // The same source again: nothing to write but those two parts.
  const PublishSummary same = Publish(options);
  EXPECT_EQ(same.partsWritten, 2u);
  EXPECT_EQ(same.bytesWritten, 64u * 1024 + goneSize);
  EXPECT_EQ(fs::file_size(cut), 64u * 1024);
  EXPECT_EQ(ReadFile(options.output / kListFileName), firstList);
  const auto listed = ReadList(options.output);  // alive for the loop: it owns the files
  for (const auto& file : listed->core.m_listFiles)
    for (const CDLFileInfo& part : file->m_aParts) EXPECT_EQ(PartContent(options.output, part).size(), part.m_dwSize);

  // One file changed, one gone, one new: only their parts are written.
  fs::remove(options.source / "old.txt");
  WriteText(options.source / "new.txt", "new");
  WriteFile(options.source / "data/table.txt", TextBytes(70001));
  const PublishSummary next = Publish(options);
  EXPECT_EQ(next.partsWritten, 2u);  // table.txt's second part (its first did not change), new.txt's one
  EXPECT_EQ(next.partsKept, next.parts - 2);
  EXPECT_EQ(next.bytesKept + next.bytesWritten, next.partBytes);
  struct stat after {};
  ASSERT_EQ(stat(kept.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "a part already there was written again";
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);

  // The earlier lists are kept, the old parts with them.
  const std::vector<std::string> history = PublicationFolders(options.output);
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(ReadFile(options.output / kPublicationsFolder / history[0] / kListFileName), firstList);
  EXPECT_EQ(ReadFile(options.output / kPublicationsFolder / history[2] / kListFileName),
            ReadFile(options.output / kListFileName));
  PartNames(options.output, options.output / kPublicationsFolder / history[0] / kListFileName);  // all still there
  EXPECT_EQ(ReadList(options.output)->core.m_listFiles.size(), 4u);
  // Nothing but the publish folder beside it, nothing temporary in it.
  EXPECT_EQ(std::distance(fs::directory_iterator(options.output.parent_path()), fs::directory_iterator()), 1);
  for (const auto& [name, bytes] : Snapshot(options.output)) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

TEST_F(PublishTest, FailedRepublishLeavesThePreviousPublicationServedAndWhole) {
  WriteFile(options.source / "data/world.pak", RandomBytes(64 * 1024 * 2, 1));
  Publish(options);
  const std::map<std::string, Bytes> before = Snapshot(options.output);

  struct Case {
    const char* what;
    std::function<void()> spoil;
    const char* message;
  } cases[] = {
      // Fails once every part is written, before the list is: new parts, a list too large.
      {"list too large",
       [&] {
         WriteFile(options.source / "data/world.pak", RandomBytes(64 * 1024 * 2, 2));
         std::mt19937 gen(3);
         const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
         for (int i = 0; i < 2000; ++i) {
           std::string name;
           for (int k = 0; k < 200; ++k) name += alphabet[gen() % 62];
           WriteText(options.source / "many" / name, std::to_string(i));
         }
       },
       "at most 262144 bytes"},
      {"another publish at work",
       [&] { WriteFile(options.source / "data/world.pak", RandomBytes(64 * 1024 * 2, 4)); }, "another wren-publish"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.spoil();
    std::optional<PublishFolder> held;
    if (std::string(c.what) == "another publish at work") held.emplace(options.output);
    try {
      Publish(options);
      ADD_FAILURE() << "published";
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    held.reset();
    EXPECT_EQ(Snapshot(options.output), before);
    EXPECT_FALSE(fs::exists(options.output / kPartsFolder / "many"));
  }
}

TEST_F(PublishTest, PruneKeepsEveryPartTheLastListsNameAndNothingElse) {
  // Four publications, each changing one of the files.
  for (unsigned version = 1; version <= 4; ++version) {
    WriteFile(options.source / ("file" + std::to_string(version % 3) + ".bin"), RandomBytes(64 * 1024 + 10, version));
    Publish(options);
  }
  // Left by a publish killed part-way, and a file of no list at all.
  WriteText(options.output / kPartsFolder / ".tmp-abc123", "half a part");
  WriteText(options.output / kPartsFolder / "stray" / "x.p00", "x");
  const std::vector<std::string> history = PublicationFolders(options.output);
  ASSERT_EQ(history.size(), 4u);

  auto namedBy = [&](const std::vector<std::string>& lists) {
    std::set<std::string> names;
    for (const std::string& p : lists)
      for (const auto& [file, parts] : PartNames(options.output, options.output / kPublicationsFolder / p / kListFileName))
        names.insert(parts.begin(), parts.end());
    return names;
  };
  auto partFiles = [&] {
    std::set<std::string> names;
    for (const auto& [name, bytes] : Snapshot(options.output / kPartsFolder)) names.insert("files/" + name);
    return names;
  };
  const std::set<std::string> all = partFiles();
  ASSERT_GT(all.size(), namedBy(history).size());

  // A dry run only counts.
  const PruneSummary dry = Prune(options.output, 2, true);
  EXPECT_EQ(partFiles(), all);
  EXPECT_EQ(PublicationFolders(options.output), history);

  const PruneSummary pruned = Prune(options.output, 2, false);
  EXPECT_EQ(pruned.partsRemoved, dry.partsRemoved);
  EXPECT_EQ(pruned.bytesRemoved, dry.bytesRemoved);
  EXPECT_EQ(pruned.publicationsRemoved, 2u);
  EXPECT_EQ(pruned.oldestKept, history[2]);
  EXPECT_EQ(partFiles(), namedBy({history[2], history[3]}));
  EXPECT_EQ(pruned.partsKept, partFiles().size());
  EXPECT_EQ(all.size(), pruned.partsKept + pruned.partsRemoved);
  EXPECT_EQ(PublicationFolders(options.output), (std::vector<std::string>{history[2], history[3]}));
  EXPECT_FALSE(fs::exists(options.output / kPartsFolder / "stray")) << "an empty folder was left";
  EXPECT_EQ(ReadList(options.output)->parseResult, 0);

  // --keep 1 still keeps what the list served now names; 0 keeps nothing and is refused.
  Prune(options.output, 1, false);
  EXPECT_EQ(partFiles(), namedBy({history[3]}));
  EXPECT_THROW(Prune(options.output, 0, false), PublishError);

  // A kept list that cannot be read: nothing is removed.
  WriteFile(options.source / "file0.bin", RandomBytes(100, 9));
  Publish(options);
  const std::map<std::string, Bytes> before = Snapshot(options.output);
  WriteText(options.output / kPublicationsFolder / history[3] / kListFileName, "garbage");
  EXPECT_THROW(Prune(options.output, 2, false), PublishError);
  EXPECT_EQ(Snapshot(options.output).size(), before.size());
}

// A folder published before the history was kept: its list becomes the
// first publication, so that prune keeps its parts for the players on it.
TEST_F(PublishTest, EarlierListWithoutHistoryIsRecordedFirst) {
  WriteText(options.source / "a.txt", "a");
  Publish(options);
  const Bytes earlier = ReadFile(options.output / kListFileName);
  fs::remove_all(options.output / kPublicationsFolder);
  WriteText(options.source / "a.txt", "b");
  Publish(options);
  const std::vector<std::string> history = PublicationFolders(options.output);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(ReadFile(options.output / kPublicationsFolder / history[0] / kListFileName), earlier);
  Prune(options.output, 2, false);
  PartNames(options.output, options.output / kPublicationsFolder / history[0] / kListFileName);
}

TEST_F(PublishTest, InstallerIsMatchedIgnoringCaseAndSeparators) {
  WriteText(options.source / "setup/Install.exe", "x");
  options.installer = "SETUP\\install.EXE";
  Publish(options);
  EXPECT_EQ(ReadList(options.output)->core.m_strInstallerName, "setup\\Install.exe");
}

// Each case spoils a good source folder or the options in one way.
TEST_F(PublishTest, FoldersThatCannotBePublishedLeaveNothing) {
  const fs::path src = options.source;
  struct Case {
    const char* what;
    std::function<void(PublishOptions&)> spoil;
    const char* message;
  } cases[] = {
      {"reserved device name", [&](auto&) { WriteText(src / "data/con.txt", "x"); }, "not a safe file name"},
      {"forbidden character", [&](auto&) { WriteText(src / "a:b.txt", "x"); }, "not a safe file name"},
      {"trailing dot", [&](auto&) { WriteText(src / "name.", "x"); }, "not a safe file name"},
      {"backslash inside a name", [&](auto&) { WriteText(src / "a\\b.txt", "x"); }, "'\\'"},
      {"character outside code page 932", [&](auto&) { WriteText(src / "\xF0\x9F\x98\x80.txt", "x"); },
       "code page 932"},
      {"invalid UTF-8", [&](auto&) { WriteText(src / "\xFF.txt", "x"); }, "code page 932"},
      {"name of 260 bytes",
       [&](auto&) { WriteText(src / std::string(200, 'd') / std::string(59, 'f'), "x"); }, "260 bytes"},
      {"names equal but for case",
       [&](auto&) {
         WriteText(src / "Data/a.txt", "x");
         WriteText(src / "data/A.txt", "y");
       },
       "same file on Windows"},
      {"installer not in the folder", [&](auto& o) { o.installer = "Setup.exe"; }, "installer \"Setup.exe\""},
      {"installer is a folder",
       [&](auto& o) {
         WriteText(src / "setup/x.txt", "x");
         o.installer = "setup";
       },
       "installer"},
      {"installer outside the folder", [&](auto& o) { o.installer = "../game/MarloSetup.exe"; }, "installer"},
      {"more than 63 parts",
       [&](auto& o) {
         WriteFile(src / "big.bin", Bytes(64 * 16 + 1));
         o.partSize = 16;
       },
       "at least 17 bytes"},
      {"larger than 4 GiB - 1",
       [&](auto&) {
         WriteText(src / "huge.bin", "");
         fs::resize_file(src / "huge.bin", 0x100000000ull);  // sparse: nothing is written
       },
       "at most 4294967295 bytes"},
      {"FIFO", [&](auto&) { mkfifo((src / "pipe").c_str(), 0600); }, "not a regular file"},
      {"link to a folder",
       [&](auto&) {
         fs::create_directories(src / "real");
         fs::create_directory_symlink("real", src / "link");
       },
       "symbolic link to a folder"},
      {"output inside the source", [&](auto& o) { o.output = src / "out"; }, "must not contain each other"},
      {"bad host", [&](auto& o) { o.host = "local host"; }, "host"},
      {"bad port", [&](auto& o) { o.host = "localhost:99999"; }, "port"},
      {"path with a space", [&](auto& o) { o.urlPath = "/my files/"; }, "path"},
      {"part size 0", [&](auto& o) { o.partSize = 0; }, "part size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(src);
    fs::create_directories(src);
    WriteText(src / "MarloSetup.exe", "MZ");
    PublishOptions o = options;
    c.spoil(o);
    try {
      Publish(o);
      ADD_FAILURE() << "published";
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    if (fs::exists(options.output.parent_path())) ExpectNoOutput();
  }
}

TEST_F(PublishTest, ListTooLargeForTheSessionIsRefused) {
  // Random names do not pack away: about 180 bytes of list per file.
  std::mt19937 gen(3);
  const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int i = 0; i < 2000; ++i) {
    std::string name;
    for (int k = 0; k < 200; ++k) name += alphabet[gen() % 62];
    WriteText(options.source / name, "");
  }
  try {
    Publish(options);
    ADD_FAILURE() << "published";
  } catch (const PublishError& e) {
    EXPECT_NE(std::string(e.what()).find("at most 262144 bytes"), std::string::npos) << e.what();
  }
  ExpectNoOutput();
}

TEST_F(PublishTest, ExistingFolderThatIsNoPublishIsKept) {
  WriteText(options.output / "precious.doc", "mine");
  EXPECT_THROW(Publish(options), PublishError);
  EXPECT_EQ(ReadFile(options.output / "precious.doc"), Bytes({'m', 'i', 'n', 'e'}));
  EXPECT_EQ(std::distance(fs::directory_iterator(options.output.parent_path()), fs::directory_iterator()), 1);
}

// ---- Signed publications ----

std::string ReadText(const fs::path& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

unsigned Mode(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The manifest of a publish folder, checked with the key pair's public key.
ManifestCheck ReadManifest(const fs::path& publishFolder, const fs::path& publicKeyFile, CManifest* out) {
  const Bytes bytes = ReadFile(publishFolder / kManifestName);
  const std::optional<ed25519::PublicKey> key = ParsePublicKey(ReadText(publicKeyFile));
  EXPECT_TRUE(key.has_value()) << publicKeyFile;
  return ReadSignedManifest(bytes.data(), bytes.size(), key.value_or(ed25519::PublicKey{}), out);
}

TEST(PublishKeys, KeygenMakesAMatchingPairWithTheRightPermissions) {
  TempDir dir;
  const fs::path privateFile = dir.path() / "publisher.key";
  EXPECT_EQ(MakeKeyPair(privateFile), dir.path() / "publisher.key.pub");
  EXPECT_EQ(Mode(privateFile), 0600u);
  EXPECT_EQ(Mode(dir.path() / "publisher.key.pub"), 0644u);

  const ed25519::Seed seed = ReadSigningKey(privateFile);
  ed25519::PublicKey derived{};
  ASSERT_TRUE(ed25519::PublicKeyOf(seed, &derived));
  EXPECT_EQ(ParsePublicKey(ReadText(dir.path() / "publisher.key.pub")), derived);
  EXPECT_EQ(ReadText(dir.path() / "publisher.key.pub"), FormatPublicKey(derived));

  // A second pair is really another one.
  MakeKeyPair(dir.path() / "second.key");
  EXPECT_NE(ReadSigningKey(dir.path() / "second.key"), seed);
}

TEST(PublishKeys, KeygenNeverOverwritesEitherFile) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& privateFile)> prepare;
  } cases[] = {
      {"private key file exists", [](const fs::path& f) { WriteText(f, "mine"); }},
      {"public key file exists", [](const fs::path& f) { WriteText(f.string() + ".pub", "mine"); }},
      {"link to nowhere", [](const fs::path& f) { fs::create_symlink("elsewhere", f); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path privateFile = dir.path() / "k";
    c.prepare(privateFile);
    std::map<fs::path, std::string> before;
    for (const auto& entry : fs::directory_iterator(dir.path()))
      before[entry.path()] = entry.is_symlink() ? "link" : ReadText(entry.path());
    EXPECT_THROW(MakeKeyPair(privateFile), PublishError);
    std::map<fs::path, std::string> after;
    for (const auto& entry : fs::directory_iterator(dir.path()))
      after[entry.path()] = entry.is_symlink() ? "link" : ReadText(entry.path());
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fs::exists(dir.path() / "elsewhere"));
  }
}

class SignedPublishTest : public PublishTest {
 protected:
  SignedPublishTest() {
    keyFile = dir.path() / "keys" / "publisher.key";
    fs::create_directories(keyFile.parent_path());
    publicKeyFile = MakeKeyPair(keyFile);
    options.signingKey = keyFile;
  }

  uint64_t PublishedSerial() {
    CManifest manifest;
    EXPECT_EQ(ReadManifest(options.output, publicKeyFile, &manifest), ManifestCheck::Ok);
    return manifest.m_qwSerial;
  }

  fs::path keyFile, publicKeyFile;
};

TEST_F(SignedPublishTest, ManifestVouchesForTheListAndEveryFileInListOrder) {
  std::map<std::string, Bytes> files = {
      {"MarloSetup.exe", ReadFile(options.source / "MarloSetup.exe")},
      {"data/big.bin", RandomBytes(64 * 1024 * 2 + 1000, 1)},  // three parts
      {"data/text/readme.txt", TextBytes(64 * 1024 + 7)},      // two packed parts
      {"empty.dat", {}},
      {"zz/last.bin", RandomBytes(10, 2)},
  };
  for (const auto& [name, bytes] : files) WriteFile(options.source / name, bytes);

  const PublishSummary summary = Publish(options);
  CManifest manifest;
  ASSERT_EQ(ReadManifest(options.output, publicKeyFile, &manifest), ManifestCheck::Ok);
  EXPECT_EQ(summary.serial, manifest.m_qwSerial);
  const Bytes list = ReadFile(options.output / kListFileName);
  EXPECT_EQ(manifest.m_listSha256, CSha256::Of(list.data(), list.size()));

  auto parsed = ReadList(options.output);
  ASSERT_EQ(parsed->parseResult, 0);
  ASSERT_EQ(manifest.m_files.size(), parsed->core.m_listFiles.size());
  size_t i = 0;
  for (const auto& file : parsed->core.m_listFiles) {
    const std::string name = mbcs::ReplaceChar(file->m_strName, '\\', '/');
    SCOPED_TRACE(name);
    ASSERT_TRUE(files.count(name));
    EXPECT_EQ(manifest.m_files[i].m_dwSize, files[name].size());
    EXPECT_EQ(manifest.m_files[i].m_sha256, CSha256::Of(files[name].data(), files[name].size()));
    ++i;
  }
}

TEST_F(SignedPublishTest, SerialGrowsWithEveryPublication) {
  const uint64_t before = static_cast<uint64_t>(std::time(nullptr));
  Publish(options);
  const uint64_t first = PublishedSerial();
  EXPECT_GE(first, before);
  EXPECT_LE(first, static_cast<uint64_t>(std::time(nullptr)));

  // An explicit serial ahead of the clock; the default then counts on from it.
  options.serial = first + 1000000;
  EXPECT_EQ(Publish(options).serial, first + 1000000);
  options.serial.reset();
  EXPECT_EQ(Publish(options).serial, first + 1000001);

  // Not greater than the serial in the output: refused, the output kept.
  for (uint64_t stale : {first + 1000001, first}) {
    options.serial = stale;
    EXPECT_THROW(Publish(options), PublishError) << stale;
    EXPECT_EQ(PublishedSerial(), first + 1000001);
  }

  // The last possible serial leaves no next one.
  options.serial = UINT64_MAX;
  Publish(options);
  options.serial.reset();
  EXPECT_THROW(Publish(options), PublishError);
  EXPECT_EQ(PublishedSerial(), UINT64_MAX);

  // A broken or oversized manifest says nothing either.
  for (size_t size : {size_t{10}, kMaxManifestBytes + 100}) {
    fs::resize_file(options.output / kManifestName, size);
    options.serial = 3;
    EXPECT_EQ(Publish(options).serial, 3u) << size;
  }

  // A manifest of another key says nothing about this key's serials.
  options.signingKey = dir.path() / "keys" / "other.key";
  const fs::path otherPublic = MakeKeyPair(options.signingKey);
  options.serial = 5;
  EXPECT_EQ(Publish(options).serial, 5u);
  CManifest manifest;
  EXPECT_EQ(ReadManifest(options.output, otherPublic, &manifest), ManifestCheck::Ok);
  EXPECT_EQ(manifest.m_qwSerial, 5u);
}

TEST_F(SignedPublishTest, BadKeyFilesAreRefusedBeforeAnythingIsWritten) {
  const fs::path keys = keyFile.parent_path();
  WriteText(keys / "garbage.key", "not a key\n");
  WriteText(keys / "empty.key", "");
  WriteText(keys / "long.key", ReadText(keyFile) + std::string(5000, ' '));
  struct Case {
    fs::path keyFile;
    const char* message;
  } cases[] = {
      {keys / "missing.key", "does not exist"},
      {publicKeyFile, "is a public key"},
      {keys / "garbage.key", "not a private key file"},
      {keys / "empty.key", "not a private key file"},
      {keys / "long.key", "larger than"},
      {keys, "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyFile);
    options.signingKey = c.keyFile;
    try {
      Publish(options);
      ADD_FAILURE() << "published";
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(options.output.parent_path())) << "not even the folder above the output is made";
  }

  options.signingKey.clear();
  options.serial = 7;
  EXPECT_THROW(Publish(options), PublishError) << "a serial without a key";
  EXPECT_FALSE(fs::exists(options.output.parent_path()));
}

TEST_F(SignedPublishTest, UnsignedPublishHasNoManifestAndDropsAnEarlierOne) {
  Publish(options);
  ASSERT_TRUE(fs::exists(options.output / kManifestName));
  options.signingKey.clear();
  const PublishSummary summary = Publish(options);
  EXPECT_FALSE(summary.serial.has_value());
  EXPECT_FALSE(fs::exists(options.output / kManifestName));
  EXPECT_TRUE(fs::exists(options.output / kListFileName));
}

TEST(PublishHelpers, NamesConvertToCodePage932OrAreRefused) {
  EXPECT_EQ(Utf8ToCp932("表示.txt"), std::string("\x95\x5C\x8E\xA6.txt"));
  EXPECT_EQ(Utf8ToCp932("abc"), std::string("abc"));
  EXPECT_EQ(Utf8ToCp932(""), std::string());
  EXPECT_EQ(Utf8ToCp932("\xE3\x81"), std::nullopt);          // cut-off sequence
  EXPECT_EQ(Utf8ToCp932("\xF0\x9F\x98\x80"), std::nullopt);  // no such character in 932
}

TEST(PublishHelpers, DownloadBaseAndPartSize) {
  EXPECT_EQ(MakeDownloadBase("files.example.com", ""), "/files.example.com/");
  EXPECT_EQ(MakeDownloadBase("127.0.0.1:8080", "marlo/v1"), "/127.0.0.1:8080/marlo/v1/");
  EXPECT_EQ(MakeDownloadBase("h", "/a/"), "/h/a/");
  EXPECT_THROW(MakeDownloadBase("", "/"), PublishError);
  EXPECT_THROW(MakeDownloadBase("h:", "/"), PublishError);
  EXPECT_THROW(MakeDownloadBase("h/x", "/"), PublishError);
  EXPECT_THROW(MakeDownloadBase("h", "/a?b"), PublishError);

  const std::pair<const char*, std::optional<uint32_t>> sizes[] = {
      {"1", 1u},         {"65536", 65536u}, {"64K", 65536u}, {"4M", 4u << 20}, {"1024M", 1u << 30},
      {"1025M", {}},     {"0", {}},         {"", {}},        {"-1", {}},       {"4G", {}},
      {"99999999999", {}}, {"12 ", {}},
  };
  for (const auto& [text, want] : sizes) EXPECT_EQ(ParsePartSize(text), want) << text;
}

TEST(PublishHelpers, LeadAndSerialArePlainNumbersInRange) {
  // What --lead (at most 2^32 - 1) and --serial (2^64 - 1) take.
  const std::pair<const char*, uint64_t> good[] = {
      {"0", 0}, {"1", 1}, {"007", 7}, {"4294967295", 4294967295u}, {"0000000000004294967295", 4294967295u},
  };
  for (const auto& [text, want] : good) EXPECT_EQ(ParsePlainNumber(text, UINT32_MAX), want) << text;
  EXPECT_EQ(ParsePlainNumber("18446744073709551615", UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(ParsePlainNumber("18446744073709551616", UINT64_MAX), std::nullopt);
  EXPECT_EQ(ParsePlainNumber("18446744073709551620", UINT64_MAX), std::nullopt);
  EXPECT_EQ(ParsePlainNumber("99999999999999999999999", UINT64_MAX), std::nullopt);

  // Each of these strtoull would take, or take in part, or wrap.
  const char* const bad[] = {
      "",
      " -4294967295",
      "-4294967295",
      " -18446744073709551615",  // strtoull: 1
      "-18446744073709551615",
      "-1",
      "-0",
      "+1",
      " 1",
      "\t1",
      "1 ",
      "1\n",
      "4294967296",
      "4294967300",
      "18446744073709551617",
      "99999999999999999999",
      "0x10",
      "1e3",
      "1.0",
      "1,000",
      "12a",
      "\xEF\xBC\x91",  // a full-width 1
      " ",
  };
  for (const char* text : bad) EXPECT_EQ(ParsePlainNumber(text, UINT32_MAX), std::nullopt) << '"' << text << '"';
  EXPECT_EQ(ParsePlainNumber(std::string("1\0", 2), UINT32_MAX), std::nullopt);
}

// Runs wren-publish; its exit code and what it wrote to stdout and stderr.
std::pair<int, std::string> RunPublish(std::vector<std::string> args) {
  args.insert(args.begin(), WREN_PUBLISH);
  int fds[2];
  if (pipe(fds) != 0) return {-1, "pipe"};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(PublishTest, ProgramRefusesALeadThatIsNotAPlainNumberInRange) {
  fs::create_directories(options.output.parent_path());
  for (const char* lead : {" -4294967295", " -18446744073709551615", "-1", " 7", "7 ", "+7", "4294967296", ""}) {
    const auto [code, out] = RunPublish({"--lead", lead, "--host", "h", "--installer", "MarloSetup.exe",
                                         options.source.string(), options.output.string()});
    EXPECT_EQ(code, 2) << '"' << lead << "\" " << out;
    EXPECT_NE(out.find("bad leading number \"" + std::string(lead) + "\""), std::string::npos) << out;
    EXPECT_NE(out.find("0 to 4294967295, in digits only"), std::string::npos) << out;
    ExpectNoOutput();
  }
  const auto [code, out] = RunPublish({"--lead", "0004294967295", "--host", "h", "--installer", "MarloSetup.exe",
                                       options.source.string(), options.output.string()});
  ASSERT_EQ(code, 0) << out;
  auto list = ReadList(options.output);
  ASSERT_EQ(list->parseResult, 0);
  EXPECT_EQ(static_cast<uint32_t>(list->core.m_nLeadNumber), 4294967295u);
}

TEST(ListLimits, EveryPublishableListFitsWithTheDefaultChunkSize) {
  for (size_t size = 0; size <= kMaxListBytes; ++size) {
    ASSERT_TRUE(ListFits(size, DefaultChunkSize(size))) << size;
  }
  EXPECT_FALSE(ListFits(kMaxListBytes + 1, 8192));
  EXPECT_FALSE(ListFits(kMaxListBytes + 1, 1029));
  EXPECT_EQ(DefaultChunkSize(1000), 1024u);
  EXPECT_FALSE(ListFits(20000, 8192));  // 3 chunks, a 4 KiB buffer
  EXPECT_TRUE(ListFits(20000, 1024));
  EXPECT_FALSE(ListFits(100, 0));
  EXPECT_FALSE(ListFits(100, 8193));
}

}  // namespace
