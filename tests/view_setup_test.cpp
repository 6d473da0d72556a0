// View setup on a headless llvmpipe surface: what the viewport and the near-0 perspective let
// through (size 0, aspect, points behind the eye and far ahead).
#include "tests/gl_test_support.h"

namespace {
using namespace gltest;

class ViewSetup : public HeadlessGLTest {};

// Counts the white pixels of one row and one column through (x, y).
int WhiteRun(const std::vector<uint8_t>& pixels, int x, int y, bool alongRow) {
  int run = 0;
  for (int i = 0; i < kSurfaceSide; ++i) {
    if (RgbAt(pixels, alongRow ? i : x, alongRow ? y : i) == kWhite) ++run;
  }
  return run;
}

TEST_F(ViewSetup, HeightZeroDrawsNothingUntilTheViewHasAHeightAgain) {
  const QuadTable quads = MakeTable({MakeQuad(0, 0, -1.0f, -1.0f, 1.0f, 1.0f)});
  ResizeView(kSurfaceSide, 0);  // infinite aspect
  EXPECT_TRUE(AllBlack(Draw(quads, EmptyTextures())));
  ResizeView(0, 0);  // NaN aspect
  EXPECT_TRUE(AllBlack(Draw(quads, EmptyTextures())));
  ResizeView(kSurfaceSide, kSurfaceSide);
  EXPECT_EQ(RgbAt(Draw(quads, EmptyTextures()), 50, 50), kWhite);
}

TEST_F(ViewSetup, AspectFollowsTheSizeSoSquaresStaySquare) {
  const QuadTable quads = MakeTable({MakeQuad(0, 0, -0.19f, -0.2f, 0.21f, 0.2f)});
  const std::vector<uint8_t> square = Draw(quads, EmptyTextures());
  EXPECT_EQ(WhiteRun(square, 50, 50, true), 20);
  EXPECT_EQ(WhiteRun(square, 50, 50, false), 20);
  // A 100x50 viewport fills the lower half of the surface: the quad halves in both ways.
  ResizeView(kSurfaceSide, kSurfaceSide / 2);
  const std::vector<uint8_t> wide = Draw(quads, EmptyTextures());
  EXPECT_EQ(WhiteRun(wide, 50, 75, true), 10);
  EXPECT_EQ(WhiteRun(wide, 50, 75, false), 10);
}

TEST_F(ViewSetup, NothingBehindTheEyeIsDrawnAndNothingInFrontIsClippedByDepth) {
  // Stored z -3 puts the quad 0.52 behind the eye.
  EXPECT_TRUE(AllBlack(
      Draw(MakeTable({MakeQuad(0, 0, -1.0f, -1.0f, 1.0f, 1.0f, -3.0f)}), EmptyTextures())));
  // Twice the far distance away still shows: with near 0 every depth maps to the far plane.
  const QuadTable far = MakeTable({MakeQuad(0, 0, -300.0f, -300.0f, 300.0f, 300.0f, 1000.0f)});
  EXPECT_EQ(RgbAt(Draw(far, EmptyTextures()), 50, 50), kWhite);
}

}  // namespace
