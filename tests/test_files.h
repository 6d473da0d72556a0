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

// A TGA of an encoding quadview does not write, made byte by byte, for tests that need one
// kept as it is: 2 x 2, run-length 32-bit (`kind` 0), colour-mapped 8-bit with a 24-bit
// palette (1), or 24-bit with an image ID and bytes after its pixels (2).
inline std::string OtherTga(int kind) {
  const uint8_t type = kind == 0 ? 10 : kind == 1 ? 1 : 2;
  const uint8_t depth = kind == 0 ? 32 : kind == 1 ? 8 : 24;
  std::string tga = {kind == 2 ? '\x08' : '\0',
                     kind == 1 ? '\x01' : '\0',
                     static_cast<char>(type),
                     0,
                     0,
                     kind == 1 ? '\x02' : '\0',
                     0,
                     kind == 1 ? '\x18' : '\0',
                     0,
                     0,
                     0,
                     0,
                     2,
                     0,
                     2,
                     0,
                     static_cast<char>(depth),
                     kind == 0 ? '\x08' : '\0'};
  if (kind == 0) tga += std::string("\x83\x0a\x14\xc8\xff", 5);           // a run of 4 texels
  if (kind == 1) tga += std::string("\0\0\xff\0\xff\0\0\x01\x01\0", 10);  // palette, indices
  if (kind == 2)
    tga += "quadview" + std::string("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0\xc0") + "TRAILER";
  return tga;
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
