// Draws one frame of the scene with OpenGL 1.1 immediate mode: the camera transform, then
// every quad in table order with its texture and blend mode. Needs a current GL context with
// the modelview matrix current. Owns the texture-binding cache that every bind goes through.
#pragma once

#include <cstdint>

#include "scene/scene_types.h"

void RenderFrame(const CameraState& camera, const QuadTable& quads, const TextureTable& textures);

// The camera transform, multiplied onto the current (modelview) matrix: a mirror in x, -tilt
// degrees about x, spin degrees about z, the translation (panX, panY, distance), half a turn
// about y. RenderFrame and everything that must land on its pixels use this.
void ApplyCameraTransform(const CameraState& camera);

// What each camera value does to the picture, as the programs' help says it.
constexpr const char* kPanHelp =
    "Camera pan X Y, as the viewer's title shows them (default 0.01 0); a larger X moves the "
    "scene left, a larger Y moves it up";
constexpr const char* kDistanceHelp =
    "Camera distance, as the viewer's title shows it (default -2.48); the scene comes nearer "
    "as it rises towards 0";
constexpr const char* kTiltHelp =
    "Degrees about the view's x axis (default 0); positive turns the view up, so the scene "
    "moves down";
constexpr const char* kSpinHelp =
    "Degrees about the view's axis (default 0); positive turns the scene clockwise on the "
    "screen";

// Binds `name` to GL_TEXTURE_2D unless it is the one bound last (lastBoundTexture, which
// starts at 0x0BADF00D, a value no texture name has, and is never reset between frames).
// Every texture bind of the program goes through here (the renderer's loop and the uploads),
// so the cache never lies.
void BindTexture2D(uint32_t name);

// Forgets what is bound: a new context has nothing bound, so the next bind must happen.
void ForgetTextureBinding();
