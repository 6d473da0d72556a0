// Caption, application title and error text formatting for the viewer window.
// Relies on snprintf in the "C" numeric locale (the viewer never changes the process locale)
// and on POSIX newlocale/nl_langinfo_l to learn the environment's decimal separator.
#include "app/title.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>

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
