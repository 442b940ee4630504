// CCrc32 throughput next to zlib's crc32() and memcpy over the same 64 MiB,
// measured in one run; prints the ratios at the end.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../../tests/support/scratch.h"
#include "engine/crc32.h"

namespace {

constexpr size_t kSize = 64u << 20;

const std::vector<unsigned char>& Buffer() {
  static std::vector<unsigned char> buffer = [] {
    std::vector<unsigned char> b(kSize);
    uint32_t x = 12345;
    for (auto& c : b) c = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);
    return b;
  }();
  return buffer;
}

void BM_CCrc32(benchmark::State& state) {
  const auto& b = Buffer();
  for (auto _ : state) {
    CCrc32 crc;
    for (size_t off = 0; off < b.size(); off += CCrc32::kBlockSize) crc.Update(&b[off], CCrc32::kBlockSize);
    benchmark::DoNotOptimize(crc.GetValue());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto& b = Buffer();
  for (auto _ : state) {
    uLong crc = crc32(0, nullptr, 0);
    for (size_t off = 0; off < b.size(); off += CCrc32::kBlockSize) crc = crc32(crc, &b[off], CCrc32::kBlockSize);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_Memcpy(benchmark::State& state) {
  const auto& b = Buffer();
  std::vector<unsigned char> out(kSize);
  for (auto _ : state) {
    std::memcpy(out.data(), b.data(), kSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// CCrc32::Compute over a 64 MiB file in the page cache: what the engine really runs.
void BM_CCrc32File(benchmark::State& state) {
  testing_support::ScratchFolder dir;
  const auto& b = Buffer();
  testing_support::WriteWholeFile(dir / "data.bin", std::string(b.begin(), b.end()));
  for (auto _ : state) {
    CCrc32 crc;
    crc.Compute(dir / "data.bin", nullptr);
    benchmark::DoNotOptimize(crc.GetValue());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK(BM_CCrc32)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CCrc32File)->Unit(benchmark::kMillisecond)->MinTime(1.0);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& r = reporter.rates;
  if (r.count("BM_CCrc32") && r.count("BM_ZlibCrc32") && r.count("BM_Memcpy")) {
    std::printf("\nCCrc32 / zlib crc32(): %.2f\n", r["BM_CCrc32"] / r["BM_ZlibCrc32"]);
    std::printf("CCrc32 / memcpy:       %.2f\n", r["BM_CCrc32"] / r["BM_Memcpy"]);
    if (r.count("BM_CCrc32File"))
      std::printf("CCrc32 file / buffer:  %.2f\n", r["BM_CCrc32File"] / r["BM_CCrc32"]);
  }
  return 0;
}
