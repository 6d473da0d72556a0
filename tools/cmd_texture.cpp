// quadscene texture: reads one TGA image as the texture set would and writes the RGBA image
// that would be uploaded, as raw bytes (.rgba) or as a PNG shown the way GL shows it.
#include <cstdio>
#include <vector>

#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/tga.h"
#include "tools/commands.h"

namespace {

constexpr int kRgbaChannels = 4;

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Upload row 0 is the bottom of the texture as GL shows it, so it becomes the PNG's last row.
void WriteUploadPng(const std::string& path, const TgaImage& image) {
  const int width = image.uploadWidth, height = image.uploadHeight;
  if (width == 0 || height == 0) {
    throw SceneError("Cannot write file " + path + ": an empty image has no PNG form");
  }
  const size_t rowBytes = static_cast<size_t>(width) * kRgbaChannels;
  const uint8_t* texels = image.UploadPixels();
  std::vector<uint8_t> flipped(rowBytes * static_cast<size_t>(height));
  for (int row = 0; row < height; ++row) {
    const uint8_t* source = texels + static_cast<size_t>(row) * rowBytes;
    std::copy(source, source + rowBytes,
              flipped.data() + static_cast<size_t>(height - 1 - row) * rowBytes);
  }
  WritePngFile(path, width, height, kRgbaChannels, flipped.data());
}

}  // namespace

void RegisterTextureCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "texture",
      "Read a TGA image; print 'width height accepted|rejected' (the header's size) and write "
      "the RGBA image that would be uploaded (1 x 1 of zeros for an image with nothing to "
      "decode)");
  static std::string path, out;
  command->add_option("FILE", path, "TGA image")->required();
  command->add_option("-o,--output", out, "Output: raw RGBA bytes if it ends in .rgba, else PNG")
      ->required();
  command->callback([&exitStatus]() {
    exitStatus = RunCommand(path, [] {
      const bool accepted = LoadTga(path);
      const TgaImage& image = LastTgaImage();
      std::printf("%u %u %s\n", image.header.width, image.header.height,
                  accepted ? "accepted" : "rejected");
      FlushStandardOutput();
      if (EndsWith(out, ".rgba")) {
        WriteWholeFile(out, image.UploadPixels(), static_cast<size_t>(image.UploadBytes()));
      } else {
        WriteUploadPng(out, image);
      }
    });
  });
}
