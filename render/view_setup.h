// Fixed-function GL state and the view's viewport and projection. Needs a current GL context.
#pragma once

#include <cstdint>
#include <vector>

// The viewer's view panel at its stored size; headless drawing uses it by default.
constexpr int kViewWidth = 535;
constexpr int kViewHeight = 326;

// The state set once after a context is made current: black clear colour, smooth shading,
// texturing and blending on, dithering and face culling off, nicest perspective correction.
// Depth testing stays off: drawing order alone decides what covers what. The texture-binding
// cache starts afresh, as nothing is bound in a new context.
void InitGLState();

// Viewport (0, 0, width, height) and a 45-degree perspective with near 0 and far 500 for the
// drawable's size; the aspect is computed in floating point, so a height of 0 gives an
// infinite or NaN aspect instead of an error. Leaves the modelview matrix current.
void ResizeView(int width, int height);

// The current read buffer's width x height pixels from the bottom-left corner as RGBA bytes,
// the first row being the top of the view.
std::vector<uint8_t> ReadViewPixels(int width, int height);
