// PNG encoding with stb_image_write, into memory.
#include "scene/png_writer.h"

#include <stb/stb_image_write.h>

#include <new>

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

std::vector<uint8_t> EncodeViewPng(int width, int height, const std::vector<uint8_t>& rgba) {
  constexpr int kRgbBytes = 3, kRgbaBytes = 4;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * kRgbBytes);
  for (size_t pixel = 0; pixel < rgb.size() / kRgbBytes; ++pixel) {
    for (int channel = 0; channel < kRgbBytes; ++channel) {
      rgb[pixel * kRgbBytes + channel] = rgba[pixel * kRgbaBytes + channel];
    }
  }
  return EncodePng(width, height, kRgbBytes, rgb.data());
}
