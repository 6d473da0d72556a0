// Formatting of scene errors for the command line and the viewer's stderr diagnostics.
#include "scene/scene_error.h"

#include <cstdio>
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

namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is none.
size_t Utf8Length(std::string_view text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  char escape[8];
  for (size_t at = 0; at < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    const size_t length = byte >= 0x80 ? Utf8Length(text, at) : 1;
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (c1) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[at + 1]));
      shown += escape;
    } else if (length == 0 || (length == 1 && (byte < 0x20 || byte == 0x7F))) {
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else {
      shown.append(text.substr(at, length));
    }
    at += length > 0 ? length : 1;
  }
  return shown;
}
