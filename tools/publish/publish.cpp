#include "publish/publish.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "common/list_limits.h"
#include "platform/mbcs.h"
#include "engine/crc32.h"
#include "engine/filelist.h"
#include "engine/filelist_writer.h"
#include "engine/packed.h"
#include "engine/records.h"
#include "publish/publish_folder.h"
#include "trust/key_text.h"
#include "trust/manifest.h"
#include "trust/sha256.h"

namespace wren_tools {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& message) { throw PublishError(message); }

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// One regular file of the source folder, with the names derived from it.
struct SourceFile {
  fs::path path;
  std::string relative;  // UTF-8, '/' between folders: for messages and patterns
  std::string listName;  // code page 932, '\' between folders
  std::string remoteFolder;  // where its part files go: "files/<folders>/"
  std::string remoteStem;    // the part files' names start with it
  size_t partCount = 0;
};

// ASCII letters folded to lower case, double-byte characters as they are:
// the names Windows treats as one.
std::string FoldCase(std::string_view cp932) {
  std::string out(cp932);
  for (size_t i = 0; i < out.size(); i = mbcs::CharNext(out, i))
    if (mbcs::CharLength(out, i) == 1 && out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
  return out;
}

// Part files are fetched by URL, and neither HTTP clients nor servers agree on
// what to do with bytes above 0x7F (or a 0x5C trail byte) in a path. Their
// names keep only characters that travel as they are; the file-list name of
// the target keeps the real one.
std::string UrlSafeName(std::string_view cp932) {
  std::string out;
  for (size_t i = 0; i < cp932.size(); i = mbcs::CharNext(cp932, i)) {
    const char c = cp932[i];
    const bool keep = mbcs::CharLength(cp932, i) == 1 &&
                      ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-');
    out.push_back(keep ? c : '_');
  }
  return out;
}

uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds) {
  constexpr int64_t kSecondsFrom1601 = 11644473600LL;
  if (seconds < -kSecondsFrom1601) return 0;
  return static_cast<uint64_t>(seconds + kSecondsFrom1601) * 10000000u + nanoseconds / 100;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

bool MatchesRawPattern(const PublishOptions& options, const std::string& relative) {
  if (options.rawAll) return true;
  for (const std::string& pattern : options.rawPatterns)
    if (fnmatch(pattern.c_str(), relative.c_str(), 0) == 0) return true;
  return false;
}

// The list's name for a relative path: every component in code page 932,
// joined with '\', safe to join to the user's image folder and short enough
// for the list.
std::string ListName(const fs::path& relative, const std::string& shown) {
  std::string name;
  for (const fs::path& component : relative) {
    const std::string utf8 = component.string();
    // Linux allows '\' inside a name; the list would read it as a folder.
    if (utf8.find('\\') != std::string::npos) Fail("\"" + shown + "\": a name with '\\' cannot be published");
    std::optional<std::string> converted = Utf8ToCp932(utf8);
    if (!converted) Fail("\"" + shown + "\": the name has characters that code page 932 cannot hold");
    if (!name.empty()) name += '\\';
    name += *converted;
  }
  if (name.size() > MAX_LIST_NAME)
    Fail("\"" + shown + "\": the name is " + std::to_string(name.size()) + " bytes in code page 932; at most " +
         std::to_string(MAX_LIST_NAME) + " fit in the file list");
  if (!IsSafeRelativePath(name))
    Fail("\"" + shown + "\": the name is not a safe file name on Windows (reserved name, forbidden character, " +
         "or a name ending in '.' or ' ')");
  return name;
}

std::vector<SourceFile> ScanSource(const fs::path& root) {
  std::vector<SourceFile> files;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) Fail("cannot read \"" + root.string() + "\": " + ec.message());
  for (; it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const fs::path relative = entry.path().lexically_relative(root);
    const std::string shown = relative.generic_string();
    const fs::file_status status = entry.status(ec);
    if (ec) Fail("cannot read \"" + shown + "\": " + ec.message());
    if (fs::is_directory(status)) {
      // Following a link to a folder could loop or leave the source folder.
      if (entry.is_symlink()) Fail("\"" + shown + "\": a symbolic link to a folder cannot be published");
      continue;
    }
    // FIFOs, sockets and devices have no content to publish (and a FIFO would block the read).
    if (!fs::is_regular_file(status)) Fail("\"" + shown + "\": not a regular file");
    SourceFile file;
    file.path = entry.path();
    file.relative = shown;
    file.listName = ListName(relative, shown);
    file.remoteFolder = std::string(kPartsFolder) + "/";
    for (const fs::path& component : relative.parent_path())
      file.remoteFolder += UrlSafeName(*Utf8ToCp932(component.string())) + "/";
    file.remoteStem = UrlSafeName(*Utf8ToCp932(relative.filename().string()));
    files.push_back(std::move(file));
  }
  if (ec) Fail("cannot read \"" + root.string() + "\": " + ec.message());
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });

  // Windows would install two names that differ only in case into one file.
  std::map<std::string, const SourceFile*> seen;
  for (const SourceFile& file : files) {
    auto [at, added] = seen.emplace(FoldCase(file.listName), &file);
    if (!added)
      Fail("\"" + at->second->relative + "\" and \"" + file.relative + "\" would be the same file on Windows");
  }
  return files;
}

