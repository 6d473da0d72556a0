// Caption, application title and error text formatting for the viewer window.
// Relies on snprintf in the "C" numeric locale (the viewer never changes the process locale)
// and on POSIX newlocale/nl_langinfo_l to learn the environment's decimal separator.
#include "app/title.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "scene/file_access.h"
#include "scene/numbers.h"
#include "scene/scene_error.h"

std::string FormatFixed2(double value, char decimalSeparator) {
  char buffer[64] = {};
  // %.2f of values beyond ~1e40 would not fit; the camera values are floats, so at most ~3.4e38
  // plus sign, point and two decimals: 64 bytes hold every finite float and "inf"/"nan".
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text = buffer;
  // A negative value that rounds to zero prints as "-0.00"; the caption shows "0.00".
  if (text == "-0.00") text = "0.00";
  for (char& c : text) {
    if (c == '.') c = decimalSeparator;
  }
  return text;
}

std::string FormatCaption(int frameCount, float panX, float panY, float distance,
                          char decimalSeparator) {
  return "OpenGL - " + std::to_string(frameCount) + " FPS | " +
         FormatFixed2(panX, decimalSeparator) + " " + FormatFixed2(panY, decimalSeparator) + " " +
         FormatFixed2(distance, decimalSeparator);
}

char EnvironmentDecimalSeparator() {
  locale_t numericLocale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (numericLocale == static_cast<locale_t>(0)) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, numericLocale);
  // A multi-byte separator cannot stand in for one char; such locales keep the point.
  char separator = (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') ? radix[0] : '.';
  freelocale(numericLocale);
  return separator;
}

std::string ApplicationTitle(const std::string& programPath) {
  std::string::size_type slash = programPath.find_last_of('/');
  std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
  std::string::size_type dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  for (std::string::size_type i = 1; i < name.size(); ++i) {
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  return name;
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string ControlsText() {
  return "Mouse and keys:\n"
         "  left drag        pan\n"
         "  right drag       turn\n"
         "  wheel            nearer or farther\n"
         "  left click       pick the record drawn there: its line, marked\n"
         "  e                open the picked record in the editor, at its line\n"
         "  g NUMBER Enter   go to that record (Esc gives up)\n"
         "  i                the picked record's slot alone, or all again\n"
         "  f                fit: the whole scene in view\n"
         "  r, Home          back to the start camera\n"
         "  c                print the view's render command, and copy it\n"
         "  F12              save the view as a PNG\n"
         "  Ctrl+O, a drop   open another scene\n"
         "  F5               reload the scene; the camera stays\n"
         "  F11              fullscreen; Esc leaves it\n"
         "  F1               this list\n"
         "  Ctrl+Q, Ctrl+W   close the window\n";
}

// One shell word on one line: in bash's $'...' with every control byte and every byte past
// ASCII as \xNN when the text holds anything a terminal would act on (what Printable would
// escape); else in single quotes (a quote inside written as '\'').
std::string ShellWord(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_./+-=:,@%") == std::string::npos;
  if (plain) return text;
  if (Printable(text) != text) {
    std::string quoted = "$'";
    char escape[8];
    for (char c : text) {
      const unsigned char byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte >= 0x7F) {
        std::snprintf(escape, sizeof escape, "\\x%02x", byte);
        quoted += escape;
      } else {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c;
      }
    }
    return quoted + "'";
  }
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ViewCommand(const std::string& scenePath, float panX, float panY, float distance,
                        float tilt, float spin, int width, int height) {
  std::string file = "FILE.map";
  if (!scenePath.empty()) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(scenePath, error);
    file = ShellWord(error ? scenePath : absolute.string());
  }
  std::string command = "quadscene render " + file + " --pan ";
  AppendShortestFloat(command, panX);
  command += " ";
  AppendShortestFloat(command, panY);
  command += " --distance ";
  AppendShortestFloat(command, distance);
  command += " --tilt ";
  AppendShortestFloat(command, tilt);
  command += " --spin ";
  AppendShortestFloat(command, spin);
  command += " --size " + std::to_string(width) + "x" + std::to_string(height) + " -o view.png";
  return command;
}

std::string EditorScript(const std::string& visual, const std::string& editor) {
  if (!visual.empty()) return visual + " \"$@\"";
  return "x-terminal-emulator -e " + (editor.empty() ? std::string("sensible-editor") : editor) +
         " \"$@\"";
}

std::string PictureName(const std::string& folder, const std::string& scenePath,
                        const std::tm& when, int attempt) {
  std::string stem = scenePath.empty() ? std::string("quadview") : FileNameOf(scenePath);
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  char time[32];
  std::strftime(time, sizeof time, "%Y%m%d-%H%M%S", &when);
  std::string name = stem + "-" + time;
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return (folder.empty() || folder.back() == '/' ? folder : folder + "/") + name + ".png";
}

std::string DroppedScenePath(const std::string& text, std::string& why) {
  std::vector<std::string> names;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin && text[begin] != '#') names.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  if (names.size() != 1) {
    why = "drop one .map file";
    return "";
  }
  std::string name = names.front();
  const std::string scheme = "file://";
  if (name.compare(0, scheme.size(), scheme) == 0) {
    const size_t pathStart = name.find('/', scheme.size());  // after an optional host
    std::string decoded;
    for (size_t i = pathStart == std::string::npos ? name.size() : pathStart; i < name.size();
         ++i) {
      const auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
      };
      if (name[i] == '%' && i + 2 < name.size() && hex(name[i + 1]) >= 0 && hex(name[i + 2]) >= 0) {
        decoded += static_cast<char>(hex(name[i + 1]) * 16 + hex(name[i + 2]));
        i += 2;
      } else {
        decoded += name[i];
      }
    }
    name = decoded;
  } else if (name.find("://") != std::string::npos) {
    why = "only local files open";
    return "";
  }
  if (name.empty() || LowerExtension(name) != ".map") {
    why = "drop one .map file";
    return "";
  }
  return name;
}
