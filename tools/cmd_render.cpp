// quadscene render: loads a scene as the viewer does, draws it with the frame renderer into a
// headless EGL surface and writes an RGB PNG (stb_image_write from Debian's libstb).
// With --frames it also times the frames and prints the median.
#include <stb/stb_image_write.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "render/frame_renderer.h"
#include "render/headless_surface.h"
#include "render/texture_set.h"
#include "render/view_setup.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "tools/commands.h"

namespace {
// The viewer's view panel at its stored size.
constexpr int kDefaultViewWidth = 535;
constexpr int kDefaultViewHeight = 326;
constexpr int kMaxViewSidePixels = 16384;
constexpr int kRgbBytesPerPixel = 3;
constexpr int kRgbaBytesPerPixel = 4;
constexpr double kMillisecondsPerSecond = 1000.0;

struct RenderOptions {
  std::string scenePath;
  std::string pngPath;
  std::string size = std::to_string(kDefaultViewWidth) + "x" + std::to_string(kDefaultViewHeight);
  std::pair<float, float> pan{kStartPanX, kStartPanY};
  float distance = kStartDistance;
  float tilt = 0.0f;
  float spin = 0.0f;
  int frames = 0;
};

// "WxH" with both sides 1 to kMaxViewSidePixels; false for anything else.
bool ParseSize(const std::string& text, int& width, int& height) {
  char trailing = 0;
  if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &trailing) != 2) return false;
  return width >= 1 && height >= 1 && width <= kMaxViewSidePixels && height <= kMaxViewSidePixels;
}

// Releases the headless surface on every way out of the command.
struct SurfaceGuard {
  ~SurfaceGuard() { DestroyHeadlessSurface(); }
};

double MedianMilliseconds(std::vector<double> frameTimes) {
  std::sort(frameTimes.begin(), frameTimes.end());
  const size_t middle = frameTimes.size() / 2;
  if (frameTimes.size() % 2 == 1) return frameTimes[middle];
  return (frameTimes[middle - 1] + frameTimes[middle]) / 2.0;
}

// The window shows no alpha (the cleared alpha is 0), so the picture is stored as RGB.
bool WriteRgbPng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * kRgbBytesPerPixel);
  for (size_t pixel = 0; pixel < rgb.size() / kRgbBytesPerPixel; ++pixel) {
    for (int channel = 0; channel < kRgbBytesPerPixel; ++channel) {
      rgb[pixel * kRgbBytesPerPixel + channel] = rgba[pixel * kRgbaBytesPerPixel + channel];
    }
  }
  return stbi_write_png(path.c_str(), width, height, kRgbBytesPerPixel, rgb.data(),
                        width * kRgbBytesPerPixel) != 0;
}

int RunRender(const RenderOptions& options) {
  int width = 0;
  int height = 0;
  ParseSize(options.size, width, height);  // checked by the parser already
  SurfaceGuard guard;
  try {
    CreateHeadlessSurface(width, height);
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return kExitBadFile;
  }
  InitGLState();
  ResizeView(width, height);
  TextureTable textures{};
  QuadTable quads;
  try {
    // The viewer's scene load order: the texture set first, then the quads.
    LoadTextureSet(options.scenePath, textures);
    NoProgress progress;
    ReadQuadList(options.scenePath, quads, progress);
  } catch (const SceneError& error) {
    std::fprintf(stderr, "%s\n", FormatDiagnostic(error).c_str());
    return kExitBadFile;
  }
  CameraState camera;
  camera.panX = options.pan.first;
  camera.panY = options.pan.second;
  camera.distance = options.distance;
  camera.tilt = options.tilt;
  camera.spin = options.spin;

  const int frameCount = std::max(options.frames, 1);
  std::vector<double> frameTimes;
  frameTimes.reserve(static_cast<size_t>(frameCount));
  for (int frame = 0; frame < frameCount; ++frame) {
    const auto start = std::chrono::steady_clock::now();
    RenderFrame(camera, quads, textures);
    FinishHeadlessFrame();
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    frameTimes.push_back(elapsed.count());
  }
  if (options.frames > 0) {
    const double median = MedianMilliseconds(frameTimes);
    std::printf("%d quads, %d frames: median frame time %.3f ms, %.1f frames per second\n",
                quads.count, options.frames, median, kMillisecondsPerSecond / median);
  }
  if (!WriteRgbPng(options.pngPath, width, height, ReadHeadlessPixels())) {
    std::fprintf(stderr, "Cannot write %s\n", options.pngPath.c_str());
    return kExitBadFile;
  }
  return kExitOk;
}
}  // namespace

void RegisterRenderCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "render",
      "Draw one frame of a scene as the viewer would, without a display, and save it as PNG");
  static RenderOptions options;
  command->add_option("FILE", options.scenePath, "Quad-list file; its texture folder beside it")
      ->required();
  command->add_option("-o,--output", options.pngPath, "PNG file to write (RGB)")->required();
  command->add_option("--size", options.size, "Drawable size in pixels (default: the view panel's)")
      ->check(CLI::Validator(
          [](std::string& text) {
            int width = 0;
            int height = 0;
            return ParseSize(text, width, height)
                       ? std::string()
                       : "expected WxH, each side 1 to " + std::to_string(kMaxViewSidePixels);
          },
          "WxH"))
      ->capture_default_str();
  command->add_option("--pan", options.pan, "Camera panX panY (default 0.01 0)");
  command->add_option("--distance", options.distance, "Camera distance (default -2.48)");
  command->add_option("--tilt", options.tilt, "Degrees about x (default 0)");
  command->add_option("--spin", options.spin, "Degrees about z (default 0)");
  command
      ->add_option("--frames", options.frames,
                   "Draw N frames, waiting for each, and print the median frame time")
      ->check(CLI::Range(1, 1000000));
  command->callback([&exitStatus]() { exitStatus = RunRender(options); });
}
