// quadscene demo: writes the demo scene into a folder.
#include <cstdio>

#include "tools/commands.h"
#include "tools/demo_scene.h"
#include "tools/terminal_progress.h"

namespace {
constexpr int64_t kMaxDemoQuads = 2147483647;  // the table counts records in an int32
}

void RegisterDemoCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "demo", "Write the demo scene (nyc.map and its texture folder nyc/) into DIR");
  static std::string dir;
  static int64_t quads = 0;
  static bool force = false;
  command->add_option("DIR", dir, "Folder to write into (created if missing)")->required();
  AddWholeNumberOption(command, "--quads", quads, 1, kMaxDemoQuads,
                       "Number of quads; counts above the street's own add a far-off city");
  command->add_flag("--force", force, "Overwrite a scene that is there already");
  AddQuietOption(command);
  command->callback([&exitStatus]() {
    exitStatus = RunCommand(DemoQuadListPath(dir), [] {
      WriteDemoScene(dir, quads > 0 ? quads : DemoBaseQuadCount(), force);
      std::printf("%s\n", DemoQuadListPath(dir).c_str());
    });
  });
}