std::string PartSuffix(size_t index) {
  char text[8];
  std::snprintf(text, sizeof text, ".p%02u", static_cast<unsigned>(index));
  return text;
}

// The digest in a part's name: the first 16 hex digits of the SHA-256 of
// its stored bytes. Identical bytes keep their name from one publication to
// the next, and a name never stands for other bytes, so a starter part-way
// through an earlier publication (and every cache on the way) still gets
// the bytes its list promises.
constexpr size_t kDigestBytesInName = 8;
constexpr size_t kNameTail = 4 + 1 + 2 * kDigestBytesInName;  // ".pNN" "." digest

std::string Hex(const CSha256::Digest& digest, size_t bytes = CSha256::kSize) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < bytes; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::string NameDigest(const std::vector<unsigned char>& stored) {
  return Hex(CSha256::Of(stored.data(), stored.size()), kDigestBytesInName);
}

// What packing made of a part's content in the folder's earlier
// publications, so that a republish packs only the parts that changed: with
// zlib at its best level, packing costs far more than reading and hashing.
// Each publication keeps its own as publications/<name>/packing.txt, one
// line per part that was offered to zlib: the SHA-256 of the content, the
// digest in the part's name, the stored size and CRC-32, and 1 when packing
// did not help (the part is stored raw). The part file must still be there
// with that size for an entry to count.
constexpr const char* kPackingFileName = "packing.txt";

struct Packing {
  std::string digest;  // as in the part's name
  uint32_t size = 0;
  uint32_t crc = 0;
  bool raw = false;
};

class PackingMemo {
 public:
  void Load(const fs::path& output) {
    for (const Publication& p : ListPublications(output)) {
      const std::optional<std::vector<unsigned char>> bytes =
          ReadFileStart(output / kPublicationsFolder / p.name / kPackingFileName, kMaxMemoBytes, "the packing memo");
      if (!bytes || bytes->size() > kMaxMemoBytes) continue;
      std::istringstream in(std::string(bytes->begin(), bytes->end()));
      std::string content, digest;
      unsigned long long size = 0;
      unsigned long crc = 0;
      int raw = 0;
      for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> content >> digest >> size >> std::hex >> crc >> std::dec >> raw && content.size() == 64 &&
            digest.size() == 2 * kDigestBytesInName && size <= UINT32_MAX && crc <= UINT32_MAX && raw >= 0 && raw <= 1)
          m_known[content] = {digest, static_cast<uint32_t>(size), static_cast<uint32_t>(crc), raw == 1};
      }
    }
  }
  const Packing* Find(const std::string& content) const {
    auto it = m_known.find(content);
    return it == m_known.end() ? nullptr : &it->second;
  }
  void Note(const std::string& content, const Packing& packing) {
    char line[160];
    std::snprintf(line, sizeof line, "%s %s %u %08x %d\n", content.c_str(), packing.digest.c_str(), packing.size,
                  packing.crc, packing.raw ? 1 : 0);
    m_text.insert(m_text.end(), line, line + std::strlen(line));
  }
  const std::vector<unsigned char>& Text() const { return m_text; }

 private:
  static constexpr size_t kMaxMemoBytes = 64u << 20;
  std::map<std::string, Packing> m_known;
  std::vector<unsigned char> m_text;
};

