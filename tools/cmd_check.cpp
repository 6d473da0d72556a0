// quadscene check: the findings of scene/scene_check.h on a scene, each as
// "FILE:LINE: warning: ..." or "IMAGE: warning: ...", then a summary.
#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include "render/headless_view.h"
#include "scene/file_access.h"
#include "scene/quad_list.h"
#include "scene/record_place.h"
#include "scene/scene_check.h"
#include "scene/scene_error.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

constexpr int kExitWarnings = 3;

struct CheckOptions {
  std::string scenePath;
  bool strict = false;
};

class Warnings {
 public:
  void Add(const std::string& where, const std::string& what) {
    std::printf("%s: warning: %s\n", Printable(where).c_str(), Printable(what).c_str());
    ++count_;
  }
  int Count() const { return count_; }

 private:
  int count_ = 0;
};

int RunCheck(const CheckOptions& options) {
  Warnings warnings;
  TextureSetCheck images;
  QuadTable table;
  const int status = RunSceneCommand(options.scenePath, [&] {
    // Everything that can be checked is, as info does: a texture set that fails to load does
    // not hide what the quad list holds, nor a failure further on in it.
    std::exception_ptr textureFailure;
    try {
      HeadlessTextureLimit maxTextureSize;
      CheckTextureSet(options.scenePath, std::ref(maxTextureSize), images);
    } catch (const SceneError&) {
      textureFailure = std::current_exception();
    }
    for (const ImageFinding& finding : images.findings) warnings.Add(finding.image, finding.what);
    if (textureFailure && !IsRegularFile(options.scenePath)) {
      std::rethrow_exception(textureFailure);  // nothing else to check
    }
    std::exception_ptr readFailure;
    TerminalProgress progress("reading " + options.scenePath, TerminalProgress::Unit::kBytes);
    try {
      ReadQuadList(options.scenePath, table, progress);
    } catch (const SceneError&) {
      readFailure = std::current_exception();
    }
    for (const RecordFinding& finding :
         CheckRecords(options.scenePath, table, textureFailure ? nullptr : &images.textured)) {
      warnings.Add(options.scenePath + ":" + std::to_string(HeaderLine(finding.firstRecord)),
                   Counted(finding.count, "record") + ", the first here: " + finding.what);
    }
    RaiseFailures(readFailure, textureFailure);
    std::printf(
        "%s: %s, %s, %s\n", options.scenePath.c_str(), Counted(table.count, "record").c_str(),
        Counted(static_cast<int64_t>(images.textured.size()), "image").c_str(),
        warnings.Count() == 0 ? "no warnings" : Counted(warnings.Count(), "warning").c_str());
  });
  if (status != kExitOk) return status;
  return options.strict && warnings.Count() > 0 ? kExitWarnings : kExitOk;
}

}  // namespace

void RegisterCheckCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "check",
      "List everything in a scene that will not show as its author meant (slots without an "
      "image, images GL will not take, kinds older readers reject, sizes OpenGL 1.1 rejects, "
      "cut-short data, infinite or degenerate or non-planar quads, blend values other than 0 "
      "and 1, texture numbers a file's name does not read, gaps in the texture numbering). "
      "Exit status 0 when the scene loads, 1 when it does not, 3 with --strict and warnings");
  static CheckOptions options;
  command->add_option("FILE", options.scenePath, "Quad-list file")->required();
  command->add_flag("--strict", options.strict, "Exit with status 3 when there are warnings");
  AddAsOption(command);
  AddQuietOption(command);
  command->callback([&exitStatus]() { exitStatus = RunCheck(options); });
}
