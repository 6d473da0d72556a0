// The viewer's load order and its walk of the texture set, without GL or a window: the
// viewer and the headless render (through render/texture_set.h), export and check read
// scenes through here. GL's maximum texture size comes in as a function (the current
// context's, or a headless one's, render/headless_view.h), asked only when an image is large
// enough to need it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/quad_list_reading.h"
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

// The viewer's load order, written here alone: the texture set first
// (WalkTexturesLikeTheViewer, with the viewer's warning on stderr for each refused image and
// `visitImage` called for every image, nullptr for a refused one), then the quad list read
// into `quads`. Errors propagate as the viewer's load would raise them. The viewer and the
// headless render load through it in GL (render/texture_set.h), export to encode the images.
// Returns the number of images in the set.
int ReadSceneLikeTheViewer(const std::string& path, const std::function<int32_t()>& maxTextureSize,
                           QuadTable& quads, QuadListProgress& progress,
                           const std::function<void(int slot, const TgaImage* image)>& visitImage);
