// Frame renderer on a headless llvmpipe surface: what each frame shows (clearing, white and
// textured quads, blending, drawing order, the camera transform) and the binding cache.
#include <dlfcn.h>

#include <cstdlib>

#include "tests/gl_test_support.h"

namespace {
using namespace gltest;

// Every glBindTexture of the program passes here first: the test counts them, then hands the
// call to the GL library.
uint64_t bindCalls = 0;

}  // namespace

extern "C" void glBindTexture(GLenum target, GLuint texture) {
  using BindTexture = void (*)(GLenum, GLuint);
  static const BindTexture realBind =
      reinterpret_cast<BindTexture>(dlsym(RTLD_NEXT, "glBindTexture"));
  ++bindCalls;
  realBind(target, texture);
}

namespace {
using namespace gltest;

// With the start camera on the 100x100 view a stored point (x, y, 0) lands near column
// 50 + 48.7 * (x - 0.01) and row 50 - 48.7 * y: the mirror in x and the half turn about y
// cancel in x, so positive x is right of centre.
class FrameRenderer : public HeadlessGLTest {};

TEST_F(FrameRenderer, EmptyTableClearsToBlack) {
  TextureTable textures = EmptyTextures();
  Draw(MakeTable({MakeQuad(0, 0, -1, -1, 1, 1)}), textures);
  const std::vector<uint8_t> pixels = Draw(QuadTable{}, textures);
  ASSERT_EQ(pixels.size(), size_t{kSurfaceSide * kSurfaceSide * 4});
  for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(pixels[i], 0) << "byte " << i;
}

TEST_F(FrameRenderer, CountLimitsTheQuadsDrawn) {
  QuadTable quads = MakeTable({MakeQuad(0, 0, -1, -1, 1, 1)});
  quads.count = 0;
  EXPECT_TRUE(AllBlack(Draw(quads, EmptyTextures())));
}

TEST_F(FrameRenderer, SlotHoldingZeroAndSlotsOutsideTheTableDrawWhite) {
  TextureTable textures = EmptyTextures();
  textures[0] = SolidTexture(kGreen);
  textures[5] = 0;
  const QuadTable quads =
      MakeTable({MakeQuad(5, 0, -0.6f, 0.1f, -0.2f, 0.5f), MakeQuad(-1, 0, 0.2f, 0.1f, 0.6f, 0.5f),
                 MakeQuad(kTextureSlots, 0, -0.6f, -0.5f, -0.2f, -0.1f),
                 MakeQuad(0, 0, 0.2f, -0.5f, 0.6f, -0.1f)});
  const std::vector<uint8_t> pixels = Draw(quads, textures);
  EXPECT_EQ(RgbAt(pixels, 31, 35), kWhite);
  EXPECT_EQ(RgbAt(pixels, 69, 35), kWhite);
  EXPECT_EQ(RgbAt(pixels, 31, 65), kWhite);
  EXPECT_EQ(RgbAt(pixels, 69, 65), kGreen);
  EXPECT_EQ(RgbAt(pixels, 50, 50), kBlack);
}

TEST_F(FrameRenderer, BlendOneMixesWithWhatLiesBelowOtherValuesAreOpaque) {
  TextureTable textures = EmptyTextures();
  textures[1] = SolidTexture(Rgba{255, 0, 0, 128});
  const QuadTable quads = MakeTable(
      {MakeQuad(0, 0, -0.8f, -0.8f, 0.8f, 0.8f), MakeQuad(1, 1, -0.6f, -0.2f, -0.2f, 0.2f),
       MakeQuad(1, 2, 0.2f, -0.2f, 0.6f, 0.2f), MakeQuad(1, 0, -0.2f, -0.7f, 0.2f, -0.3f)});
  const std::vector<uint8_t> pixels = Draw(quads, textures);
  const Rgba mixed = RgbAt(pixels, 31, 50);
  EXPECT_EQ(mixed.r, 255);
  EXPECT_NEAR(mixed.g, 127, 1);
  EXPECT_NEAR(mixed.b, 127, 1);
  EXPECT_EQ(RgbAt(pixels, 69, 50), kRed);
  EXPECT_EQ(RgbAt(pixels, 50, 75), kRed);
  EXPECT_EQ(RgbAt(pixels, 50, 50), kWhite);
}

TEST_F(FrameRenderer, LaterQuadsCoverEarlierOnesWhateverTheirDepth) {
  TextureTable textures = EmptyTextures();
  textures[1] = SolidTexture(kRed);
  textures[2] = SolidTexture(kGreen);
  // The red quad lies nearer the eye (stored z -1) than the green one (stored z 1), and the
  // green one, drawn later, still covers it.
  const QuadTable quads = MakeTable({MakeQuad(1, 0, -0.5f, -0.5f, 0.5f, 0.5f, -1.0f),
                                     MakeQuad(2, 0, -0.3f, -0.3f, 1.5f, 1.5f, 1.0f)});
  const std::vector<uint8_t> pixels = Draw(quads, textures);
  EXPECT_EQ(RgbAt(pixels, 50, 50), kGreen);
  EXPECT_EQ(RgbAt(pixels, 30, 70), kRed);
}

TEST_F(FrameRenderer, PositiveXAppearsRightOfCentreWithTheStartCamera) {
  const QuadTable quads = MakeTable({MakeQuad(0, 0, 0.2f, -0.2f, 0.6f, 0.2f)});
  const std::vector<uint8_t> pixels = Draw(quads, EmptyTextures());
  // Columns 59.3 to 78.7, rows 40.3 to 59.7.
  EXPECT_EQ(RgbAt(pixels, 60, 50), kWhite);
  EXPECT_EQ(RgbAt(pixels, 77, 50), kWhite);
  EXPECT_EQ(RgbAt(pixels, 69, 41), kWhite);
  EXPECT_EQ(RgbAt(pixels, 69, 58), kWhite);
  EXPECT_EQ(RgbAt(pixels, 58, 50), kBlack);
  EXPECT_EQ(RgbAt(pixels, 80, 50), kBlack);
  EXPECT_EQ(RgbAt(pixels, 69, 39), kBlack);
  EXPECT_EQ(RgbAt(pixels, 69, 61), kBlack);
  EXPECT_EQ(RgbAt(pixels, 31, 50), kBlack);
}

TEST_F(FrameRenderer, PositiveYAppearsAboveCentreAndDepthShrinks) {
  const QuadTable quads = MakeTable({MakeQuad(0, 0, -0.1f, 0.3f, 0.1f, 0.5f, 2.48f)});
  // Stored z 2.48 doubles the distance to the eye: rows 50 - 24.3 * y, 37.8 to 42.7.
  const std::vector<uint8_t> pixels = Draw(quads, EmptyTextures());
  EXPECT_EQ(RgbAt(pixels, 50, 38), kWhite);
  EXPECT_EQ(RgbAt(pixels, 50, 41), kWhite);
  EXPECT_EQ(RgbAt(pixels, 50, 36), kBlack);
  EXPECT_EQ(RgbAt(pixels, 50, 44), kBlack);
}

TEST_F(FrameRenderer, PanXMovesTheSceneTheOtherWay) {
  CameraState camera;
  camera.panX = 0.41f;
  camera.panY = 0.3f;
  const QuadTable quads = MakeTable({MakeQuad(0, 0, 0.2f, -0.5f, 0.6f, -0.1f)});
  const std::vector<uint8_t> pixels = Draw(quads, EmptyTextures(), camera);
  // x - panX spans -0.21 to 0.19; y + panY spans -0.2 to 0.2.
  EXPECT_EQ(RgbAt(pixels, 50, 50), kWhite);
  EXPECT_EQ(RgbAt(pixels, 41, 50), kWhite);
  EXPECT_EQ(RgbAt(pixels, 69, 50), kBlack);
  EXPECT_EQ(RgbAt(pixels, 50, 69), kBlack);
}

TEST_F(FrameRenderer, TiltTurnsTheSceneCentreDownward) {
  CameraState camera;
  camera.tilt = 10.0f;
  const QuadTable quads = MakeTable({MakeQuad(0, 0, -0.1f, -0.1f, 0.1f, 0.1f)});
  const std::vector<uint8_t> pixels = Draw(quads, EmptyTextures(), camera);
  // Rows 66.3 to 76.3 instead of 45.1 to 54.9.
  EXPECT_EQ(RgbAt(pixels, 50, 71), kWhite);
  EXPECT_EQ(RgbAt(pixels, 50, 67), kWhite);
  EXPECT_EQ(RgbAt(pixels, 50, 75), kWhite);
  EXPECT_EQ(RgbAt(pixels, 50, 50), kBlack);
  EXPECT_EQ(RgbAt(pixels, 50, 64), kBlack);
  EXPECT_EQ(RgbAt(pixels, 50, 78), kBlack);
}

TEST_F(FrameRenderer, SpinTurnsAQuadRightOfCentreDownward) {
  CameraState camera;
  camera.spin = 90.0f;
  const QuadTable quads = MakeTable({MakeQuad(0, 0, 0.4f, -0.1f, 0.6f, 0.1f)});
  const std::vector<uint8_t> pixels = Draw(quads, EmptyTextures(), camera);
  // Rows 69.0 to 78.7, columns 45.1 to 54.9; unspun it would be at columns 69 to 78.7.
  EXPECT_EQ(RgbAt(pixels, 50, 74), kWhite);
  EXPECT_EQ(RgbAt(pixels, 46, 70), kWhite);
  EXPECT_EQ(RgbAt(pixels, 74, 50), kBlack);
  EXPECT_EQ(RgbAt(pixels, 50, 26), kBlack);
  camera.spin = -90.0f;
  EXPECT_EQ(RgbAt(Draw(quads, EmptyTextures(), camera), 50, 26), kWhite);
}

TEST_F(FrameRenderer, SpinTurnsTheSceneBeforeTiltDoes) {
  CameraState camera;
  camera.spin = 90.0f;
  camera.tilt = 10.0f;
  const QuadTable quads = MakeTable({MakeQuad(0, 0, 0.2f, -0.1f, 0.4f, 0.1f)});
  const std::vector<uint8_t> pixels = Draw(quads, EmptyTextures(), camera);
  // Spun below centre, then tilted further down: rows 81 to 91.4, columns 45 to 55. Tilting
  // first would put it left of centre, around column 29 and row 64.
  EXPECT_EQ(RgbAt(pixels, 50, 86), kWhite);
  EXPECT_EQ(RgbAt(pixels, 50, 78), kBlack);
  EXPECT_EQ(RgbAt(pixels, 29, 64), kBlack);
}

TEST_F(FrameRenderer, TexelsShowInTextureCoordinateOrder) {
  // 4x4 texture in 2x2 blocks: red, green in the first rows, blue, white in the last. Row 0
  // lies at v = 0, the bottom edge. Inside a block's inner half linear filtering mixes
  // only equal texels, so the colours show exactly there.
  std::vector<uint8_t> texels;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const Rgba texel = row < 2 ? (column < 2 ? kRed : kGreen) : (column < 2 ? kBlue : kWhite);
      texels.insert(texels.end(), {texel.r, texel.g, texel.b, texel.a});
    }
  }
  TextureTable textures = EmptyTextures();
  textures[3] = CreateTexture(4, 4, GL_RGBA, texels.data());
  const QuadTable quads = MakeTable({MakeQuad(3, 0, -0.6f, -0.6f, 0.6f, 0.6f)});
  const std::vector<uint8_t> pixels = Draw(quads, textures);
  EXPECT_EQ(RgbAt(pixels, 35, 65), kRed);
  EXPECT_EQ(RgbAt(pixels, 64, 65), kGreen);
  EXPECT_EQ(RgbAt(pixels, 35, 35), kBlue);
  EXPECT_EQ(RgbAt(pixels, 64, 35), kWhite);
}

