// Formatting of scene errors for the command line and the viewer's stderr diagnostics.
#include "scene/scene_error.h"

#include <cstring>

std::string FormatDiagnostic(const SceneError& error) {
  std::string text;
  if (!error.file().empty()) {
    text = error.file();
    if (error.line() > 0) text += ":" + std::to_string(error.line());
    text += ": ";
  }
  text += error.what();
  if (!error.reason().empty()) text += " (" + error.reason() + ")";
  return text;
}

SceneError CannotOpenFile(const std::string& path) {
  return SceneError("Cannot open file " + path, path);
}

SceneError CannotReadFile(const std::string& path, int errorNumber) {
  return SceneError("Cannot read file " + path, path, 0, std::strerror(errorNumber));
}

SceneError NotEnoughMemory(const std::string& path) {
  return SceneError("Not enough memory reading " + path, path);
}

std::string QuoteContent(std::string_view text) {
  if (text.size() <= kQuotedContentBytes) return std::string(text);
  return std::string(text.substr(0, kQuotedContentBytes)) + "...";
}
