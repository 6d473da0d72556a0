// quadscene dump: every record of a quad-list file, one line each, floats as %.9g (enough to
// read back every float32 exactly).
#include <cstdio>

#include "scene/quad_list.h"
#include "tools/commands.h"

namespace {

constexpr int32_t kRecordsPerOutputCheck = 4096;

void PrintRecords(const QuadTable& table) {
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& q = table.records[static_cast<size_t>(i)];
    std::printf("%d %d %d %d", i, q.textureIndex, q.blend, q.counterClockwise);
    for (const QuadCorner& c : q.corners) {
      std::printf(" %.9g %.9g %.9g %.9g %.9g", c.u, c.v, c.x, c.y, c.z);
    }
    std::putchar('\n');
    if (i % kRecordsPerOutputCheck == 0) CheckStandardOutput();  // a full disk stops it early
  }
}

}  // namespace

void RegisterDumpCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "dump",
      "Print every record: index textureIndex blend counterClockwise, then u v x y z "
      "of the four corners (z as stored, i.e. negated against the file)");
  static std::string path;
  command->add_option("FILE", path, "Quad-list file")->required();
  command->callback([&exitStatus]() {
    exitStatus = RunCommand(path, [] {
      QuadTable table;
      NoProgress progress;
      try {
        ReadQuadList(path, table, progress);
      } catch (...) {
        PrintRecords(table);  // the records before the failure, then the failure
        FlushStandardOutput();
        throw;
      }
      PrintRecords(table);
    });
  });
}
