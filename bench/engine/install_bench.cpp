// InstallFile of one 256 MiB target file made of 8 parts, from a warm download
// folder, next to a plain `cp` of the same bytes in the same run. The parts are
// put back (untimed) before every iteration, since a successful install
// deletes them. Prints the ratios at the end.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/scratch.h"
#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "engine/packed.h"

namespace {

constexpr size_t kPartSize = 32u << 20;
constexpr size_t kParts = 8;
constexpr size_t kTotal = kPartSize * kParts;

using testing_support::NativePath;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

// Somewhat compressible content, like game data.
std::string Content() {
  std::string out(kTotal, '\0');
  uint32_t x = 2463534242u;
  for (size_t i = 0; i < kTotal; i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
    out[i + 1] = static_cast<char>(x & 0x0F);
    out[i + 2] = 'w';
    out[i + 3] = static_cast<char>(i >> 20);
  }
  return out;
}

uint32_t CrcOf(const char* data, size_t size) {
  CCrc32 crc;
  crc.Update(data, size);
  return crc.GetValue();
}

// Answers every notification at once, as a page that only watches.
class Pump {
 public:
  explicit Pump(CCheckerCore& engine) : m_engine(engine), m_thread([this] { Run(); }) {}
  ~Pump() {
    m_stop = true;
    m_thread.join();
  }

 private:
  void Run() {
    while (!m_stop) {
      {
        plat::Lock lock(EngineSharedLock());
        if (!m_engine.m_listNotify.IsEmpty()) m_engine.m_listNotify.ReleaseAll();
      }
      std::this_thread::yield();
    }
  }
  CCheckerCore& m_engine;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

struct Setup {
  ScratchFolder root;
  std::string stash = root / "stash\\";
  std::string download = root / "dl\\";
  std::string image = root / "image\\";
  CCheckFile raw, packed;

  Setup() {
    for (const std::string& d : {stash, download, image}) plat::MakeDirectory(d.substr(0, d.size() - 1));
    const std::string content = Content();
    WriteWholeFile(stash + "whole.bin", content);
    for (CCheckFile* file : {&raw, &packed}) {
      file->m_strName = "game.bin";
      file->m_dwSize = static_cast<uint32_t>(kTotal);
      file->m_dwCrc = CrcOf(content.data(), kTotal);
      file->m_ftLastWrite = file->m_ftCreation = 0x01DA000000000000ULL;
    }
    for (size_t j = 0; j < kParts; ++j) {
      const char* piece = content.data() + j * kPartSize;
      CDLFileInfo part;
      part.m_dwSize = static_cast<uint32_t>(kPartSize);
      part.m_dwCrc = CrcOf(piece, kPartSize);
      part.m_wFlags = FILE_FLAG_RAW;
      part.m_strLocalName = "raw" + std::to_string(j);
      WriteWholeFile(stash + part.m_strLocalName, std::string(piece, kPartSize));
      raw.m_aParts.push_back(part);

      std::vector<unsigned char> container = PackBuffer(piece, kPartSize, 1);
      part.m_wFlags = 0;
      part.m_strLocalName = "packed" + std::to_string(j);
      part.m_dwPackedSize = static_cast<uint32_t>(container.size());
      WriteWholeFile(stash + part.m_strLocalName, std::string(container.begin(), container.end()));
      packed.m_aParts.push_back(part);
    }
  }
  // Puts the part files back into the download folder and reads them once, so
  // they are in the page cache as after a download.
  void Restore(const CCheckFile& file) {
    for (const CDLFileInfo& part : file.m_aParts) {
      plat::CopyFileTo(stash + part.m_strLocalName, download + part.m_strLocalName, false);
      CCrc32 warm;
      warm.Compute(download + part.m_strLocalName, nullptr);
    }
  }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void Install(benchmark::State& state, CCheckFile& file) {
  Setup& s = TheSetup();
  CCheckerCore engine;
  engine.m_strImageFolder = s.image;
  engine.m_strDownloadFolder = s.download;
  Pump pump(engine);
  for (auto _ : state) {
    state.PauseTiming();
    s.Restore(file);
    state.ResumeTiming();
    if (engine.InstallFile(&file) != 0) state.SkipWithError("InstallFile failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_InstallRawParts(benchmark::State& state) { Install(state, TheSetup().raw); }
void BM_InstallPackedParts(benchmark::State& state) { Install(state, TheSetup().packed); }

void BM_PlainCp(benchmark::State& state) {
  Setup& s = TheSetup();
  const std::string command = "cp '" + NativePath(s.stash + "whole.bin").string() + "' '" +
                              NativePath(s.image + "cp.bin").string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

BENCHMARK(BM_PlainCp)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_InstallRawParts)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_InstallPackedParts)->Unit(benchmark::kMillisecond)->Iterations(4);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) times[run.run_name.function_name] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TheSetup();  // the 256 MiB of parts are made before anything is timed
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& t = reporter.times;
  if (t.count("BM_PlainCp") && t["BM_PlainCp"] > 0) {
    for (const char* name : {"BM_InstallRawParts", "BM_InstallPackedParts"})
      if (t.count(name)) std::printf("%s / cp: %.2f\n", name, t[name] / t["BM_PlainCp"]);
  }
  return 0;
}
