// The scene load: LoadTextureSet, then ReadQuadList with ProgressBar1 bound to its progress.
// Pending events are processed during the read (at most every kEventIntervalMs) so the bar,
// the title timer and mouse input stay live; a close of the window then cancels the load.
#include "app/scene_load.h"

#include <FL/Fl.H>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "app/main_window.h"
#include "render/texture_set.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"

namespace {

// Processing events after every record would cost the read more than the read itself on
// large files; every 10 ms keeps the bar and the input responsive. The clock is read only
// every kRecordsPerClockRead records (a record takes about a microsecond to read).
constexpr auto kEventInterval = std::chrono::milliseconds(10);
constexpr int kRecordsPerClockRead = 32;

bool sceneLoadStarted = false;
bool sceneLoadRunning = false;

// Raised from the progress callback when the window was closed; caught by FormActivate, it
// unwinds the reader without touching the window again.
struct LoadCancelled {};

class ProgressBarProgress : public QuadListProgress {
 public:
  void SetProgressMax(int32_t blocks) override {
    wnd_careditor->ProgressBar1->maximum(static_cast<float>(blocks));
  }

  // The bar is only drawn while events are processed, so the position is handed to it then.
  void SetProgressPosition(int32_t blocks) override { position = blocks; }

  void ProcessPendingMessages() override {
    if (++recordsSinceClockRead < kRecordsPerClockRead) return;
    recordsSinceClockRead = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastEvents < kEventInterval) return;
    lastEvents = now;
    ShowPosition();
    Fl::check();
    if (WindowCloseRequested()) throw LoadCancelled();
  }

  void ShowPosition() {
    if (position == shownPosition) return;
    shownPosition = position;
    wnd_careditor->ProgressBar1->value(static_cast<float>(position));
  }

 private:
  int32_t position = 0;
  int32_t shownPosition = -1;
  int recordsSinceClockRead = 0;
  std::chrono::steady_clock::time_point lastEvents = std::chrono::steady_clock::now();
};

// Clears the running flag however the load ends.
struct LoadRunningScope {
  LoadRunningScope() { sceneLoadRunning = true; }
  ~LoadRunningScope() { sceneLoadRunning = false; }
};

bool FileExists(const char* path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

bool SceneLoadRunning() {
  return sceneLoadRunning;
}

void LoadScene() {
  wnd_careditor->show();  // visible and raised, so the bar can be seen during the load
  const char* path = SceneArgument();
  if (path == nullptr || !FileExists(path)) return;  // the bar stays, over a black view

  LoadRunningScope running;
  // The texture uploads go to Panel1's context; nothing in between changes the current one.
  wnd_careditor->Panel1->make_current();
  LoadTextureSet(path, SceneTextures());
  ProgressBarProgress progress;
  try {
    ReadQuadList(path, SceneQuads(), progress);
  } catch (const SceneError&) {
    progress.ShowPosition();  // the bar stays where the read stopped
    throw;
  }
  wnd_careditor->progressHolder->hide();
}

void FormActivate() {
  if (sceneLoadStarted) return;  // once per run, also after a failed load
  sceneLoadStarted = true;
  try {
    LoadScene();
  } catch (const LoadCancelled&) {
    // The window is closing; the frame loop ends at once.
  }
}
