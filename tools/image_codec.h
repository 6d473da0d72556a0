// Image files decoded with stb_image (PNG, JPEG, BMP, TGA, GIF, ... as Debian's libstb reads
// them) into RGBA in the texture set's upload order: row 0 is the texture's v = 0 row, the
// bottom of the image as it is shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4, bottom row first
};

// True when a width x height image can be a texture-folder image (65,535 on a side, 2 GiB
// of RGBA in all); otherwise false with `why` set.
bool FitsTextureFolder(int64_t width, int64_t height, std::string& why);

// Decodes `bytes`; false with `why` set when stb_image cannot, or when the image is larger
// than a texture-folder image can be (65,535 on a side, 2 GiB in all).
bool DecodeImage(const uint8_t* bytes, size_t size, DecodedImage& image, std::string& why);
