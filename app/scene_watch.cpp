// inotify on two folders: the quad list's own (its file may be replaced by a rename, or made
// after the viewer started) and the texture folder (images written, added, renamed, removed).
// Events only re-arm a one-shot timer; the timer's end is the "still" moment.
#include "app/scene_watch.h"

#include <FL/Fl.H>
#include <errno.h>
#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/texture_paths.h"

namespace {

constexpr uint32_t kChangeEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

int watchFd = -1;
int sceneFolderWatch = -1;
int textureFolderWatch = -1;
std::string sceneFileName;      // the quad list's name inside its folder
std::string textureFolderName;  // the texture folder's name inside the same folder
std::string textureFolderPath;
void (*settledHandler)() = nullptr;

void Settled(void*) {
  if (settledHandler != nullptr) settledHandler();
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
      // In the scene's folder only the quad list and the texture folder itself matter, unless
      // the textures live there too (a scene named ".map").
      const bool filtered = event->wd == sceneFolderWatch && event->wd != textureFolderWatch;
      if ((event->mask & IN_Q_OVERFLOW) != 0 || !filtered || name == sceneFileName ||
          name == textureFolderName) {
        Changed();
      }
    }
  }
}

}  // namespace

bool WatchScene(const std::string& path, void (*settled)()) {
  settledHandler = settled;
  watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const std::string folder = FolderOf(path).empty() ? "." : FolderOf(path);
  if (watchFd >= 0) sceneFolderWatch = inotify_add_watch(watchFd, folder.c_str(), kChangeEvents);
  if (watchFd < 0 || sceneFolderWatch < 0) {
    std::fprintf(stderr, "quadview: cannot watch %s: %s; the scene is not reloaded by itself\n",
                 Printable(folder).c_str(), std::strerror(errno));
    return false;
  }
  sceneFileName = FileNameOf(path);
  textureFolderPath = TextureFolderPrefix(path);
  const std::string folderName = textureFolderPath.substr(0, textureFolderPath.size() - 1);
  textureFolderName = FileNameOf(folderName);
  RewatchTextureFolder();
  Fl::add_fd(watchFd, FL_READ, ReadEvents);
  return true;
}

void RewatchTextureFolder() {
  if (watchFd < 0) return;
  // The same folder gives back its watch; a new one (or none yet) changes it.
  textureFolderWatch = inotify_add_watch(watchFd, textureFolderPath.c_str(), kChangeEvents);
}
