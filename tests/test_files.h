// Test support: a temporary folder removed with its contents, and whole-file helpers.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scene/scene_types.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quadview-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An axis-aligned quad at file depth z, texture coordinates (0,0) to (1,1), as the table holds
// it (z negated).
inline QuadRecord Quad(int32_t slot, uint8_t blend, uint8_t ccw, float x0, float y0, float x1,
                       float y1, float z = 0) {
  QuadRecord record{};
  record.textureIndex = slot;
  record.blend = blend;
  record.counterClockwise = ccw;
  record.corners[0] = QuadCorner{0, 0, x0, y0, -z};
  record.corners[1] = QuadCorner{1, 0, x1, y0, -z};
  record.corners[2] = QuadCorner{1, 1, x1, y1, -z};
  record.corners[3] = QuadCorner{0, 1, x0, y1, -z};
  return record;
}

// The bytes each image of a scene's texture set uploads, slot by slot.
inline std::vector<std::vector<uint8_t>> UploadedTextures(const std::string& quadListPath) {
  std::vector<std::vector<uint8_t>> textures;
  const std::string folder = TextureFolderPrefix(quadListPath);
  for (int slot = 0; slot == 0 || TextureSetContinues(folder, slot); ++slot) {
    LoadTga(TextureImagePath(folder, slot));
    const TgaImage& image = LastTgaImage();
    textures.emplace_back(image.UploadPixels(), image.UploadPixels() + image.UploadBytes());
    textures.back().push_back(static_cast<uint8_t>(image.uploadWidth));  // the size counts too
  }
  return textures;
}
