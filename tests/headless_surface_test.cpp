// Headless EGL surface: size checks, read-back orientation (row 0 = top) and the same
// picture from the pbuffer and the framebuffer-object paths.
#include <stdexcept>

#include "tests/gl_test_support.h"

namespace {
using namespace gltest;

constexpr int kWideWidth = 64;
constexpr int kWideHeight = 32;

// A quad in the upper half only, on a fresh surface of 64x32.
std::vector<uint8_t> DrawUpperHalfQuad(
    HeadlessBuffer buffer = HeadlessBuffer::kPbufferOrFramebufferObject) {
  CreateHeadlessSurface(kWideWidth, kWideHeight, buffer);
  InitGLState();
  ResizeView(kWideWidth, kWideHeight);
  TextureTable textures = EmptyTextures();
  textures[0] = SolidTexture(kRed);
  RenderFrame(CameraState{}, MakeTable({MakeQuad(0, 0, -0.3f, 0.2f, 0.3f, 0.6f)}), textures);
  FinishHeadlessFrame();
  std::vector<uint8_t> pixels = ReadHeadlessPixels();
  DestroyHeadlessSurface();
  return pixels;
}

TEST(HeadlessSurface, ReadsBackTopRowFirst) {
  const std::vector<uint8_t> pixels = DrawUpperHalfQuad();
  ASSERT_EQ(pixels.size(), size_t{kWideWidth * kWideHeight * 4});
  EXPECT_EQ(RgbAt(pixels, 32, 8, kWideWidth), kRed);
  EXPECT_EQ(RgbAt(pixels, 32, 24, kWideWidth), kBlack);
  // The cleared alpha is 0; the opaque quad's is 255.
  EXPECT_EQ(pixels[(8 * kWideWidth + 32) * 4 + 3], 255);
  EXPECT_EQ(pixels[(24 * kWideWidth + 32) * 4 + 3], 0);
}

TEST(HeadlessSurface, FramebufferObjectGivesTheSamePicture) {
  const std::vector<uint8_t> fromPbuffer = DrawUpperHalfQuad();
  const std::vector<uint8_t> fromFramebuffer =
      DrawUpperHalfQuad(HeadlessBuffer::kFramebufferObject);
  EXPECT_TRUE(fromPbuffer == fromFramebuffer);
}

TEST(HeadlessSurface, RejectsAnEmptySizeAndReadsNothingWithoutASurface) {
  try {
    CreateHeadlessSurface(0, 10);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "headless GL surface: size 0x10 is not at least 1x1");
  }
  try {
    ReadHeadlessPixels();
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "headless GL surface: no surface to read");
  }
  DestroyHeadlessSurface();  // harmless without a surface
}

}  // namespace
