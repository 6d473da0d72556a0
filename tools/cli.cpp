// Shared command-line pieces of quadscene. Numbers are read as scene/command_line.h
// reads them, and ranges are checked before anything is stored.
#include "tools/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "render/camera_fit.h"
#include "render/frame_renderer.h"
#include "render/view_setup.h"
#include "scene/command_line.h"
#include "scene/file_access.h"
#include "scene/png_writer.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"

namespace {

// Accepts what ParseOptionFloat reads, else names the range.
CLI::Validator FloatValidator() {
  return CLI::Validator(
      [](std::string& text) {
        float value = 0;
        return ParseOptionFloat(text, value) ? std::string() : std::string(kOptionFloatRange);
      },
      "");
}

// "WxH", each side a whole number from 1 to kMaxViewSidePixels.
bool ParseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  int64_t w = 0, h = 0;
  if (!ParseOptionWhole(text.substr(0, x), w) || !ParseOptionWhole(text.substr(x + 1), h))
    return false;
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
            ParseOptionWhole(text, value);  // checked below
            target = value;
          },
          description)
      ->check(CLI::Validator(
          [minimum, maximum, range](std::string& text) {
            int64_t value = 0;
            return ParseOptionWhole(text, value) && value >= minimum && value <= maximum
                       ? std::string()
                       : range;
          },
          ""))
      ->type_name("N");
}

void AddFloatOption(CLI::App* command, const std::string& name, float& target,
                    const std::string& description, const std::string& valueName) {
  command
      ->add_option_function<std::string>(
          name, [&target](const std::string& text) { ParseOptionFloat(text, target); }, description)
      ->check(FloatValidator())
      ->type_name(valueName);
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
            ParseOptionFloat(values[0], options.camera.panX);
            ParseOptionFloat(values[1], options.camera.panY);
          },
          kPanHelp)
      ->expected(2)
      ->check(FloatValidator())
      ->type_name("X Y");
  AddFloatOption(command, "--distance", options.camera.distance, kDistanceHelp, "D");
  AddFloatOption(command, "--tilt", options.camera.tilt, kTiltHelp, "T");
  AddFloatOption(command, "--spin", options.camera.spin, kSpinHelp, "S");
}

void AddAsOption(CLI::App* command) {
  command
      ->add_option_function<std::string>(
          "--as", [](const std::string& name) { ReadTextureNumbersAs(name); },
          "Read the texture numbers as a file named NAME reads them (" + TextureNumberFileNames() +
              "), whatever the file's own name; its texture "
              "folder stays its own")
      ->check(CLI::Validator(
          [](std::string& name) {
            int32_t offset = 0;
            return name.find('/') == std::string::npos && NamedTextureNumberOffset(name, offset)
                       ? std::string()
                       : "expected " + TextureNumberFileNames();
          },
          ""))
      ->type_name("NAME");
}

void AddFitOption(CLI::App* command, ViewOptions& options) {
  command->add_flag("--fit", options.fit,
                    "Move the pan and the distance so that every finite corner of the scene is "
                    "in view, keeping tilt and spin (instead of --pan and --distance)");
}

CameraState ViewCamera(const ViewOptions& options, const QuadTable& quads) {
  return options.fit ? FitCamera(options.camera, quads, options.width, options.height)
                     : options.camera;
}

namespace {

constexpr size_t kHelpColumns = 73;   // the man page indents each command's help by 7
constexpr size_t kOptionColumn = 26;  // where option descriptions start

class PlainHelp : public CLI::Formatter {
 public:
  PlainHelp() { column_width(kOptionColumn); }

  std::string make_description(const CLI::App* app) const override {
    return WrapWords(app->get_description(), kHelpColumns - 1) + "\n";
  }
  std::string make_subcommand(const CLI::App* sub) const override {
    return HelpEntry(sub->get_display_name(), sub->get_description(), kOptionColumn,
                     kHelpColumns - 1);
  }
  // A flag or a positional shows its name alone; an option its value's name, which is the
  // type name before any validator's.
  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_type_size() == 0 || !option->nonpositional()) return "";
    const std::string type = option->get_type_name();
    return " " + type.substr(0, type.find(':'));
  }
  std::string make_option_desc(const CLI::Option* option) const override {
    const std::string required =
        option->get_required() && option->nonpositional() ? "Required. " : "";
    return WrapWords(required + option->get_description(), kHelpColumns - 1 - kOptionColumn);
  }
};

}  // namespace

void UsePlainHelp(CLI::App& app) {
  app.formatter(std::make_shared<PlainHelp>());
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

int RunSceneCommand(const std::string& scenePath, const std::function<void()>& work) {
  return RunCommand(scenePath, [&] {
    if (!IsRegularFile(scenePath)) throw CannotOpenFile(scenePath);
    work();
  });
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

void WriteViewPng(const std::string& path, int width, int height,
                  const std::vector<uint8_t>& rgba) {
  const std::vector<uint8_t> png = EncodeViewPng(width, height, rgba);
  WriteWholeFile(path, png.data(), png.size());
}

void WritePngFile(const std::string& path, int width, int height, int channels,
                  const uint8_t* pixels, bool bottomRowFirst) {
  const std::vector<uint8_t> png = EncodePng(width, height, channels, pixels, bottomRowFirst);
  WriteWholeFile(path, png.data(), png.size());
}