// The remote name of one part: "files/<folders>/<stem>.pNN.<digest>". All
// part files end up side by side in the starter's download folder under the
// last component of their remote name, so those must differ (ignoring case)
// across the whole list: two files of one name with the same bytes get "~2",
// "~3", ... after the stem. A stem too long for the list's name limit is cut;
// the digest keeps the name apart.
std::string PartName(const SourceFile& file, size_t index, const std::string& digest,
                     std::set<std::string>& usedLocalNames) {
  for (unsigned n = 1;; ++n) {
    const std::string tail = (n == 1 ? "" : "~" + std::to_string(n)) + PartSuffix(index) + "." + digest;
    if (file.remoteFolder.size() + tail.size() >= MAX_LIST_NAME)
      Fail("\"" + file.relative + "\": no part file name of at most " + std::to_string(MAX_LIST_NAME) +
           " bytes can be made for it");
    const std::string local = file.remoteStem.substr(0, MAX_LIST_NAME - file.remoteFolder.size() - tail.size()) + tail;
    if (!usedLocalNames.insert(FoldCase(local)).second) continue;
    if (!IsSafeFileName(local))
      Fail("\"" + file.relative + "\": its part file name \"" + local + "\" is not a safe file name on Windows");
    return file.remoteFolder + local;
  }
}

class FileReader {
 public:
  explicit FileReader(const SourceFile& file) : m_file(file) {
    m_fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) Fail("cannot open \"" + file.relative + "\": " + ErrnoText(errno));
  }
  ~FileReader() { close(m_fd); }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  struct statx Status() const {
    struct statx st {};
    if (statx(m_fd, "", AT_EMPTY_PATH, STATX_SIZE | STATX_MTIME | STATX_BTIME, &st) != 0)
      Fail("cannot read the status of \"" + m_file.relative + "\": " + ErrnoText(errno));
    return st;
  }

  // Exactly size bytes, or the file changed under us.
  void Read(std::vector<unsigned char>& buffer, size_t size) {
    buffer.resize(size);
    size_t done = 0;
    while (done < size) {
      const ssize_t got = read(m_fd, buffer.data() + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Fail("cannot read \"" + m_file.relative + "\": " + ErrnoText(errno));
      if (got == 0) Fail("\"" + m_file.relative + "\" became shorter while it was published");
      done += static_cast<size_t>(got);
    }
  }

  void ExpectEnd() {
    unsigned char byte;
    ssize_t got;
    do {
      got = read(m_fd, &byte, 1);
    } while (got < 0 && errno == EINTR);
    if (got != 0) Fail("\"" + m_file.relative + "\" grew while it was published");
  }

 private:
  const SourceFile& m_file;
  int m_fd = -1;
};

// Never replaces a file, nor follows a link to one (O_EXCL).
void WriteNewFile(const fs::path& path, const void* data, size_t size, mode_t mode = 0644) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) Fail("cannot create \"" + path.string() + "\": " + ErrnoText(errno));
  try {
    WriteAll(fd, data, size, path);
  } catch (const PublishError&) {
    close(fd);
    throw;
  }
  if (close(fd) != 0) Fail("cannot write \"" + path.string() + "\": " + ErrnoText(errno));
}

void Wipe(void* data, size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
}

uint32_t Crc(const void* data, size_t size) {
  CCrc32 crc;
  crc.Update(data, size);
  return crc.GetValue();
}

