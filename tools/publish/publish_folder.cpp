#include "publish/publish_folder.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <system_error>

#include "common/list_limits.h"
#include "engine/checker_core.h"
#include "engine/packed.h"
#include "publish/publish.h"
#include "trust/manifest.h"

namespace wren_tools {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& message) { throw PublishError(message); }

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// Temporary files and folders start with this; prune removes any it finds
// (a publish killed part-way leaves them, and none runs while prune holds the lock).
constexpr const char* kTempPrefix = ".tmp-";

// A new file with a unique temporary name in folder, readable by the HTTP
// server's user; its descriptor, *path set.
int MakeTempFile(const fs::path& folder, fs::path* path) {
  std::string pattern = (folder / (std::string(kTempPrefix) + "XXXXXX")).string();
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) Fail("cannot create a file in \"" + folder.string() + "\": " + ErrnoText(errno));
  fchmod(fd, 0644);
  *path = pattern;
  return fd;
}

// The digits a publication's folder name starts with; 0 for other names.
uint64_t PublicationNumber(const std::string& name) {
  size_t digits = 0;
  while (digits < name.size() && digits < 19 && name[digits] >= '0' && name[digits] <= '9') ++digits;
  if (digits == 0 || (digits < name.size() && name[digits] != '-')) return 0;
  return std::stoull(name.substr(0, digits));
}

std::string PublicationName(uint64_t number) {
  char text[64];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  std::snprintf(text, sizeof text, "%06llu-%s", static_cast<unsigned long long>(number), stamp);
  return text;
}

std::vector<unsigned char> ReadList(const fs::path& path, const std::string& what) {
  std::optional<std::vector<unsigned char>> bytes = ReadFileStart(path, kMaxListBytes, what);
  if (!bytes) Fail(what + " \"" + path.string() + "\" does not exist");
  if (bytes->size() > kMaxListBytes) Fail(what + " \"" + path.string() + "\" is too large for a list");
  return *bytes;
}

}  // namespace

void WriteAll(int fd, const void* data, size_t size, const fs::path& path) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t put = write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) Fail("cannot write \"" + path.string() + "\": " + ErrnoText(put < 0 ? errno : ENOSPC));
    done += static_cast<size_t>(put);
  }
}

std::optional<std::vector<unsigned char>> ReadFileStart(const fs::path& path, size_t limit, const std::string& what) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return std::nullopt;
  if (fd < 0) Fail("cannot open " + what + " \"" + path.string() + "\": " + ErrnoText(errno));
  std::vector<unsigned char> bytes(limit + 1);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int err = errno;
      close(fd);
      Fail("cannot read " + what + " \"" + path.string() + "\": " + ErrnoText(err));
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  close(fd);
  bytes.resize(done);
  return bytes;
}

PublishFolder::PublishFolder(const fs::path& output) : m_path(output) {
  if (mkdir(output.c_str(), 0755) == 0)
    m_created = true;
  else if (errno != EEXIST)
    Fail("cannot create \"" + output.string() + "\": " + ErrnoText(errno));
  m_fd = open(output.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (m_fd < 0) Fail("cannot open \"" + output.string() + "\": " + ErrnoText(errno));
  if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(m_fd);
    m_fd = -1;
    if (err == EWOULDBLOCK) Fail("another wren-publish is working on \"" + output.string() + "\"; try again later");
    Fail("cannot lock \"" + output.string() + "\": " + ErrnoText(err));
  }
}

PublishFolder::~PublishFolder() {
  if (!m_committed) {
    std::error_code ec;
    if (m_created) {
      fs::remove_all(m_path, ec);
    } else {
      for (auto it = m_madeFiles.rbegin(); it != m_madeFiles.rend(); ++it) fs::remove_all(*it, ec);
      for (auto it = m_madeFolders.rbegin(); it != m_madeFolders.rend(); ++it) rmdir(it->c_str());
    }
  }
  if (m_fd >= 0) close(m_fd);  // also releases the lock
}

void PublishFolder::MakeFolders(const fs::path& folder) {
  if (folder == m_path || folder.empty()) return;
  struct stat st {};
  if (lstat(folder.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) Fail("\"" + folder.string() + "\" is in the way of a folder of part files");
    return;
  }
  MakeFolders(folder.parent_path());
  if (mkdir(folder.c_str(), 0755) != 0) Fail("cannot create \"" + folder.string() + "\": " + ErrnoText(errno));
  m_madeFolders.push_back(folder);
}

