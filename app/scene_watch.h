// --watch: the kernel's file notifications (inotify) on every folder a change of the scene can
// show up in, read through the toolkit's event loop: the quad list's folder and the one above
// it (so a folder deleted and made again, or swapped by a rename, is seen), the texture folder,
// and the folders of whatever the quad list, the texture folder and the textures link to. A
// change is reported once the scene's files have been still for kStillSeconds, so that a file
// still being written is never read.
#pragma once

#include <string>

// How long the watched files must go without a change before the scene is reloaded.
constexpr double kStillSeconds = 0.5;

// Starts watching the scene at `path` (or, called again, another scene instead); `settled`
// runs from the event loop after each burst of changes has been still for kStillSeconds.
// False, after a line on stderr, when nothing can be watched.
bool WatchScene(const std::string& path, void (*settled)());

// Looks again at what the scene's names lead to: folders may have been made, replaced or
// relinked since the last look. Called before each reload the watch asks for.
void RewatchScene();
