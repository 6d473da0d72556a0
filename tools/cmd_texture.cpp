// quadscene texture: reads one TGA image as the texture set would and writes the RGBA image
// that would be uploaded, as raw bytes (.rgba) or as a PNG shown the way GL shows it.
#include <cstdio>

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
  if (image.uploadWidth == 0 || image.uploadHeight == 0) {
    throw SceneError("Cannot write file " + path + ": an empty image has no PNG form");
  }
  WritePngFile(path, image.uploadWidth, image.uploadHeight, kRgbaChannels, image.UploadPixels(),
               true);
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
      ->type_name("OUT")
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
