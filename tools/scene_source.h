// A scene read the way the viewer's load reads it, without a window: for the commands that
// export or inspect what the viewer would draw. GL's maximum texture size comes from a
// headless context, asked only when an image is large enough to need it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/scene_types.h"
#include "scene/tga.h"

// The viewer's view without a window, for the commands that draw: a headless surface of
// width x height with the viewer's GL state and projection, released on destruction.
// Raises SceneError when there is no GL here.
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

// Walks the texture set with the viewer's limits, GL's maximum texture size from a headless
// context. `visitImage` gets each image of the set in slot order with its path: its decoded
// upload image (LastTgaImage) when the viewer would upload it, or nullptr and why the viewer
// would refuse it. Decoding raises what the viewer's load would. Returns the number of images.
using ViewerImageVisit = std::function<void(int slot, const std::string& path,
                                            const TgaImage* image, const std::string& refusal)>;
int WalkTexturesLikeTheViewer(const std::string& path, const ViewerImageVisit& visitImage);

// WalkTexturesLikeTheViewer, with the viewer's warning on stderr for each refused image, then
// the quad list read into `quads`; errors propagate as the viewer's load would raise them.
// Returns the number of images in the set.
int ReadSceneLikeTheViewer(const std::string& path, QuadTable& quads,
                           const std::function<void(int slot, const TgaImage* image)>& visitImage);
