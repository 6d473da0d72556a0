// Shared command-line pieces of quadscene. Numbers are parsed with std::from_chars and
// strtof in the C locale, so "1,5" or "0x10" never slip through, and ranges are checked
// before anything is stored.
#include "tools/cli.h"

#include <locale.h>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "interchange/interchange.h"
#include "render/view_setup.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

bool ParseWhole(const std::string& text, int64_t& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin < end && *begin == '+') ++begin;
  const auto result = std::from_chars(begin, end, value);
  return result.ec == std::errc() && result.ptr == end && begin < end;
}

bool ParseFloat32(const std::string& text, float& value) {
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

// Accepts what ParseFloat32 reads, else names the range.
CLI::Validator FloatValidator() {
  return CLI::Validator(
      [](std::string& text) {
        float value = 0;
        return ParseFloat32(text, value) ? std::string()
                                         : std::string(
                                               "expected a number between -3.4e38 "
                                               "and 3.4e38");
      },
      "");
}

// "WxH", each side a whole number from 1 to kMaxViewSidePixels.
bool ParseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  int64_t w = 0, h = 0;
  if (!ParseWhole(text.substr(0, x), w) || !ParseWhole(text.substr(x + 1), h)) return false;
  if (w < 1 || h < 1 || w > kMaxViewSidePixels || h > kMaxViewSidePixels) return false;
  if (text[0] == '+' || text[x + 1] == '+') return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

void ReportFailure(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", Printable(text).c_str());
}

}  // namespace

void AddWholeNumberOption(CLI::App* command, const std::string& name, int64_t& target,
                          int64_t minimum, int64_t maximum, const std::string& description) {
  const std::string range =
      "expected a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum);
  command
      ->add_option_function<std::string>(
          name,
          [&target](const std::string& text) {
            int64_t value = 0;
            ParseWhole(text, value);  // checked below
            target = value;
          },
          description)
      ->check(CLI::Validator(
          [minimum, maximum, range](std::string& text) {
            int64_t value = 0;
            return ParseWhole(text, value) && value >= minimum && value <= maximum ? std::string()
                                                                                   : range;
          },
          ""))
      ->type_name("INT");
}

void AddFloatOption(CLI::App* command, const std::string& name, float& target,
                    const std::string& description) {
  command
      ->add_option_function<std::string>(
          name, [&target](const std::string& text) { ParseFloat32(text, target); }, description)
      ->check(FloatValidator())
      ->type_name("FLOAT");
}

ViewOptions::ViewOptions() : width(kViewWidth), height(kViewHeight) {}

void AddViewOptions(CLI::App* command, ViewOptions& options) {
  const std::string sizeRange =
      "expected WxH, each side a whole number from 1 to " + std::to_string(kMaxViewSidePixels);
  command
      ->add_option_function<std::string>(
          "--size",
          [&options](const std::string& text) { ParseSize(text, options.width, options.height); },
          "View size in pixels (default " + std::to_string(kViewWidth) + "x" +
              std::to_string(kViewHeight) + ", the viewer's view panel)")
      ->check(CLI::Validator(
          [sizeRange](std::string& text) {
            int width = 0, height = 0;
            return ParseSize(text, width, height) ? std::string() : sizeRange;
          },
          ""))
      ->type_name("WxH");
  command
      ->add_option_function<std::vector<std::string>>(
          "--pan",
          [&options](const std::vector<std::string>& values) {
            ParseFloat32(values[0], options.camera.panX);
            ParseFloat32(values[1], options.camera.panY);
          },
          "Camera panX panY, as the viewer's title shows them (default 0.01 0)")
      ->expected(2)
      ->check(FloatValidator())
      ->type_name("X Y");
  AddFloatOption(command, "--distance", options.camera.distance,
                 "Camera distance, as the viewer's title shows it (default -2.48)");
  AddFloatOption(command, "--tilt", options.camera.tilt, "Degrees about x (default 0)");
  AddFloatOption(command, "--spin", options.camera.spin, "Degrees about z (default 0)");
}

std::string Counted(int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int RunCommand(const std::string& inputFile, const std::function<void()>& work) {
  try {
    work();
    FlushStandardOutput();
    return kExitOk;
  } catch (const SceneError& error) {
    ReportFailure(FormatDiagnostic(error));
  } catch (const std::bad_alloc&) {
    const SceneError memory = NotEnoughMemory(inputFile);
    ReportFailure(FormatDiagnostic(memory));
  } catch (const std::exception& error) {
    ReportFailure(inputFile + ": " + error.what());
  } catch (...) {
    ReportFailure(inputFile + ": unexpected error");
  }
  return kExitBadFile;
}

namespace {

// "Cannot write file standard output: REASON", with errno's reason (EIO when it has none).
[[noreturn]] void StandardOutputFailed() {
  const int errorNumber = errno != 0 ? errno : EIO;
  std::clearerr(stdout);
  throw SceneError(std::string("Cannot write file standard output: ") + std::strerror(errorNumber));
}

}  // namespace

void RaiseFailures(std::exception_ptr earlier, std::exception_ptr last) {
  if (earlier && last) {
    FlushStandardOutput();
    try {
      std::rethrow_exception(earlier);
    } catch (const SceneError& error) {
      ReportFailure(FormatDiagnostic(error));
    }
  }
  if (last) std::rethrow_exception(last);
  if (earlier) std::rethrow_exception(earlier);
}

void CheckStandardOutput() {
  if (std::ferror(stdout) != 0) StandardOutputFailed();
}

void FlushStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0) StandardOutputFailed();
  CheckStandardOutput();
}

void WritePngFile(const std::string& path, int width, int height, int channels,
                  const uint8_t* pixels, bool bottomRowFirst) {
  const std::vector<uint8_t> png = EncodePng(width, height, channels, pixels, bottomRowFirst);
  WriteWholeFile(path, png.data(), png.size());
}