bool PublishFolder::HasPart(const std::string& remoteName, uint64_t size) const {
  struct stat st {};
  return lstat((m_path / remoteName).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         static_cast<uint64_t>(st.st_size) == size;
}

bool PublishFolder::StorePart(const std::string& remoteName, const std::vector<unsigned char>& bytes) {
  const fs::path path = m_path / remoteName;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) Fail("\"" + path.string() + "\" is in the way of a part file");
    if (static_cast<uint64_t>(st.st_size) == bytes.size()) return false;
    // Another size under a name made from a digest of the bytes: a copy cut
    // short, never a part of any publication. The whole one replaces it.
  }
  MakeFolders(path.parent_path());
  fs::path temp;
  const int fd = MakeTempFile(path.parent_path(), &temp);
  m_madeFiles.push_back(temp);
  WriteAll(fd, bytes.data(), bytes.size(), temp);
  if (close(fd) != 0) Fail("cannot write \"" + temp.string() + "\": " + ErrnoText(errno));
  if (rename(temp.c_str(), path.c_str()) != 0) Fail("cannot rename \"" + temp.string() + "\": " + ErrnoText(errno));
  m_madeFiles.back() = path;
  return true;
}

void PublishFolder::Sync() {
  if (syncfs(m_fd) != 0) Fail("cannot flush \"" + m_path.string() + "\" to the disk: " + ErrnoText(errno));
}

std::string PublishFolder::RecordPublication(const std::vector<NamedBytes>& files) {
  const fs::path history = m_path / kPublicationsFolder;
  MakeFolders(history);
  std::vector<Publication> earlier = ListPublications(m_path);
  auto record = [&](const std::vector<NamedBytes>& content) {
    const uint64_t number = earlier.empty() ? 1 : earlier.back().number + 1;
    const std::string name = PublicationName(number);
    std::string pattern = (history / (std::string(kTempPrefix) + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) Fail("cannot create a folder in \"" + history.string() + "\": " + ErrnoText(errno));
    const fs::path temp = pattern;
    m_madeFiles.push_back(temp);
    chmod(temp.c_str(), 0755);
    for (const NamedBytes& file : content) {
      const fs::path path = temp / file.name;
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) Fail("cannot create \"" + path.string() + "\": " + ErrnoText(errno));
      WriteAll(fd, file.bytes->data(), file.bytes->size(), path);
      if (close(fd) != 0) Fail("cannot write \"" + path.string() + "\": " + ErrnoText(errno));
    }
    const fs::path final = history / name;
    if (rename(temp.c_str(), final.c_str()) != 0)
      Fail("cannot rename \"" + temp.string() + "\": " + ErrnoText(errno));
    m_madeFiles.back() = final;
    earlier.push_back({number, name});
    return name;
  };
  if (earlier.empty()) {
    // A folder published before the history was kept: its list is the one
    // players may be part-way through.
    std::optional<std::vector<unsigned char>> list =
        ReadFileStart(m_path / kListFileName, kMaxListBytes, "the earlier list");
    std::optional<std::vector<unsigned char>> manifest =
        ReadFileStart(m_path / kManifestName, kMaxManifestBytes, "the earlier manifest");
    if (list) {
      std::vector<NamedBytes> before = {{kListFileName, &*list}};
      if (manifest) before.push_back({kManifestName, &*manifest});
      record(before);
    }
  }
  return record(files);
}

void PublishFolder::Replace(const std::string& name, const std::vector<unsigned char>& bytes) {
  fs::path temp;
  const int fd = MakeTempFile(m_path, &temp);
  m_madeFiles.push_back(temp);
  WriteAll(fd, bytes.data(), bytes.size(), temp);
  if (fsync(fd) != 0 || close(fd) != 0) Fail("cannot write \"" + temp.string() + "\": " + ErrnoText(errno));
  const fs::path path = m_path / name;
  if (rename(temp.c_str(), path.c_str()) != 0) Fail("cannot rename \"" + temp.string() + "\": " + ErrnoText(errno));
  m_madeFiles.pop_back();  // the earlier file is gone: nothing to undo
  fsync(m_fd);
}

