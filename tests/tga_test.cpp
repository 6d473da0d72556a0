// TGA reader cases built as small byte arrays, written to a fresh folder per test: the
// accept/reject results and the raw `pixels` buffer, the offsets of pixel data, truncated,
// header-only and oversized files, and the RGBA upload image of each supported kind.
#include "scene/tga.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scene/scene_error.h"
#include "tests/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The 18 header bytes of `header` followed by `rest` (ID field, colour map, pixel data).
Bytes Tga(const TgaHeader& header, const Bytes& rest) {
  Bytes bytes(kTgaHeaderBytes + rest.size(), 0);
  auto put16 = [&bytes](size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
  };
  bytes[0] = header.idLength;
  bytes[1] = header.colorMapType;
  bytes[2] = header.imageType;
  put16(3, header.colorMapFirst);
  put16(5, header.colorMapLength);
  bytes[7] = header.colorMapEntryBits;
  put16(12, header.width);
  put16(14, header.height);
  bytes[16] = header.depth;
  bytes[17] = header.descriptor;
  std::copy(rest.begin(), rest.end(), bytes.begin() + kTgaHeaderBytes);
  return bytes;
}

TgaHeader Header(uint8_t imageType, uint16_t width, uint16_t height, uint8_t depth) {
  TgaHeader header;
  header.imageType = imageType;
  header.width = width;
  header.height = height;
  header.depth = depth;
  return header;
}

class TgaReader : public ::testing::Test {
 protected:
  std::string WriteTemp(const std::string& name, const Bytes& bytes) {
    const std::string path = dir.File(name);
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }
  bool Load(const Bytes& bytes) { return LoadTga(WriteTemp("image.tga", bytes)); }
  // The texels the texture set would upload.
  static Bytes Upload() {
    const TgaImage& image = LastTgaImage();
    return Bytes(image.UploadPixels(), image.UploadPixels() + image.UploadBytes());
  }

  TempDir dir;
};

const Bytes kTwoPixels = {10, 20, 30, 40, 50, 60, 70, 80};

TEST_F(TgaReader, TrueColor32IsSwappedToRgbaAndAccepted) {
  const std::string path = WriteTemp("swap32.tga", Tga(Header(2, 2, 1, 32), kTwoPixels));
  EXPECT_TRUE(LoadTga(path));
  const TgaImage& image = LastTgaImage();
  EXPECT_EQ(image.byteSize, 8);
  EXPECT_EQ(image.depth, 32);
  EXPECT_EQ(image.pixels, (Bytes{30, 20, 10, 40, 70, 60, 50, 80}));
  EXPECT_TRUE(image.rgba.empty());  // the upload image is `pixels` itself: one copy
  EXPECT_EQ(Upload(), image.pixels);
}

TEST_F(TgaReader, TrueColor24KeepsBytesAndIsAccepted) {
  EXPECT_TRUE(Load(Tga(Header(2, 2, 1, 24), {10, 20, 30, 40, 50, 60})));
  EXPECT_EQ(LastTgaImage().pixels, (Bytes{10, 20, 30, 40, 50, 60}));
  EXPECT_EQ(Upload(), (Bytes{30, 20, 10, 255, 60, 50, 40, 255}));
}

TEST_F(TgaReader, RejectsColorMappedRunLengthAndSixteenBitImages) {
  for (const uint8_t depth : {uint8_t{8}, uint8_t{24}, uint8_t{32}}) {
    EXPECT_FALSE(Load(Tga(Header(10, 2, 1, depth), {0x81, 1, 2, 3, 4}))) << int{depth};
  }
  EXPECT_FALSE(Load(Tga(Header(1, 2, 1, 8), {0, 0})));
  EXPECT_FALSE(Load(Tga(Header(2, 2, 1, 16), {0, 0, 0, 0})));
  EXPECT_FALSE(Load(Tga(Header(3, 2, 1, 16), {0, 0, 0, 0})));
  EXPECT_TRUE(Load(Tga(Header(3, 2, 1, 8), {0, 0})));
  EXPECT_TRUE(Load(Tga(Header(11, 2, 1, 8), {0x81, 0})));
}

