// libFuzzer target for the readers of quadview's own exports, built once for each kind of
// file (OWN_EXPORT_EXTENSION: ".glb", ".gltf", ".obj", ".json" or ".qvb"): any bytes become a file
// of that kind, which ReadOwnExport either takes (its images handed on, each whole) or refuses. The
// only acceptable failure is a SceneError.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_files.h"
#include "interchange/stages.h"
#include "scene/scene_error.h"

#ifndef OWN_EXPORT_EXTENSION
#error "build with -DOWN_EXPORT_EXTENSION=\".glb\", \".gltf\", \".obj\", \".json\" or \".qvb\""
#endif

namespace {

// Takes the images and checks that each gets exactly the texels its size says.
class CheckedImages : public ImageSink {
 public:
  void BeginImage(int width, int height) override {
    if (left_ != 0 || width < 0 || height < 0) std::abort();
    left_ = uint64_t(width) * uint64_t(height);
  }
  void AddTexels(const uint8_t* rgba, size_t texels) override {
    if (texels > left_ || (texels > 0 && rgba == nullptr)) std::abort();
    left_ -= texels;
  }
  void EndImage() override {
    if (left_ != 0) std::abort();
  }

 private:
  uint64_t left_ = 0;
};

std::string FuzzFile() {
  static const std::string path = MakeFuzzFolder("own") + "/model" OWN_EXPORT_EXTENSION;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFuzzFile(FuzzFile(), data, size);
  ImportedScene scene;
  CheckedImages images;
  // The files the reader would be granted, opened here in the fuzzer's own process.
  ModelFiles files(FuzzFile(), {});
  try {
    if (ReadOwnExport(FuzzFile(), files, scene, images) &&
        scene.records.records.size() != static_cast<size_t>(scene.records.count)) {
      std::abort();
    }
  } catch (const SceneError&) {
  }
  return 0;
}