// Reads one source file part by part, stores the part files in the publish
// folder and returns the record that describes them; sets *sha256 to the
// hash of the whole file unless it is null.
CCheckFile PublishFile(const SourceFile& source, uint64_t size, PublishFolder& folder, const PublishOptions& options,
                       std::set<std::string>& usedLocalNames, PackingMemo& memo, PublishSummary& summary,
                       CSha256::Digest* sha256) {
  FileReader reader(source);
  const struct statx st = reader.Status();
  if (st.stx_size != size) Fail("\"" + source.relative + "\" changed while it was published");
  const bool raw = MatchesRawPattern(options, source.relative);

  CCheckFile file;
  file.m_strName = source.listName;
  file.m_dwSize = static_cast<uint32_t>(size);
  file.m_ftLastWrite = ToFileTime(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
  // Linux file systems do not all keep a birth time; the last write is the
  // closest stand-in.
  file.m_ftCreation =
      (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : file.m_ftLastWrite;

  CCrc32 wholeCrc;
  std::optional<CSha256> wholeSha;
  if (sha256) wholeSha.emplace();
  std::vector<unsigned char> content;
  uint64_t remaining = size;
  for (size_t index = 0; index < source.partCount; ++index) {
    const size_t partSize = static_cast<size_t>(std::min<uint64_t>(remaining, options.partSize));
    reader.Read(content, partSize);
    remaining -= partSize;
    wholeCrc.Update(content.data(), content.size());
    if (wholeSha) wholeSha->Update(content.data(), content.size());

    CDLFileInfo part;
    part.m_dwCrc = Crc(content.data(), content.size());
    part.m_dwSize = static_cast<uint32_t>(partSize);
    Packing packing;
    bool stored = false;
    const std::string contentKey = raw ? std::string() : Hex(CSha256::Of(content.data(), content.size()));
    if (const Packing* known = raw ? nullptr : memo.Find(contentKey)) {
      packing = *known;
      part.m_strRemoteName = PartName(source, index, packing.digest, usedLocalNames);
      stored = folder.HasPart(part.m_strRemoteName, packing.size);
    }
    if (!stored) {
      std::vector<unsigned char> packed;
      if (!raw) packed = PackBuffer(content.data(), content.size());
      // Packing that does not make the part smaller only costs the starter time.
      const bool keepRaw = raw || packed.size() >= content.size();
      const std::vector<unsigned char>& bytes = keepRaw ? content : packed;
      const std::string digest = NameDigest(bytes);
      if (part.m_strRemoteName.empty() || digest != packing.digest)
        part.m_strRemoteName = PartName(source, index, digest, usedLocalNames);
      packing = {digest, static_cast<uint32_t>(bytes.size()), Crc(bytes.data(), bytes.size()), keepRaw};
      if (folder.StorePart(part.m_strRemoteName, bytes)) {
        ++summary.partsWritten;
        summary.bytesWritten += bytes.size();
      }
    }
    if (!raw) memo.Note(contentKey, packing);
    part.m_wFlags = packing.raw ? FILE_FLAG_RAW : 0;
    part.m_dwPackedCrc = packing.crc;
    part.m_dwPackedSize = packing.size;

    ++summary.parts;
    summary.rawParts += packing.raw ? 1 : 0;
    summary.partBytes += packing.size;
    file.m_aParts.push_back(std::move(part));
  }
  reader.ExpectEnd();
  file.m_dwCrc = wholeCrc.GetValue();
  if (sha256) *sha256 = wholeSha->GetValue();
  // A file is raw when all its parts are; a single part shares the file's flags.
  const bool allRaw = std::all_of(file.m_aParts.begin(), file.m_aParts.end(),
                                  [](const CDLFileInfo& p) { return p.m_wFlags & FILE_FLAG_RAW; });
  file.m_wFlags = allRaw ? FILE_FLAG_RAW : 0;
  summary.contentBytes += size;
  return file;
}

// Where the output may go: not overlapping the source, and into nothing but
// an empty folder or an earlier publish.
void CheckOutputPlace(const fs::path& source, const fs::path& output) {
  if (IsWithin(output, source) || IsWithin(source, output))
    Fail("the publish folder \"" + output.string() + "\" and the source folder \"" + source.string() +
         "\" must not contain each other");
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(output, ec);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status) ||
      !(fs::is_empty(output, ec) || fs::is_regular_file(output / kListFileName, ec)))
    Fail("\"" + output.string() + "\" exists and is not a publish folder; remove it or choose another");
}