TEST_F(FrameRenderer, BindsOnceForConsecutiveQuadsAndAcrossFrames) {
  TextureTable textures = EmptyTextures();
  textures[1] = SolidTexture(kRed);
  textures[2] = SolidTexture(kGreen);
  const QuadTable sameTexture =
      MakeTable({MakeQuad(1, 0, -0.5f, -0.5f, 0.0f, 0.0f), MakeQuad(1, 1, 0.0f, 0.0f, 0.5f, 0.5f),
                 MakeQuad(1, 2, -0.5f, 0.0f, 0.0f, 0.5f)});
  const uint64_t bindsBefore = bindCalls;
  Draw(sameTexture, textures);
  EXPECT_EQ(bindCalls - bindsBefore, 1u);
  // The next frame starts with the texture the last one ended with: no bind at all.
  Draw(sameTexture, textures);
  EXPECT_EQ(bindCalls - bindsBefore, 1u);

  const QuadTable alternating =
      MakeTable({MakeQuad(1, 0, -0.5f, -0.5f, 0.0f, 0.0f), MakeQuad(2, 0, 0.0f, 0.0f, 0.5f, 0.5f),
                 MakeQuad(2, 0, 0.0f, -0.5f, 0.5f, 0.0f), MakeQuad(0, 0, -0.5f, 0.0f, 0.0f, 0.5f)});
  const std::vector<uint8_t> pixels = Draw(alternating, textures);
  // Slot 1 is bound already; then slot 2 once and name 0 (slot 0) once.
  EXPECT_EQ(bindCalls - bindsBefore, 3u);
  EXPECT_EQ(RgbAt(pixels, 38, 62), kRed);
  EXPECT_EQ(RgbAt(pixels, 62, 38), kGreen);
  EXPECT_EQ(RgbAt(pixels, 62, 62), kGreen);
  EXPECT_EQ(RgbAt(pixels, 38, 38), kWhite);
}

// An upload between frames binds its new texture; the cache knows, so the next frame binds
// the texture it draws with instead of drawing with the new one.
TEST_F(FrameRenderer, UploadsBetweenFramesNeverLeaveTheCacheWrong) {
  TextureTable textures = EmptyTextures();
  textures[1] = SolidTexture(kRed);
  const QuadTable redQuad = MakeTable({MakeQuad(1, 0, -2.0f, -2.0f, 2.0f, 2.0f)});
  EXPECT_EQ(RgbAt(Draw(redQuad, textures), 50, 50), kRed);
  textures[2] = SolidTexture(kGreen);
  EXPECT_EQ(RgbAt(Draw(redQuad, textures), 50, 50), kRed);
  // A new context has nothing bound: its binding cache starts afresh, so the texture the
  // last frame ended with is bound again.
  InitGLState();
  const uint64_t bindsBefore = bindCalls;
  EXPECT_EQ(RgbAt(Draw(redQuad, textures), 50, 50), kRed);
  EXPECT_EQ(bindCalls - bindsBefore, 1u);
}

}  // namespace