void PublishFolder::Remove(const std::string& name) {
  const fs::path path = m_path / name;
  if (unlink(path.c_str()) != 0 && errno != ENOENT)
    Fail("cannot remove \"" + path.string() + "\": " + ErrnoText(errno));
  fsync(m_fd);
}

std::vector<Publication> ListPublications(const fs::path& output) {
  std::vector<Publication> found;
  std::error_code ec;
  for (fs::directory_iterator it(output / kPublicationsFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const uint64_t number = PublicationNumber(name);
    if (number && it->is_directory(ec)) found.push_back({number, name});
  }
  std::sort(found.begin(), found.end(), [](const Publication& a, const Publication& b) { return a.number < b.number; });
  return found;
}

std::vector<std::string> PartNamesOfList(const std::vector<unsigned char>& packedList, const std::string& what) {
  unsigned char* data = nullptr;
  uint32_t size = 0;
  if (UnpackBuffer(packedList.data(), packedList.size(), &data, &size) != UNPACK_OK)
    Fail(what + " cannot be unpacked");
  CCheckerCore core;
  const int parsed = core.ParseFileList(data, size);
  FreeUnpacked(data);
  if (parsed != 0) Fail(what + " cannot be read as a file list (" + std::to_string(parsed) + ")");
  std::vector<std::string> names;
  for (const auto& file : core.m_listFiles)
    for (const CDLFileInfo& part : file->m_aParts) names.push_back(part.m_strRemoteName);
  return names;
}

PruneSummary Prune(const fs::path& output, size_t keep, bool dryRun) {
  if (keep == 0) Fail("--keep must be at least 1: the publication served now is always kept");
  std::error_code ec;
  if (!fs::is_regular_file(output / kListFileName, ec))
    Fail("\"" + output.string() + "\" is not a publish folder (no " + kListFileName + ")");
  PublishFolder folder(output);
  folder.Commit();  // prune makes nothing to undo

  const std::vector<Publication> publications = ListPublications(output);
  const size_t first = publications.size() > keep ? publications.size() - keep : 0;
  PruneSummary summary;
  summary.publicationsKept = publications.size() - first;
  summary.publicationsRemoved = first;
  if (first < publications.size()) summary.oldestKept = publications[first].name;

  // Every name any kept list uses, read before anything is removed.
  std::set<std::string> used;
  auto use = [&](const fs::path& list, const std::string& what) {
    for (std::string& name : PartNamesOfList(ReadList(list, what), what + " \"" + list.string() + "\""))
      used.insert(std::move(name));
  };
  use(output / kListFileName, "the list served now");
  for (size_t i = first; i < publications.size(); ++i)
    use(output / kPublicationsFolder / publications[i].name / kListFileName, "the list of publication");

  const fs::path parts = output / kPartsFolder;
  std::vector<fs::path> unused, folders;
  for (fs::recursive_directory_iterator it(parts, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    if (fs::is_directory(status)) {
      folders.push_back(it->path());
      continue;
    }
    if (!fs::is_regular_file(status)) continue;
    const uint64_t size = it->file_size(ec);
    if (used.count(it->path().lexically_relative(output).generic_string())) {
      ++summary.partsKept;
      summary.bytesKept += size;
    } else {
      unused.push_back(it->path());
      ++summary.partsRemoved;
      summary.bytesRemoved += size;
    }
  }
  if (ec && ec != std::errc::no_such_file_or_directory) Fail("cannot read \"" + parts.string() + "\": " + ec.message());
  if (dryRun) return summary;

  for (const fs::path& path : unused)
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
      Fail("cannot remove \"" + path.string() + "\": " + ErrnoText(errno));
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) rmdir(it->c_str());  // the empty ones
  for (size_t i = 0; i < first; ++i) {
    fs::remove_all(output / kPublicationsFolder / publications[i].name, ec);
    if (ec) Fail("cannot remove publication " + publications[i].name + ": " + ec.message());
  }
  // What a publish killed part-way left of its list and its publication.
  for (const fs::path& place : {output, output / kPublicationsFolder})
    for (fs::directory_iterator it(place, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().filename().string().rfind(kTempPrefix, 0) == 0) fs::remove_all(it->path(), ec);
  return summary;
}

}  // namespace wren_tools
