// Files of the scenarios: the environment the servers' wrapper sets, whole
// files in and out, file times, and the check of a built image against the
// game folder it was published from.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "driver/driver.h"

namespace e2e {

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// Last-write time as a FILETIME count; 0 when it cannot be read.
inline uint64_t LastWrite(const std::filesystem::path& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILETIME written{};
  GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
}

// What a scenario expects of one built file besides its bytes: the file in
// the image, the game's file, and its path below both (UTF-8).
using GameFileCheck = std::function<void(const std::filesystem::path& built, const std::filesystem::path& source,
                                         const std::string& relative)>;

// Every file of the game folder (by default WREN_GAME_WIN, as Wine sees it)
// is in image with the same bytes and passes check.
inline void ExpectImageMatchesGame(const std::string& image, const GameFileCheck& check,
                                   const std::string& gameFolder = Env("WREN_GAME_WIN")) {
  namespace fs = std::filesystem;
  const fs::path game = ToWide(gameFolder);
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(game)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), game);
    const fs::path built = fs::path(ToWide(image)) / relative;
    ++files;
    const std::string name = ToUtf8(relative.wstring());
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(built));
    EXPECT_TRUE(ReadFileBytes(built) == ReadFileBytes(entry.path()));
    check(built, entry.path(), name);
  }
  EXPECT_GE(files, 5);
}

}  // namespace e2e