// What a signed publication needs before anything is written: the key and
// the serial of its manifest.
struct Signing {
  ed25519::Seed seed{};
  ed25519::PublicKey key{};
  uint64_t serial = 0;

  ~Signing() { Wipe(seed.data(), seed.size()); }
};

// The serial of the manifest already in output, when one is there and was
// signed with key; a manifest of another key or a broken one says nothing.
std::optional<uint64_t> EarlierSerial(const fs::path& output, const ed25519::PublicKey& key) {
  const std::optional<std::vector<unsigned char>> bytes =
      ReadFileStart(output / kManifestName, kMaxManifestBytes, "the earlier manifest");
  CManifest earlier;
  if (!bytes || ReadSignedManifest(bytes->data(), bytes->size(), key, &earlier) != ManifestCheck::Ok)
    return std::nullopt;
  return earlier.m_qwSerial;
}

uint64_t ChooseSerial(const std::optional<uint64_t>& wanted, const std::optional<uint64_t>& earlier) {
  if (earlier && *earlier == UINT64_MAX) Fail("the publication in the output has the last possible serial");
  if (wanted) {
    if (earlier && *wanted <= *earlier)
      Fail("the serial " + std::to_string(*wanted) + " must be greater than " + std::to_string(*earlier) +
           ", the serial of the publication in the output");
    return *wanted;
  }
  const uint64_t now = static_cast<uint64_t>(std::max<std::time_t>(std::time(nullptr), 0));
  return earlier ? std::max(now, *earlier + 1) : now;
}

}  // namespace

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  // Characters outside code page 932 must fail, not come out as substitutes.
  if (rc == static_cast<size_t>(-1) || rc != 0 || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

std::string MakeDownloadBase(const std::string& host, const std::string& urlPath) {
  auto isHostChar = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
  };
  const size_t colon = host.find(':');
  const std::string name = host.substr(0, colon);
  if (name.empty() || !std::all_of(name.begin(), name.end(), isHostChar))
    Fail("the host \"" + host + "\" is not a host name or IPv4 address");
  if (colon != std::string::npos) {
    const std::string port = host.substr(colon + 1);
    const bool digits =
        !port.empty() && port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(port) == 0 || std::stoi(port) > 65535)
      Fail("the host \"" + host + "\" has no valid port after ':'");
  }
  for (char c : urlPath) {
    if (!(isHostChar(c) || c == '_' || c == '~' || c == '/'))
      Fail("the path \"" + urlPath + "\" may hold only letters, digits and . _ ~ - /");
  }
  std::string path = urlPath;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  if (path.back() != '/') path.push_back('/');
  return "/" + host + path;
}

std::optional<uint32_t> ParsePartSize(const std::string& text) {
  size_t end = 0;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  if (end == 0 || end > 10) return std::nullopt;
  unsigned long long value = std::stoull(text.substr(0, end));
  const std::string suffix = text.substr(end);
  if (suffix == "K" || suffix == "k")
    value <<= 10;
  else if (suffix == "M" || suffix == "m")
    value <<= 20;
  else if (!suffix.empty())
    return std::nullopt;
  if (value == 0 || value > kMaxPartSize) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<uint64_t> ParsePlainNumber(const std::string& text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;  // value * 10 + digit > max
    value = value * 10 + digit;
  }
  return value;
}