TEST_F(TgaReader, ZeroWidthOrHeightGivesEmptyBuffersAndIsAccepted) {
  for (auto size : {std::pair<uint16_t, uint16_t>{0, 5}, {5, 0}, {0, 0}}) {
    EXPECT_TRUE(Load(Tga(Header(2, size.first, size.second, 32), kTwoPixels)));
    EXPECT_EQ(LastTgaImage().byteSize, 0);
    EXPECT_TRUE(LastTgaImage().pixels.empty());
    EXPECT_TRUE(LastTgaImage().rgba.empty());
  }
}

TEST_F(TgaReader, MissingFileOrFolderCannotBeOpened) {
  const std::string missing = dir.File("no-such-image.tga");
  try {
    LoadTga(missing);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), ("Cannot open file " + missing).c_str());
  }
  const std::string folder = dir.path();
  try {
    LoadTga(folder);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), ("Cannot open file " + folder).c_str());
  }
}

TEST_F(TgaReader, PixelDataStartsAfterIdFieldAndColorMap) {
  TgaHeader header = Header(2, 1, 1, 24);
  header.idLength = 3;
  header.colorMapType = 1;
  header.colorMapLength = 2;
  header.colorMapEntryBits = 15;  // two bytes an entry
  EXPECT_TRUE(Load(Tga(header, {'I', 'D', '!', 9, 9, 9, 9, 1, 2, 3})));
  EXPECT_EQ(LastTgaImage().pixels, (Bytes{1, 2, 3}));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{3, 2, 1, 255}));
}

