// quadscene export: a scene as the viewer draws it, to glTF 2.0 (.glb, .gltf), OBJ, or the
// JSON or binary form that quadview's Blender add-on reads.
#include <chrono>
#include <cstdio>
#include <functional>

#include "interchange/interchange.h"
#include "render/headless_view.h"
#include "scene/file_access.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

struct ExportOptions {
  std::string scenePath;
  std::string outPath;
  ViewOptions view;
};

void RunExport(const ExportOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  HeadlessTextureLimit maxTextureSize;
  TerminalProgress progress("reading " + options.scenePath, TerminalProgress::Unit::kBytes);
  ExportRequest request;
  request.scenePath = options.scenePath;
  request.outPath = options.outPath;
  request.camera = options.view.camera;
  request.width = options.view.width;
  request.height = options.view.height;
  request.maxTextureSize = std::ref(maxTextureSize);
  const ExportSummary scene = ExportSceneFile(request, progress);
  if (scene.leftOut > 0) {
    const bool one = scene.leftOut == 1;
    std::fprintf(stderr,
                 "%s: warning: %s with a non-finite value %s left out of the geometry; the "
                 "quadview data keeps %s\n",
                 options.outPath.c_str(), Counted(scene.leftOut, "record").c_str(),
                 one ? "is" : "are", one ? "it" : "them");
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %s, %s, %.3f s\n", options.outPath.c_str(),
              Counted(scene.records, "record").c_str(), Counted(scene.images, "image").c_str(),
              seconds);
}

}  // namespace

void RegisterExportCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "export",
      "Write a scene as the viewer draws it as glTF 2.0 (.glb, or .gltf with .bin and PNGs "
      "beside it), OBJ (with .mtl and PNGs), JSON (every record as it is, quads kept, with "
      "PNGs) or its binary twin .qvb (what quadview's Blender add-on reads), in the file's "
      "right-handed +y-up frame, with the camera (glTF, JSON, .qvb) and quadview's data so that "
      "import restores it exactly");
  static ExportOptions options;
  command->add_option("FILE", options.scenePath, "Quad-list file; its texture folder beside it")
      ->required();
  command
      ->add_option("-o,--output", options.outPath,
                   "OUT.glb, OUT.gltf, OUT.obj, OUT.json or OUT.qvb")
      ->type_name("OUT")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) {
            const std::string extension = LowerExtension(text);
            std::string endings;
            for (size_t i = 0; i < kExportExtensions.size(); ++i) {
              if (kExportExtensions[i] == extension) return std::string();
              endings += (i == 0                              ? ""
                          : i + 1 == kExportExtensions.size() ? " or "
                                                              : ", ") +
                         kExportExtensions[i];
            }
            return "expected a file name ending in " + endings;
          },
          "OUT"));
  AddViewOptions(command, options.view);
  AddAsOption(command);
  AddQuietOption(command);
  AddProgressFdOption(command);
  command->callback([&exitStatus]() {
    exitStatus = RunSceneCommand(options.scenePath, [] { RunExport(options); });
  });
}
