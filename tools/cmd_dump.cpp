// quadscene dump: every record of a quad-list file, one line each, floats as %.9g.
#include <cstdio>

#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "tools/commands.h"

namespace {

void PrintRecords(const QuadTable& table) {
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& q = table.records[static_cast<size_t>(i)];
    std::printf("%d %d %d %d", i, q.textureIndex, q.blend, q.counterClockwise);
    for (const QuadCorner& c : q.corners) {
      std::printf(" %.9g %.9g %.9g %.9g %.9g", c.u, c.v, c.x, c.y, c.z);
    }
    std::putchar('\n');
  }
}

}  // namespace

void RegisterDumpCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "dump",
      "Print every record: index textureIndex blend counterClockwise, then u v x y z "
      "of the four corners (z as stored, i.e. negated)");
  static std::string path;
  command->add_option("FILE", path, "Quad-list file")->required();
  command->callback([&exitStatus]() {
    QuadTable table;
    NoProgress progress;
    try {
      ReadQuadList(path, table, progress);
      PrintRecords(table);
    } catch (const SceneError& error) {
      PrintRecords(table);
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", FormatDiagnostic(error).c_str());
      exitStatus = kExitBadFile;
    }
  });
}
