// Reading a scene as the viewer's load does: the texture set through the same walk and limits,
// then the quad list.
#include "scene/scene_source.h"

#include "scene/quad_list.h"
#include "scene/texture_limits.h"

int WalkTexturesLikeTheViewer(const std::string& path,
                              const std::function<int32_t()>& maxTextureSize,
                              const ViewerImageVisit& visitImage) {
  int images = 0;
  WalkTextureSet(path, maxTextureSize, TextureBudgetBytes(),
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

int ReadSceneLikeTheViewer(const std::string& path, const std::function<int32_t()>& maxTextureSize,
                           QuadTable& quads, QuadListProgress& progress,
                           const std::function<void(int slot, const TgaImage* image)>& visitImage) {
  const int images = WalkTexturesLikeTheViewer(
      path, maxTextureSize,
      [&](int slot, const std::string& image, const TgaImage* tga, const std::string& refusal) {
        if (tga == nullptr) WarnRefusedImage(image, refusal);
        visitImage(slot, tga);
      });
  ReadQuadList(path, quads, progress);
  return images;
}
