// Formatting of scene errors for the command line and the viewer's stderr diagnostics.
#include "scene/scene_error.h"

std::string FormatDiagnostic(const SceneError& error) {
  if (error.file().empty()) return error.what();
  std::string text = error.file();
  if (error.line() > 0) text += ":" + std::to_string(error.line());
  return text + ": " + error.what();
}

SceneError CannotOpenFile(const std::string& path) {
  return SceneError("Cannot open file " + path, path);
}
