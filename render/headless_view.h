// The viewer's view without a window, for the commands that draw, pick or ask GL's limits: a
// headless surface (headless_surface.h) with the viewer's GL state and projection.
#pragma once

#include <cstdint>
#include <string>

// A headless surface of width x height with the viewer's GL state and projection, released
// on destruction. Raises SceneError when there is no GL here.
class HeadlessView {
 public:
  HeadlessView(int width, int height);
  ~HeadlessView();
  HeadlessView(const HeadlessView&) = delete;
  HeadlessView& operator=(const HeadlessView&) = delete;
};

// GL_MAX_TEXTURE_SIZE of a headless context, asked once and only when called; -1 when there
// is no GL here (then no image is refused for its size).
class HeadlessTextureLimit {
 public:
  int32_t operator()();
  // "maximum texture size: N" (or why it is unknown) once asked, else nothing.
  std::string Describe() const;

 private:
  bool asked_ = false;
  int32_t size_ = -1;
  std::string unavailable_;
};
