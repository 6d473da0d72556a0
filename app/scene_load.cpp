// The scene load: LoadSceneLikeTheViewer (the texture set, then the quad list) with the
// progress bar bound to the read's progress. Pending events are processed between images and,
// during the read, at most every kEventInterval, so the bar, the title timer and mouse input
// stay live while the load costs little more than the read itself; a close of the window then
// cancels the load.
#include "app/scene_load.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "render/texture_set.h"
#include "scene/file_access.h"
#include "scene/quad_list_reading.h"
#include "scene/scene_check.h"
#include "scene/scene_error.h"

namespace {

// Handling events after every record would cost the read more than the read itself on large
// files; every 30 ms keeps the bar smooth and input responsive. The clock is read only every
// kRecordsPerClockRead calls (a record takes a fraction of a microsecond to read).
constexpr auto kEventInterval = std::chrono::milliseconds(30);
constexpr int kRecordsPerClockRead = 64;

bool sceneLoadRunning = false;

// Raised when the window was closed during the load; it unwinds the readers and is caught
// by LoadScene, which then returns without touching the window again.
struct LoadCancelled {};

class ProgressBarProgress : public QuadListProgress {
 public:
  explicit ProgressBarProgress(SceneLoadWindow& window) : window_(window) {}

  void SetProgressMax(int32_t blocks) override { window_.SetBarMaximum(blocks); }

  // The bar is only drawn while events are processed, so the position is handed to it then.
  void SetProgressPosition(int32_t blocks) override { position_ = blocks; }

  void ProcessPendingMessages() override {
    if (++callsSinceClockRead_ < kRecordsPerClockRead) return;
    callsSinceClockRead_ = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastEvents_ < kEventInterval) return;
    lastEvents_ = now;
    ShowPosition();
    if (window_.ProcessPendingEvents()) throw LoadCancelled();
  }

  void ShowPosition() { window_.SetBarPosition(position_); }

 private:
  SceneLoadWindow& window_;
  int32_t position_ = 0;
  int callsSinceClockRead_ = 0;
  std::chrono::steady_clock::time_point lastEvents_ = std::chrono::steady_clock::now();
};

// Clears the running flag however the load ends.
struct LoadRunningScope {
  LoadRunningScope() { sceneLoadRunning = true; }
  ~LoadRunningScope() { sceneLoadRunning = false; }
};

}  // namespace

bool SceneFileIsThere(const char* path) {
  const std::string notRegular = NotARegularFileBecause(path);
  if (notRegular.empty()) return true;
  std::fprintf(stderr, "quadview: %s: %s\n", Printable(path).c_str(), notRegular.c_str());
  return false;
}

bool SceneLoadRunning() {
  return sceneLoadRunning;
}

void LoadScene(const char* path, QuadTable& quads, TextureTable& textures,
               SceneLoadWindow& window) {
  window.ShowAndRaise();
  // No file is a FIFO, a device or a folder: those stop here like a missing file.
  if (path == nullptr || !SceneFileIsThere(path)) return;  // the bar stays, over a black view

  LoadRunningScope running;
  ProgressBarProgress progress(window);
  try {
    // The texture uploads go to the view's context; nothing in between changes the current one.
    window.MakeViewCurrent();
    try {
      LoadSceneLikeTheViewer(path, textures, quads, progress, [&window] {
        if (window.ProcessPendingEvents()) throw LoadCancelled();
        window.MakeViewCurrent();
      });
    } catch (const SceneError&) {
      progress.ShowPosition();  // the bar stays where the read stopped (at 0 for an image)
      throw;
    }
  } catch (const LoadCancelled&) {
    return;  // the window is closing; the frame loop ends at once
  }
  window.HideBar();
  WarnOfUnreadTextureNumbers(path);
}
