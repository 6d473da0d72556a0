// What the viewer does outside its window for a key: the view's picture written as a PNG
// (F12) and the picked record opened in the user's editor (e). No toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes the view's RGBA pixels (top row first) as a PNG named by PictureName in the current
// folder, or in $HOME when that cannot be written, never over anything already there.
// Returns its absolute path; SceneError when neither folder takes it.
std::string SaveViewPicture(const std::string& scenePath, int width, int height,
                            const std::vector<uint8_t>& rgba);

// Starts the user's editor on `file` (made absolute) at `line` (EditorScript through sh -c) in a
// process of its own session, which outlives the viewer; returns at once. False, after one stderr
// line, when there is no editor to run.
bool OpenInEditor(const std::string& file, int64_t line);
