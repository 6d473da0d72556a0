// PNG encoding (stb_image_write), for images that leave quadview: rendered views, texture
// dumps and the images of exports.
#pragma once

#include <cstdint>
#include <vector>

// An image as PNG bytes. `pixels` holds `channels` bytes per pixel, the top row first, or
// the bottom row first with `bottomRowFirst`.
std::vector<uint8_t> EncodePng(int width, int height, int channels, const uint8_t* pixels,
                               bool bottomRowFirst = false);

// A view's RGBA pixels (top row first) as an RGB PNG: a window shows no alpha.
std::vector<uint8_t> EncodeViewPng(int width, int height, const std::vector<uint8_t>& rgba);
