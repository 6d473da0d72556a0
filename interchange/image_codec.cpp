// Images in other formats: stb_image decoding, checked against the sizes a texture-folder
// image can have before the pixels are decoded.
#include <stb/stb_image.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/tga.h"

namespace {
constexpr int kMaxImageSide = 65535;  // a TGA stores its sides in 16 bits
constexpr int kRgbaChannels = 4;
}  // namespace

bool FitsTextureFolder(int64_t width, int64_t height, std::string& why) {
  if (width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
      uint64_t(width) * uint64_t(height) * kRgbaChannels <= kTgaMaxImageBytes) {
    return true;
  }
  why = std::to_string(width) + " x " + std::to_string(height) +
        " is larger than a texture-folder image can be";
  return false;
}

namespace {

// stb_image's reader over ImageBytes: memory as it is, a file through a block of its own, so
// that stb's small reads do not each become a system call. A read error reads as the end of
// the image (stb then fails with its own reason).
class CallbackReader {
 public:
  explicit CallbackReader(const ImageBytes& bytes) : bytes_(bytes) {}

  static stbi_io_callbacks Callbacks() {
    return stbi_io_callbacks{
        [](void* user, char* data, int size) {
          return static_cast<CallbackReader*>(user)->Read(reinterpret_cast<uint8_t*>(data), size);
        },
        [](void* user, int n) { static_cast<CallbackReader*>(user)->Skip(n); },
        [](void* user) { return static_cast<CallbackReader*>(user)->AtEnd() ? 1 : 0; }};
  }
  void Rewind() { position_ = 0; }

 private:
  int Read(uint8_t* out, int size) {
    const uint64_t wanted = std::min<uint64_t>(static_cast<uint64_t>(std::max(size, 0)),
                                               bytes_.size - std::min(position_, bytes_.size));
    uint64_t done = 0;
    while (done < wanted) {
      const uint64_t at = position_ + done;
      if (bytes_.file == nullptr) {
        std::memcpy(out, bytes_.data + at, static_cast<size_t>(wanted));
        done = wanted;
        break;
      }
      if (at < blockStart_ || at >= blockStart_ + block_.size()) {
        block_.resize(kReadBlockBytes);
        size_t got = 0;
        try {
          got = bytes_.file->ReadAt(bytes_.offset + at, block_.data(), block_.size());
        } catch (const SceneError&) {
        }
        block_.resize(got);
        blockStart_ = at;
        if (got == 0) break;
      }
      const uint64_t inBlock = at - blockStart_;
      const uint64_t count = std::min<uint64_t>(wanted - done, block_.size() - inBlock);
      std::memcpy(out + done, block_.data() + inBlock, static_cast<size_t>(count));
      done += count;
    }
    position_ += done;
    return static_cast<int>(done);
  }
  void Skip(int n) {
    // stb also "ungets" with a negative count.
    position_ = n < 0 ? position_ - std::min<uint64_t>(position_, uint64_t(-int64_t{n}))
                      : std::min<uint64_t>(position_ + static_cast<uint64_t>(n), bytes_.size);
  }
  bool AtEnd() const { return position_ >= bytes_.size; }

  static constexpr size_t kReadBlockBytes = size_t(64) << 10;
  const ImageBytes& bytes_;
  uint64_t position_ = 0;
  std::vector<uint8_t> block_;
  uint64_t blockStart_ = 0;
};

std::string StbReason(const char* otherwise) {
  return stbi_failure_reason() != nullptr ? stbi_failure_reason() : otherwise;
}

}  // namespace

size_t DecodedImage::Bytes() const {
  return static_cast<size_t>(width) * static_cast<size_t>(height) * kRgbaChannels;
}

bool ReadImageSize(const ImageBytes& bytes, int& width, int& height, std::string& why) {
  if (bytes.size == 0) {
    why = "not an image stb_image reads";
    return false;
  }
  CallbackReader reader(bytes);
  const stbi_io_callbacks callbacks = CallbackReader::Callbacks();
  int channels = 0;
  if (stbi_info_from_callbacks(&callbacks, &reader, &width, &height, &channels) == 0) {
    why = StbReason("unknown format");
    return false;
  }
  return FitsTextureFolder(width, height, why);
}

bool DecodeImage(const ImageBytes& bytes, DecodedImage& image, std::string& why) {
  int width = 0, height = 0;
  if (!ReadImageSize(bytes, width, height, why)) return false;
  CallbackReader reader(bytes);
  const stbi_io_callbacks callbacks = CallbackReader::Callbacks();
  int channels = 0;
  image.rgba = std::unique_ptr<uint8_t, void (*)(void*)>(
      stbi_load_from_callbacks(&callbacks, &reader, &width, &height, &channels, kRgbaChannels),
      stbi_image_free);
  if (image.rgba == nullptr) {
    why = StbReason("cannot decode");
    return false;
  }
  image.width = width;
  image.height = height;
  // stb gives the top row first; upload order is the bottom row first. Swapped in place.
  const size_t rowBytes = static_cast<size_t>(width) * kRgbaChannels;
  uint8_t* pixels = image.rgba.get();
  for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(pixels + static_cast<size_t>(top) * rowBytes,
                     pixels + static_cast<size_t>(top + 1) * rowBytes,
                     pixels + static_cast<size_t>(bottom) * rowBytes);
  }
  return true;
}
