// Fuzz target for the quad-list reader. The input becomes a file under /dev/shm. Its first
// byte picks the file name (whether texture numbers are read), the number of threads the
// second read takes, and, with its top two bits, turns the first two 0xFF bytes of the rest
// into runs of more than the reader holds of the byte after each, so that lines and tokens too
// long to hold are reached from small inputs. Any SceneError is an accepted outcome, but it
// must name a line and the table must cover exactly the completed records; and the read on
// several threads must give what the one-thread read gives: the records, the count, the
// message and line, the trace lines and the last progress position.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_files.h"
#include "scene/line_reader.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "scene/text_parser.h"

namespace {

const char* const kNames[] = {"nyc.map", "sanb.map", "other.map", "other.map"};
constexpr uint8_t kExpandBits = 0xC0;  // a quarter of the inputs: most stay fast
constexpr uint8_t kRunMarker = 0xFF;
constexpr size_t kRunBytes = kLineHoldBytes + 1000;
constexpr int kMaxRuns = 2;  // more only slow the target down

std::string FuzzFolder() {
  static const std::string folder = MakeFuzzFolder("fuzz");
  return folder;
}

std::string traces;
void CollectTrace(const std::string& text) {
  traces += text + "\n";
}

// What a read gives that anyone can see.
struct Outcome {
  std::string error;
  int line = 0;
  QuadTable table;
  std::string traces;
  int32_t lastPosition = -1;
};

class LastPosition : public NoProgress {
 public:
  void SetProgressPosition(int32_t blocks) override { position = blocks; }
  int32_t position = -1;
};

Outcome Read(const std::string& path, int threads) {
  Outcome outcome;
  LastPosition progress;
  traces.clear();
  try {
    ReadQuadList(path, outcome.table, progress, nullptr, threads);
  } catch (const SceneError& error) {
    if (error.line() <= 0) std::abort();
    outcome.error = error.what();
    outcome.line = error.line();
  }
  const QuadTable& table = outcome.table;
  if (table.count < 0 || static_cast<size_t>(table.count) != table.records.size()) std::abort();
  outcome.traces = traces;
  outcome.lastPosition = progress.position;
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SetParserTraceSink(CollectTrace);
  const std::string path = FuzzFolder() + "/" + kNames[data[0] % 4];
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  int runsLeft = (data[0] & kExpandBits) == kExpandBits ? kMaxRuns : 0;
  for (size_t i = 1; i < size; ++i) {
    if (runsLeft > 0 && data[i] == kRunMarker && i + 1 < size) {
      --runsLeft;
      const std::string run(kRunBytes, static_cast<char>(data[++i]));
      std::fwrite(run.data(), 1, run.size(), file);
    } else {
      std::fputc(data[i], file);
    }
  }
  std::fclose(file);
  const Outcome one = Read(path, 1);
  const Outcome many = Read(path, 2 + (data[0] >> 2) % 7);
  if (many.error != one.error || many.line != one.line || many.traces != one.traces ||
      many.lastPosition != one.lastPosition || many.table.count != one.table.count ||
      std::memcmp(many.table.records.data(), one.table.records.data(),
                  one.table.records.size() * sizeof(QuadRecord)) != 0) {
    std::abort();
  }
  return 0;
}
