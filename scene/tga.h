// Truevision TGA reader. Keeps the image read last in module state (`TgaImage`): the header,
// the raw `pixels` of a true-colour file and the RGBA image that the texture set uploads.
// Bytes from the file are untrusted: sizes are checked in 64 bits before any allocation, and
// only the bytes the header's image can use are read (never the whole file blindly).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TgaHeader {
  uint8_t idLength = 0;
  uint8_t colorMapType = 0;
  uint8_t imageType = 0;
  uint16_t colorMapFirst = 0;
  uint16_t colorMapLength = 0;
  uint8_t colorMapEntryBits = 0;
  uint16_t xOrigin = 0;
  uint16_t yOrigin = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t depth = 0;       // bits per pixel
  uint8_t descriptor = 0;  // origin bits and alpha bits; not applied to the pixels
};

constexpr size_t kTgaHeaderBytes = 18;
// Largest image, in bytes of its decoded RGBA form (or of its stored pixels), that the
// reader decodes.
constexpr uint64_t kTgaMaxImageBytes = 2147483647;

struct TgaImage {
  TgaHeader header;
  int64_t byteSize = 0;  // width * height * (depth / 8), whatever the file holds
  uint8_t depth = 0;     // copy of header.depth
  // Type 2 (uncompressed true colour) of 15, 16, 24 or 32 bits only: byteSize bytes as
  // stored, 32-bit pixels swapped to RGBA, bytes missing from a truncated file 0. Empty for
  // every other type and depth, which do not use it, and for a file that holds none of its
  // pixel data.
  std::vector<uint8_t> pixels;
  // The image the texture set uploads: uploadWidth x uploadHeight RGBA texels, rows in file
  // order (origin bits not applied). It is the header's size, except that an image with
  // nothing to decode (a kind the reader does not decode, or no pixel data in the file) is
  // 1 x 1 of zeros, which samples exactly as the full-size zero image would.
  uint16_t uploadWidth = 0;
  uint16_t uploadHeight = 0;
  // Why the upload is a single zero texel, or empty when it is the full image.
  std::string nothingToDecode;
  // Set by DecodeTga when the file ends before the image's pixel data does (the missing
  // texels read as 0).
  bool pixelDataCutShort = false;
  // The upload texels; empty when they are `pixels` itself (type 2 with 32 bits).
  std::vector<uint8_t> rgba;

  const uint8_t* UploadPixels() const { return rgba.empty() ? pixels.data() : rgba.data(); }
  uint64_t UploadBytes() const { return uint64_t{uploadWidth} * uploadHeight * 4; }
};

// Opens `path`, reads its header into the module's TgaImage (header, byteSize, depth and the
// upload size; no pixels yet) and keeps the file open for DecodeTga. Throws SceneError
// "Cannot open file %s" when it is missing or not a regular file.
void ReadTgaHeader(const std::string& path);
// The same for a file already open.
class InputFile;
void ReadTgaHeader(std::unique_ptr<InputFile> file);

// Decodes the image whose header was read last and closes its file. Returns false for
// colour-mapped (type 1) and run-length true-colour (type 10) images and for depth 16, true
// otherwise; the upload image is decoded in every case. Throws "Image too large: FILE (W x H)"
// beyond kTgaMaxImageBytes before allocating, "Cannot read file %s" when a read fails.
bool DecodeTga();

// True when DecodeTga will fail with "Image too large" for the header read last: its RGBA
// form or its stored pixels would pass kTgaMaxImageBytes.
bool TgaTooLarge(const TgaImage& image);

// Closes the file whose header was read last, without decoding it.
void CloseTga();

// ReadTgaHeader then DecodeTga.
bool LoadTga(const std::string& path);

// The image read last.
const TgaImage& LastTgaImage();

// Swaps bytes 0 and 2 of each consecutive 4-byte pixel, in place.
void SwapRedBlue(uint8_t* pixels, int64_t pixelCount);
