// quadscene import: a 3D model (any format Assimp reads, or quadview's own export) into a
// quad-list file and its texture folder.
#include <chrono>
#include <cstdio>

#include "interchange/interchange.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

struct ImportCommand {
  std::string inPath;
  std::string outPath;
  std::string order = "auto";
  bool force = false;
  bool verbose = false;
  ImportOptions model;
};

// "a quadview export, restored exactly": what the model was, and the order its records took.
std::string WhatWasRead(ModelKind kind, RecordOrder order) {
  const std::string model = kind == ModelKind::kOwnExport ? "a quadview export"
                            : kind == ModelKind::kTagged  ? "a model tagged by a quadview export"
                                                          : "a foreign model";
  if (order == RecordOrder::kFarFirst) return model + ", in the painter's order";
  if (kind == ModelKind::kOwnExport) return model + ", restored exactly";
  if (order == RecordOrder::kFile) return model + ", in the source's order";
  return model +
         (kind == ModelKind::kTagged ? ", re-ordered from its tags" : ", in the painter's order");
}

void RunImport(const ImportCommand& options) {
  const auto start = std::chrono::steady_clock::now();
  SceneWriter out(options.outPath, options.force, "the imported texture set");
  ImportedScene scene;
  ImportOptions model = options.model;
  // What the reader writes on its stderr (a library's complaint before it aborts): with
  // --verbose, so that a failure stays one line without it.
  if (options.verbose) {
    model.readerSaid = [&options](const std::string& line) {
      std::fprintf(stderr, "%s: the model reader said: %s\n", Printable(options.inPath).c_str(),
                   Printable(line).c_str());
    };
  }
  const ModelKind kind = ReadModel(options.inPath, model, scene, out);
  if (options.verbose) {
    std::printf("model reader: %s\n", Printable(scene.containment).c_str());
  }
  const RecordOrder order = options.order == "far-first" ? RecordOrder::kFarFirst
                            : options.order == "file"    ? RecordOrder::kFile
                                                         : RecordOrder::kAuto;
  OrderRecords(scene, kind, order);
  TerminalProgress progress("writing " + options.outPath, TerminalProgress::Unit::kRecords);
  WriteImportedScene(out, scene, [&progress](int64_t done, int64_t total) {
    progress.SetTotal(total);
    progress.SetDone(done);
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %s (%s, %s, %s as %s), %s, %.3f s (%s)\n", options.outPath.c_str(),
              Counted(scene.records.count, "record").c_str(), Counted(scene.quads, "quad").c_str(),
              Counted(scene.triangles, "triangle").c_str(),
              Counted(scene.polygons, "polygon").c_str(),
              Counted(scene.polygonTriangles, "triangle").c_str(),
              Counted(scene.images, "texture").c_str(), seconds, WhatWasRead(kind, order).c_str());
  if (scene.points > 0 || scene.lines > 0) {
    std::printf("skipped: %s, %s\n", Counted(scene.points, "point").c_str(),
                Counted(scene.lines, "line").c_str());
  }
  for (const std::string& warning : scene.warnings) {
    std::fprintf(stderr, "%s: warning: %s\n", Printable(options.inPath).c_str(),
                 Printable(warning).c_str());
  }
}

}  // namespace

void RegisterImportCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "import",
      "Turn a 3D model (glTF, OBJ, FBX, COLLADA, 3DS, PLY, STL and every other format Assimp "
      "reads) into a quad-list file and its texture folder; a quadview export comes back "
      "exactly");
  static ImportCommand options;
  command->add_option("IN", options.inPath, "Model file")->required();
  command->add_option("-o,--output", options.outPath, TextureNumberFileNames())
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) {
            int32_t offset = 0;
            return TextureNumberOffset(text, offset)
                       ? std::string()
                       : "must be named " + TextureNumberFileNames() +
                             ": only those names have their texture numbers read";
          },
          ""))
      ->type_name("OUT.map");
  command
      ->add_option("--order", options.order,
                   "auto: a quadview export's records in their exported order (also after "
                   "editing in another tool, from the tags its glTF gives every record), every "
                   "other face after them in the painter's order; far-first: every record in "
                   "the painter's order for a viewer without a depth test (opaque records first, "
                   "farthest from the start camera first, then translucent ones the same way); "
                   "file: the source's order (default auto)")
      ->check(CLI::IsMember({"auto", "far-first", "file"}))
      ->type_name("auto|far-first|file");
  command->add_flag("--force", options.force, "Overwrite an existing scene and its images");
  command->add_flag(
      "--verbose", options.verbose,
      "Say the model reader's limits and which layers of its confinement held, and show what "
      "it writes on its stderr");
  command
      ->add_option("--textures-from", options.model.textureFolders,
                   "A folder besides the model's own that it may read textures and other files "
                   "from, with its subfolders (an asset pack's Textures/ beside its Models/); "
                   "may be given more than once")
      ->check(CLI::ExistingDirectory)
      ->type_name("DIR");
  AddQuietOption(command);
  command->callback(
      [&exitStatus]() { exitStatus = RunCommand(options.inPath, [] { RunImport(options); }); });
}
