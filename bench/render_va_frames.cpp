// render_va_frames: `quadscene render --frames` for the benchmark-only vertex-array path. Same
// scene load, surface and PNG, so the two pictures can be compared byte for byte.
#include <stb/stb_image_write.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "bench/vertex_array_renderer.h"
#include "render/headless_surface.h"
#include "render/texture_set.h"
#include "render/view_setup.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"

int main(int argc, char** argv) {
  CLI::App app{"Draw a scene from client-side vertex arrays and time the frames.",
               "render_va_frames"};
  std::string scenePath;
  std::string pngPath;
  int frames = 1;
  app.add_option("FILE", scenePath, "Quad-list file")->required();
  app.add_option("-o,--output", pngPath, "PNG file to write (RGB)")->required();
  app.add_option("--frames", frames, "Frames to draw")->check(CLI::Range(1, 1000000));
  CLI11_PARSE(app, argc, argv);

  try {
    CreateHeadlessSurface(kViewWidth, kViewHeight);
    InitGLState();
    ResizeView(kViewWidth, kViewHeight);
    TextureTable textures{};
    QuadTable quads;
    NoProgress progress;
    LoadSceneLikeTheViewer(scenePath, textures, quads, progress);
    const VertexArrayScene scene = BuildVertexArrayScene(quads, textures);
    const CameraState camera;
    std::vector<double> frameTimes;
    for (int frame = 0; frame < frames; ++frame) {
      const auto start = std::chrono::steady_clock::now();
      DrawVertexArrayFrame(camera, scene);
      FinishHeadlessFrame();
      frameTimes.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::sort(frameTimes.begin(), frameTimes.end());
    const double median =
        frames % 2 == 1
            ? frameTimes[frameTimes.size() / 2]
            : (frameTimes[frameTimes.size() / 2 - 1] + frameTimes[frameTimes.size() / 2]) / 2.0;
    std::printf(
        "%d quads in %zu runs, %d frames: median frame time %.3f ms, %.1f frames per "
        "second\n",
        quads.count, scene.runs.size(), frames, median, 1000.0 / median);
    const std::vector<uint8_t> rgba = ReadHeadlessPixels();
    std::vector<uint8_t> rgb;
    rgb.reserve(rgba.size() / 4 * 3);
    for (size_t i = 0; i < rgba.size(); i += 4)
      rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    DestroyHeadlessSurface();
    if (!stbi_write_png(pngPath.c_str(), kViewWidth, kViewHeight, 3, rgb.data(), kViewWidth * 3)) {
      std::fprintf(stderr, "Cannot write %s\n", pngPath.c_str());
      return 1;
    }
  } catch (const SceneError& error) {
    std::fprintf(stderr, "%s\n", FormatDiagnostic(error).c_str());
    return 1;
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
