// inotify on a small set of folders, each with the names in it that matter (none: all do).
// The set is worked out again from the paths after every settled burst of changes, since a
// rename, a new folder or a new link can change which folders hold the scene; watches no
// longer needed are dropped. Events only re-arm a one-shot timer; its end is the "still"
// moment.
#include "app/scene_watch.h"

#include <FL/Fl.H>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/scene_types.h"
#include "scene/texture_paths.h"

namespace {

constexpr uint32_t kChangeEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

namespace sceneWatch {
int watchFd = -1;
std::string scenePath;
// Each watched folder's descriptor and the names in it whose events count (empty: all).
std::map<int, std::set<std::string>> watchedNames;
void (*settledHandler)() = nullptr;
}  // namespace sceneWatch

void Settled(void*) {
  if (sceneWatch::settledHandler != nullptr) sceneWatch::settledHandler();
}

// Any change starts the wait for stillness again.
void Changed() {
  Fl::remove_timeout(Settled);
  Fl::add_timeout(kStillSeconds, Settled);
}

void ReadEvents(int fd, void*) {
  alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
  for (;;) {
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    if (length <= 0) return;  // EAGAIN: all read
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      const std::string name = event->len > 0 ? event->name : "";
      const auto watched = sceneWatch::watchedNames.find(event->wd);
      // Events of a watch just dropped are none of the scene's; a watched folder itself gone
      // or moved (IN_IGNORED follows its removal) is.
      bool counts = (event->mask & IN_Q_OVERFLOW) != 0;
      if (watched != sceneWatch::watchedNames.end()) {
        counts = counts || (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0 ||
                 watched->second.empty() || watched->second.count(name) > 0;
      }
      if (counts) Changed();
    }
  }
}

std::string FolderPath(const std::string& path) {
  const std::string folder = FolderOf(path);
  return folder.empty() ? "." : folder;
}

// Where `path` leads when it is a link, or "".
std::string LinkTarget(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return "";
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "";
  const std::string target = resolved;
  std::free(resolved);
  return target;
}

// The folders to watch for the scene at `path`, each with the names in it that count (a
// name-less entry: every name in it counts).
std::map<std::string, std::set<std::string>> WatchPlan(const std::string& path) {
  namespace fs = std::filesystem;
  std::map<std::string, std::set<std::string>> plan;
  const std::string sceneFolder = FolderPath(path);
  const std::string texturePrefix = TextureFolderPrefix(path);
  const std::string textureFolder = texturePrefix.substr(0, texturePrefix.size() - 1);
  if (texturePrefix == (FolderOf(path).empty() ? "./" : FolderOf(path))) {
    plan[sceneFolder];  // a scene named ".map": its images lie in its own folder
  } else {
    plan[sceneFolder].insert({FileNameOf(path), FileNameOf(textureFolder)});
    plan[texturePrefix];
  }
  // The folder above, where the quad list's folder is deleted and made again, or swapped in.
  std::error_code error;
  fs::path folder = fs::absolute(sceneFolder, error).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  if (!error && folder != folder.root_path()) {
    plan[folder.parent_path().string()].insert(folder.filename().string());
  }
  // Links: where the quad list, the texture folder and each image lead.
  const std::string sceneTarget = LinkTarget(path);
  if (!sceneTarget.empty()) plan[FolderPath(sceneTarget)].insert(FileNameOf(sceneTarget));
  const std::string folderTarget = LinkTarget(textureFolder);
  if (!folderTarget.empty()) plan[folderTarget];
  for (int slot = 0; slot == 0 || TextureSetContinues(texturePrefix, slot); ++slot) {
    const std::string imageTarget = LinkTarget(TextureImagePath(texturePrefix, slot));
    if (!imageTarget.empty()) plan[FolderPath(imageTarget)].insert(FileNameOf(imageTarget));
  }
  return plan;
}

}  // namespace

bool WatchScene(const std::string& path, void (*settled)()) {
  sceneWatch::settledHandler = settled;
  sceneWatch::scenePath = path;
  if (sceneWatch::watchFd < 0) {
    sceneWatch::watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (sceneWatch::watchFd < 0) {
      std::fprintf(stderr, "quadview: cannot watch %s: %s; the scene is not reloaded by itself\n",
                   Printable(path).c_str(), std::strerror(errno));
      return false;
    }
    Fl::add_fd(sceneWatch::watchFd, FL_READ, ReadEvents);
  }
  RewatchScene();
  if (sceneWatch::watchedNames.empty()) {
    std::fprintf(stderr, "quadview: cannot watch %s: %s; the scene is not reloaded by itself\n",
                 Printable(FolderPath(path)).c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

void RewatchScene() {
  if (sceneWatch::watchFd < 0) return;
  // One folder may be reached by two names (a link to it): what either counts, counts.
  std::map<int, std::set<std::string>> watched;
  std::set<int> everything;
  for (const auto& [folder, names] : WatchPlan(sceneWatch::scenePath)) {
    // The same folder gives back its descriptor; a folder that is not there now is seen
    // through the one above it.
    const int wd = inotify_add_watch(sceneWatch::watchFd, folder.c_str(), kChangeEvents);
    if (wd < 0) continue;
    watched[wd].insert(names.begin(), names.end());
    if (names.empty()) everything.insert(wd);
  }
  for (const int wd : everything) watched[wd].clear();
  for (const auto& [wd, names] : sceneWatch::watchedNames) {
    if (watched.count(wd) == 0) inotify_rm_watch(sceneWatch::watchFd, wd);
  }
  sceneWatch::watchedNames.swap(watched);
}
