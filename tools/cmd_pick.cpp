// quadscene pick: which record the viewer draws at a pixel of its view, found by drawing the
// scene with the same view and transform in colours that encode the records' indices.
#include <cstdio>
#include <vector>

#include "render/headless_view.h"
#include "render/record_picker.h"
#include "scene/quad_list.h"
#include "scene/record_place.h"
#include "scene/scene_error.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

struct PickOptions {
  std::string scenePath;
  int64_t x = 0;
  int64_t y = 0;
  ViewOptions view;
  bool all = false;
};

void RunPick(const PickOptions& options) {
  QuadTable quads;
  TerminalProgress progress("reading " + options.scenePath, TerminalProgress::Unit::kBytes);
  ReadQuadList(options.scenePath, quads, progress);
  const HeadlessView view(options.view.width, options.view.height);
  const std::vector<int32_t> records =
      RecordsAtPixel(ViewCamera(options.view, quads), quads, options.view.height,
                     static_cast<int>(options.x), static_cast<int>(options.y), options.all);
  if (records.empty()) {
    std::printf("nothing is drawn at %lld %lld\n", static_cast<long long>(options.x),
                static_cast<long long>(options.y));
    return;
  }
  const int images = CountTextureImages(options.scenePath);
  for (const int32_t index : records) {
    const QuadRecord& record = quads.records[static_cast<size_t>(index)];
    std::printf("%s\n", Printable(RecordLine(options.scenePath, index, record, images)).c_str());
  }
}

}  // namespace

void RegisterPickCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "pick",
      "Say which record the viewer draws at pixel X Y of its view (origin top-left, as the "
      "window shows it) for the camera its title shows, in the line the viewer prints for a "
      "click: FILE:LINE: record N (from 1), slot and image, blend, winding. A record counts "
      "where its quad covers the pixel, even where its texels there are fully transparent");
  static PickOptions options;
  command->add_option("FILE", options.scenePath, "Quad-list file")->required();
  AddWholeNumberOption(command, "X", options.x, 0, kMaxViewSidePixels - 1, "Pixel column");
  AddWholeNumberOption(command, "Y", options.y, 0, kMaxViewSidePixels - 1, "Pixel row");
  command->get_option("X")->required();
  command->get_option("Y")->required();
  AddViewOptions(command, options.view);
  AddFitOption(command, options.view);
  AddAsOption(command);
  AddQuietOption(command);
  command->add_flag("--all", options.all,
                    "List every record covering the pixel, in drawing order, the top one last");
  command->callback([&exitStatus]() {
    if (options.x >= options.view.width || options.y >= options.view.height) {
      throw CLI::ValidationError(
          "X Y", "expected a pixel of the " + std::to_string(options.view.width) + "x" +
                     std::to_string(options.view.height) + " view: X from 0 to " +
                     std::to_string(options.view.width - 1) + ", Y from 0 to " +
                     std::to_string(options.view.height - 1));
    }
    exitStatus = RunSceneCommand(options.scenePath, [] { RunPick(options); });
  });
}