TEST_F(TgaReader, TruncatedFileReadsMissingBytesAsZero) {
  EXPECT_TRUE(Load(Tga(Header(2, 2, 2, 32), {1, 2, 3, 4, 5, 6})));
  EXPECT_EQ(LastTgaImage().pixels, (Bytes{3, 2, 1, 4, 0, 6, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // The 24-bit decode: the pixel cut short reads zeros; pixels wholly missing stay 0,0,0,0.
  EXPECT_TRUE(Load(Tga(Header(2, 3, 1, 24), {1, 2, 3, 4})));
  EXPECT_EQ(LastTgaImage().pixels, (Bytes{1, 2, 3, 4, 0, 0, 0, 0, 0}));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{3, 2, 1, 255, 0, 0, 4, 255, 0, 0, 0, 0}));
  // A run-length stream that ends early.
  EXPECT_TRUE(Load(Tga(Header(11, 3, 1, 8), {0x80, 7})));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{7, 7, 7, 255, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(TgaReader, FileShorterThanHeaderNeverKeepsFieldsOfThePreviousImage) {
  ASSERT_TRUE(Load(Tga(Header(2, 2, 1, 32), kTwoPixels)));
  const Bytes shortFile = {0, 0, 2, 0, 0};
  EXPECT_TRUE(LoadTga(WriteTemp("short.tga", shortFile)));
  const TgaImage& image = LastTgaImage();
  EXPECT_EQ(image.header.imageType, 2);
  EXPECT_EQ(image.header.width, 0);
  EXPECT_EQ(image.header.height, 0);
  EXPECT_EQ(image.depth, 0);
  EXPECT_TRUE(image.pixels.empty());
  EXPECT_TRUE(image.rgba.empty());
  EXPECT_TRUE(LoadTga(WriteTemp("empty.tga", {})));
  EXPECT_EQ(LastTgaImage().header.imageType, 0);
}

TEST_F(TgaReader, TooLargeImageFailsNamingTheFileBeforeAllocating) {
  struct Case {
    uint8_t depth;
    uint16_t width, height;
  };
  // RGBA size 65535 * 65535 * 4; 32768 * 16384 * 4 = 2^31; 9000 * 9000 * (255 / 8) > 2^31.
  for (const Case& c : {Case{32, 65535, 65535}, Case{8, 32768, 16384}, Case{255, 9000, 9000}}) {
    const std::string path = WriteTemp("large.tga", Tga(Header(2, c.width, c.height, c.depth), {}));
    try {
      LoadTga(path);
      FAIL() << "no error for depth " << int{c.depth};
    } catch (const SceneError& error) {
      EXPECT_EQ(std::string(error.what()), "Image too large: " + path + " (" +
                                               std::to_string(c.width) + " x " +
                                               std::to_string(c.height) + ")");
      EXPECT_EQ(error.file(), path);
    }
    EXPECT_EQ(LastTgaImage().pixels.capacity(), 0u);
    EXPECT_EQ(LastTgaImage().rgba.capacity(), 0u);
  }
  // A deep pixel within the limit is only large, not an error.
  EXPECT_NO_THROW(Load(Tga(Header(0, 8, 8, 255), {})));
  EXPECT_EQ(LastTgaImage().byteSize, 8 * 8 * 31);
  // Nor are its stored pixels held when nothing decodes them: one zero texel is uploaded.
  EXPECT_NO_THROW(Load(Tga(Header(2, 8, 8, 255), {1, 2, 3})));
  EXPECT_EQ(LastTgaImage().pixels.capacity(), 0u);
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{0, 0, 0, 0}));
}

TEST_F(TgaReader, ColorMapHonoursFirstEntryAndZeroesIndexesOutsideIt) {
  TgaHeader header = Header(1, 4, 1, 8);
  header.colorMapType = 1;
  header.colorMapFirst = 2;
  header.colorMapLength = 2;
  header.colorMapEntryBits = 24;
  const Bytes map = {1, 2, 3, 4, 5, 6};  // entries 2 and 3, blue-green-red
  Bytes rest = map;
  rest.insert(rest.end(), {3, 2, 1, 4});
  EXPECT_FALSE(Load(Tga(header, rest)));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{6, 5, 4, 255, 3, 2, 1, 255, 0, 0, 0, 0, 0, 0, 0, 0}));

  // Run-length indexes, 32-bit entries keep their alpha, 16-bit entries widen and are opaque.
  header.imageType = 9;
  header.colorMapEntryBits = 32;
  rest = {1, 2, 3, 4, 5, 6, 7, 8, 0x82, 3};
  EXPECT_TRUE(Load(Tga(header, rest)));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{7, 6, 5, 8, 7, 6, 5, 8, 7, 6, 5, 8, 0, 0, 0, 0}));
  header.colorMapEntryBits = 16;
  rest = {0x1f, 0x00, 0x00, 0x7c, 0x02, 3, 2, 9};  // blue, red; a raw packet of three
  EXPECT_TRUE(Load(Tga(header, rest)));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0}));

  // 16-bit indexes reach entries past 255.
  header = Header(1, 2, 1, 16);
  header.colorMapType = 1;
  header.colorMapFirst = 300;
  header.colorMapLength = 1;
  header.colorMapEntryBits = 24;
  EXPECT_FALSE(Load(Tga(header, {1, 2, 3, 0x2c, 0x01, 0x2d, 0x01})));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{3, 2, 1, 255, 0, 0, 0, 0}));
}

TEST_F(TgaReader, RunLengthPacketsCrossRows) {
  // 2 x 2 true colour: a run of three pixels spans both rows, then a raw packet of one.
  EXPECT_FALSE(Load(Tga(Header(10, 2, 2, 24), {0x82, 1, 2, 3, 0x00, 4, 5, 6})));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{3, 2, 1, 255, 3, 2, 1, 255, 3, 2, 1, 255, 6, 5, 4, 255}));
  // A raw packet across the row end, and a run longer than the image is cut at its end.
  EXPECT_TRUE(Load(Tga(Header(11, 2, 2, 8), {0x02, 10, 20, 30, 0x85, 40})));
  EXPECT_EQ(LastTgaImage().rgba,
            (Bytes{10, 10, 10, 255, 20, 20, 20, 255, 30, 30, 30, 255, 40, 40, 40, 255}));
  EXPECT_TRUE(LastTgaImage().pixels.empty());  // only true-colour files fill it
}

