// Fuzz target for the quad-list reader. The input becomes a file under /dev/shm whose name
// (picked by the first byte) decides whether texture numbers are read; any SceneError is an
// accepted outcome, but the table must then cover exactly the completed records.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scene/quad_list.h"
#include "scene/scene_error.h"

namespace {

const char* const kNames[] = {"nyc.map", "sanb.map", "other.map"};

std::string FuzzFolder() {
  static const std::string folder = [] {
    std::string path = "/dev/shm/quadview-fuzz-" + std::to_string(::getpid());
    ::mkdir(path.c_str(), 0700);
    return path;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string path = FuzzFolder() + "/" + kNames[data[0] % 3];
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data + 1, 1, size - 1, file);
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
