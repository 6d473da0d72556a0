// Shared helpers of the rendering tests: one headless llvmpipe surface per test program, quads
// built directly as records, pixel look-ups (row 0 = top) and small 32-bit TGA files on disk.
// The surface lives for the whole test program; each test starts a fresh binding cache.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "render/frame_renderer.h"
#include "render/headless_surface.h"
#include "render/texture_set.h"
#include "render/view_setup.h"
#include "scene/scene_types.h"
#include "scene/tga_writer.h"
#include "tests/test_files.h"  // TempDir

namespace gltest {

constexpr int kSurfaceSide = 100;

struct Rgba {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  uint8_t a = 0;
};

inline bool operator==(const Rgba& left, const Rgba& right) {
  return left.r == right.r && left.g == right.g && left.b == right.b && left.a == right.a;
}

inline std::ostream& operator<<(std::ostream& out, const Rgba& colour) {
  return out << "rgba(" << int{colour.r} << ", " << int{colour.g} << ", " << int{colour.b} << ", "
             << int{colour.a} << ")";
}

constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};

// RGB of the pixel in column x, row y counted from the top; alpha left out because the
// window shows none.
inline Rgba RgbAt(const std::vector<uint8_t>& pixels, int x, int y, int width = kSurfaceSide) {
  const size_t at = (static_cast<size_t>(y) * width + x) * 4;
  return Rgba{pixels[at], pixels[at + 1], pixels[at + 2], 255};
}

inline bool AllBlack(const std::vector<uint8_t>& pixels) {
  for (size_t i = 0; i < pixels.size(); i += 4) {
    if (pixels[i] != 0 || pixels[i + 1] != 0 || pixels[i + 2] != 0) return false;
  }
  return true;
}

// A quad spanning (x0, y0)-(x1, y1) at stored depth z, corners counter-clockwise from the
// lower left with texture coordinates (0,0) (1,0) (1,1) (0,1).
inline QuadRecord MakeQuad(int32_t textureIndex, uint8_t blend, float x0, float y0, float x1,
                           float y1, float z = 0.0f) {
  QuadRecord quad{};
  quad.textureIndex = textureIndex;
  quad.blend = blend;
  quad.corners[0] = QuadCorner{0.0f, 0.0f, x0, y0, z};
  quad.corners[1] = QuadCorner{1.0f, 0.0f, x1, y0, z};
  quad.corners[2] = QuadCorner{1.0f, 1.0f, x1, y1, z};
  quad.corners[3] = QuadCorner{0.0f, 1.0f, x0, y1, z};
  return quad;
}

inline QuadTable MakeTable(std::vector<QuadRecord> records) {
  QuadTable table;
  table.count = static_cast<int32_t>(records.size());
  table.records.assign(records.begin(), records.end());
  return table;
}

inline TextureTable EmptyTextures() {
  TextureTable textures{};
  textures.fill(0);
  return textures;
}

// A 1x1 texture of one colour.
inline uint32_t SolidTexture(const Rgba& colour) {
  const uint8_t pixel[4] = {colour.r, colour.g, colour.b, colour.a};
  return CreateTexture(1, 1, GL_RGBA, pixel);
}

inline std::vector<uint8_t> Draw(const QuadTable& quads, const TextureTable& textures,
                                 const CameraState& camera = CameraState{}) {
  RenderFrame(camera, quads, textures);
  FinishHeadlessFrame();
  return ReadHeadlessPixels();
}

// Writes an uncompressed 32-bit TGA through the program's own writer; `pixels` in file row
// order.
inline void WriteTgaFile(const std::string& path, uint16_t width, uint16_t height,
                         const std::vector<Rgba>& pixels) {
  std::vector<uint8_t> rgba;
  for (const Rgba& pixel : pixels) rgba.insert(rgba.end(), {pixel.r, pixel.g, pixel.b, pixel.a});
  WriteTga32(path, width, height, rgba.data());
}

// One surface for the whole test program; every test starts from the program's start state.
class HeadlessGLTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CreateHeadlessSurface(kSurfaceSide, kSurfaceSide); }
  static void TearDownTestSuite() { DestroyHeadlessSurface(); }
  void SetUp() override {
    InitGLState();
    ResizeView(kSurfaceSide, kSurfaceSide);
  }
};

}  // namespace gltest
