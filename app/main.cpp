// quadview: opens the viewer window on the quad-list file named on the command line. Options
// set the start camera (the values quadscene render takes) and --watch reloads the scene when
// its files change; "--" ends the options, and the first other argument is the scene's path.
// The display is opened here, once, and handed to the toolkit, so that a machine without one
// gets a plain sentence instead of the toolkit's abort.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main_window.h"
#include "app/title.h"
#include "render/frame_renderer.h"
#include "scene/command_line.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"

namespace {

constexpr int kExitNoDisplay = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = "quadview [OPTIONS] [--] [FILE.map]";

// An option's entry in the help: the descriptions start at this column, within 79.
std::string HelpLine(const std::string& option, const std::string& description) {
  constexpr size_t kDescriptionColumn = 18;
  constexpr size_t kColumns = 79;
  return HelpEntry(option, description, kDescriptionColumn, kColumns);
}

void PrintHelp() {
  const std::string help =
      std::string("Usage: ") + kUsage +
      "\n"
      "Opens the quad-list scene FILE.map, with its textures FILE/000.tga, 001.tga, ..., in a\n"
      "window and draws it with OpenGL. The title shows the frame rate and the camera once a\n"
      "second. Needs a graphical session (DISPLAY); quadscene inspects, checks, converts and\n"
      "renders scenes without one.\n"
      "\n"
      "Options:\n" +
      HelpLine("--watch",
               "Reload the scene when its quad list or a texture has changed and "
               "its files have been still for a moment") +
      HelpLine("--pan X Y", kPanHelp) + HelpLine("--distance D", kDistanceHelp) +
      HelpLine("--tilt T", kTiltHelp) + HelpLine("--spin S", kSpinHelp) +
      HelpLine("--fit",
               "Once loaded, move the pan and the distance so that the whole scene is in view "
               "(as f does)") +
      HelpLine("--as NAME", "Read the texture numbers as a file named NAME (" +
                                TextureNumberFileNames() +
                                ") reads them, whatever the file's own name") +
      HelpLine("--record N", "Once loaded, go to record N (from 1) and pick it (as g does)") +
      HelpLine("--", "End of the options: the next argument is the file") +
      HelpLine("--help", "Print this help and exit") +
      HelpLine("--version", "Print the version and exit") + "\n" + ControlsText();
  std::fputs(help.c_str(), stdout);
}

// One line for a command line the viewer cannot take; exit status 2.
int UsageError(const std::string& why) {
  std::fprintf(stderr, "quadview: %s; usage: %s\n", Printable(why).c_str(), kUsage);
  return kExitUsage;
}

// The camera options' values, or the reason one is refused.
bool TakeFloat(int argc, char** argv, int& index, const std::string& option, float& value,
               std::string& why) {
  if (index + 1 >= argc || !ParseOptionFloat(argv[index + 1], value)) {
    why = option + ": " + kOptionFloatRange;
    return false;
  }
  index += 1;
  return true;
}

// The display named by DISPLAY, or nullptr after saying why on stderr.
Display* OpenDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    std::fprintf(stderr, "quadview: DISPLAY is not set; quadview needs a graphical session\n");
    return nullptr;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "quadview: cannot open the display \"%s\"\n", Printable(name).c_str());
  }
  return display;
}

}  // namespace

int main(int argc, char** argv) {
  ViewerOptions options;
  if (argc > 0) options.programPath = argv[0];
  bool optionsEnded = false;
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    std::string why;
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      // The first file is the scene; further arguments are ignored.
      if (options.scenePath == nullptr) options.scenePath = argv[index];
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help") {
      PrintHelp();
      return std::fflush(stdout) == 0 ? 0 : 1;
    } else if (argument == "--version") {
      std::printf("quadview %s\n", QUADVIEW_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    } else if (argument == "--watch") {
      options.watch = true;
    } else if (argument == "--as") {
      if (index + 1 >= argc || !ReadTextureNumbersAs(argv[index + 1])) {
        return UsageError("--as: expected " + TextureNumberFileNames());
      }
      index += 1;
    } else if (argument == "--fit") {
      options.fit = true;
    } else if (argument == "--record") {
      if (index + 1 >= argc || !ParseOptionWhole(argv[index + 1], options.record) ||
          options.record < 1) {
        return UsageError("--record: expected a record number from 1");
      }
      index += 1;
    } else if (argument == "--pan") {
      if (!TakeFloat(argc, argv, index, argument, options.camera.panX, why) ||
          !TakeFloat(argc, argv, index, argument, options.camera.panY, why)) {
        return UsageError(why);
      }
    } else if (argument == "--distance") {
      if (!TakeFloat(argc, argv, index, argument, options.camera.distance, why))
        return UsageError(why);
    } else if (argument == "--tilt") {
      if (!TakeFloat(argc, argv, index, argument, options.camera.tilt, why)) return UsageError(why);
    } else if (argument == "--spin") {
      if (!TakeFloat(argc, argv, index, argument, options.camera.spin, why)) return UsageError(why);
    } else {
      return UsageError("unknown option '" + argument + "'");
    }
  }
  Display* display = OpenDisplay();
  if (display == nullptr) return kExitNoDisplay;
  return RunViewer(display, options);
}
