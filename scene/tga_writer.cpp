// 32-bit TGA encoding: an 18-byte header, then BGRA texels.
#include "scene/tga_writer.h"

#include <stdexcept>

#include "scene/file_access.h"
#include "scene/tga.h"

namespace {
constexpr uint8_t kTrueColorType = 2;
constexpr uint8_t kDepthBits = 32;
constexpr uint8_t kAlphaBitsDescriptor = 8;  // 8 attribute bits, bottom-left origin
}  // namespace

std::vector<uint8_t> EncodeTga32(int width, int height, const uint8_t* rgba) {
  // The header holds each side in 16 bits; a larger side would give a file whose header
  // disagrees with its pixels.
  if (width < 0 || height < 0 || width > UINT16_MAX || height > UINT16_MAX) {
    throw std::invalid_argument("a TGA image is at most 65535 x 65535");
  }
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<uint8_t> bytes(kTgaHeaderBytes + pixels * 4, 0);
  bytes[2] = kTrueColorType;
  bytes[12] = static_cast<uint8_t>(width & 0xFF);
  bytes[13] = static_cast<uint8_t>(width >> 8);
  bytes[14] = static_cast<uint8_t>(height & 0xFF);
  bytes[15] = static_cast<uint8_t>(height >> 8);
  bytes[16] = kDepthBits;
  bytes[17] = kAlphaBitsDescriptor;
  uint8_t* out = bytes.data() + kTgaHeaderBytes;
  for (size_t i = 0; i < pixels; ++i, out += 4, rgba += 4) {
    out[0] = rgba[2];
    out[1] = rgba[1];
    out[2] = rgba[0];
    out[3] = rgba[3];
  }
  return bytes;
}

void WriteTga32(const std::string& path, int width, int height, const uint8_t* rgba) {
  const std::vector<uint8_t> bytes = EncodeTga32(width, height, rgba);
  WriteWholeFile(path, bytes.data(), bytes.size());
}
