// quadscene texture: reads one TGA image as the texture set would and writes the RGBA image
// that would be uploaded, as raw bytes (.rgba) or as a PNG shown the way GL shows it.
#include <stb/stb_image_write.h>

#include <cstdio>
#include <vector>

#include "scene/scene_error.h"
#include "scene/tga.h"
#include "tools/commands.h"

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool WriteRaw(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// Upload row 0 is the bottom of the texture as GL shows it, so it becomes the PNG's last row.
bool WritePng(const std::string& path, const TgaImage& image) {
  const int width = image.header.width, height = image.header.height;
  if (width == 0 || height == 0) return false;
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  std::vector<uint8_t> flipped(image.rgba.size());
  for (int row = 0; row < height; ++row) {
    const uint8_t* source = image.rgba.data() + static_cast<size_t>(row) * rowBytes;
    std::copy(source, source + rowBytes,
              flipped.data() + static_cast<size_t>(height - 1 - row) * rowBytes);
  }
  return stbi_write_png(path.c_str(), width, height, 4, flipped.data(),
                        static_cast<int>(rowBytes)) != 0;
}

}  // namespace

void RegisterTextureCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "texture",
      "Read a TGA image; print 'width height accepted|rejected' and write the RGBA "
      "image that would be uploaded");
  static std::string path, out;
  command->add_option("FILE", path, "TGA image")->required();
  command->add_option("-o,--output", out, "Output: raw RGBA bytes if it ends in .rgba, else PNG")
      ->required();
  command->callback([&exitStatus]() {
    try {
      const bool accepted = LoadTga(path);
      const TgaImage& image = LastTgaImage();
      std::printf("%u %u %s\n", image.header.width, image.header.height,
                  accepted ? "accepted" : "rejected");
      std::fflush(stdout);
      const bool written =
          EndsWith(out, ".rgba") ? WriteRaw(out, image.rgba) : WritePng(out, image);
      if (!written) {
        std::fprintf(stderr, "Cannot write file %s\n", out.c_str());
        exitStatus = kExitBadFile;
      }
    } catch (const SceneError& error) {
      std::fprintf(stderr, "%s\n", FormatDiagnostic(error).c_str());
      exitStatus = kExitBadFile;
    }
  });
}
