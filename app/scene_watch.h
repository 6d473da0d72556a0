// --watch: the kernel's file notifications (inotify) on the scene's folder and its texture
// folder, read through the toolkit's event loop. A change is reported once the scene's files
// have been still for kStillSeconds, so that a file still being written is never read.
#pragma once

#include <string>

// How long the watched files must go without a change before the scene is reloaded.
constexpr double kStillSeconds = 0.5;

// Starts watching the quad list at `path` and its texture folder; `settled` runs from the
// event loop after each burst of changes has been still for kStillSeconds. False, after a
// line on stderr, when the folder cannot be watched.
bool WatchScene(const std::string& path, void (*settled)());

// Watches the texture folder again: it may have been made or replaced since the last look.
void RewatchTextureFolder();
