// Turning a folder of game files into a publish folder: the part files an
// HTTP server hands out and the packed file-list data the file-information
// server sends to the starter.
//
// Publish folder layout:
//   filelist.dat       the packed file-list data
//   files/...          the part files, one folder level per folder of the game
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wren_tools {

inline constexpr const char* kListFileName = "filelist.dat";
inline constexpr const char* kPartsFolder = "files";
inline constexpr uint32_t kDefaultPartSize = 4u << 20;
inline constexpr uint32_t kMaxPartSize = 1u << 30;
inline constexpr unsigned kMaxPartsPerFile = 63;

struct PublishOptions {
  std::filesystem::path source;  // the game's files
  std::filesystem::path output;  // the publish folder, replaced as a whole
  std::string host;              // host[:port] of the HTTP server
  std::string urlPath = "/";     // where the publish folder is served on it
  std::string installer;         // relative to source, '/' or '\' between folders
  uint32_t partSize = kDefaultPartSize;
  uint32_t leadNumber = 1;
  bool rawAll = false;                   // never pack
  std::vector<std::string> rawPatterns;  // never pack files matching these (fnmatch)
};

struct PublishSummary {
  size_t files = 0;
  size_t parts = 0;
  size_t rawParts = 0;
  uint64_t contentBytes = 0;
  uint64_t partBytes = 0;
  size_t listBytes = 0;  // packed file-list data
};

// Every reason a folder cannot be published; what() is the message shown.
class PublishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds the publish folder in a temporary folder beside options.output and
// moves it into place only when everything succeeded, so a server never sees
// a half-written publish folder. An existing output folder is replaced only
// when it is empty or holds a previous publish (filelist.dat).
PublishSummary Publish(const PublishOptions& options);

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

}  // namespace wren_tools
