// quadscene render: loads a scene as the viewer does (LoadSceneLikeTheViewer), draws it
// with the frame renderer into a headless EGL surface and writes an RGB PNG. With --frames
// it also times the frames and prints the median.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "render/frame_renderer.h"
#include "render/headless_surface.h"
#include "render/headless_view.h"
#include "render/texture_set.h"
#include "scene/quad_list_reading.h"
#include "scene/scene_check.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr int64_t kMaxFrames = 1000000;

struct RenderOptions {
  std::string scenePath;
  std::string pngPath;
  ViewOptions view;
  int64_t frames = 0;
};

// The progress line of the quad list's read alone: it starts when the read announces the
// file's size, so the texture set loaded before counts neither towards the half second the
// line waits nor towards the rate it shows.
class ReadProgressLine : public QuadListProgress {
 public:
  explicit ReadProgressLine(std::string what) : what_(std::move(what)) {}
  void SetProgressMax(int32_t blocks) override {
    if (!line_) line_.emplace(what_, TerminalProgress::Unit::kBytes);
    line_->SetProgressMax(blocks);
  }
  void SetProgressPosition(int32_t blocks) override {
    if (line_) line_->SetProgressPosition(blocks);
  }
  void ProcessPendingMessages() override {
    if (line_) line_->ProcessPendingMessages();
  }

 private:
  std::string what_;
  std::optional<TerminalProgress> line_;
};

double MedianMilliseconds(std::vector<double> frameTimes) {
  std::sort(frameTimes.begin(), frameTimes.end());
  const size_t middle = frameTimes.size() / 2;
  if (frameTimes.size() % 2 == 1) return frameTimes[middle];
  return (frameTimes[middle - 1] + frameTimes[middle]) / 2.0;
}

void RunRender(const RenderOptions& options) {
  const int width = options.view.width, height = options.view.height;
  const HeadlessView view(width, height);
  TextureTable textures{};
  QuadTable quads;
  ReadProgressLine progress("reading " + options.scenePath);
  LoadSceneLikeTheViewer(options.scenePath, textures, quads, progress);
  WarnOfUnreadTextureNumbers(options.scenePath);
  const CameraState camera = ViewCamera(options.view, quads);

  const int64_t frameCount = std::max<int64_t>(options.frames, 1);
  std::vector<double> frameTimes;
  frameTimes.reserve(static_cast<size_t>(frameCount));
  for (int64_t frame = 0; frame < frameCount; ++frame) {
    const auto start = std::chrono::steady_clock::now();
    RenderFrame(camera, quads, textures);
    FinishHeadlessFrame();
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    frameTimes.push_back(elapsed.count());
  }
  if (options.frames > 0) {
    const double median = MedianMilliseconds(frameTimes);
    std::printf("%s, %s: median frame time %.3f ms, %.1f frames per second\n",
                Counted(quads.count, "quad").c_str(), Counted(options.frames, "frame").c_str(),
                median, kMillisecondsPerSecond / median);
  }
  WriteViewPng(options.pngPath, width, height, ReadHeadlessPixels());
}
}  // namespace

void RegisterRenderCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "render",
      "Draw one frame of a scene as the viewer would, without a display, and save it as PNG");
  static RenderOptions options;
  command->add_option("FILE", options.scenePath, "Quad-list file; its texture folder beside it")
      ->required();
  command->add_option("-o,--output", options.pngPath, "PNG file to write (RGB)")
      ->required()
      ->type_name("OUT.png");
  AddViewOptions(command, options.view);
  AddFitOption(command, options.view);
  AddAsOption(command);
  AddQuietOption(command);
  AddWholeNumberOption(command, "--frames", options.frames, 1, kMaxFrames,
                       "Draw N frames, waiting for each, and print the median frame time");
  command->callback([&exitStatus]() {
    exitStatus = RunSceneCommand(options.scenePath, [] { RunRender(options); });
  });
}
