// quadscene import: a 3D model (any format Assimp reads, or quadview's own export) into a
// quad-list file and its texture folder.
#include <chrono>
#include <cstdio>
#include <optional>

#include "interchange/interchange.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

struct ImportCommand {
  ImportRequest request;
  std::string order = "auto";
  bool verbose = false;
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
  ImportRequest request = options.request;
  const std::string& inPath = request.modelPath;
  // What the reader writes on its stderr (a library's complaint before it aborts): with
  // --verbose, so that a failure stays one line without it.
  if (options.verbose) {
    request.model.readerSaid = [&inPath](const std::string& line) {
      std::fprintf(stderr, "%s: the model reader said: %s\n", Printable(inPath).c_str(),
                   Printable(line).c_str());
    };
  }
  request.order = options.order == "far-first" ? RecordOrder::kFarFirst
                  : options.order == "file"    ? RecordOrder::kFile
                                               : RecordOrder::kAuto;
  // The writing's progress line starts once the model is read.
  std::optional<TerminalProgress> progress;
  request.modelRead = [&](const ImportSummary& read) {
    if (options.verbose) std::printf("model reader: %s\n", Printable(read.containment).c_str());
    progress.emplace("writing " + request.outPath, TerminalProgress::Unit::kRecords);
  };
  request.recordsWritten = [&progress](int64_t done, int64_t total) {
    progress->SetTotal(total);
    progress->SetDone(done);
  };
  const ImportSummary scene = ImportModel(request);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%s: %s (%s, %s, %s as %s), %s, %.3f s (%s)\n", request.outPath.c_str(),
      Counted(scene.recordCount, "record").c_str(), Counted(scene.quads, "quad").c_str(),
      Counted(scene.triangles, "triangle").c_str(), Counted(scene.polygons, "polygon").c_str(),
      Counted(scene.polygonTriangles, "triangle").c_str(), Counted(scene.images, "texture").c_str(),
      seconds, WhatWasRead(scene.kind, request.order).c_str());
  if (scene.points > 0 || scene.lines > 0) {
    std::printf("skipped: %s, %s\n", Counted(scene.points, "point").c_str(),
                Counted(scene.lines, "line").c_str());
  }
  for (const std::string& warning : scene.warnings) {
    std::fprintf(stderr, "%s: warning: %s\n", Printable(inPath).c_str(),
                 Printable(warning).c_str());
  }
}

}  // namespace

void RegisterImportCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "import",
      "Turn a 3D model (glTF, OBJ, FBX, COLLADA, 3DS, PLY, STL and every other format Assimp "
      "reads) into a quad-list file and its texture folder; a quadview export (glTF, OBJ, "
      "JSON, .qvb) comes back exactly");
  static ImportCommand options;
  command->add_option("IN", options.request.modelPath, "Model file")->required();
  command
      ->add_option("-o,--output", options.request.outPath,
                   TextureNumberFileNames() + ", or any name with --as")
      ->required()
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
  command->add_flag("--force", options.request.force, "Overwrite an existing scene and its images");
  command
      ->add_option("--images-like", options.request.imagesLike,
                   "A scene whose image files are kept, byte for byte, for each image that is "
                   "texel for texel what the viewer draws for the same slot of it (a scene "
                   "edited elsewhere and saved back keeps the files nobody changed)")
      ->check(CLI::ExistingFile)
      ->type_name("SCENE.map");
  command->add_flag(
      "--verbose", options.verbose,
      "Say the model reader's limits and which layers of its confinement held, and show what "
      "it writes on its stderr");
  command
      ->add_option("--textures-from", options.request.model.textureFolders,
                   "A folder besides the model's own that it may read textures and other files "
                   "from, with its subfolders (an asset pack's Textures/ beside its Models/); "
                   "may be given more than once")
      ->check(CLI::ExistingDirectory)
      ->type_name("DIR");
  AddAsOption(command);
  AddQuietOption(command);
  AddProgressFdOption(command);
  command->callback([&exitStatus]() {
    // Checked once --as is known: it lets any name hold texture numbers.
    int32_t offset = 0;
    if (!TextureNumberOffset(options.request.outPath, offset)) {
      throw CLI::ValidationError("--output", "must be named " + TextureNumberFileNames() +
                                                 ": only those names have their texture numbers "
                                                 "read");
    }
    exitStatus = RunCommand(options.request.modelPath, [] { RunImport(options); });
  });
}
