// Truevision TGA reader: one whole-file read, the header, the raw `pixels` buffer (type 2 only,
// 32-bit swapped to RGBA) and the RGBA image that the texture set uploads.
// Every byte of the file is untrusted: sizes are checked in 64 bits before allocating, nothing
// is read past the buffer, and bytes missing from a truncated file read as 0.
#include "scene/tga.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "scene/scene_error.h"

namespace {

// The image read last. Every call that gets bytes replaces it whole; an image too large to
// decode leaves only its header here.
TgaImage lastTgaImage;

constexpr uint8_t kTypeColorMapped = 1;
constexpr uint8_t kTypeTrueColor = 2;
constexpr uint8_t kTypeGrey = 3;
constexpr uint8_t kTypeColorMappedRle = 9;
constexpr uint8_t kTypeTrueColorRle = 10;
constexpr uint8_t kTypeGreyRle = 11;
constexpr uint8_t kColorMapPresent = 1;  // colour-map type that says a map follows the ID field
constexpr uint8_t kRejectedDepthBits = 16;
constexpr uint8_t kSwappedDepthBits = 32;
constexpr size_t kRgbaBytes = 4;  // bytes per decoded pixel
constexpr size_t kMaxSourcePixelBytes = 4;
constexpr uint8_t kRunPacketBit = 0x80;  // run-length packet header: set = one value repeated
constexpr uint8_t kPacketCountMask = 0x7f;
constexpr uint8_t kOpaque = 255;

// A read-only view of the file's bytes; reads past the end give 0.
struct ByteSource {
  const uint8_t* data = nullptr;
  size_t size = 0;

  size_t Available(size_t offset, size_t count) const {
    return offset < size ? std::min(count, size - offset) : 0;
  }
  // Copies `count` bytes from `offset` into `out`, zero-filling what lies past the end.
  void CopyPadded(size_t offset, size_t count, uint8_t* out) const {
    const size_t present = Available(offset, count);
    if (present > 0) std::memcpy(out, data + offset, present);
    if (present < count) std::memset(out + present, 0, count - present);
  }
};

// How one stored pixel turns into RGBA.
enum class PixelKind { kNone, kBgr555, kBgr24, kBgra32, kGrey8, kGreyAlpha16, kIndex8, kIndex16 };

struct PixelFormat {
  PixelKind kind = PixelKind::kNone;
  size_t bytesPerPixel = 0;
  const uint8_t* palette = nullptr;  // RGBA entries, for the index kinds
  size_t paletteEntries = 0;
  unsigned paletteFirst = 0;  // stored index of palette entry 0
};

uint8_t Widen5(unsigned value) {
  return static_cast<uint8_t>((value << 3) | (value >> 2));
}

void PaletteLookup(const PixelFormat& format, unsigned index, uint8_t* out) {
  const size_t entry = static_cast<size_t>(index) - format.paletteFirst;
  if (index >= format.paletteFirst && entry < format.paletteEntries) {
    std::memcpy(out, format.palette + entry * kRgbaBytes, kRgbaBytes);
  } else {
    std::memset(out, 0, kRgbaBytes);
  }
}

// Converts `count` stored pixels at `in` into RGBA at `out`. The kind is chosen once per call,
// not per pixel: the uncompressed paths convert a whole image in one call.
void ConvertPixels(const PixelFormat& format, const uint8_t* in, size_t count, uint8_t* out) {
  switch (format.kind) {
    case PixelKind::kNone:
      std::memset(out, 0, count * kRgbaBytes);
      break;
    case PixelKind::kBgr555:  // the top (attribute) bit is not alpha here: always opaque
      for (size_t i = 0; i < count; ++i, in += 2, out += kRgbaBytes) {
        const unsigned value = in[0] | (in[1] << 8);
        out[0] = Widen5((value >> 10) & 0x1f);
        out[1] = Widen5((value >> 5) & 0x1f);
        out[2] = Widen5(value & 0x1f);
        out[3] = kOpaque;
      }
      break;
    case PixelKind::kBgr24:
      for (size_t i = 0; i < count; ++i, in += 3, out += kRgbaBytes) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = kOpaque;
      }
      break;
    case PixelKind::kBgra32:
      for (size_t i = 0; i < count; ++i, in += 4, out += kRgbaBytes) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = in[3];
      }
      break;
    case PixelKind::kGrey8:
      for (size_t i = 0; i < count; ++i, in += 1, out += kRgbaBytes) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = kOpaque;
      }
      break;
    case PixelKind::kGreyAlpha16:
      for (size_t i = 0; i < count; ++i, in += 2, out += kRgbaBytes) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = in[1];
      }
      break;
    case PixelKind::kIndex8:
      for (size_t i = 0; i < count; ++i, in += 1, out += kRgbaBytes) {
        PaletteLookup(format, in[0], out);
      }
      break;
    case PixelKind::kIndex16:
      for (size_t i = 0; i < count; ++i, in += 2, out += kRgbaBytes) {
        PaletteLookup(format, in[0] | (in[1] << 8), out);
      }
      break;
  }
}

