// Turning a folder of game files into a publish folder: the part files an
// HTTP server hands out and the packed file-list data the file-information
// server sends to the starter.
//
// Publish folder layout (publish_folder.h has how it lives on across publications):
//   filelist.dat       the packed file-list data
//   manifest.dat       a signed publication only: the publisher's signed
//                      hashes of filelist.dat and of every file (trust/manifest.h)
//   files/...          the part files, one folder level per folder of the game,
//                      named <name>.pNN.<digest of the bytes>
//   publications/      the lists of the publications made into the folder
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "trust/ed25519.h"

namespace wren_tools {

inline constexpr const char* kListFileName = "filelist.dat";
inline constexpr const char* kPartsFolder = "files";
inline constexpr uint32_t kDefaultPartSize = 4u << 20;
inline constexpr uint32_t kMaxPartSize = 1u << 30;
inline constexpr unsigned kMaxPartsPerFile = 63;
inline constexpr const char* kPublicKeySuffix = ".pub";  // the public key file beside the private one

struct PublishOptions {
  std::filesystem::path source;  // the game's files
  std::filesystem::path output;  // the publish folder: made, or published into
  std::string host;              // host[:port] of the HTTP server
  std::string urlPath = "/";     // where the publish folder is served on it
  std::string installer;         // relative to source, '/' or '\' between folders
  uint32_t partSize = kDefaultPartSize;
  uint32_t leadNumber = 1;
  bool rawAll = false;                   // never pack
  std::vector<std::string> rawPatterns;  // never pack files matching these (fnmatch)
  std::filesystem::path signingKey;      // private key file; empty: no manifest.dat
  std::optional<uint64_t> serial;        // of the manifest; default see Publish
};

struct PublishSummary {
  size_t files = 0;
  size_t parts = 0;
  size_t rawParts = 0;
  uint64_t contentBytes = 0;
  uint64_t partBytes = 0;     // of all the publication's part files
  size_t partsWritten = 0;    // part files that were not in the folder yet
  uint64_t bytesWritten = 0;
  size_t partsKept = 0;       // part files already there from an earlier publication
  uint64_t bytesKept = 0;
  size_t listBytes = 0;  // packed file-list data
  std::optional<uint64_t> serial;  // of manifest.dat, for a signed publication
  std::string publication;         // its folder under publications/
};

// Every reason a folder cannot be published; what() is the message shown.
class PublishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Publishes into options.output (made when missing; an existing folder must
// be empty or hold an earlier publish): writes the part files that are not
// there yet, records the publication under publications/, then replaces
// filelist.dat and manifest.dat, each by an atomic rename. Until the list is
// renamed into place nothing that is served changes; a publish that fails
// before then removes what it wrote. Parts of earlier publications stay
// until Prune removes them.
//
// With a signing key the folder also gets manifest.dat. Its serial is
// options.serial, which must be greater than the serial of a manifest already
// in the output that reads back with this key; without one, the larger of the
// current Unix time in seconds and that earlier serial + 1. The key and the
// serial are checked before anything is written.
PublishSummary Publish(const PublishOptions& options);

// Makes a new key pair: the private key file (owner-only, 0600) and beside it
// the public one, privateKeyFile + kPublicKeySuffix (0644). Refuses before
// writing anything when either exists; never overwrites. Returns the public
// key file.
std::filesystem::path MakeKeyPair(const std::filesystem::path& privateKeyFile);

// The private key in a key file; PublishError when the file cannot be read or
// holds no private key.
ed25519::Seed ReadSigningKey(const std::filesystem::path& keyFile);

// A UTF-8 text in code page 932, or nothing when it is not valid UTF-8 or has
// a character code page 932 lacks.
std::optional<std::string> Utf8ToCp932(const std::string& utf8);

// The download base of the list: "/" + host + path, the path with a leading
// and a trailing '/'. Throws PublishError for characters a URL cannot carry
// as they are.
std::string MakeDownloadBase(const std::string& host, const std::string& urlPath);

// Parses a part size: digits with an optional K or M (binary) suffix, within
// 1 .. kMaxPartSize. Nothing when it is not one.
std::optional<uint32_t> ParsePartSize(const std::string& text);

// Parses a plain number: one or more ASCII digits and nothing else (no
// blanks, sign, base prefix or exponent), at most max. Nothing otherwise:
// strtoull alone would skip blanks and wrap " -18446744073709551615" to 1.
std::optional<uint64_t> ParsePlainNumber(const std::string& text, uint64_t max);

}  // namespace wren_tools
