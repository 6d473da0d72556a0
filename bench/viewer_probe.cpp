// Watches a quadview process from outside, through X only: starts it on a scene, then polls
// the screen's pixels for the end of its load (the progress bar gone) and its first frame
// (the view no longer black), and reads its title ticks. Prints the times from the start of
// the process. For bench/viewer_startup.sh; needs DISPLAY.
// Usage: viewer_probe VIEWER SCENE [TITLE_TICKS]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollStep = std::chrono::microseconds(500);
constexpr auto kTimeout = std::chrono::seconds(60);
// The view panel and the bar in the window, from its layout.
constexpr int kPanelLeft = 2, kPanelTop = 3, kPanelWidth = 535, kPanelHeight = 326;
constexpr int kBarLeft = 4, kBarTop = 158, kBarHeight = 16;

struct Rgb {
  int r = 0, g = 0, b = 0;
};

Window FindNamed(Display* display, Window parent, const char* prefix) {
  Window rootReturn = 0, parentReturn = 0;
  Window* children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(display, parent, &rootReturn, &parentReturn, &children, &count) == 0) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
      if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) found = children[i];
      XFree(name);
    } else {
      found = FindNamed(display, children[i], prefix);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

std::string Title(Display* display, Window window) {
  char* name = nullptr;
  std::string title;
  if (XFetchName(display, window, &name) != 0 && name != nullptr) {
    title = name;
    XFree(name);
  }
  return title;
}

Rgb Pixel(Display* display, Window window, int x, int y) {
  Rgb rgb;
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return rgb;
  const unsigned long pixel = XGetPixel(image, 0, 0);
  rgb.r = static_cast<int>((pixel & image->red_mask) >> 16);
  rgb.g = static_cast<int>((pixel & image->green_mask) >> 8);
  rgb.b = static_cast<int>(pixel & image->blue_mask);
  XDestroyImage(image);
  return rgb;
}

// The bar's white trough or its blue fill.
bool IsBar(const Rgb& p) {
  const bool trough = p.r > 230 && p.g > 230 && p.b > 230;
  const bool fill = p.b > 80 && p.r < 60 && p.g < 60;
  return trough || fill;
}

bool IsBlack(const Rgb& p) {
  return p.r < 8 && p.g < 8 && p.b < 8;
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: viewer_probe VIEWER SCENE [TITLE_TICKS]\n");
    return 2;
  }
  const int titleTicks = argc > 3 ? std::atoi(argv[3]) : 0;
  XSetErrorHandler(IgnoreXError);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "viewer_probe: no display\n");
    return 1;
  }
  const Clock::time_point start = Clock::now();
  const pid_t viewer = fork();
  if (viewer == 0) {
    execl(argv[1], argv[1], argv[2], static_cast<char*>(nullptr));
    _exit(127);
  }
  const Clock::time_point deadline = start + kTimeout;
  Window window = 0;
  bool barSeen = false;
  double loaded = -1, firstFrame = -1;
  while (Clock::now() < deadline && (loaded < 0 || firstFrame < 0)) {
    if (window == 0) window = FindNamed(display, DefaultRootWindow(display), "OpenGL");
    if (window != 0) {
      const bool bar = IsBar(Pixel(display, window, kBarLeft + 2, kBarTop + kBarHeight / 2));
      if (bar) barSeen = true;
      if (barSeen && !bar && loaded < 0) loaded = Since(start);
      if (firstFrame < 0) {
        const int xs[] = {kPanelWidth / 4, kPanelWidth / 2, 3 * kPanelWidth / 4};
        const int ys[] = {kPanelHeight / 4, 3 * kPanelHeight / 4};
        for (int x : xs) {
          for (int y : ys) {
            if (!IsBlack(Pixel(display, window, kPanelLeft + x, kPanelTop + y))) {
              firstFrame = Since(start);
            }
          }
        }
      }
    }
    std::this_thread::sleep_for(kPollStep);
  }
  std::printf("loaded %.3f first-frame %.3f\n", loaded, firstFrame);
  std::string last = Title(display, window);
  for (int ticks = 0; ticks < titleTicks && Clock::now() < deadline + kTimeout;) {
    const std::string title = Title(display, window);
    if (title != last) {
      last = title;
      ++ticks;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (titleTicks > 0) std::printf("title %s\n", last.c_str());
  kill(viewer, SIGTERM);
  int status = 0;
  waitpid(viewer, &status, 0);
  XCloseDisplay(display);
  return loaded >= 0 && firstFrame >= 0 ? 0 : 1;
}
