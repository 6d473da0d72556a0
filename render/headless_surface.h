// An offscreen GL surface without a display: EGL on Mesa's surfaceless platform (or a GPU's
// EGL device), a compatibility-profile context for fixed-function calls, drawing into an
// offscreen colour buffer of a chosen size with no depth or stencil buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where the colour buffer lives: a pbuffer where the display offers one, else a framebuffer
// object; or always a framebuffer object.
enum class HeadlessBuffer { kPbufferOrFramebufferObject, kFramebufferObject };

// Creates the context and a width x height colour buffer and makes them current. Throws
// std::runtime_error with a readable reason when no surface can be had.
void CreateHeadlessSurface(int width, int height,
                           HeadlessBuffer buffer = HeadlessBuffer::kPbufferOrFramebufferObject);

// Reads the colour buffer back as RGBA bytes, the first row being the top of the view.
std::vector<uint8_t> ReadHeadlessPixels();

// Waits for the GL commands issued so far (the headless counterpart of a buffer swap).
void FinishHeadlessFrame();

// Releases the context and the buffer; safe to call when none exists. The EGL display stays
// initialised for the next surface.
void DestroyHeadlessSurface();
