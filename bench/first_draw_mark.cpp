// Preloaded into the viewer by viewer_probe: notes on stderr, once, the moment of the first
// glBegin. The viewer calls glBegin only to draw quads, and draws no quad before its load has
// returned, so that moment is the end of the load and the start of the first frame, whatever
// the first frame then costs the GL driver. The time is CLOCK_MONOTONIC, the probe's clock.
#include <GL/gl.h>
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

extern "C" void glBegin(GLenum mode) {
  using BeginFunction = void (*)(GLenum);
  static const auto next = reinterpret_cast<BeginFunction>(dlsym(RTLD_NEXT, "glBegin"));
  static bool marked = false;
  if (!marked) {
    marked = true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[64];
    const int length = std::snprintf(line, sizeof line, "first-draw %lld.%09ld\n",
                                     static_cast<long long>(now.tv_sec), now.tv_nsec);
    if (length > 0 && write(STDERR_FILENO, line, static_cast<size_t>(length)) < 0) {
      // Nothing to do: the probe then reports the mark as missing.
    }
  }
  if (next != nullptr) next(mode);
}
