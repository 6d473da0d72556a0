// Watches a quadview process from outside: starts it on a scene, then polls the screen's pixels
// for the progress bar gone and its first frame shown (the view no longer black), and reads its
// title ticks. Its first frame shows only once the GL driver has drawn it, which for a large
// scene takes several steady frames' time (the driver's first use of its buffers); so the
// process also runs with first_draw_mark preloaded, which notes when the first frame starts,
// that is, when the load has returned. Prints the times from the start of the process.
// For bench/viewer_startup.sh; needs DISPLAY. Uses the window tests' X client.
// Usage: viewer_probe VIEWER SCENE [TITLE_TICKS]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "tests/x_test_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollStep = std::chrono::milliseconds(5);  // light enough not to slow the viewer
constexpr auto kTimeout = std::chrono::seconds(60);
// The bar's white trough or its blue fill.
bool IsBar(const Rgb& p) {
  return IsWhite(p) || IsBarFill(p);
}

bool IsBlack(const Rgb& p) {
  return p.r < 8 && p.g < 8 && p.b < 8;
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The mark's CLOCK_MONOTONIC seconds, which steady_clock also counts, as seconds from start.
double MarkSince(Clock::time_point start, const std::string& stderrText) {
  const size_t at = stderrText.find("first-draw ");
  if (at == std::string::npos) return -1;
  double mark = 0;
  std::istringstream(stderrText.substr(at + 11)) >> mark;
  return mark - std::chrono::duration<double>(start.time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: viewer_probe VIEWER SCENE [TITLE_TICKS]\n");
    return 2;
  }
  const int titleTicks = argc > 3 ? std::atoi(argv[3]) : 0;
  const char* displayName = std::getenv("DISPLAY");
  XClient client(displayName != nullptr ? displayName : "", false);
  if (!client.Connected()) {
    std::fprintf(stderr, "viewer_probe: no display\n");
    return 1;
  }
  char stderrPath[] = "/tmp/viewer_probe_XXXXXX";
  const int stderrFile = mkstemp(stderrPath);
  if (stderrFile < 0) {
    std::perror("viewer_probe");
    return 1;
  }
  close(stderrFile);
  const Clock::time_point start = Clock::now();
  ChildProcess viewer({argv[1], argv[2]}, {std::string("LD_PRELOAD=") + FIRST_DRAW_MARK},
                      stderrPath);
  const Clock::time_point deadline = start + kTimeout;
  Window window = 0;
  bool barSeen = false;
  double loaded = -1, firstFrame = -1;
  while (Clock::now() < deadline && (loaded < 0 || firstFrame < 0)) {
    if (window == 0) {
      const auto found = client.FindWindows(
          [](const std::string& title) { return title.rfind("OpenGL", 0) == 0; });
      if (!found.empty()) window = found.front();
    }
    if (window != 0) {
      const WindowRect rect = client.Rect(window);
      const bool bar =
          IsBar(client.RootPixel(rect.x + kBarLeft + 2, rect.y + kBarTop + kBarHeight / 2));
      if (bar) barSeen = true;
      if (barSeen && !bar && loaded < 0) loaded = Since(start);
      for (int x : {kPanelWidth / 4, kPanelWidth / 2, 3 * kPanelWidth / 4}) {
        for (int y : {kPanelHeight / 4, 3 * kPanelHeight / 4}) {
          // The scene is drawn only once the load has ended; before that the view shows black
          // or whatever the server left in it.
          if (loaded >= 0 && firstFrame < 0 &&
              !IsBlack(client.RootPixel(rect.x + kPanelLeft + x, rect.y + kPanelTop + y))) {
            firstFrame = Since(start);
          }
        }
      }
    }
    std::this_thread::sleep_for(kPollStep);
  }
  const double firstDraw = MarkSince(start, viewer.StderrText());
  std::printf("loaded %.3f first-frame %.3f first-draw %.3f\n", loaded, firstFrame, firstDraw);
  std::string last = client.Title(window);
  for (int ticks = 0; ticks < titleTicks && Clock::now() < deadline + kTimeout;) {
    const std::string title = client.Title(window);
    if (title != last) {
      last = title;
      ++ticks;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (titleTicks > 0) std::printf("title %s\n", last.c_str());
  if (window != 0) client.RequestClose(window);
  int status = 0;
  viewer.WaitForExit(std::chrono::seconds(10), status);
  unlink(stderrPath);
  return loaded >= 0 && firstFrame >= 0 && firstDraw >= 0 ? 0 : 1;
}
