// Test support: a fresh folder per test, removed with everything in it at the
// end, and small helpers to write and read whole files through the platform
// layer. Paths are Windows-style, ending with a backslash.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/system.h"

namespace testing_support {

inline std::filesystem::path NativePath(std::string path) {
#ifndef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return std::filesystem::path(path);
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    m_path = plat::GetTempFolder() + "wren-test-" + std::to_string(plat::GetCurrentProcessId()) + "-" +
             std::to_string(counter++) + "\\";
    std::filesystem::remove_all(NativePath(m_path));
    std::filesystem::create_directories(NativePath(m_path));
  }
  ~ScratchFolder() {
    std::error_code ec;
    // Read-only files must be writable again before they can go.
    for (auto& entry : std::filesystem::recursive_directory_iterator(NativePath(m_path), ec))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(NativePath(m_path), ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + name; }

 private:
  std::string m_path;
};

inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  plat::FileHandle f = plat::OpenFile(path, plat::OpenMode::CreateAlways);
  if (f == plat::kInvalidFile) return false;
  bool ok = plat::WriteFile(f, bytes.data(), bytes.size());
  return plat::CloseFile(f) && ok;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  plat::FileHandle f = plat::OpenFile(path, plat::OpenMode::ReadExisting);
  if (f == plat::kInvalidFile) return bytes;
  char buffer[65536];
  size_t got = 0;
  while (plat::ReadFile(f, buffer, sizeof buffer, &got) && got > 0) bytes.append(buffer, got);
  plat::CloseFile(f);
  return bytes;
}

}  // namespace testing_support
