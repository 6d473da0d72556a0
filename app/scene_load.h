// The scene load at the window's first activation: the texture set, then the quad list with
// the window's progress bar showing how far the file has been read. The window hands the load
// what it needs through SceneLoadWindow; the load never reaches into the window itself.
#pragma once

#include <cstdint>

#include "scene/scene_types.h"

// What the load needs from the main window.
class SceneLoadWindow {
 public:
  virtual ~SceneLoadWindow() = default;
  // Makes sure the window is visible and on top, so the bar can be seen during the load.
  virtual void ShowAndRaise() = 0;
  // Makes the view's GL context current, for the texture uploads.
  virtual void MakeViewCurrent() = 0;
  virtual void SetBarMaximum(int32_t blocks) = 0;
  virtual void SetBarPosition(int32_t blocks) = 0;
  virtual void HideBar() = 0;
  // Handles the window's pending events (repaint, title timer, mouse); true once the user
  // has asked to close the window.
  virtual bool ProcessPendingEvents() = 0;
};

// Loads the scene at `path` into the tables: nothing when there is no path or no regular
// file there (the bar then stays, over a black view; for a path, a line on stderr says why:
// "quadview: PATH: no such file", "a folder" or "not a regular file"). Pending events are handled
// between images and between records; a close of the window ends the load quietly. Other errors
// propagate, the tables keeping what was loaded before them.
void LoadScene(const char* path, QuadTable& quads, TextureTable& textures, SceneLoadWindow& window);

// True when `path` names a regular file; otherwise says why on stderr in one line
// ("quadview: PATH: no such file", "a folder" or "not a regular file").
bool SceneFileIsThere(const char* path);

// True while LoadScene runs: the view then shows black instead of a partial scene.
bool SceneLoadRunning();
