// Texture set from TGA files written into a temporary scene folder: which slots fill, where
// the set ends, the missing-image error, and that the uploaded texels are the file's.
#include <sys/stat.h>

#include <filesystem>

#include "scene/scene_error.h"
#include "scene/texture_limits.h"
#include "scene/tga.h"
#include "tests/gl_test_support.h"

namespace {
using namespace gltest;

class TextureSet : public HeadlessGLTest {
 protected:
  void SetUp() override {
    HeadlessGLTest::SetUp();
    std::filesystem::create_directory(folder_);
  }
  // A distinct opaque colour per image number.
  static Rgba ImageColour(int number) {
    return Rgba{static_cast<uint8_t>(number * 20), static_cast<uint8_t>(255 - number * 20),
                static_cast<uint8_t>(number & 1 ? 255 : 0), 255};
  }
  void WriteImage(const std::string& name, int number) {
    WriteTgaFile(folder_ + name, 1, 1, {ImageColour(number)});
  }
  // The colour a full-view quad of `slot` shows at the centre.
  static Rgba SlotColour(const TextureTable& textures, int slot) {
    return RgbAt(Draw(MakeTable({MakeQuad(slot, 0, -2.0f, -2.0f, 2.0f, 2.0f)}), textures), 50, 50);
  }
  static int FilledSlots(const TextureTable& textures) {
    int filled = 0;
    for (uint32_t name : textures) filled += name != 0 ? 1 : 0;
    return filled;
  }

  TempDir temp_;
  const std::string mapPath_ = temp_.path() + "/city.map";  // need not exist
  const std::string folder_ = temp_.path() + "/city/";
};

TEST_F(TextureSet, ImagesNumberedInUpperCaseHexFillTheirSlots) {
  const char* names[] = {"000.tga", "001.tga", "002.tga", "003.tga", "004.tga", "005.tga",
                         "006.tga", "007.tga", "008.tga", "009.tga", "00A.tga", "00B.tga"};
  for (int i = 0; i < 12; ++i) WriteImage(names[i], i);
  WriteImage("00c.tga", 12);  // lower-case hex is not the next image
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(FilledSlots(textures), 12);
  for (int slot = 0; slot < 12; ++slot) EXPECT_NE(textures[slot], 0u) << slot;
  EXPECT_EQ(SlotColour(textures, 0), ImageColour(0));
  EXPECT_EQ(SlotColour(textures, 10), ImageColour(10));
  EXPECT_EQ(SlotColour(textures, 11), ImageColour(11));
  EXPECT_EQ(SlotColour(textures, 12), kWhite);
}

TEST_F(TextureSet, FirstMissingNumberEndsTheSet) {
  WriteImage("000.tga", 0);
  WriteImage("001.tga", 1);
  WriteImage("003.tga", 3);
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(FilledSlots(textures), 2);
  EXPECT_NE(textures[1], 0u);
}

// Only a regular file continues the set: a folder or a FIFO (which would block the open)
// named like the next image ends it.
TEST_F(TextureSet, FolderOrFifoNamedLikeAnImageEndsTheSet) {
  WriteImage("000.tga", 0);
  WriteImage("001.tga", 1);
  std::filesystem::create_directory(folder_ + "002.tga");
  WriteImage("003.tga", 3);
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(FilledSlots(textures), 2);
  std::filesystem::remove(folder_ + "002.tga");
  ASSERT_EQ(::mkfifo((folder_ + "001.tga").c_str(), 0600), -1);  // exists already
  std::filesystem::remove(folder_ + "001.tga");
  ASSERT_EQ(::mkfifo((folder_ + "001.tga").c_str(), 0600), 0);
  textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(FilledSlots(textures), 1);
  std::filesystem::remove(folder_ + "000.tga");
  ASSERT_EQ(::mkfifo((folder_ + "000.tga").c_str(), 0600), 0);
  EXPECT_THROW(LoadTextureSet(mapPath_, textures), SceneError);  // like a missing 000.tga
}

// An image GL would not take is not decoded: its slot draws untextured and the set goes on.
TEST_F(TextureSet, ImageBeyondTheMaximumTextureSizeLeavesItsSlotUntextured) {
  const int width = MaxTextureSize() + 1;
  WriteImage("000.tga", 0);
  WriteTgaFile(folder_ + "001.tga", static_cast<uint16_t>(width), 1,
               std::vector<Rgba>(static_cast<size_t>(width), kRed));
  WriteImage("002.tga", 2);
  TextureTable textures = EmptyTextures();
  ::testing::internal::CaptureStderr();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            folder_ + "001.tga: warning: " + std::to_string(width) +
                " x 1 is larger than the maximum texture size " + std::to_string(width - 1) +
                "; its slot draws untextured\n");
  EXPECT_EQ(textures[1], 0u);
  EXPECT_EQ(SlotColour(textures, 1), kWhite);
  EXPECT_EQ(SlotColour(textures, 2), ImageColour(2));
}