// The stored form of true-colour pixels and colour-map entries of `bits` bits.
PixelFormat ColorFormat(unsigned bits) {
  switch (bits) {
    case 15:
    case 16:
      return {PixelKind::kBgr555, 2};
    case 24:
      return {PixelKind::kBgr24, 3};
    case 32:
      return {PixelKind::kBgra32, 4};
    default:
      return {};
  }
}

size_t ColorMapBytes(const TgaHeader& header) {
  if (header.colorMapType != kColorMapPresent) return 0;
  return size_t{header.colorMapLength} * ((header.colorMapEntryBits + 7u) / 8u);
}

// Fills `palette` from the colour map (at offset 18 + ID length) and returns the format of
// the image's index pixels, or kNone when the image has no usable map.
PixelFormat IndexFormat(const TgaHeader& header, const ByteSource& source,
                        std::vector<uint8_t>& palette) {
  const PixelFormat entryFormat = ColorFormat(header.colorMapEntryBits);
  if (header.colorMapType != kColorMapPresent || entryFormat.kind == PixelKind::kNone) return {};
  PixelFormat format;
  if (header.depth == 8) {
    format = {PixelKind::kIndex8, 1};
  } else if (header.depth == 16) {
    format = {PixelKind::kIndex16, 2};
  } else {
    return {};
  }
  std::vector<uint8_t> stored(ColorMapBytes(header));
  source.CopyPadded(kTgaHeaderBytes + header.idLength, stored.size(), stored.data());
  palette.resize(size_t{header.colorMapLength} * kRgbaBytes);
  ConvertPixels(entryFormat, stored.data(), header.colorMapLength, palette.data());
  format.palette = palette.data();
  format.paletteEntries = header.colorMapLength;
  format.paletteFirst = header.colorMapFirst;
  return format;
}

PixelFormat SelectFormat(const TgaHeader& header, const ByteSource& source,
                         std::vector<uint8_t>& palette) {
  switch (header.imageType) {
    case kTypeColorMapped:
    case kTypeColorMappedRle:
      return IndexFormat(header, source, palette);
    case kTypeTrueColor:
    case kTypeTrueColorRle:
      return ColorFormat(header.depth);
    case kTypeGrey:
    case kTypeGreyRle:
      if (header.depth == 8) return {PixelKind::kGrey8, 1};
      if (header.depth == 16) return {PixelKind::kGreyAlpha16, 2};
      return {};
    default:
      return {};
  }
}

// Decodes `count` uncompressed pixels from `offset`. Whole pixels present in the file are
// converted in one call; a pixel cut short reads its missing bytes as 0; pixels wholly past
// the end stay 0,0,0,0 (`out` arrives zeroed).
void DecodeRaw(const ByteSource& source, size_t offset, const PixelFormat& format, size_t count,
               uint8_t* out) {
  const size_t available = source.Available(offset, count * format.bytesPerPixel);
  const size_t whole = available / format.bytesPerPixel;
  if (whole > 0) ConvertPixels(format, source.data + offset, whole, out);
  if (whole < count && available % format.bytesPerPixel != 0) {
    uint8_t partial[kMaxSourcePixelBytes];
    source.CopyPadded(offset + whole * format.bytesPerPixel, format.bytesPerPixel, partial);
    ConvertPixels(format, partial, 1, out + whole * kRgbaBytes);
  }
}

// Run-length packets run through the image as one stream, so a packet may cross rows; a
// packet longer than the pixels left is cut at the end of the image.
void DecodeRle(const ByteSource& source, size_t offset, const PixelFormat& format, size_t count,
               uint8_t* out) {
  size_t position = offset;
  size_t done = 0;
  while (done < count && position < source.size) {
    const uint8_t packet = source.data[position++];
    const size_t packetPixels = (packet & kPacketCountMask) + 1u;
    const size_t used = std::min(packetPixels, count - done);
    uint8_t* target = out + done * kRgbaBytes;
    if (packet & kRunPacketBit) {
      uint8_t stored[kMaxSourcePixelBytes];
      source.CopyPadded(position, format.bytesPerPixel, stored);
      ConvertPixels(format, stored, 1, target);
      for (size_t i = 1; i < used; ++i) std::memcpy(target + i * kRgbaBytes, target, kRgbaBytes);
      position += format.bytesPerPixel;
    } else {
      DecodeRaw(source, position, format, used, target);
      position += packetPixels * format.bytesPerPixel;
    }
    done += used;
  }
}

