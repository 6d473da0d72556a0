// libFuzzer target for the TGA reader: any bytes go through LoadTgaFromMemory; the only
// acceptable failure is a SceneError. Relies on the sanitizers to flag reads past a buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "scene/scene_error.h"
#include "scene/tga.h"

namespace {

// Images the reader accepts can reach 2 GiB; past this many pixels the input is skipped so
// that the fuzzer's memory stays within its limit.
constexpr uint64_t kMaxFuzzPixels = 16 * 1024 * 1024;
constexpr size_t kWidthOffset = 12;
constexpr size_t kHeightOffset = 14;

// Width times height as the reader will see them: a header cut short reads as zeros.
uint64_t HeaderPixels(const uint8_t* data, size_t size) {
  uint8_t header[kTgaHeaderBytes] = {};
  std::copy_n(data, std::min(size, kTgaHeaderBytes), header);
  const uint64_t width = header[kWidthOffset] | (header[kWidthOffset + 1] << 8);
  const uint64_t height = header[kHeightOffset] | (header[kHeightOffset + 1] << 8);
  return width * height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (HeaderPixels(data, size) > kMaxFuzzPixels) return 0;
  try {
    LoadTgaFromMemory(data, size, "fuzz.tga");
  } catch (const SceneError&) {
  }
  return 0;
}
