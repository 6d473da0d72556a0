// A scene read the way the viewer's load reads it, without a window: for the commands that
// export or inspect what the viewer would draw. GL's maximum texture size comes in as a
// function (a headless context's, render/headless_view.h), asked only when an image is large
// enough to need it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/quad_list.h"
#include "scene/scene_types.h"
#include "scene/tga.h"

// Walks the texture set with the viewer's limits. `visitImage` gets each image of the set in
// slot order with its path: its decoded upload image (LastTgaImage) when the viewer would
// upload it, or nullptr and why the viewer would refuse it. Decoding raises what the viewer's
// load would. Returns the number of images.
using ViewerImageVisit = std::function<void(int slot, const std::string& path,
                                            const TgaImage* image, const std::string& refusal)>;
int WalkTexturesLikeTheViewer(const std::string& path,
                              const std::function<int32_t()>& maxTextureSize,
                              const ViewerImageVisit& visitImage);

// WalkTexturesLikeTheViewer, with the viewer's warning on stderr for each refused image, then
// the quad list read into `quads`; errors propagate as the viewer's load would raise them.
// Returns the number of images in the set.
int ReadSceneLikeTheViewer(const std::string& path, const std::function<int32_t()>& maxTextureSize,
                           QuadTable& quads, QuadListProgress& progress,
                           const std::function<void(int slot, const TgaImage* image)>& visitImage);
