// libFuzzer target for the TGA reader as the texture set uses it: any bytes become a file,
// its header is read, the texture set's own limits decide (here with a fuzzing budget of
// 256 MiB), and an admitted image is decoded. No header is skipped for its size: huge
// declared sizes must be refused or cost nothing. The only acceptable failure is a SceneError.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_files.h"
#include "scene/scene_error.h"
#include "scene/texture_limits.h"
#include "scene/tga.h"

namespace {

constexpr int32_t kFuzzMaxTextureSize = 16384;
constexpr uint64_t kFuzzBudgetBytes = uint64_t(256) << 20;

std::string FuzzFile() {
  static const std::string path = MakeFuzzFolder("tga") + "/000.tga";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFuzzFile(FuzzFile(), data, size);
  try {
    ReadTgaHeader(FuzzFile());
    const TgaImage& image = LastTgaImage();
    const std::string refusal = TextureRefusal(
        image.uploadWidth, image.uploadHeight, [] { return kFuzzMaxTextureSize; }, kFuzzBudgetBytes,
        0);
    if (!refusal.empty()) {
      CloseTga();
      return 0;
    }
    DecodeTga();
    // The upload image is exactly what GL will read.
    const uint64_t uploadBytes = image.UploadBytes();
    const size_t held = image.rgba.empty() ? image.pixels.size() : image.rgba.size();
    if (held < uploadBytes) std::abort();
  } catch (const SceneError&) {
  }
  return 0;
}
