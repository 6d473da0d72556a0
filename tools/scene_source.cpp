// Reading a scene as the viewer's load does: the texture set through the same walk and limits,
// then the quad list.
#include "tools/scene_source.h"

#include <stdexcept>

#include "render/headless_surface.h"
#include "render/texture_set.h"
#include "render/view_setup.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "tools/terminal_progress.h"

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

int WalkTexturesLikeTheViewer(const std::string& path, const ViewerImageVisit& visitImage) {
  HeadlessTextureLimit maxTextureSize;
  int images = 0;
  WalkTextureSet(path, std::ref(maxTextureSize), TextureBudgetBytes(),
                 [&](int imageNumber, const std::string& image, const std::string& refusal) {
                   images = imageNumber + 1;
                   if (!refusal.empty()) {
                     visitImage(imageNumber, image, nullptr, refusal);
                     return;
                   }
                   DecodeTga();
                   visitImage(imageNumber, image, &LastTgaImage(), refusal);
                 });
  return images;
}

int ReadSceneLikeTheViewer(const std::string& path, QuadTable& quads,
                           const std::function<void(int slot, const TgaImage* image)>& visitImage) {
  const int images = WalkTexturesLikeTheViewer(
      path, [&](int slot, const std::string& image, const TgaImage* tga, const std::string& refusal) {
        if (tga == nullptr) WarnRefusedImage(image, refusal);
        visitImage(slot, tga);
      });
  TerminalProgress progress("reading " + path, TerminalProgress::Unit::kBytes);
  ReadQuadList(path, quads, progress);
  return images;
}
