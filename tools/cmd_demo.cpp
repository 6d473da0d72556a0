// quadscene demo: writes the demo scene into a folder.
#include <cstdio>
#include <stdexcept>

#include "tools/commands.h"
#include "tools/demo_scene.h"

void RegisterDemoCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "demo", "Write the demo scene (nyc.map and its texture folder nyc/) into DIR");
  static std::string dir;
  static int64_t quads = 0;
  command->add_option("DIR", dir, "Folder to write into (created if missing)")->required();
  command
      ->add_option("--quads", quads,
                   "Number of quads; counts above the street's own add a far-off city")
      ->check(CLI::PositiveNumber);
  command->callback([&exitStatus]() {
    try {
      WriteDemoScene(dir, quads > 0 ? quads : DemoBaseQuadCount());
      std::printf("%s\n", DemoQuadListPath(dir).c_str());
    } catch (const std::runtime_error& error) {
      std::fprintf(stderr, "%s\n", error.what());
      exitStatus = kExitBadFile;
    }
  });
}
