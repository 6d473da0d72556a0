// Fuzz target for the quad-list reader. The input becomes a file under /dev/shm. Its first
// byte picks the file name (whether texture numbers are read) and, with its top two bits, turns
// the first two 0xFF bytes of the rest into runs of more than the reader holds of the byte
// after each, so that lines and tokens too long to hold are reached from small inputs. Any
// SceneError is an accepted outcome, but it must name a line and the table must cover exactly the
// completed records.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

void IgnoreTrace(const std::string&) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SetParserTraceSink(IgnoreTrace);
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
  QuadTable table;
  NoProgress progress;
  try {
    ReadQuadList(path, table, progress);
  } catch (const SceneError& error) {
    if (error.line() <= 0) std::abort();
  }
  if (table.count < 0 || static_cast<size_t>(table.count) != table.records.size()) std::abort();
  return 0;
}
