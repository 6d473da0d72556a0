// 32-bit TGA encoding: an 18-byte header, then BGRA texels.
#include "scene/tga_writer.h"

#include <algorithm>
#include <stdexcept>

#include "scene/file_access.h"
#include "scene/tga.h"

namespace {
constexpr uint8_t kTrueColorType = 2;
constexpr uint8_t kDepthBits = 32;
constexpr uint8_t kAlphaBitsDescriptor = 8;  // 8 attribute bits, bottom-left origin

constexpr size_t kTexelsPerBlock = 16384;

// The 18-byte header of a width x height image. The header holds each side in 16 bits; a
// larger side would give a file whose header disagrees with its pixels.
void EncodeHeader(int width, int height, uint8_t* header) {
  if (width < 0 || height < 0 || width > UINT16_MAX || height > UINT16_MAX) {
    throw std::invalid_argument("a TGA image is at most 65535 x 65535");
  }
  std::fill(header, header + kTgaHeaderBytes, uint8_t{0});
  header[2] = kTrueColorType;
  header[12] = static_cast<uint8_t>(width & 0xFF);
  header[13] = static_cast<uint8_t>(width >> 8);
  header[14] = static_cast<uint8_t>(height & 0xFF);
  header[15] = static_cast<uint8_t>(height >> 8);
  header[16] = kDepthBits;
  header[17] = kAlphaBitsDescriptor;
}

void RgbaToBgra(const uint8_t* rgba, size_t texels, uint8_t* out) {
  for (size_t i = 0; i < texels; ++i, out += 4, rgba += 4) {
    out[0] = rgba[2];
    out[1] = rgba[1];
    out[2] = rgba[0];
    out[3] = rgba[3];
  }
}

}  // namespace

std::vector<uint8_t> EncodeTga32(int width, int height, const uint8_t* rgba) {
  uint8_t header[kTgaHeaderBytes];
  EncodeHeader(width, height, header);  // checks the sides first
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<uint8_t> bytes(kTgaHeaderBytes + pixels * 4, 0);
  std::copy(header, header + kTgaHeaderBytes, bytes.begin());
  RgbaToBgra(rgba, pixels, bytes.data() + kTgaHeaderBytes);
  return bytes;
}

void WriteTga32Header(OutputFile& file, int width, int height) {
  uint8_t header[kTgaHeaderBytes];
  EncodeHeader(width, height, header);
  file.Write(header, sizeof header);
}

void WriteTga32Texels(OutputFile& file, const uint8_t* rgba, size_t texels) {
  uint8_t block[kTexelsPerBlock * 4];
  while (texels > 0) {
    const size_t count = std::min(texels, kTexelsPerBlock);
    RgbaToBgra(rgba, count, block);
    file.Write(block, count * 4);
    rgba += count * 4;
    texels -= count;
  }
}

void WriteTga32(const std::string& path, int width, int height, const uint8_t* rgba) {
  const std::vector<uint8_t> bytes = EncodeTga32(width, height, rgba);
  WriteWholeFile(path, bytes.data(), bytes.size());
}
