// Images in other formats: stb_image decoding, checked against the sizes a texture-folder
// image can have before the pixels are decoded, and PNG encoding with stb_image_write.
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <cstring>
#include <memory>
#include <new>

#include "interchange/interchange.h"
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

bool DecodeImage(const uint8_t* bytes, size_t size, DecodedImage& image, std::string& why) {
  if (size == 0 || size > static_cast<size_t>(INT32_MAX)) {
    why = "not an image stb_image reads";
    return false;
  }
  int width = 0, height = 0, channels = 0;
  const int length = static_cast<int>(size);
  if (stbi_info_from_memory(bytes, length, &width, &height, &channels) == 0) {
    why = stbi_failure_reason() != nullptr ? stbi_failure_reason() : "unknown format";
    return false;
  }
  if (!FitsTextureFolder(width, height, why)) return false;
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(bytes, length, &width, &height, &channels, kRgbaChannels),
      stbi_image_free);
  if (pixels == nullptr) {
    why = stbi_failure_reason() != nullptr ? stbi_failure_reason() : "cannot decode";
    return false;
  }
  image.width = width;
  image.height = height;
  const size_t rowBytes = static_cast<size_t>(width) * kRgbaChannels;
  image.rgba.resize(rowBytes * static_cast<size_t>(height));
  for (int row = 0; row < height; ++row) {  // stb gives the top row first
    std::memcpy(image.rgba.data() + static_cast<size_t>(height - 1 - row) * rowBytes,
                pixels.get() + static_cast<size_t>(row) * rowBytes, rowBytes);
  }
  return true;
}

std::vector<uint8_t> EncodePng(int width, int height, int channels, const uint8_t* pixels,
                               bool bottomRowFirst) {
  std::vector<uint8_t> png;
  stbi_flip_vertically_on_write(bottomRowFirst ? 1 : 0);  // stb's setting for the next write
  const int encoded = stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
      },
      &png, width, height, channels, pixels, width * channels);
  stbi_flip_vertically_on_write(0);
  if (encoded == 0) throw std::bad_alloc();  // stb fails only when it cannot allocate
  return png;
}