TgaHeader ReadHeader(const ByteSource& source) {
  uint8_t raw[kTgaHeaderBytes];
  source.CopyPadded(0, kTgaHeaderBytes, raw);
  auto le16 = [&raw](size_t offset) {
    return static_cast<uint16_t>(raw[offset] | (raw[offset + 1] << 8));
  };
  TgaHeader header;
  header.idLength = raw[0];
  header.colorMapType = raw[1];
  header.imageType = raw[2];
  header.colorMapFirst = le16(3);
  header.colorMapLength = le16(5);
  header.colorMapEntryBits = raw[7];
  header.xOrigin = le16(8);
  header.yOrigin = le16(10);
  header.width = le16(12);
  header.height = le16(14);
  header.depth = raw[16];
  header.descriptor = raw[17];
  return header;
}

}  // namespace

bool LoadTgaFromMemory(const uint8_t* data, size_t size, const std::string& name) {
  const ByteSource source{data, data ? size : 0};
  lastTgaImage = TgaImage();  // the previous buffers go before the new ones are allocated
  TgaImage image;
  image.header = ReadHeader(source);
  image.depth = image.header.depth;
  const TgaHeader& header = image.header;

  // Both products are checked before either is allocated; depth may be up to 255 bits.
  const uint64_t pixelCount = uint64_t{header.width} * header.height;
  const uint64_t byteSize = pixelCount * (header.depth / 8u);
  if (pixelCount * kRgbaBytes > kTgaMaxImageBytes || byteSize > kTgaMaxImageBytes) {
    lastTgaImage.header = header;
    lastTgaImage.depth = header.depth;
    throw SceneError("Image too large: " + name + " (" + std::to_string(header.width) + " x " +
                         std::to_string(header.height) + ")",
                     name);
  }
  image.byteSize = static_cast<int64_t>(byteSize);
  const size_t pixelOffset = kTgaHeaderBytes + header.idLength + ColorMapBytes(header);

  image.pixels.resize(byteSize);
  if (header.imageType == kTypeTrueColor) {
    source.CopyPadded(pixelOffset, byteSize, image.pixels.data());
  }
  const bool rejected = header.imageType == kTypeColorMapped ||
                        header.imageType == kTypeTrueColorRle || header.depth == kRejectedDepthBits;
  if (!rejected && header.depth == kSwappedDepthBits) {
    SwapRedBlue(image.pixels.data(), static_cast<int64_t>(pixelCount));
  }

  if (header.imageType == kTypeTrueColor && header.depth == kSwappedDepthBits) {
    image.rgba = image.pixels;  // already RGBA with the alpha byte as stored
  } else {
    image.rgba.resize(pixelCount * kRgbaBytes);
    std::vector<uint8_t> palette;
    const PixelFormat format = SelectFormat(header, source, palette);
    if (format.kind != PixelKind::kNone) {
      const bool runLength = header.imageType == kTypeColorMappedRle ||
                             header.imageType == kTypeTrueColorRle ||
                             header.imageType == kTypeGreyRle;
      (runLength ? DecodeRle : DecodeRaw)(source, pixelOffset, format, pixelCount,
                                          image.rgba.data());
    }
  }
  lastTgaImage = std::move(image);
  return !rejected;
}

bool LoadTga(const std::string& path) {
  // A folder opens as a stream on Linux but has no bytes to read.
  std::error_code statusError;
  if (std::filesystem::is_directory(path, statusError)) throw CannotOpenFile(path);
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) throw CannotOpenFile(path);
  const std::streamoff fileSize = file.tellg();
  if (fileSize < 0) throw CannotOpenFile(path);
  std::vector<uint8_t> bytes(static_cast<size_t>(fileSize));
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.data()), fileSize);
  bytes.resize(static_cast<size_t>(file.gcount()));
  return LoadTgaFromMemory(bytes.data(), bytes.size(), path);
}

const TgaImage& LastTgaImage() {
  return lastTgaImage;
}

void SwapRedBlue(uint8_t* pixels, int64_t pixelCount) {
  // Whole 32-bit words, so that the loop vectorises; bytes 0 and 2 are the word's bits 0-7
  // and 16-23 on the little-endian machines this runs on.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte order of SwapRedBlue");
  for (int64_t i = 0; i < pixelCount; ++i) {
    uint32_t value;
    std::memcpy(&value, pixels + i * 4, sizeof value);
    value = (value & 0xff00ff00u) | ((value >> 16) & 0xffu) | ((value & 0xffu) << 16);
    std::memcpy(pixels + i * 4, &value, sizeof value);
  }
}
