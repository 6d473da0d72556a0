// quadscene render as a user runs it: the PNG it writes for a small hand-written scene, its
// messages and exit statuses, and the demo scene against the golden picture.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

const std::string kGoldenDemo = QUADVIEW_SOURCE_DIR "/tests/golden/demo.png";

struct Png {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::unique_ptr<uint8_t, decltype(&stbi_image_free)> pixels{nullptr, &stbi_image_free};

  // RGB of column x, row y from the top.
  std::string RgbAt(int x, int y) const {
    const uint8_t* at = pixels.get() + (static_cast<size_t>(y) * width + x) * 3;
    return std::to_string(at[0]) + "," + std::to_string(at[1]) + "," + std::to_string(at[2]);
  }
};

// Decodes a PNG as RGB, recording how many channels the file itself holds.
Png ReadPng(const std::string& path) {
  Png png;
  png.pixels.reset(stbi_load(path.c_str(), &png.width, &png.height, &png.channels, 3));
  return png;
}

// One red quad, 0.6 wide, at the centre of a file whose name maps every quad to slot 0.
class RenderCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(mapPath_,
              "0, 0\r\nCW\r\n"
              "0, 0, -0.3, -0.3, 0\r\n1, 0, 0.3, -0.3, 0\r\n"
              "1, 1, 0.3, 0.3, 0\r\n0, 1, -0.3, 0.3, 0\r\n");
    std::filesystem::create_directory(temp_.File("box"));
    // 1x1, type 2, depth 32: blue, green, red, alpha.
    WriteFile(temp_.File("box/000.tga"),
              std::string("\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\x20\x08\0\0\xff\xff", 22));
  }

  TempDir temp_;
  const std::string mapPath_ = temp_.File("box.map");
  const std::string pngPath_ = temp_.File("out.png");
};

TEST_F(RenderCommand, WritesTheFrameAsAnRgbPngTopRowFirst) {
  const CommandResult result = RunQuadscene(
      "render " + mapPath_ + " -o " + pngPath_ + " --size 100x80 --pan 0.01 0.4", temp_);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  const Png png = ReadPng(pngPath_);
  ASSERT_NE(png.pixels, nullptr);
  EXPECT_EQ(png.width, 100);
  EXPECT_EQ(png.height, 80);
  EXPECT_EQ(png.channels, 3);
  // panY 0.4 lifts the quad to rows 12.7 to 36.1 of 80.
  EXPECT_EQ(png.RgbAt(50, 15), "255,0,0");
  EXPECT_EQ(png.RgbAt(50, 40), "0,0,0");
  EXPECT_EQ(png.RgbAt(50, 70), "0,0,0");
}

TEST_F(RenderCommand, CameraOptionsMoveTheView) {
  // Spun a half turn after the pan: columns 1.7 to 37.9 instead of 62 to 98.
  const CommandResult result =
      RunQuadscene("render " + mapPath_ + " -o " + pngPath_ +
                       " --size 100x100 --spin 180 --pan -0.5 0 --distance -2 --tilt 0",
                   temp_);
  ASSERT_EQ(result.status, 0) << result.err;
  const Png png = ReadPng(pngPath_);
  ASSERT_NE(png.pixels, nullptr);
  EXPECT_EQ(png.RgbAt(20, 50), "255,0,0");
  EXPECT_EQ(png.RgbAt(50, 50), "0,0,0");
}

TEST_F(RenderCommand, FramesPrintsTheMedianFrameTime) {
  const CommandResult result =
      RunQuadscene("render " + mapPath_ + " -o " + pngPath_ + " --frames 3", temp_);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.rfind("1 quad, 3 frames: median frame time ", 0), 0u) << result.out;
  EXPECT_NE(result.out.find(" ms, "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(" frames per second\n"), std::string::npos) << result.out;
  EXPECT_EQ(ReadPng(pngPath_).width, 535);
}

TEST_F(RenderCommand, SceneErrorsNameTheFileAndExitWithStatusOne) {
  std::filesystem::remove(temp_.File("box/000.tga"));
  const std::string image = temp_.File("box/000.tga");
  CommandResult result = RunQuadscene("render " + mapPath_ + " -o " + pngPath_, temp_);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, image + ": Cannot open file " + image + "\n");
  EXPECT_FALSE(std::filesystem::exists(pngPath_));

  WriteFile(image, std::string("\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\x20\x08\0\0\xff\xff", 22));
  WriteFile(mapPath_, "0, x\r\nCW\r\n");
  result = RunQuadscene("render " + mapPath_ + " -o " + pngPath_, temp_);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, mapPath_ + ":1: 'x' is not a valid integer value\n");
  EXPECT_FALSE(std::filesystem::exists(pngPath_));
}

TEST_F(RenderCommand, BadUsageExitsWithStatusTwo) {
  for (const char* options : {" --size 0x10", " --size 100", " --frames 0", " --pan 1"}) {
    const CommandResult result =
        RunQuadscene("render " + mapPath_ + " -o " + pngPath_ + options, temp_);
    EXPECT_EQ(result.status, 2) << options;
  }
  EXPECT_EQ(RunQuadscene("render " + mapPath_, temp_).status, 2);
}

// The demo scene from `quadscene demo`, drawn with the start camera at the view panel's size,
// against the committed picture. Small differences of rasterisation are tolerated.
TEST(RenderCommandGolden, DemoSceneMatchesTheGoldenPicture) {
  TempDir temp;
  ASSERT_EQ(RunQuadscene("demo " + temp.File("demo"), temp).status, 0);
  const CommandResult result =
      RunQuadscene("render " + temp.File("demo/nyc.map") + " -o " + temp.File("demo.png"), temp);
  ASSERT_EQ(result.status, 0) << result.err;
  const Png actual = ReadPng(temp.File("demo.png"));
  const Png golden = ReadPng(kGoldenDemo);
  ASSERT_NE(golden.pixels, nullptr) << kGoldenDemo;
  ASSERT_NE(actual.pixels, nullptr);
  ASSERT_EQ(actual.width, golden.width);
  ASSERT_EQ(actual.height, golden.height);
  constexpr int kChannelTolerance = 16;
  const size_t bytes = static_cast<size_t>(golden.width) * golden.height * 3;
  size_t differentPixels = 0;
  double totalDifference = 0.0;
  for (size_t pixel = 0; pixel < bytes / 3; ++pixel) {
    bool different = false;
    for (size_t channel = 0; channel < 3; ++channel) {
      const int difference = std::abs(int{actual.pixels.get()[pixel * 3 + channel]} -
                                      int{golden.pixels.get()[pixel * 3 + channel]});
      totalDifference += difference;
      different = different || difference > kChannelTolerance;
    }
    differentPixels += different ? 1 : 0;
  }
  // At most 0.2% of the pixels (edge pixels) may differ noticeably; on average almost nothing.
  EXPECT_LE(differentPixels, bytes / 3 / 500);
  EXPECT_LE(totalDifference / static_cast<double>(bytes), 0.5);
}

}  // namespace
