// Micro-benchmarks of the load's hot loop: float tokens, line splitting and whole records.
// Run by hand: build/bench/scene_bench [--benchmark_filter=...].
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scene/numbers.h"
#include "scene/quad_list.h"
#include "scene/record_routes.h"
#include "scene/text_parser.h"

namespace {

const std::vector<std::string> kFloatTokens = {"-123.456789", "0.2500",     "1.0000",
                                               "-0.600000",   "-45.678901", "30.0000"};
const char* const kCornerLine = "0.2500 1.0000 -123.456789 -0.600000 -45.678901";

void ParseFloatToken(benchmark::State& state) {
  std::vector<std::string> padded;
  for (const std::string& token : kFloatTokens) padded.push_back(token + std::string(16, ','));
  size_t i = 0;
  for (auto _ : state) {
    const std::string& token = padded[i++ % padded.size()];
    float value = 0;
    TryParseFloat(std::string_view(token.data(), token.size() - 16), '.', value);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(ParseFloatToken);

void SplitCornerLine(benchmark::State& state) {
  for (auto _ : state) {
    ParseLine(kCornerLine);
    benchmark::DoNotOptimize(TokenCount());
  }
}
BENCHMARK(SplitCornerLine);

// The one-pass route on corner lines as the demo's city writes them: short decimals.
void ReadCornerLineFast(benchmark::State& state) {
  const std::string_view lines[] = {"0 0 65.7 -0.6 -7541.4", "3 0 68.7 -0.6 -7541.4",
                                    "1 1 60 40 -40", "0 3 65.7 -0.6 -7544.4"};
  size_t i = 0;
  for (auto _ : state) {
    QuadCorner corner;
    benchmark::DoNotOptimize(ReadCornerFast(lines[i++ % 4], corner));
    benchmark::DoNotOptimize(corner);
  }
}
BENCHMARK(ReadCornerLineFast);

void ReadRecords(benchmark::State& state) {
  const std::string path = "/tmp/quadview-scene-bench-" + std::to_string(::getpid()) + ".map";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  const int records = 10000;
  for (int i = 0; i < records; ++i) {
    std::fprintf(file, "3 1\r\nCW\r\n");
    for (int c = 0; c < 4; ++c) std::fprintf(file, "%s\r\n", kCornerLine);
  }
  const long bytes = std::ftell(file);
  std::fclose(file);
  QuadTable table;
  NoProgress progress;
  for (auto _ : state) {
    ReadQuadList(path, table, progress);
    benchmark::DoNotOptimize(table.count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  std::remove(path.c_str());
}
BENCHMARK(ReadRecords);

}  // namespace

BENCHMARK_MAIN();
