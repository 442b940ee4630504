// The publish folder across many publications. Part files are named by a
// digest of their bytes, so a publication only adds files: what a starter
// part-way through an earlier publication still fetches stays as it was.
// The lists of the publications live under publications/ until prune drops
// them with the parts that no kept list names.
//
//   filelist.dat, manifest.dat   the publication served now (replaced last,
//                                each by an atomic rename)
//   files/...                    the part files of every kept publication
//   publications/NNNNNN-<UTC time>/filelist.dat packing.txt [manifest.dat]
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wren_tools {

inline constexpr const char* kPublicationsFolder = "publications";

// Writes all bytes to fd; PublishError naming path when it cannot.
void WriteAll(int fd, const void* data, size_t size, const std::filesystem::path& path);
// The start of a file, at most limit + 1 bytes of it (more than limit: the
// file is longer than it may be), or nothing when it does not exist.
std::optional<std::vector<unsigned char>> ReadFileStart(const std::filesystem::path& path, size_t limit,
                                                        const std::string& what);

// One wren-publish run's hold on the publish folder: the folder is made when
// missing and locked (flock on the folder itself, so a second publish or a
// prune of the same folder waits for nothing and fails at once). Until
// Commit, every file and folder the run made is removed again when it ends,
// so a publish that fails leaves the folder as it found it.
class PublishFolder {
 public:
  explicit PublishFolder(const std::filesystem::path& output);
  ~PublishFolder();
  PublishFolder(const PublishFolder&) = delete;
  PublishFolder& operator=(const PublishFolder&) = delete;

  // Stores a part file under its remote name (relative to the folder). A
  // file of that name and size is already the part: it is kept. Otherwise
  // the bytes go to a temporary file beside it that is renamed into place,
  // so no name ever holds half a part. True when it was written.
  bool StorePart(const std::string& remoteName, const std::vector<unsigned char>& bytes);
  // True when a part file of that name and size is there.
  bool HasPart(const std::string& remoteName, uint64_t size) const;

  // Flushes everything written so far to the disk: the list that names the
  // parts must never be there without them after a crash.
  void Sync();

  // A new publications/<name>/ holding these files (name, bytes); returns
  // <name>. When the folder has no publication yet but an earlier list, that
  // list (with its manifest) is recorded first, so prune keeps its parts.
  struct NamedBytes {
    std::string name;
    const std::vector<unsigned char>* bytes;
  };
  std::string RecordPublication(const std::vector<NamedBytes>& files);

  // Replaces a file at the top of the folder in one step (atomic rename).
  void Replace(const std::string& name, const std::vector<unsigned char>& bytes);
  // Removes a file at the top of the folder, if it is there.
  void Remove(const std::string& name);

  // The new publication is in place: nothing is undone from now on.
  void Commit() { m_committed = true; }

  const std::filesystem::path& Path() const { return m_path; }

 private:
  void MakeFolders(const std::filesystem::path& folder);

  std::filesystem::path m_path;
  int m_fd = -1;
  bool m_created = false;
  bool m_committed = false;
  std::vector<std::filesystem::path> m_madeFiles;
  std::vector<std::filesystem::path> m_madeFolders;
};

struct Publication {
  uint64_t number = 0;
  std::string name;  // the folder's name under publications/
};

// The publications recorded in a publish folder, oldest first.
std::vector<Publication> ListPublications(const std::filesystem::path& output);

// The remote names of every part a packed file list names; PublishError
// when the bytes are no list.
std::vector<std::string> PartNamesOfList(const std::vector<unsigned char>& packedList, const std::string& what);

struct PruneSummary {
  size_t publicationsKept = 0;
  size_t publicationsRemoved = 0;
  size_t partsKept = 0;
  uint64_t bytesKept = 0;
  size_t partsRemoved = 0;
  uint64_t bytesRemoved = 0;
  std::string oldestKept;  // the name of the oldest publication kept
};

// Keeps the last `keep` publications (at least one) and the list served now,
// and removes every other publication's list and every file under files/
// that none of the kept lists names. Refuses, removing nothing, when a kept
// list cannot be read. dryRun: only counts what it would remove.
PruneSummary Prune(const std::filesystem::path& output, size_t keep, bool dryRun);

}  // namespace wren_tools