PublishSummary Publish(const PublishOptions& options) {
  if (options.partSize == 0 || options.partSize > kMaxPartSize)
    Fail("the part size must be 1 to " + std::to_string(kMaxPartSize) + " bytes");
  std::error_code ec;
  if (!fs::is_directory(options.source, ec)) Fail("\"" + options.source.string() + "\" is not a folder");
  const fs::path source = fs::canonical(options.source);
  const fs::path output = fs::weakly_canonical(fs::absolute(options.output));
  if (output.filename().empty()) Fail("\"" + options.output.string() + "\" cannot be a publish folder");
  CheckOutputPlace(source, output);
  const std::string base = MakeDownloadBase(options.host, options.urlPath);
  std::optional<Signing> signing;
  if (!options.signingKey.empty()) {
    signing.emplace();
    signing->seed = ReadSigningKey(options.signingKey);
    if (!ed25519::PublicKeyOf(signing->seed, &signing->key)) Fail("cannot derive the public key: libgcrypt failed");
  } else if (options.serial) {
    Fail("a serial needs a signing key");
  }

  // Every name and size is checked before the first part is written.
  std::vector<SourceFile> files = ScanSource(source);
  std::string installer;
  {
    std::string relative = options.installer;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::string shown = options.installer;
    const std::optional<std::string> wanted = Utf8ToCp932(fs::path(relative).lexically_normal().generic_string());
    auto it = std::find_if(files.begin(), files.end(), [&](const SourceFile& f) {
      return wanted && FoldCase(mbcs::ReplaceChar(*wanted, '/', '\\')) == FoldCase(f.listName);
    });
    if (options.installer.empty() || it == files.end())
      Fail("the installer \"" + shown + "\" is not a file in \"" + options.source.string() + "\"");
    installer = it->listName;
  }
  std::vector<uint64_t> sizes;
  for (SourceFile& file : files) {
    const uint64_t size = fs::file_size(file.path, ec);
    if (ec) Fail("cannot read the size of \"" + file.relative + "\": " + ec.message());
    if (size > UINT32_MAX)
      Fail("\"" + file.relative + "\" is " + std::to_string(size) + " bytes; the file list describes files of at most " +
           std::to_string(UINT32_MAX) + " bytes");
    const uint64_t partCount = std::max<uint64_t>(1, (size + options.partSize - 1) / options.partSize);
    if (partCount > kMaxPartsPerFile) {
      const uint64_t needed = (size + kMaxPartsPerFile - 1) / kMaxPartsPerFile;
      Fail("\"" + file.relative + "\" would need " + std::to_string(partCount) + " parts; at most " +
           std::to_string(kMaxPartsPerFile) + " are allowed: choose a part size of at least " +
           std::to_string(needed) + " bytes");
    }
    if (file.remoteFolder.size() + 1 + kNameTail > MAX_LIST_NAME)
      Fail("\"" + file.relative + "\": no part file name of at most " + std::to_string(MAX_LIST_NAME) +
           " bytes can be made for it");
    file.partCount = static_cast<size_t>(partCount);
    sizes.push_back(size);
  }

  fs::create_directories(output.parent_path(), ec);
  if (ec) Fail("cannot create \"" + output.parent_path().string() + "\": " + ec.message());
  PublishFolder folder(output);
  // Under the lock: no other publish can move the serial on meanwhile.
  if (signing) signing->serial = ChooseSerial(options.serial, EarlierSerial(output, signing->key));
  PublishSummary summary;
  CFileListWriter writer(options.leadNumber, base, installer);
  CManifest manifest;
  std::set<std::string> usedLocalNames;
  PackingMemo memo;
  memo.Load(output);
  try {
    for (size_t i = 0; i < files.size(); ++i) {
      CSha256::Digest sha256{};
      writer.AddFile(PublishFile(files[i], sizes[i], folder, options, usedLocalNames, memo, summary,
                                 signing ? &sha256 : nullptr));
      manifest.m_files.push_back({static_cast<uint32_t>(sizes[i]), sha256});
    }
  } catch (const fs::filesystem_error& e) {
    Fail(e.what());
  } catch (const std::bad_alloc&) {
    Fail("out of memory; try a smaller part size");
  }
  summary.files = files.size();
  summary.partsKept = summary.parts - summary.partsWritten;
  summary.bytesKept = summary.partBytes - summary.bytesWritten;

  const std::vector<unsigned char> list = writer.BuildPacked();
  if (list.size() > kMaxListBytes)
    Fail("the packed file list is " + std::to_string(list.size()) + " bytes; the file-information session carries " +
         "at most " + std::to_string(kMaxListBytes) + " bytes: publish fewer files or shorter names");
  summary.listBytes = list.size();
  std::vector<uint8_t> signedManifest;
  if (signing) {
    manifest.m_qwSerial = signing->serial;
    manifest.m_listSha256 = CSha256::Of(list.data(), list.size());
    signedManifest = BuildSignedManifest(manifest, signing->seed);
    if (signedManifest.empty()) Fail("cannot sign the manifest of " + std::to_string(files.size()) + " files");
    summary.serial = signing->serial;
  }

  // The parts are on the disk before any list names them; then the history,
  // and last what the servers read: a publish that fails before the list is
  // renamed into place leaves the previous publication served and whole.
  folder.Sync();
  std::vector<PublishFolder::NamedBytes> recorded = {{kListFileName, &list}, {kPackingFileName, &memo.Text()}};
  if (signing) recorded.push_back({kManifestName, &signedManifest});
  summary.publication = folder.RecordPublication(recorded);
  folder.Replace(kListFileName, list);
  folder.Commit();
  // Right after the list, so that a starter with the publisher's key meets a
  // list and a manifest of different publications only in this moment.
  try {
    if (signing)
      folder.Replace(kManifestName, signedManifest);
    else
      folder.Remove(kManifestName);  // a manifest of an earlier publication would not sign this list
  } catch (const PublishError& e) {
    Fail(std::string(e.what()) + " (the new filelist.dat is in place: publish again)");
  }
  return summary;
}

