// Truevision TGA reader. Keeps the image read last in module state (`TgaImage`): the header,
// the raw `pixels` buffer and the decoded RGBA image that the texture set uploads.
// Bytes from the file are untrusted: sizes are checked in 64 bits before any allocation.
#pragma once

#include <cstddef>
#include <cstdint>
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
// Largest image, in bytes of its decoded RGBA form, that the reader accepts.
constexpr uint64_t kTgaMaxImageBytes = 2147483647;

struct TgaImage {
  TgaHeader header;
  int64_t byteSize = 0;         // width * height * (depth / 8)
  std::vector<uint8_t> pixels;  // byteSize bytes: type 2 as stored (32-bit swapped to RGBA)
  uint8_t depth = 0;            // copy of header.depth
  // width * height * 4 bytes, rows in file order (origin bits not applied); zeros where the
  // file has no data or is of a kind the reader does not decode.
  std::vector<uint8_t> rgba;
};

// Reads the TGA file at `path` into the module's TgaImage. Returns false for colour-mapped
// (type 1) and run-length true-colour (type 10) images and for depth 16, true otherwise; the
// RGBA image is decoded in every case. Throws SceneError "Cannot open file %s" when the file
// cannot be opened, and a SceneError naming the file when the image is too large.
bool LoadTga(const std::string& path);

// The same from bytes already in memory; `name` is used in error messages.
bool LoadTgaFromMemory(const uint8_t* data, size_t size, const std::string& name);

// The image read last.
const TgaImage& LastTgaImage();

// Swaps bytes 0 and 2 of each consecutive 4-byte pixel, in place.
void SwapRedBlue(uint8_t* pixels, int64_t pixelCount);