TEST(TextureLimits, RefusalsNameTheSizeAndTheLimit) {
  const uint64_t gib = uint64_t(1) << 30;
  EXPECT_EQ(TextureBudgetBytes(24 * gib), 4 * gib);
  EXPECT_EQ(TextureBudgetBytes(6 * gib), 3 * gib);
  int asked = 0;
  const auto maxSize = [&asked] {
    ++asked;
    return 16384;
  };
  EXPECT_EQ(TextureRefusal(1024, 1024, maxSize, gib, 0), "");
  EXPECT_EQ(asked, 0);  // every GL takes 1024: the context is not asked
  EXPECT_EQ(TextureRefusal(16384, 1, maxSize, gib, 0), "");
  EXPECT_EQ(TextureRefusal(1, 16385, maxSize, gib, 0),
            "1 x 16385 is larger than the maximum texture size 16384");
  EXPECT_EQ(TextureRefusal(16384, 16384, maxSize, 4 * gib, 3 * gib + 1),
            "16384 x 16384 needs 1024 MiB, more than the texture budget has left (1024 MiB of "
            "4096 MiB)");
  EXPECT_EQ(TextureRefusal(16384, 16384, maxSize, 4 * gib, 3 * gib), "");
}

TEST_F(TextureSet, MissingFirstImageRaisesCannotOpenFile) {
  WriteImage("001.tga", 1);
  TextureTable textures = EmptyTextures();
  try {
    LoadTextureSet(mapPath_, textures);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), ("Cannot open file " + folder_ + "000.tga").c_str());
  }
  EXPECT_EQ(FilledSlots(textures), 0);
}

TEST_F(TextureSet, StopsAtSlot1023EvenWhenMoreImagesExist) {
  for (int number = 0; number < kTextureSlots; ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "%03X.tga", number);
    WriteImage(name, number % 12);
  }
  WriteTgaFile(folder_ + "400.tga", 2, 1, {kRed, kRed});
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(FilledSlots(textures), kTextureSlots);
  EXPECT_EQ(SlotColour(textures, 1023), ImageColour(1023 % 12));
  // 3FF.tga was the last image read: 400.tga, two pixels wide, was not.
  EXPECT_EQ(LastTgaImage().header.width, 1);
}

TEST_F(TextureSet, TexelsShowInFileRowOrderWithTheirAlpha) {
  // 4x4 in 2x2 blocks: red, green in file rows 0 and 1, blue and a transparent white in rows
  // 2 and 3. File row 0 is texture row 0, at v = 0: the bottom of the quad. Inside a block's
  // inner half linear filtering mixes only equal texels.
  const Rgba clearWhite{255, 255, 255, 0};
  std::vector<Rgba> texels;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      texels.push_back(row < 2 ? (column < 2 ? kRed : kGreen) : (column < 2 ? kBlue : clearWhite));
    }
  }
  WriteTgaFile(folder_ + "000.tga", 4, 4, texels);
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  const std::vector<uint8_t> opaque =
      Draw(MakeTable({MakeQuad(0, 0, -0.6f, -0.6f, 0.6f, 0.6f)}), textures);
  EXPECT_EQ(RgbAt(opaque, 35, 65), kRed);
  EXPECT_EQ(RgbAt(opaque, 64, 65), kGreen);
  EXPECT_EQ(RgbAt(opaque, 35, 35), kBlue);
  EXPECT_EQ(RgbAt(opaque, 64, 35), kWhite);
  // Alpha-blended over the black background the transparent block leaves black.
  const std::vector<uint8_t> blended =
      Draw(MakeTable({MakeQuad(0, 1, -0.6f, -0.6f, 0.6f, 0.6f)}), textures);
  EXPECT_EQ(RgbAt(blended, 35, 65), kRed);
  EXPECT_EQ(RgbAt(blended, 64, 35), kBlack);
}

TEST_F(TextureSet, TwentyFourBitImageShowsOpaque) {
  // 1x1, type 2, depth 24: blue, green, red in the file.
  const char bytes[] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 30, 20, 10};
  WriteFile(folder_ + "000.tga", std::string(bytes, sizeof bytes));
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  textures[1] = SolidTexture(kWhite);
  // Alpha-blended over white: any alpha below 255 would lighten the colour.
  const std::vector<uint8_t> pixels = Draw(MakeTable({MakeQuad(1, 0, -2.0f, -2.0f, 2.0f, 2.0f),
                                                      MakeQuad(0, 1, -2.0f, -2.0f, 2.0f, 2.0f)}),
                                           textures);
  EXPECT_EQ(RgbAt(pixels, 50, 50), (Rgba{10, 20, 30, 255}));
}

TEST_F(TextureSet, TruncatedImageUploadsWithoutReadingPastItsData) {
  // Claims 64x64 at 32 bits but holds a single pixel.
  const char bytes[] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 64, 0, 32, 0, 1, 2, 3, 4};
  WriteFile(folder_ + "000.tga", std::string(bytes, sizeof bytes));
  TextureTable textures = EmptyTextures();
  LoadTextureSet(mapPath_, textures);
  EXPECT_EQ(FilledSlots(textures), 1);
}

}  // namespace