fs::path MakeKeyPair(const fs::path& privateKeyFile) {
  const fs::path publicKeyFile = privateKeyFile.string() + kPublicKeySuffix;
  for (const fs::path& path : {privateKeyFile, publicKeyFile}) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec)))
      Fail("\"" + path.string() + "\" exists; a key file is never overwritten");
  }
  ed25519::Seed seed;
  ed25519::PublicKey key;
  if (!ed25519::GenerateSeed(&seed) || !ed25519::PublicKeyOf(seed, &key)) Fail("cannot make a key: libgcrypt failed");
  std::string privateText = FormatPrivateKey(seed);
  Wipe(seed.data(), seed.size());
  const std::string publicText = FormatPublicKey(key);
  try {
    WriteNewFile(privateKeyFile, privateText.data(), privateText.size(), 0600);
  } catch (const PublishError&) {
    Wipe(privateText.data(), privateText.size());
    throw;
  }
  Wipe(privateText.data(), privateText.size());
  try {
    WriteNewFile(publicKeyFile, publicText.data(), publicText.size());
    // Whatever the umask: the public key is meant to be handed out.
    chmod(publicKeyFile.c_str(), 0644);
  } catch (const PublishError&) {
    // Half a key pair would only stand in the way of the next attempt.
    unlink(privateKeyFile.c_str());
    throw;
  }
  return publicKeyFile;
}

ed25519::Seed ReadSigningKey(const fs::path& keyFile) {
  // A key file is one line; anything much longer is some other file.
  constexpr size_t kMostKeyFileBytes = 4096;
  std::optional<std::vector<unsigned char>> bytes = ReadFileStart(keyFile, kMostKeyFileBytes, "the key file");
  if (!bytes) Fail("the key file \"" + keyFile.string() + "\" does not exist");
  if (bytes->size() > kMostKeyFileBytes)
    Fail("the key file \"" + keyFile.string() + "\" is larger than " + std::to_string(kMostKeyFileBytes) +
         " bytes; it is no key file");
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  const std::optional<ed25519::Seed> seed = ParsePrivateKey(text);
  const bool isPublicKey = !seed && ParsePublicKey(text);
  Wipe(bytes->data(), bytes->size());
  if (isPublicKey)
    Fail("\"" + keyFile.string() + "\" is a public key; signing needs the private key file");
  if (!seed) Fail("\"" + keyFile.string() + "\" is not a private key file (wren-ed25519-private ...)");
  return *seed;
}

}  // namespace wren_tools
