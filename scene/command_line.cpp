// Command-line numbers: std::from_chars for whole numbers, strtod_l in the C locale for floats
// (rounded once more to float32), with the text checked whole before anything is stored.
#include "scene/command_line.h"

#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>

bool ParseOptionWhole(const std::string& text, int64_t& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin < end && *begin == '+') ++begin;
  const auto result = std::from_chars(begin, end, value);
  return result.ec == std::errc() && result.ptr == end && begin < end;
}

bool ParseOptionFloat(const std::string& text, float& value) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  // strtod also takes leading blanks, hexadecimal and words; the options take none of them.
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) ||
      text.find_first_of("xXnN") != std::string::npos) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const double parsed = strtod_l(text.c_str(), &end, cLocale);
  if (end != text.c_str() + text.size() || !std::isfinite(parsed) || std::fabs(parsed) > FLT_MAX) {
    return false;
  }
  value = static_cast<float>(parsed);
  return true;
}

std::string WrapWords(const std::string& text, size_t width) {
  std::string out, line;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  return out + line;
}

std::string HelpEntry(const std::string& name, const std::string& description, size_t column,
                      size_t width) {
  std::string text = "  " + name;
  if (text.size() >= column) {
    text += "\n" + std::string(column, ' ');
  } else {
    text.resize(column, ' ');
  }
  for (char c : WrapWords(description, width - column)) {
    text += c;
    if (c == '\n') text.append(column, ' ');
  }
  return text + "\n";
}
