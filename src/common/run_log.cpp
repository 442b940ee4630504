#include "common/run_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace runlog {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr size_t kTagWidth = 9;

struct State {
  std::mutex lock;
  plat::FileHandle file = plat::kInvalidFile;
  std::string path;
  uint64_t written = 0;
  bool full = false;
};

State& Get() {
  static State* state = new State;  // lives as long as the process
  return *state;
}

std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03lld", ms);
  return text;
}

bool WriteRaw(State& state, const std::string& bytes) {
  if (!plat::WriteFile(state.file, bytes.data(), bytes.size())) return false;
  state.written += bytes.size();
  return true;
}

}  // namespace

std::string FormatEntry(const char* tag, const std::string& text) {
  std::string line = tag;
  if (line.size() < kTagWidth) line.append(kTagWidth - line.size(), ' ');
  line += ' ';
  for (char c : plat::AnsiToUtf8(text)) {
    if (c == '\r') continue;
    line += c;
    if (c == '\n') line += '\t';
  }
  return line;
}

bool Open(const std::string& path) {
  State& state = Get();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.file != plat::kInvalidFile) plat::CloseFile(state.file);
  state.file = plat::kInvalidFile;
  state.path.clear();
  state.written = 0;
  state.full = false;
  if (path.empty()) return false;
  if (plat::FileExists(path)) {
    const std::string old = path + ".old";
    plat::RemoveFile(old);
    plat::RenameFile(path, old);
  }
  state.file = plat::OpenFile(path, plat::OpenMode::CreateAlways);
  if (state.file == plat::kInvalidFile) return false;
  state.path = path;
  WriteRaw(state, kBom);
  return true;
}

void Close() {
  State& state = Get();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.file != plat::kInvalidFile) plat::CloseFile(state.file);
  state.file = plat::kInvalidFile;
  state.path.clear();
}

bool IsOpen() {
  State& state = Get();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.file != plat::kInvalidFile;
}

std::string Path() {
  State& state = Get();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.path;
}

void Write(const char* tag, const std::string& text) {
  State& state = Get();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.file == plat::kInvalidFile || state.full) return;
  const std::string line = TimeStamp() + "  " + FormatEntry(tag, text) + "\r\n";
  if (state.written + line.size() > kMaxBytes) {
    state.full = true;
    WriteRaw(state, TimeStamp() + "  " + FormatEntry("LOG", "the log is full; later entries are left out") + "\r\n");
    return;
  }
  WriteRaw(state, line);
}

void Writef(const char* tag, const char* format, ...) {
  if (!IsOpen()) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  Write(tag, text);
}

}  // namespace runlog