TEST_F(TgaReader, FiveBitChannelsWidenAndAreOpaque) {
  // 0x7fff white without the attribute bit; red 16, green 1, blue 31 with it.
  const uint16_t mixed = 0x8000 | (16 << 10) | (1 << 5) | 31;
  const Bytes stored = {0xff, 0x7f, static_cast<uint8_t>(mixed), static_cast<uint8_t>(mixed >> 8)};
  const Bytes expected = {255, 255, 255, 255, (16 << 3) | (16 >> 2), 8, 255, 255};
  EXPECT_FALSE(Load(Tga(Header(2, 2, 1, 16), stored)));
  EXPECT_EQ(LastTgaImage().rgba, expected);
  EXPECT_TRUE(Load(Tga(Header(2, 2, 1, 15), stored)));
  EXPECT_EQ(LastTgaImage().rgba, expected);
  EXPECT_FALSE(Load(Tga(Header(10, 2, 1, 16), {0x01, 0xff, 0x7f, static_cast<uint8_t>(mixed),
                                               static_cast<uint8_t>(mixed >> 8)})));
  EXPECT_EQ(LastTgaImage().rgba, expected);
}

TEST_F(TgaReader, GreyIsOpaqueAndSixteenBitGreyCarriesAlpha) {
  EXPECT_TRUE(Load(Tga(Header(3, 2, 1, 8), {9, 200})));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{9, 9, 9, 255, 200, 200, 200, 255}));
  EXPECT_FALSE(Load(Tga(Header(3, 2, 1, 16), {9, 0, 200, 128})));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{9, 9, 9, 0, 200, 200, 200, 128}));
  EXPECT_FALSE(Load(Tga(Header(11, 2, 1, 16), {0x81, 50, 60})));
  EXPECT_EQ(LastTgaImage().rgba, (Bytes{50, 50, 50, 60, 50, 50, 50, 60}));
}

// Nothing to decode: the upload is one transparent black texel, which samples as the
// full-size zero image would; the header keeps its size.
TEST_F(TgaReader, UnsupportedKindsUploadOneZeroTexel) {
  TgaHeader cmapWithoutMap = Header(1, 2, 1, 8);
  TgaHeader eightBitMap = Header(1, 2, 1, 8);
  eightBitMap.colorMapType = 1;
  eightBitMap.colorMapLength = 2;
  eightBitMap.colorMapEntryBits = 8;
  for (const TgaHeader& header :
       {Header(2, 2, 1, 8), Header(3, 2, 1, 24), Header(163, 2, 1, 32), Header(0, 2, 1, 32),
        Header(11, 1, 1, 32), cmapWithoutMap, eightBitMap}) {
    Load(Tga(header, {1, 2, 3, 4, 5, 6, 7, 8}));
    const TgaImage& image = LastTgaImage();
    EXPECT_EQ(Upload(), Bytes(4, 0)) << "type " << int{header.imageType};
    EXPECT_EQ(image.header.width, header.width);
    EXPECT_EQ(image.uploadWidth * image.uploadHeight, 1);
  }
}

// A file with none of its pixel data (header only, or data starting past the end) costs no
// memory, whatever size it declares.
TEST_F(TgaReader, NoPixelDataUploadsOneZeroTexelForAnySize) {
  TgaHeader idPastTheEnd = Header(2, 64, 64, 32);
  idPastTheEnd.idLength = 200;
  for (const TgaHeader& header :
       {Header(2, 23170, 23170, 32), Header(11, 16384, 16384, 8), idPastTheEnd}) {
    EXPECT_TRUE(Load(Tga(header, Bytes(header.idLength > 0 ? 12 : 0, 1))));
    const TgaImage& image = LastTgaImage();
    EXPECT_EQ(image.header.width, header.width);
    EXPECT_EQ(image.byteSize, int64_t{header.width} * header.height * (header.depth / 8));
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_EQ(Upload(), Bytes(4, 0));
  }
}

}  // namespace
