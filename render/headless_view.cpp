// The headless view and GL's texture limit, each a headless surface for as long as it lives.
#include "render/headless_view.h"

#include <stdexcept>

#include "render/headless_surface.h"
#include "render/texture_set.h"
#include "render/view_setup.h"
#include "scene/scene_error.h"

HeadlessView::HeadlessView(int width, int height) {
  try {
    CreateHeadlessSurface(width, height);
  } catch (const std::runtime_error& error) {
    DestroyHeadlessSurface();
    throw SceneError(error.what());
  }
  InitGLState();
  ResizeView(width, height);
}

HeadlessView::~HeadlessView() {
  DestroyHeadlessSurface();
}

int32_t HeadlessTextureLimit::operator()() {
  if (asked_) return size_;
  asked_ = true;
  try {
    CreateHeadlessSurface(1, 1);
    size_ = MaxTextureSize();
  } catch (const std::runtime_error& error) {
    unavailable_ = error.what();
  }
  DestroyHeadlessSurface();
  return size_;
}

std::string HeadlessTextureLimit::Describe() const {
  if (!asked_) return std::string();
  if (size_ >= 0) return "maximum texture size: " + std::to_string(size_);
  return "maximum texture size: unknown (" + unavailable_ + ")";
}
