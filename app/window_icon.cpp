// The icon's bytes come from the build (embed_bytes.cmake); FLTK copies the image it is given.
#include "app/window_icon.h"

#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>
#include <stb/stb_image.h>

#include <cstddef>
#include <memory>

extern const unsigned char kWindowIconPng[];
extern const size_t kWindowIconPng_SIZE;

namespace {
constexpr int kRgbaChannels = 4;
}  // namespace

void SetWindowIcon(Fl_Window& window) {
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<unsigned char, void (*)(void*)> pixels(
      stbi_load_from_memory(kWindowIconPng, static_cast<int>(kWindowIconPng_SIZE), &width, &height,
                            &channels, kRgbaChannels),
      stbi_image_free);
  if (pixels == nullptr) return;
  const Fl_RGB_Image image(pixels.get(), width, height, kRgbaChannels);
  window.icon(&image);
}
