// Mouse navigation over a CameraState: drags, the press as reference point, and the wheel.
#include "app/navigation.h"

#include <gtest/gtest.h>

namespace {

class Navigation : public ::testing::Test {
 protected:
  // Every test starts without a drag, as the program does: a release ends any drag.
  void SetUp() override { FormMouseUp(MouseButton::kLeft, 0, 0); }
  CameraState camera;
};

TEST_F(Navigation, LeftDragPansByOneUnitPerFiftyPixels) {
  FormMouseDown(MouseButton::kLeft, 100, 100);
  FormMouseMove(camera, 120, 100);
  FormMouseMove(camera, 150, 150);
  FormMouseUp(MouseButton::kLeft, 150, 150);
  EXPECT_FLOAT_EQ(camera.panX, 0.01f - 1.0f);
  EXPECT_FLOAT_EQ(camera.panY, -1.0f);
  EXPECT_FLOAT_EQ(camera.distance, -2.48f);
  EXPECT_EQ(camera.tilt, 0.0f);
  EXPECT_EQ(camera.spin, 0.0f);
}

TEST_F(Navigation, RightDragTurnsByOneDegreePerTwentyPixels) {
  FormMouseDown(MouseButton::kRight, 100, 100);
  FormMouseMove(camera, 80, 80);  // 20 left and 20 up
  EXPECT_FLOAT_EQ(camera.spin, 1.0f);
  EXPECT_FLOAT_EQ(camera.tilt, 1.0f);
  FormMouseMove(camera, 90, 110);
  EXPECT_FLOAT_EQ(camera.spin, 0.5f);
  EXPECT_FLOAT_EQ(camera.tilt, -0.5f);
  EXPECT_FLOAT_EQ(camera.panX, 0.01f);
  EXPECT_EQ(camera.panY, 0.0f);
}

TEST_F(Navigation, MiddleDragAndMovesWithoutDragLeaveTheCamera) {
  FormMouseMove(camera, 300, 300);  // before any press
  FormMouseDown(MouseButton::kMiddle, 0, 0);
  FormMouseMove(camera, 77, -40);
  FormMouseUp(MouseButton::kMiddle, 77, -40);
  const CameraState start;
  EXPECT_EQ(camera.panX, start.panX);
  EXPECT_EQ(camera.panY, start.panY);
  EXPECT_EQ(camera.distance, start.distance);
  EXPECT_EQ(camera.tilt, start.tilt);
  EXPECT_EQ(camera.spin, start.spin);
}

TEST_F(Navigation, ThePressSetsTheReferenceSoAFreshDragDoesNotJump) {
  FormMouseDown(MouseButton::kLeft, 0, 0);
  FormMouseMove(camera, 50, 0);
  FormMouseUp(MouseButton::kLeft, 50, 0);
  FormMouseMove(camera, 400, 400);  // ignored: no drag
  FormMouseDown(MouseButton::kLeft, 400, 400);
  FormMouseMove(camera, 400, 400);
  EXPECT_FLOAT_EQ(camera.panX, 0.01f - 1.0f);
  EXPECT_EQ(camera.panY, 0.0f);
}

TEST_F(Navigation, ASecondButtonTakesTheDragOverAndAnyReleaseEndsIt) {
  FormMouseDown(MouseButton::kLeft, 0, 0);
  FormMouseDown(MouseButton::kRight, 10, 10);
  FormMouseMove(camera, 30, 10);
  EXPECT_FLOAT_EQ(camera.spin, -1.0f);
  EXPECT_FLOAT_EQ(camera.panX, 0.01f);
  FormMouseUp(MouseButton::kLeft, 30, 10);
  FormMouseMove(camera, 90, 90);
  EXPECT_FLOAT_EQ(camera.spin, -1.0f);
  EXPECT_EQ(camera.tilt, 0.0f);
}

TEST_F(Navigation, OneWheelNotchForwardBringsTheCameraNearerBy1Point2) {
  FormMouseWheel(camera, 120);
  EXPECT_FLOAT_EQ(camera.distance, -1.28f);
  FormMouseWheel(camera, -240);
  EXPECT_FLOAT_EQ(camera.distance, -3.68f);
  FormMouseWheel(camera, 30);  // a fine wheel's quarter notch
  EXPECT_FLOAT_EQ(camera.distance, -3.38f);
}

TEST_F(Navigation, CameraValuesAreNeverLimited) {
  for (int i = 0; i < 100; ++i) FormMouseWheel(camera, 1200);
  EXPECT_NEAR(camera.distance, 1197.52f, 1e-2f);
  FormMouseDown(MouseButton::kRight, 0, 0);
  FormMouseMove(camera, -20000, 0);
  EXPECT_FLOAT_EQ(camera.spin, 1000.0f);
}

}  // namespace
