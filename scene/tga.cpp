// Truevision TGA reader: the header, the raw `pixels` of type 2 (32-bit swapped to RGBA) and
// the RGBA image that the texture set uploads, decoded straight from the file in blocks.
// Every byte of the file is untrusted: sizes are checked in 64 bits before allocating, only
// the bytes the image can use are read, and bytes missing from a truncated file read as 0.
#include "scene/tga.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

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
constexpr size_t kDecodeBlockPixels = 16384;  // pixels converted per read of the file
constexpr size_t kStreamBlockBytes = 65536;

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

uint64_t PixelOffset(const TgaHeader& header) {
  return kTgaHeaderBytes + header.idLength + ColorMapBytes(header);
}

bool IsRunLength(const TgaHeader& header) {
  return header.imageType == kTypeColorMappedRle || header.imageType == kTypeTrueColorRle ||
         header.imageType == kTypeGreyRle;
}

// The stored form of the image's pixels, from the header alone (the palette comes later).
PixelFormat SelectFormat(const TgaHeader& header) {
  switch (header.imageType) {
    case kTypeColorMapped:
    case kTypeColorMappedRle:
      if (header.colorMapType != kColorMapPresent ||
          ColorFormat(header.colorMapEntryBits).kind == PixelKind::kNone) {
        return {};
      }
      if (header.depth == 8) return {PixelKind::kIndex8, 1};
      if (header.depth == 16) return {PixelKind::kIndex16, 2};
      return {};
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

// Fills `palette` from the colour map (at offset 18 + ID length) for an index format.
void ReadPalette(InputFile& file, const TgaHeader& header, PixelFormat& format,
                 std::vector<uint8_t>& palette) {
  std::vector<uint8_t> stored(ColorMapBytes(header), 0);
  file.ReadAt(kTgaHeaderBytes + header.idLength, stored.data(), stored.size());
  palette.resize(size_t{header.colorMapLength} * kRgbaBytes);
  ConvertPixels(ColorFormat(header.colorMapEntryBits), stored.data(), header.colorMapLength,
                palette.data());
  format.palette = palette.data();
  format.paletteEntries = header.colorMapLength;
  format.paletteFirst = header.colorMapFirst;
}

// Converts the `got` stored bytes at `in` (of `count` pixels wanted) into RGBA at `out`:
// whole pixels as they are, a pixel cut short with its missing bytes as 0; pixels wholly
// missing stay as `out` holds them (zeros).
void ConvertPresent(const PixelFormat& format, const uint8_t* in, size_t got, size_t count,
                    uint8_t* out) {
  const size_t whole = std::min(got / format.bytesPerPixel, count);
  if (whole > 0) ConvertPixels(format, in, whole, out);
  if (whole < count && got % format.bytesPerPixel != 0) {
    uint8_t partial[kMaxSourcePixelBytes] = {};
    std::memcpy(partial, in + whole * format.bytesPerPixel, got % format.bytesPerPixel);
    ConvertPixels(format, partial, 1, out + whole * kRgbaBytes);
  }
}

// `count` uncompressed pixels from `offset` of the file, a block at a time. False when the
// file ends first.
bool DecodeRaw(InputFile& file, uint64_t offset, const PixelFormat& format, size_t count,
               uint8_t* out) {
  std::vector<uint8_t> block(std::min(count, kDecodeBlockPixels) * format.bytesPerPixel);
  for (size_t done = 0; done < count;) {
    const size_t pixels = std::min(count - done, kDecodeBlockPixels);
    const size_t wanted = pixels * format.bytesPerPixel;
    const size_t got = file.ReadAt(offset + done * format.bytesPerPixel, block.data(), wanted);
    ConvertPresent(format, block.data(), got, pixels, out + done * kRgbaBytes);
    if (got < wanted) return false;  // the file ends here; the rest stays 0
    done += pixels;
  }
  return true;
}

// Sequential reads from the file through a small buffer, for run-length packets.
class ByteStream {
 public:
  ByteStream(InputFile& file, uint64_t offset) : file_(file), offset_(offset) {}
  // Up to `count` bytes; fewer only at the end of the file.
  size_t Read(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
      if (position_ == length_ && !Refill()) break;
      const size_t take = std::min(count - done, length_ - position_);
      std::memcpy(out + done, buffer_.data() + position_, take);
      position_ += take;
      done += take;
    }
    return done;
  }
  // Skips `count` bytes.
  void Skip(uint64_t count) {
    const uint64_t buffered = length_ - position_;
    if (count <= buffered) {
      position_ += static_cast<size_t>(count);
      return;
    }
    offset_ += count - buffered;
    position_ = length_ = 0;
  }

 private:
  bool Refill() {
    if (buffer_.empty()) buffer_.resize(kStreamBlockBytes);
    length_ = file_.ReadAt(offset_, buffer_.data(), buffer_.size());
    offset_ += length_;
    position_ = 0;
    return length_ > 0;
  }

  InputFile& file_;
  uint64_t offset_;  // of the byte after the buffered ones
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;
  size_t length_ = 0;
};

// Run-length packets run through the image as one stream, so a packet may cross rows; a
// packet longer than the pixels left is cut at the end of the image, and the file is not
// read past the packet that fills it. False when the file ends first.
bool DecodeRle(InputFile& file, uint64_t offset, const PixelFormat& format, size_t count,
               uint8_t* out) {
  ByteStream stream(file, offset);
  std::vector<uint8_t> stored((kPacketCountMask + 1u) * format.bytesPerPixel);
  size_t done = 0;
  while (done < count) {
    uint8_t packet = 0;
    if (stream.Read(&packet, 1) == 0) return false;
    const size_t packetPixels = (packet & kPacketCountMask) + 1u;
    const size_t used = std::min(packetPixels, count - done);
    uint8_t* target = out + done * kRgbaBytes;
    if (packet & kRunPacketBit) {
      uint8_t value[kMaxSourcePixelBytes] = {};
      if (stream.Read(value, format.bytesPerPixel) < format.bytesPerPixel) {
        ConvertPixels(format, value, 1, target);  // missing bytes read as 0
        for (size_t i = 1; i < used; ++i) std::memcpy(target + i * kRgbaBytes, target, kRgbaBytes);
        return false;
      }
      ConvertPixels(format, value, 1, target);
      for (size_t i = 1; i < used; ++i) std::memcpy(target + i * kRgbaBytes, target, kRgbaBytes);
    } else {
      const size_t wanted = used * format.bytesPerPixel;
      const size_t got = stream.Read(stored.data(), wanted);
      ConvertPresent(format, stored.data(), got, used, target);
      if (got < wanted) return false;
      stream.Skip((packetPixels - used) * format.bytesPerPixel);
    }
    done += used;
  }
  return true;
}

TgaHeader ParseHeader(const uint8_t (&raw)[kTgaHeaderBytes]) {
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

namespace tgaReader {
// The image read last. Every ReadTgaHeader replaces it whole, dropping the previous buffers.
TgaImage lastTgaImage;
// The file whose header was read last, open until DecodeTga.
std::unique_ptr<InputFile> pendingFile;
}  // namespace tgaReader

void ReadTgaHeader(const std::string& path) {
  ReadTgaHeader(std::make_unique<InputFile>(path));
}

void ReadTgaHeader(std::unique_ptr<InputFile> file) {
  tgaReader::pendingFile.reset();
  tgaReader::lastTgaImage = TgaImage();
  uint8_t raw[kTgaHeaderBytes] = {};  // a file shorter than the header reads the rest as 0
  file->ReadAt(0, raw, kTgaHeaderBytes);
  TgaImage& image = tgaReader::lastTgaImage;
  image.header = ParseHeader(raw);
  image.depth = image.header.depth;
  const uint64_t pixelCount = uint64_t{image.header.width} * image.header.height;
  image.byteSize = static_cast<int64_t>(pixelCount * (image.header.depth / 8u));
  const bool hasPixelData = static_cast<uint64_t>(file->Size()) > PixelOffset(image.header);
  const bool decodes = SelectFormat(image.header).kind != PixelKind::kNone;
  const bool fullSize = pixelCount == 0 || (decodes && hasPixelData);
  image.uploadWidth = fullSize ? image.header.width : 1;
  image.uploadHeight = fullSize ? image.header.height : 1;
  if (!fullSize) {
    image.nothingToDecode = !decodes ? "image type " + std::to_string(image.header.imageType) +
                                           " with depth " + std::to_string(image.depth) +
                                           " is not a kind the reader decodes"
                                     : "the file holds none of its pixel data";
  }
  tgaReader::pendingFile = std::move(file);
}

bool DecodeTga() {
  std::unique_ptr<InputFile> file = std::move(tgaReader::pendingFile);
  TgaImage& image = tgaReader::lastTgaImage;
  if (file == nullptr) return false;  // nothing opened since the last decode
  const TgaHeader& header = image.header;
  const uint64_t pixelCount = uint64_t{header.width} * header.height;
  if (TgaTooLarge(image)) {
    throw SceneError("Image too large: " + file->Path() + " (" + std::to_string(header.width) +
                         " x " + std::to_string(header.height) + ")",
                     file->Path());
  }
  try {
    const uint64_t pixelOffset = PixelOffset(header);
    const bool rejected = header.imageType == kTypeColorMapped ||
                          header.imageType == kTypeTrueColorRle ||
                          header.depth == kRejectedDepthBits;
    const bool hasPixelData = static_cast<uint64_t>(file->Size()) > pixelOffset;
    image.pixelDataCutShort = !hasPixelData && pixelCount > 0;
    PixelFormat format = SelectFormat(header);
    // Stored pixels of a depth nothing decodes would be held for no use (up to 31 bytes a
    // pixel), so `pixels` is kept only for the true-colour depths the reader takes.
    size_t storedBytes = 0;  // of `pixels`, as read from the file
    if (header.imageType == kTypeTrueColor && hasPixelData && format.kind != PixelKind::kNone) {
      image.pixels.assign(static_cast<size_t>(image.byteSize), 0);
      storedBytes = file->ReadAt(pixelOffset, image.pixels.data(), image.pixels.size());
      image.pixelDataCutShort = storedBytes < image.pixels.size();
      if (!rejected && header.depth == kSwappedDepthBits) {
        SwapRedBlue(image.pixels.data(), static_cast<int64_t>(pixelCount));
      }
    }
    if (image.UploadBytes() == 0) return !rejected;
    if (format.kind == PixelKind::kNone || !hasPixelData) {
      image.rgba.assign(kRgbaBytes, 0);  // nothing to decode: one transparent black texel
      return !rejected;
    }
    if (header.imageType == kTypeTrueColor && header.depth == kSwappedDepthBits) {
      return !rejected;  // `pixels` is the upload image already
    }
    image.rgba.assign(static_cast<size_t>(pixelCount) * kRgbaBytes, 0);
    std::vector<uint8_t> palette;
    if (format.kind == PixelKind::kIndex8 || format.kind == PixelKind::kIndex16) {
      ReadPalette(*file, header, format, palette);
    }
    if (!image.pixels.empty() && image.pixels.size() == pixelCount * format.bytesPerPixel) {
      // True colour already read into `pixels` (not at 15 bits, whose byteSize counts one
      // byte a pixel): converted from there, not read again.
      ConvertPresent(format, image.pixels.data(), storedBytes, static_cast<size_t>(pixelCount),
                     image.rgba.data());
      return !rejected;
    }
    const bool complete = IsRunLength(header)
                              ? DecodeRle(*file, pixelOffset, format,
                                          static_cast<size_t>(pixelCount), image.rgba.data())
                              : DecodeRaw(*file, pixelOffset, format,
                                          static_cast<size_t>(pixelCount), image.rgba.data());
    image.pixelDataCutShort = image.pixelDataCutShort || !complete;
    return !rejected;
  } catch (const std::bad_alloc&) {
    image.pixels = std::vector<uint8_t>();
    image.rgba = std::vector<uint8_t>();
    throw NotEnoughMemory(file->Path());
  }
}

bool TgaTooLarge(const TgaImage& image) {
  // Both sizes are checked before anything is allocated; depth may be up to 255 bits.
  const uint64_t pixelCount = uint64_t{image.header.width} * image.header.height;
  return pixelCount * kRgbaBytes > kTgaMaxImageBytes ||
         static_cast<uint64_t>(image.byteSize) > kTgaMaxImageBytes;
}

void CloseTga() {
  tgaReader::pendingFile.reset();
}

bool LoadTga(const std::string& path) {
  ReadTgaHeader(path);
  return DecodeTga();
}

const TgaImage& LastTgaImage() {
  return tgaReader::lastTgaImage;
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
