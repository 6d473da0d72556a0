// quadview: opens the viewer window on the quad-list file named by the first argument.
// "--help" or "--version" as the only argument prints and exits without a window; any other
// argument is the scene's path ("./--help" opens a file of that name). The display is tried
// first, so that a machine without one gets a plain sentence instead of the toolkit's abort.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_window.h"

namespace {

constexpr int kExitNoDisplay = 1;

constexpr const char* kHelp =
    "Usage: quadview [FILE.map]\n"
    "Opens the quad-list scene FILE.map, with its textures FILE/000.tga, 001.tga, ..., in a\n"
    "window and draws it with OpenGL. Drag with the left button to pan, with the right button\n"
    "to turn; the wheel moves nearer or farther. The title shows the frame rate and the camera.\n"
    "Needs a graphical session (DISPLAY). quadscene inspects, checks, converts and renders\n"
    "scenes without one.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

// True when the X display named by DISPLAY can be opened; otherwise says why on stderr.
bool DisplayOpens() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    std::fprintf(stderr, "quadview: DISPLAY is not set; quadview needs a graphical session\n");
    return false;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "quadview: cannot open the display \"%s\"\n", name);
    return false;
  }
  XCloseDisplay(display);  // the toolkit opens its own connection
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quadview %s\n", QUADVIEW_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!DisplayOpens()) return kExitNoDisplay;
  return RunViewer(argc, argv);
}
